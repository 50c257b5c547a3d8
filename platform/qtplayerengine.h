#pragma once

#include "platform/playerengine.h"

#include <QList>
#include <QMediaPlayer>
#include <QString>

#include <optional>

class QAudioOutput;
class QThread;
class SongWave;

/// The engine the program really uses: Qt Multimedia, made on the first file so that it costs
/// nothing at start-up. An MP3 file plays as libmpg123 decodes it, laid out by the song's map (see
/// SongWave), so that its length, its clock and every seek are the ones marks are placed by;
/// anything else plays as GStreamer reads it. Looping is SongWave's, with no gap; a file without
/// one loops as Qt's player loops it, seeking back at its end. It works around races of Qt 6.4's GStreamer player,
/// see prepareOpenedFile() and SongWave::seekComing().
class QtPlayerEngine : public PlayerEngine
{
    Q_OBJECT
public:
    explicit QtPlayerEngine(QObject *parent = nullptr);
    ~QtPlayerEngine() override;

    void load(const QString &path) override;
    std::optional<double> duration() const override;
    std::optional<double> position() const override;

    void play() override;
    void pause() override;
    void stop() override;
    void seek(double seconds) override;
    void setLooping(bool on) override;
    bool looping() const override { return m_looping; }

private:
    /// What a file still loading does once it is open.
    enum class OnOpen { Play, Hold };

    void makePlayer();
    /// Opens the file loaded, on a worker thread, and hands it to the player once open.
    void openSource();
    /// Gives the player \a wave to read, or the file itself without one.
    void playOpened(SongWave *wave);
    /// Stops the player and lets go of the file.
    void release();
    /// The player is about to seek: see SongWave::seekComing().
    void seekComing();
    void mediaStatusChanged(QMediaPlayer::MediaStatus status);
    void prepareOpenedFile(quint64 load);
    void learnDuration(qint64 ms);
    void backendDurationChanged(qint64 ms);
    void backendPositionChanged(qint64 ms);
    void fail();
    void reportPosition(qint64 ms);
    /// The back end's time \a ms as a time within the file: with a SongWave, within its pass.
    qint64 fileTime(qint64 ms) const;
    /// A looping stream has ended (it holds hours of passes, or looping came on too late for
    /// the pass read last): it starts over, with the gap of a seek.
    void startOver();
    bool isOpen() const;
    qint64 clamped(qint64 ms) const;

    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;
    /// What the player reads, while it reads an MP3 file.
    SongWave *m_wave = nullptr;
    /// Threads opening files, the one loaded last and any still busy with earlier ones.
    QList<QThread *> m_openers;

    bool m_looping = false;
    /// Only read in Loading.
    OnOpen m_onOpen = OnOpen::Play;
    /// Counts the loads, so that a preparation queued for a file loaded since is dropped.
    quint64 m_loads = 0;
    /// 0 while unknown.
    qint64 m_durationMs = 0;
    /// The position signalled last, so that an unchanged one is not signalled again.
    qint64 m_reportedMs = -1;
};
