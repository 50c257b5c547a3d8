#pragma once

#include "core/waveform.h"
#include "platform/playerengine.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class WaveformLoader;

/// Either end of a piece.
enum class PieceEnd { Start, End };

/// The shortest piece the handles leave: longer than any MPEG frame, which the cut needs at least.
constexpr double shortestPiece = 0.1;
/// Seconds of the song shown either side of a piece.
constexpr double pieceSurroundings = 3.0;

/// \a piece with its \a end moved to \a seconds, kept inside a song of \a songLength and never
/// closer than shortestPiece to the other end, which stays where it is.
TimeWindow movedPiece(TimeWindow piece, PieceEnd end, double seconds, double songLength);

/// The stretch of a song of \a songLength that shows \a piece: a few seconds either side of it.
TimeWindow surroundingsOf(TimeWindow piece, double songLength);

/// The piece step three plays, drawn over the song around it: the song's peaks, dimmed outside
/// the piece, a handle at each end with its time, and the piece player's position. A handle
/// dragged and let go, or the focused end moved by ← / → (a tenth of a second, with Shift a
/// second), asks for that end to move; [ and ] choose the end the keys move, Space plays and
/// pauses, Esc puts a held handle back. The view only asks: the ends it shows are those it is given, or those asked for
/// while the piece is cut again.
class PieceView : public QWidget
{
    Q_OBJECT
public:
    explicit PieceView(QWidget *parent);
    ~PieceView() override;

    /// Follows the piece's player from now on: its position shows, Space steers it; nullptr for none.
    void setEngine(PlayerEngine *engine);
    /// Draws the song with the peaks \a loader holds, as they come; nullptr draws no sound.
    void setSongPeaks(const WaveformLoader *loader);
    /// The piece as cut: the marks it lies between in the song of \a songLength. While \a busy,
    /// the piece is being cut again, and an end asked for now is asked for once it is done.
    void showPiece(std::optional<TimeWindow> piece, double songLength, bool busy);

    /// The ends as drawn: those asked for, where they differ from the piece's.
    std::optional<TimeWindow> shownPiece() const;
    /// The stretch of the song drawn.
    TimeWindow shownSong() const;
    PieceEnd focusedEnd() const { return m_focusedEnd; }

    QSize sizeHint() const override { return {440, 60}; }

signals:
    /// The person asks for \a end of the piece to lie at \a seconds of the song.
    void moveAsked(PieceEnd end, double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    /// Where an end is asked for: at once when no cut runs, else once it ends.
    struct Asked
    {
        std::optional<double> seconds;
        bool waiting = false;
    };

    void ask(PieceEnd end, double seconds);
    void sendWaiting();
    Asked &asked(PieceEnd end) { return end == PieceEnd::Start ? m_askedStart : m_askedEnd; }
    double xOf(double seconds) const;
    double secondsAt(double x) const;
    /// The handle within reach of \a x, the nearer one where both are.
    std::optional<PieceEnd> handleAt(double x) const;
    void describe();

    QPointer<PlayerEngine> m_engine;
    QPointer<const WaveformLoader> m_loader;
    std::optional<TimeWindow> m_piece;
    double m_songLength = 0;
    bool m_busy = false;
    Asked m_askedStart;
    Asked m_askedEnd;
    PieceEnd m_focusedEnd = PieceEnd::Start;
    /// The handle held by the mouse, and the song's stretch drawn when it was taken, which holds
    /// still under the mouse until it is let go.
    std::optional<PieceEnd> m_dragged;
    std::optional<TimeWindow> m_heldSong;
};
