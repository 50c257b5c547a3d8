#pragma once

#include "platform/playerengine.h"

#include <QMediaPlayer>
#include <QString>

#include <optional>

class QAudioOutput;

/// The engine the program really uses: Qt Multimedia, made on the first file so that it costs
/// nothing at start-up. It works around two races of Qt 6.4's GStreamer player, see
/// prepareOpenedFile().
class QtPlayerEngine : public PlayerEngine
{
    Q_OBJECT
public:
    explicit QtPlayerEngine(QObject *parent = nullptr);

    void load(const QString &path) override;
    std::optional<double> duration() const override;
    std::optional<double> position() const override;

    void play() override;
    void pause() override;
    void stop() override;
    void seek(double seconds) override;

private:
    /// What a file still loading does once it is open.
    enum class OnOpen { Play, Hold };

    void makePlayer();
    void mediaStatusChanged(QMediaPlayer::MediaStatus status);
    void prepareOpenedFile(quint64 load);
    void learnDuration(qint64 ms);
    void backendDurationChanged(qint64 ms);
    void backendPositionChanged(qint64 ms);
    void fail();
    void reportPosition(qint64 ms);
    bool isOpen() const;
    qint64 clamped(qint64 ms) const;

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;

    /// Only read in Loading.
    OnOpen m_onOpen = OnOpen::Play;
    /// Counts the loads, so that a preparation queued for a file loaded since is dropped.
    quint64 m_loads = 0;
    /// 0 while unknown.
    qint64 m_durationMs = 0;
    /// The position signalled last, so that an unchanged one is not signalled again.
    qint64 m_reportedMs = -1;
};
