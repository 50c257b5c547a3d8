#include "platform/qtmediaplayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QMediaPlayer>

// The real player on a real MP3: the parts of Qt Multimedia the program leans on, with
// no sound card needed (GStreamer plays into a silent sink in real time).
class TestRealPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readsAreEmptyBeforeAnyMedia();
    void playsInRealTimeAndReloadsTheSamePath();
    void pauseAndStopKeepTheMedia();
    void emptyPathClosesTheFile();
    void clickOnTheSliderJumpsThere();
    void unplayableFileSaysSoAndHasNoLength();

private:
    static constexpr int loadTimeout = 10000;
    static constexpr double toneSeconds = 6.0;

    void loadAndWait();
    bool fileIsOpen() const;

    QTemporaryDir m_dir;
    QString m_path;
    QtMediaPlayer *m_player = nullptr;
};

void TestRealPlayer::initTestCase()
{
    // Debian ships the ffmpeg and GStreamer back ends; only GStreamer plays without a sound card.
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("铃声 tone.mp3"));
}

void TestRealPlayer::init()
{
    QFile::remove(m_path);
    QVERIFY(QFile::copy(QStringLiteral(FIXTURE_DIR "/tone6-cbr128.mp3"), m_path));
    m_player = new QtMediaPlayer;
    m_player->resize(464, 141);
}

void TestRealPlayer::cleanup()
{
    delete m_player;
    m_player = nullptr;
}

void TestRealPlayer::loadAndWait()
{
    m_player->setUrl(m_path);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->duration().has_value(), loadTimeout);
}

bool TestRealPlayer::fileIsOpen() const
{
    const QString target = QFileInfo(m_path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == target)
            return true;
    }
    return false;
}

void TestRealPlayer::readsAreEmptyBeforeAnyMedia()
{
    QCOMPARE(m_player->url(), QString());
    QVERIFY(!m_player->duration().has_value());
    QVERIFY(!m_player->currentPosition().has_value());
    // The engine is made with the first file; until then every control must be harmless.
    m_player->pause();
    m_player->stop();
    m_player->setUrl(QString());
    for (const char *name : {"play", "pause", "stop"})
        QTest::mouseClick(m_player->findChild<QToolButton *>(QString::fromLatin1(name)), Qt::LeftButton);
    m_player->findChild<QSlider *>(QStringLiteral("seek"))->setValue(1000);
    QVERIFY(!m_player->duration().has_value());
    QVERIFY(!m_player->currentPosition().has_value());
}

void TestRealPlayer::playsInRealTimeAndReloadsTheSamePath()
{
    m_player->setUrl(m_path);
    QCOMPARE(m_player->url(), m_path);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->duration().has_value(), loadTimeout);
    QVERIFY2(qAbs(*m_player->duration() - toneSeconds) < 0.2, qPrintable(QString::number(*m_player->duration())));
    QCOMPARE(m_player->findChild<QLabel *>(QStringLiteral("time"))->text().right(4), QStringLiteral("0:06"));

    QTRY_VERIFY_WITH_TIMEOUT(m_player->currentPosition().value_or(0) > 0.2, loadTimeout);
    const double from = *m_player->currentPosition();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1200);
    const double advanced = *m_player->currentPosition() - from;
    const double elapsed = clock.elapsed() / 1000.0;
    QVERIFY2(qAbs(advanced - elapsed) < 0.4,
             qPrintable(QStringLiteral("advanced %1 s in %2 s").arg(advanced).arg(elapsed)));

    // The same path again reads the file afresh and starts over: the program rewrites files
    // in place. The first half of a CBR file without tags is the first half of the sound.
    QVERIFY(*m_player->currentPosition() > 1.0);
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();
    m_player->setUrl(m_path);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->duration().has_value(), loadTimeout);
    QVERIFY2(qAbs(*m_player->duration() - toneSeconds / 2) < 0.3, qPrintable(QString::number(*m_player->duration())));
    QVERIFY2(m_player->currentPosition().value_or(99) < 0.6, qPrintable(QString::number(*m_player->currentPosition())));
    QTRY_VERIFY_WITH_TIMEOUT(m_player->currentPosition().value_or(0) > 0.1, loadTimeout);
}

void TestRealPlayer::pauseAndStopKeepTheMedia()
{
    loadAndWait();
    QTRY_VERIFY_WITH_TIMEOUT(m_player->currentPosition().value_or(0) > 0.5, loadTimeout);

    m_player->pause();
    QTest::qWait(100);
    const double pausedAt = *m_player->currentPosition();
    QTest::qWait(500);
    QVERIFY(qAbs(*m_player->currentPosition() - pausedAt) < 0.05);
    QVERIFY(pausedAt > 0.5);
    QVERIFY(m_player->duration().has_value());

    m_player->stop();
    QCOMPARE(m_player->url(), m_path);
    QVERIFY(m_player->currentPosition().has_value());
}

void TestRealPlayer::emptyPathClosesTheFile()
{
    loadAndWait();
    QVERIFY(fileIsOpen());

    m_player->setUrl(QString());
    QCOMPARE(m_player->url(), QString());
    QVERIFY(!m_player->duration().has_value());
    QVERIFY(!m_player->currentPosition().has_value());
    // Renaming an open file succeeds on Linux, so look at the descriptors themselves.
    QVERIFY(!fileIsOpen());

    const QString renamed = m_dir.filePath(QStringLiteral("renamed.mp3"));
    QVERIFY(QFile::rename(m_path, renamed));
    QVERIFY(QFile::remove(renamed));
}

void TestRealPlayer::clickOnTheSliderJumpsThere()
{
    m_player->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_player));
    loadAndWait();
    m_player->pause();

    auto *seek = m_player->findChild<QSlider *>(QStringLiteral("seek"));
    QVERIFY(seek);
    QTRY_VERIFY(seek->isEnabled());
    QTest::mouseClick(seek, Qt::LeftButton, {}, QPoint(seek->width() * 3 / 4, seek->height() / 2));

    const double wanted = *m_player->duration() * 0.75;
    QTRY_VERIFY2_WITH_TIMEOUT(qAbs(m_player->currentPosition().value_or(0) - wanted) < 0.3,
                              qPrintable(QString::number(*m_player->currentPosition())), loadTimeout);
}

void TestRealPlayer::unplayableFileSaysSoAndHasNoLength()
{
    const QString bad = m_dir.filePath(QStringLiteral("not-audio.mp3"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    m_player->setUrl(bad);
    auto *state = m_player->findChild<QLabel *>(QStringLiteral("state"));
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("无法播放此文件"), loadTimeout);
    QVERIFY(!m_player->duration().has_value());
    QCOMPARE(m_player->url(), bad);

    // A good file afterwards plays as usual.
    loadAndWait();
    QCOMPARE(state->text(), QStringLiteral("正在播放"));
}

QTEST_MAIN(TestRealPlayer)
#include "tst_realplayer.moc"
