#pragma once

#include "core/waveform.h"
#include "platform/audiodecoder.h"
#include "platform/playerengine.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class QPainter;
class WaveformLoader;

/// The colour sound is drawn in: the palette's highlight, light enough to stand out on the dark
/// screen the views lie on.
QColor waveColour(const QPalette &palette);
/// Pauses \a engine where it plays, else plays it: what Space does on a view of sound.
void playOrPause(PlayerEngine *engine);
/// Writes \a text in \a box on the dark label the views of sound write on.
void drawViewLabel(QPainter &painter, const QRect &box, const QString &text);
/// The bar from the lowest to the highest sample of \a peak, \a x to \a x + \a pixel wide, on an
/// axis at \a middle where full scale lies \a amplitude away.
QRectF peakRect(const PeakBucket &peak, double x, double pixel, double middle, double amplitude);
/// The frame around \a view that says it has the keyboard, in the colour of \a wave.
void drawFocusFrame(QPainter &painter, const QWidget &view, const QColor &wave);

/// The sound of the file an engine plays, as the peaks under each pixel column, with the play
/// position, the start mark and the kept stretch over it. A click puts the position there; with
/// the focus, the arrow keys, Home, End and Space steer the engine, and the wheel or + and −
/// zoom in and out around the position. A view like the transport bar: the marks are given to
/// it, and the engine is only asked.
class WaveformView : public QWidget
{
    Q_OBJECT
public:
    explicit WaveformView(QWidget *parent);
    ~WaveformView() override;

    /// Follows \a engine from now on: decodes what it loads, shows where it is and steers it;
    /// nullptr for none.
    void setEngine(PlayerEngine *engine);
    /// Decodes with decoders made by \a decoders; without any, the sound is not drawn.
    void setDecoders(AudioDecoderFactory decoders);
    /// The marks, in seconds of the sound: the start, and the stretch the last cut kept.
    void setMarks(std::optional<double> start, std::optional<TimeWindow> kept);
    /// The stretch proposed for a ringtone, shown with its times; empty for none.
    void setProposal(std::optional<TimeWindow> stretch);
    std::optional<TimeWindow> proposal() const { return m_proposal; }

    /// The time shown, in seconds: all of the sound, or less once zoomed in.
    TimeWindow shown() const;
    /// The peaks of the sound, as far as they are decoded; nullptr without decoders.
    const WaveformLoader *loader() const { return m_loader; }
    /// The sound's length in seconds: as decoded, else as the engine tells it; 0 while neither can.
    double length() const;

    QSize sizeHint() const override { return {440, 60}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void sourceChanged();
    void peaksChanged(qint64 fromFrame);
    void lengthMayHaveChanged();
    void showPosition(std::optional<double> seconds);
    void seekTo(double seconds);
    void zoom(double factor);
    void setZoom(std::optional<TimeWindow> window);
    void describe();
    QString marksText() const;
    double xOf(double seconds) const;
    /// A strip a few pixels wide around the line at \a seconds.
    QRect stripAt(double seconds) const;
    void refreshColumns();

    QPointer<PlayerEngine> m_engine;
    WaveformLoader *m_loader = nullptr;
    std::optional<double> m_start;
    std::optional<TimeWindow> m_kept;
    std::optional<TimeWindow> m_proposal;
    /// The stretch zoomed in to; empty while all of the sound shows.
    std::optional<TimeWindow> m_zoom;
    /// Where the position line is drawn: only the strips it leaves and enters are drawn again.
    std::optional<double> m_position;
    /// The length the picture was laid out for.
    double m_laidOutLength = 0;

    /// Peaks of each device pixel column, for m_columnWindow spread over m_columnCount columns;
    /// from column m_staleColumn on they are to be worked out again.
    QList<PeakBucket> m_columns;
    TimeWindow m_columnWindow;
    int m_columnCount = 0;
    qsizetype m_staleColumn = 0;
};
