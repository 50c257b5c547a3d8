#include "platform/qtplayerengine.h"

#include "platform/songwave.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QSignalBlocker>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>

QtPlayerEngine::QtPlayerEngine(QObject *parent)
    : PlayerEngine(parent)
{
}

QtPlayerEngine::~QtPlayerEngine()
{
    // A file still being opened: its thread ends soon, and what it opens is not wanted.
    for (QThread *thread : std::as_const(m_openers)) {
        thread->wait();
        delete thread;
    }
    // Qt 6.4's player, destroyed with a stream still loaded, hears its decoder's pads go after
    // its own parts have: it crashes.
    release();
}

void QtPlayerEngine::makePlayer()
{
    // Made when the first file arrives rather than with the window: starting Qt Multimedia
    // costs tens of milliseconds that would otherwise delay the window's first showing.
    if (m_player)
        return;
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_audio->setVolume(0.5f);
    m_player->setAudioOutput(m_audio);

    // The engine's own calls block these, so what arrives here is the back end's own news.
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &QtPlayerEngine::mediaStatusChanged);
    connect(m_player, &QMediaPlayer::durationChanged, this, &QtPlayerEngine::backendDurationChanged);
    connect(m_player, &QMediaPlayer::positionChanged, this, &QtPlayerEngine::backendPositionChanged);
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
        if (error != QMediaPlayer::NoError)
            fail();
    });

    // QAudioOutput stays on the device it was given; follow the system's choice instead,
    // so plugging in headphones while the program runs just works.
    auto *devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioOutputsChanged, m_audio,
            [this] { m_audio->setDevice(QMediaDevices::defaultAudioOutput()); });
}

void QtPlayerEngine::load(const QString &path)
{
    ++m_loads;
    release();
    m_onOpen = OnOpen::Play;
    m_durationMs = 0;
    m_reportedMs = -1;

    if (!takeSource(path))
        return;
    makePlayer();
    openSource();
}

void QtPlayerEngine::release()
{
    if (m_player) {
        const QSignalBlocker quiet(m_player);
        m_player->stop();
        // Clearing first makes a repeated path load afresh (QMediaPlayer ignores a source
        // equal to the current one), and the empty path closes the file at once.
        m_player->setSource(QUrl());
    }
    delete m_wave;
    m_wave = nullptr;
}

void QtPlayerEngine::openSource()
{
    // Counting a long song's frames takes longer than the window may stand still.
    auto opened = std::make_shared<std::unique_ptr<SongWave::Opened>>();
    QThread *thread = QThread::create([opened, path = source()] { *opened = SongWave::open(path); });
    m_openers.append(thread);
    connect(thread, &QThread::finished, this, [this, thread, opened, load = m_loads] {
        m_openers.removeOne(thread);
        thread->deleteLater();
        // Another file may have been loaded since.
        if (load == m_loads)
            playOpened(*opened ? new SongWave(std::move(*opened), this) : nullptr);
    });
    thread->start();
}

void QtPlayerEngine::playOpened(SongWave *wave)
{
    const QUrl url = QUrl::fromLocalFile(source());
    m_wave = wave;
    if (m_wave) {
        m_wave->setLooping(m_looping);
        m_player->setLoops(QMediaPlayer::Once);
        m_player->setSourceDevice(m_wave, url);
    } else {
        m_player->setLoops(m_looping ? QMediaPlayer::Infinite : QMediaPlayer::Once);
        m_player->setSource(url);
    }
}

void QtPlayerEngine::mediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    switch (status) {
    case QMediaPlayer::LoadedMedia:
        // The back end takes the file as seekable only once this signal is through.
        if (state() == State::Loading)
            QMetaObject::invokeMethod(
                this, [this, load = m_loads] { prepareOpenedFile(load); }, Qt::QueuedConnection);
        break;
    case QMediaPlayer::EndOfMedia:
        if (m_looping && m_wave && state() == State::Playing) {
            QMetaObject::invokeMethod(this, &QtPlayerEngine::startOver, Qt::QueuedConnection);
            break;
        }
        if (state() == State::Playing || state() == State::Paused) {
            // A short file may end before it told its length; a SongWave's is known, and its
            // player's clock counts the passes played.
            if (!m_wave)
                learnDuration(std::max(m_durationMs, m_player->position()));
            reportPosition(m_durationMs);
            setState(State::Ended);
        }
        break;
    case QMediaPlayer::InvalidMedia:
        fail();
        break;
    default:
        break;
    }
}

void QtPlayerEngine::prepareOpenedFile(quint64 load)
{
    // Another file may have been loaded since.
    if (load != m_loads || state() != State::Loading || m_player->mediaStatus() != QMediaPlayer::LoadedMedia)
        return;
    const qint64 ms = m_player->duration();
    if (ms > 0) {
        const QSignalBlocker quiet(m_player);
        // Qt's GStreamer player seeks to 0 while the file opens, with the length not yet
        // known, and that seek can end the stream at 0: playing would stop at once. A seek
        // now, with the length known, ends the stream where the file ends. It has to move the
        // position to count, hence 1 ms rather than 0. Without the length it must not seek:
        // the seek would end the stream before it starts, which GStreamer refuses with a
        // CRITICAL.
        seekComing();
        m_player->setPosition(1);
    }
    // The stream holds the sound pass after pass: its length is one pass.
    learnDuration(m_wave ? m_wave->soundMs() : ms);
    setState(State::Ready);
    // Playing starts only now, too: asked to play while the file still opens, GStreamer now
    // and then links the audio branch late and drops back to PAUSED while the player goes on
    // saying it plays.
    if (m_onOpen == OnOpen::Play)
        play();
}

void QtPlayerEngine::seekComing()
{
    if (m_wave)
        m_wave->seekComing();
}

void QtPlayerEngine::learnDuration(qint64 ms)
{
    if (ms <= 0 || ms == m_durationMs)
        return;
    m_durationMs = ms;
    emit durationChanged(ms / 1000.0);
}

void QtPlayerEngine::backendDurationChanged(qint64 ms)
{
    // A file GStreamer reads itself may tell its length only once it plays, and correct it then.
    if (isOpen() && !m_wave)
        learnDuration(ms);
}

void QtPlayerEngine::backendPositionChanged(qint64 ms)
{
    if (state() == State::Playing)
        reportPosition(fileTime(ms));
}

qint64 QtPlayerEngine::fileTime(qint64 ms) const
{
    return m_wave ? m_wave->soundTime(ms) : ms;
}

void QtPlayerEngine::startOver()
{
    if (!m_looping || !m_wave || state() != State::Playing
        || m_player->mediaStatus() != QMediaPlayer::EndOfMedia)
        return;
    const QSignalBlocker quiet(m_player);
    seekComing();
    m_player->play();
    reportPosition(0);
}

void QtPlayerEngine::setLooping(bool on)
{
    m_looping = on;
    if (m_wave)
        m_wave->setLooping(on);
    else if (m_player)
        m_player->setLoops(on ? QMediaPlayer::Infinite : QMediaPlayer::Once);
}

void QtPlayerEngine::fail()
{
    if (state() == State::NoMedia || state() == State::Failed)
        return;
    m_durationMs = 0;
    m_reportedMs = -1;
    if (m_player) {
        const QSignalBlocker quiet(m_player);
        m_player->stop();
    }
    setState(State::Failed);
}

void QtPlayerEngine::reportPosition(qint64 ms)
{
    ms = clamped(ms);
    if (ms == m_reportedMs)
        return;
    m_reportedMs = ms;
    emit positionChanged(ms / 1000.0);
}

qint64 QtPlayerEngine::clamped(qint64 ms) const
{
    return m_durationMs > 0 ? std::clamp<qint64>(ms, 0, m_durationMs) : std::max<qint64>(ms, 0);
}

bool QtPlayerEngine::isOpen() const
{
    switch (state()) {
    case State::Ready:
    case State::Playing:
    case State::Paused:
    case State::Ended:
        return true;
    default:
        return false;
    }
}

std::optional<double> QtPlayerEngine::duration() const
{
    if (m_durationMs <= 0)
        return std::nullopt;
    return m_durationMs / 1000.0;
}

std::optional<double> QtPlayerEngine::position() const
{
    if (!isOpen())
        return std::nullopt;
    if (state() == State::Ended)
        return m_durationMs / 1000.0;
    return clamped(fileTime(m_player->position())) / 1000.0;
}

void QtPlayerEngine::play()
{
    if (state() == State::Loading) {
        m_onOpen = OnOpen::Play;
        return;
    }
    if (!isOpen() || state() == State::Playing)
        return;
    const bool over = state() == State::Ended;
    {
        const QSignalBlocker quiet(m_player);
        // At its end the back end starts over by itself.
        if (over)
            seekComing();
        m_player->play();
    }
    setState(State::Playing);
    if (over)
        reportPosition(0);
}

void QtPlayerEngine::pause()
{
    if (state() == State::Loading) {
        m_onOpen = OnOpen::Hold;
        return;
    }
    if (state() != State::Playing)
        return;
    {
        const QSignalBlocker quiet(m_player);
        m_player->pause();
    }
    setState(State::Paused);
}

void QtPlayerEngine::stop()
{
    if (state() == State::Loading) {
        m_onOpen = OnOpen::Hold;
        return;
    }
    if (!isOpen())
        return;
    {
        const QSignalBlocker quiet(m_player);
        seekComing();
        m_player->stop();
    }
    setState(State::Ready);
    reportPosition(0);
}

void QtPlayerEngine::seek(double seconds)
{
    // Without the length a seek would end the stream where it lands.
    if (!duration() || !std::isfinite(seconds))
        return;
    const qint64 ms = clamped(std::llround(seconds * 1000.0));
    {
        const QSignalBlocker quiet(m_player);
        seekComing();
        m_player->setPosition(ms);
    }
    // Moved away from its end, a file that was played through waits where it went.
    if (state() == State::Ended)
        setState(State::Ready);
    reportPosition(ms);
}
