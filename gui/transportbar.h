#pragma once

#include "platform/playerengine.h"

#include <QPointer>
#include <QWidget>

class QBoxLayout;
class QLabel;
class QSlider;
class QToolButton;
class WaveformView;

/// A small display (file name, state, the sound's waveform) above a seek slider, play, pause and
/// stop buttons and the time, showing and steering whatever engine it is given. Problems with a
/// file show as a line in the display and never as a dialog.
class TransportBar : public QWidget
{
    Q_OBJECT
public:
    explicit TransportBar(QWidget *parent);
    ~TransportBar() override;

    /// Follows \a engine from now on; nullptr leaves the bar idle.
    void setEngine(PlayerEngine *engine);
    /// The waveform in the display, which follows the same engine; nullptr once a view took its place.
    WaveformView *waveform() const { return m_waveform; }
    /// Shows \a view in the display instead of the waveform, which goes: for a sound that a view
    /// of its own draws better.
    void setView(QWidget *view);
    /// Puts \a control in the row of buttons, after those before it.
    void addControl(QWidget *control);

    QSize sizeHint() const override { return {464, 141}; }

private:
    void sourceChanged();
    void showState();
    void showDuration();
    void showPosition(double seconds);
    void seekTo(int ms);
    void showTime();

    QPointer<PlayerEngine> m_engine;

    QLabel *m_fileName = nullptr;
    QLabel *m_state = nullptr;
    WaveformView *m_waveform = nullptr;
    /// What the display shows under the heading: the waveform, or the view that took its place.
    QWidget *m_view = nullptr;
    QBoxLayout *m_displayLayout = nullptr;
    QBoxLayout *m_buttons = nullptr;
    QSlider *m_seek = nullptr;
    QToolButton *m_play = nullptr;
    QToolButton *m_pause = nullptr;
    QToolButton *m_stop = nullptr;
    QLabel *m_time = nullptr;
    /// The handle has moved since it was taken: only then does letting it go seek, so that
    /// a click on the groove, which seeks as it presses, seeks once.
    bool m_dragged = false;
};
