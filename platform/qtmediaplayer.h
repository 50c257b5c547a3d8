#pragma once

#include "platform/mediaplayer.h"

#include <QMediaPlayer>
#include <QString>

#include <optional>

class QAudioOutput;
class QLabel;
class QSlider;
class QToolButton;

/// The player the program really uses: Qt Multimedia behind a small display and a
/// transport bar (play, pause, stop, a seek slider, the time). Problems with a file show
/// as a line in the display and never as a dialog.
class QtMediaPlayer : public MediaPlayer
{
    Q_OBJECT
public:
    explicit QtMediaPlayer(QWidget *parent = nullptr);

    void setUrl(const QString &path) override;
    QString url() const override { return m_url; }
    std::optional<double> duration() const override;
    std::optional<double> currentPosition() const override;
    void pause() override;
    void stop() override;

    QSize sizeHint() const override { return {464, 141}; }

private:
    void makeEngine();
    void mediaStatusChanged(QMediaPlayer::MediaStatus status);
    void prepareOpenedFile();
    void play();
    void showPosition(qint64 ms);
    void showDuration(qint64 ms);
    void seekTo(int ms);
    void showState();
    void showTime();

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;

    QLabel *m_fileName = nullptr;
    QLabel *m_state = nullptr;
    QToolButton *m_play = nullptr;
    QToolButton *m_pause = nullptr;
    QToolButton *m_stop = nullptr;
    QSlider *m_seek = nullptr;
    QLabel *m_time = nullptr;

    QString m_url;
    bool m_failed = false;
    /// A new file is opening and has not been prepared for playing yet.
    bool m_opening = false;
    /// Start playing as soon as the opening file is ready.
    bool m_playWhenLoaded = false;
};
