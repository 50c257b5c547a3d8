#include "fakeengine.h"
#include "platform/lazyplayerengine.h"
#include "platform/qtplayerengine.h"
#include "watchdog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

using State = PlayerEngine::State;
constexpr int timeout = 10000;

/// Writes down what an engine signals, as words: "source a.mp3", "Loading", "duration",
/// "position". Positions while playing come as often as the clock says, so they are left out,
/// all but the one that ends the file.
class Recorder
{
public:
    explicit Recorder(PlayerEngine *engine)
    {
        QObject::connect(engine, &PlayerEngine::sourceChanged, engine, [this](const QString &path) {
            m_words << QStringLiteral("source ") + QFileInfo(path).fileName();
        });
        QObject::connect(engine, &PlayerEngine::stateChanged, engine, [this](State state) {
            if (state == State::Ended && m_playingPosition)
                m_words << QStringLiteral("position");
            m_playingPosition = false;
            m_words << QString::fromLatin1(QMetaEnum::fromType<State>().valueToKey(int(state)));
        });
        QObject::connect(engine, &PlayerEngine::durationChanged, engine,
                         [this] { m_words << QStringLiteral("duration"); });
        QObject::connect(engine, &PlayerEngine::positionChanged, engine, [this, engine] {
            if (engine->state() == State::Playing)
                m_playingPosition = true;
            else
                m_words << QStringLiteral("position");
        });
    }
    QString words() const { return m_words.join(QStringLiteral(", ")); }

private:
    QStringList m_words;
    bool m_playingPosition = false;
};

/// Warnings and criticals, from Qt and from GStreamer, which logs to the standard error
/// stream through GLib rather than through Qt.
class Complaints
{
public:
    Complaints()
    {
        m_fromQt.clear();
        m_previous = qInstallMessageHandler(&Complaints::collect);
        std::fflush(stderr);
        m_savedStderr = dup(STDERR_FILENO);
        m_file.open();
        dup2(m_file.handle(), STDERR_FILENO);
    }
    ~Complaints() { restore(); }

    /// Everything complained about; Qt Multimedia's notes on the missing sound server of a
    /// test machine excepted.
    QStringList lines()
    {
        restore();
        QStringList all = m_fromQt;
        m_file.seek(0);
        for (const QString &line : QString::fromLocal8Bit(m_file.readAll()).split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("CRITICAL")) || line.contains(QLatin1String("WARNING")))
                all << line;
        }
        return all;
    }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        const bool soundServer = message.startsWith(QLatin1String("PulseAudioService"))
                                 || message.contains(QLatin1String("Failed to connect"));
        if (type != QtWarningMsg || !soundServer)
            m_fromQt << QStringLiteral("%1: %2").arg(QLatin1String(context.category), message);
    }

    void restore()
    {
        if (m_savedStderr < 0)
            return;
        std::fflush(stderr);
        dup2(m_savedStderr, STDERR_FILENO);
        close(m_savedStderr);
        m_savedStderr = -1;
        qInstallMessageHandler(m_previous);
    }

    static inline QStringList m_fromQt;
    QtMessageHandler m_previous = nullptr;
    QTemporaryFile m_file;
    int m_savedStderr = -1;
};

} // namespace

// The real engine on real MP3 files, with no sound card needed: GStreamer plays into a silent
// sink in real time. The fake is held to the same signals.
class TestPlayerEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void bothEnginesSignalAlike_data();
    void bothEnginesSignalAlike();
    void harmlessBeforeAnyMedia();
    void theLazyEngineMakesItsEngineOnTheFirstFile();
    void playsInRealTimeAndReloadsTheSamePath();
    void pauseAndStopKeepTheMedia();
    void seeksStayWithinTheFile();
    void emptyPathReleasesTheFile();
    void unplayableFileFails_data();
    void unplayableFileFails();
    void shortPiecePlaysToItsEndQuietly_data();
    void shortPiecePlaysToItsEndQuietly();

private:
    void loadAndPlay(const QString &path, double pastSeconds);
    bool fileIsOpen() const;
    double position() const { return m_engine->position().value_or(-1); }
    void run(PlayerEngine *engine, FakeEngine *fake, const QString &script);

    QTemporaryDir m_dir;
    QString m_path;
    QtPlayerEngine *m_engine = nullptr;
    std::unique_ptr<Watchdog> m_watchdog;
};

void TestPlayerEngine::initTestCase()
{
    // Debian ships the ffmpeg back end too, which plays nothing without a sound card.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("铃声 tone.mp3"));
}

void TestPlayerEngine::init()
{
    m_watchdog = std::make_unique<Watchdog>(QTest::currentTestFunction(), std::chrono::seconds(60));
    QFile::remove(m_path);
    QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/tone6-cbr128.mp3"), m_path));
    m_engine = new QtPlayerEngine(this);
}

void TestPlayerEngine::cleanup()
{
    delete m_engine;
    m_engine = nullptr;
    m_watchdog.reset();
}

void TestPlayerEngine::loadAndPlay(const QString &path, double pastSeconds)
{
    m_engine->load(path);
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), State::Playing, timeout);
    QTRY_VERIFY_WITH_TIMEOUT(m_engine->duration().has_value(), timeout);
    QTRY_VERIFY_WITH_TIMEOUT(position() > pastSeconds, timeout);
}

bool TestPlayerEngine::fileIsOpen() const
{
    const QString file = QFileInfo(m_path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const auto links = fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    return std::any_of(links.begin(), links.end(),
                       [&file](const QFileInfo &fd) { return fd.symLinkTarget() == file; });
}

void TestPlayerEngine::run(PlayerEngine *engine, FakeEngine *fake, const QString &script)
{
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString word = step.section(QLatin1Char(':'), 0, 0);
        const QString arg = step.section(QLatin1Char(':'), 1);
        if (word == QLatin1String("load") || word == QLatin1String("loadbad")) {
            if (fake)
                fake->nextDuration = word == QLatin1String("load") ? std::optional(0.8) : std::nullopt;
            engine->load(arg.isEmpty() ? QString() : QStringLiteral(FIXTURE_DIR "/") + arg);
        } else if (word == QLatin1String("wait")) {
            const State wanted = State(QMetaEnum::fromType<State>().keyToValue(qPrintable(arg)));
            if (fake && wanted == State::Ended)
                fake->reachEnd();
            QTRY_COMPARE_WITH_TIMEOUT(engine->state(), wanted, timeout);
        } else if (word == QLatin1String("at")) {
            if (fake)
                fake->moveTo(arg.toDouble());
            QTRY_VERIFY_WITH_TIMEOUT(engine->position().value_or(0) >= arg.toDouble(), timeout);
        } else if (word == QLatin1String("play")) {
            engine->play();
        } else if (word == QLatin1String("pause")) {
            engine->pause();
        } else if (word == QLatin1String("stop")) {
            engine->stop();
        } else if (word == QLatin1String("seek")) {
            engine->seek(arg.toDouble());
        } else if (word == QLatin1String("loop")) {
            engine->setLooping(arg == QLatin1String("on"));
            QCOMPARE(engine->looping(), arg == QLatin1String("on"));
        } else if (word == QLatin1String("wrap")) {
            // On past the end of a file of 0.8 s into its start, still playing.
            if (fake)
                fake->moveTo(0.6);
            QTRY_VERIFY_WITH_TIMEOUT(engine->position().value_or(0) > 0.5, timeout);
            if (fake)
                fake->reachEnd();
            QTRY_VERIFY_WITH_TIMEOUT(engine->position().value_or(1) < 0.3, timeout);
            QCOMPARE(engine->state(), State::Playing);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
}

void TestPlayerEngine::bothEnginesSignalAlike_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    QTest::newRow("play through")
        << "load:short-0.8s.mp3 wait:Playing wait:Ended play at:0.2 stop load:"
        << "source short-0.8s.mp3, Loading, duration, Ready, Playing, position, Ended, Playing, "
           "Ready, position, NoMedia, source ";
    QTest::newRow("controls")
        << "load:short-0.8s.mp3 wait:Playing pause seek:0.4 seek:9 play stop stop"
        << "source short-0.8s.mp3, Loading, duration, Ready, Playing, Paused, position, position, "
           "Playing, Ready, position";
    QTest::newRow("seek after the end")
        << "load:short-0.8s.mp3 wait:Playing wait:Ended seek:0.2 play"
        << "source short-0.8s.mp3, Loading, duration, Ready, Playing, position, Ended, Ready, "
           "position, Playing";
    QTest::newRow("looping, then once")
        << "loop:on load:short-0.8s.mp3 wait:Playing wrap wrap loop:off wait:Ended"
        << "source short-0.8s.mp3, Loading, duration, Ready, Playing, position, Ended";
    QTest::newRow("paused while loading")
        << "load:short-0.8s.mp3 pause wait:Ready play"
        << "source short-0.8s.mp3, Loading, duration, Ready, Playing";
    QTest::newRow("fails")
        << "loadbad:random-bytes.mp3 wait:Failed play seek:1 load: load:"
        << "source random-bytes.mp3, Loading, Failed, NoMedia, source ";
    QTest::newRow("fails, then plays")
        << "loadbad:empty.mp3 wait:Failed load:short-0.8s.mp3 wait:Playing"
        << "source empty.mp3, Loading, Failed, source short-0.8s.mp3, Loading, duration, Ready, "
           "Playing";
}

void TestPlayerEngine::bothEnginesSignalAlike()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);

    auto *fake = new FakeEngine(m_engine);
    fake->loadDelayMs = 30;
    const Recorder fakeWords(fake);
    run(fake, fake, script);
    QCOMPARE(fakeWords.words(), expected);

    const Recorder realWords(m_engine);
    run(m_engine, nullptr, script);
    QCOMPARE(realWords.words(), expected);

    // The engine the window uses, which makes its engine on the first file, passes on the same.
    auto *made = new FakeEngine;
    made->loadDelayMs = 30;
    LazyPlayerEngine lazy([made](QObject *parent) {
        made->setParent(parent);
        return made;
    });
    const Recorder lazyWords(&lazy);
    run(&lazy, made, script);
    QCOMPARE(lazyWords.words(), expected);
}

void TestPlayerEngine::harmlessBeforeAnyMedia()
{
    QSignalSpy states(m_engine, &PlayerEngine::stateChanged);
    QSignalSpy positions(m_engine, &PlayerEngine::positionChanged);
    QSignalSpy sources(m_engine, &PlayerEngine::sourceChanged);
    m_engine->play();
    m_engine->pause();
    m_engine->stop();
    m_engine->seek(3);
    m_engine->load(QString());
    QCOMPARE(states.size() + positions.size() + sources.size(), 0);
    QCOMPARE(m_engine->state(), State::NoMedia);
    QCOMPARE(m_engine->source(), QString());
    QVERIFY(!m_engine->duration());
    QVERIFY(!m_engine->position());
    // Qt Multimedia starts with the first file, not before.
    QVERIFY(!m_engine->findChild<QMediaPlayer *>());
}

void TestPlayerEngine::theLazyEngineMakesItsEngineOnTheFirstFile()
{
    int made = 0;
    LazyPlayerEngine lazy([&made](QObject *) {
        ++made;
        return nullptr;
    });
    const Recorder words(&lazy);
    lazy.play();
    lazy.seek(3);
    lazy.load(QString());
    QCOMPARE(made, 0);
    QCOMPARE(words.words(), QString());

    // An engine that cannot be made fails each file, and is not tried again.
    run(&lazy, nullptr, QStringLiteral("load:short-0.8s.mp3 wait:Failed play load: load:cbr-tones.mp3"));
    QCOMPARE(made, 1);
    QCOMPARE(words.words(), QStringLiteral("source short-0.8s.mp3, Loading, Failed, NoMedia, source , "
                                           "source cbr-tones.mp3, Loading, Failed"));
    QVERIFY(!lazy.duration() && !lazy.position());
}

void TestPlayerEngine::playsInRealTimeAndReloadsTheSamePath()
{
    loadAndPlay(m_path, 0.2);
    QCOMPARE(m_engine->source(), m_path);
    QVERIFY2(qAbs(*m_engine->duration() - 6.0) < 0.2, qPrintable(QString::number(*m_engine->duration())));

    const double from = position();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1200);
    const double advanced = position() - from;
    const double elapsed = clock.elapsed() / 1000.0;
    QVERIFY2(qAbs(advanced - elapsed) < 0.4,
             qPrintable(QStringLiteral("%1 s in %2 s").arg(advanced).arg(elapsed)));

    // The program rewrites files in place, so the same path again must read the file afresh
    // and start over. Half of a tagless CBR file is the first half of the sound.
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(file.size() / 2));
    file.close();
    QSignalSpy sources(m_engine, &PlayerEngine::sourceChanged);
    m_engine->load(m_path);
    QCOMPARE(sources.size(), 1);
    QCOMPARE(m_engine->state(), State::Loading);
    QVERIFY(!m_engine->duration());
    loadAndPlay(m_path, 0.1);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(m_engine->duration().value_or(0) - 3.0) < 0.3, timeout);
    QVERIFY2(position() < 1.0, qPrintable(QString::number(position())));
}

void TestPlayerEngine::pauseAndStopKeepTheMedia()
{
    loadAndPlay(m_path, 0.5);
    m_engine->pause();
    QCOMPARE(m_engine->state(), State::Paused);
    QTest::qWait(100);
    const double pausedAt = position();
    QTest::qWait(500);
    QVERIFY(pausedAt > 0.5);
    QVERIFY(qAbs(position() - pausedAt) < 0.02);

    m_engine->stop();
    QCOMPARE(m_engine->state(), State::Ready);
    QCOMPARE(m_engine->source(), m_path);
    QVERIFY(m_engine->duration().has_value());
    QCOMPARE(position(), 0.0);

    m_engine->play();
    QTRY_VERIFY_WITH_TIMEOUT(position() > 0.2, timeout);
    QCOMPARE(m_engine->state(), State::Playing);
}

void TestPlayerEngine::seeksStayWithinTheFile()
{
    loadAndPlay(m_path, 0.1);
    m_engine->pause();
    QSignalSpy positions(m_engine, &PlayerEngine::positionChanged);
    m_engine->seek(4.5);
    QTRY_VERIFY2_WITH_TIMEOUT(qAbs(position() - 4.5) < 0.1, qPrintable(QString::number(position())), timeout);
    m_engine->seek(-3);
    QTRY_COMPARE_WITH_TIMEOUT(position(), 0.0, timeout);
    QCOMPARE(positions.size(), 2);
    QCOMPARE(positions.at(1).at(0).toDouble(), 0.0);

    m_engine->seek(1e9);
    QCOMPARE(positions.last().at(0).toDouble(), *m_engine->duration());
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), State::Ended, timeout);
}

void TestPlayerEngine::emptyPathReleasesTheFile()
{
    loadAndPlay(m_path, 0.1);
    QVERIFY(fileIsOpen());

    m_engine->load(QString());
    QCOMPARE(m_engine->state(), State::NoMedia);
    QCOMPARE(m_engine->source(), QString());
    QVERIFY(!m_engine->duration());
    QVERIFY(!m_engine->position());
    // Linux renames and deletes open files too, so look at the descriptors themselves.
    QVERIFY(!fileIsOpen());
    const QString renamed = m_dir.filePath(QStringLiteral("renamed.mp3"));
    QVERIFY(QFile::rename(m_path, renamed));
    QVERIFY(QFile::remove(renamed));
}

void TestPlayerEngine::unplayableFileFails_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("random bytes") << QStringLiteral(FIXTURE_DIR "/random-bytes.mp3");
    QTest::newRow("empty") << QStringLiteral(FIXTURE_DIR "/empty.mp3");
    QTest::newRow("missing") << QStringLiteral(FIXTURE_DIR "/no such file.mp3");
}

void TestPlayerEngine::unplayableFileFails()
{
    QFETCH(QString, path);
    m_engine->load(path);
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), State::Failed, timeout);
    QVERIFY(!m_engine->duration());
    QVERIFY(!m_engine->position());
    QCOMPARE(m_engine->source(), path);
    // Nothing of the failure is left behind for the next file.
    loadAndPlay(m_path, 0.1);
}

void TestPlayerEngine::shortPiecePlaysToItsEndQuietly_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("parts");
    QTest::addColumn<double>("seconds");
    // A twelfth of the six-second tagless tone: a piece without a header telling its length.
    QTest::newRow("0.5 s, no header") << QStringLiteral("tone6-cbr128.mp3") << 12 << 0.5;
    QTest::newRow("0.8 s, Info header") << QStringLiteral("short-0.8s.mp3") << 1 << 0.8;
}

void TestPlayerEngine::shortPiecePlaysToItsEndQuietly()
{
    QFETCH(QString, source);
    QFETCH(int, parts);
    QFETCH(double, seconds);

    QFile whole(QStringLiteral(FIXTURE_DIR "/") + source);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile piece(m_path);
    QVERIFY(piece.open(QIODevice::WriteOnly | QIODevice::Truncate));
    piece.write(whole.read(whole.size() / parts));
    piece.close();

    Complaints complaints;
    QSignalSpy ends(m_engine, &PlayerEngine::stateChanged);
    m_engine->load(m_path);
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), State::Ended, timeout);
    QVERIFY2(qAbs(m_engine->duration().value_or(0) - seconds) < 0.1,
             qPrintable(QString::number(m_engine->duration().value_or(0))));
    QCOMPARE(m_engine->position(), m_engine->duration());
    // Played again, it plays from the start to the end once more.
    m_engine->play();
    QCOMPARE(m_engine->state(), State::Playing);
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), State::Ended, timeout);
    const QStringList lines = complaints.lines();
    QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestPlayerEngine)
#include "tst_playerengine.moc"
