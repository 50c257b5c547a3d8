#include "platform/qtmediaplayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>

// The real player on a real MP3, with no sound card needed: GStreamer plays into a silent
// sink in real time.
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
    void unplayableFileSaysSo();

private:
    static constexpr int timeout = 10000;

    void loadAndPlay(double pastSeconds);
    bool fileIsOpen() const;
    double position() const { return m_player->currentPosition().value_or(-1); }
    QString state() const { return m_player->findChild<QLabel *>(QStringLiteral("state"))->text(); }

    QTemporaryDir m_dir;
    QString m_path;
    QtMediaPlayer *m_player = nullptr;
};

void TestRealPlayer::initTestCase()
{
    // Debian ships the ffmpeg back end too, which plays nothing without a sound card.
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

void TestRealPlayer::loadAndPlay(double pastSeconds)
{
    m_player->setUrl(m_path);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->duration().has_value(), timeout);
    QTRY_VERIFY_WITH_TIMEOUT(position() > pastSeconds, timeout);
}

bool TestRealPlayer::fileIsOpen() const
{
    const QString file = QFileInfo(m_path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const auto links = fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    return std::any_of(links.begin(), links.end(),
                       [&file](const QFileInfo &fd) { return fd.symLinkTarget() == file; });
}

void TestRealPlayer::readsAreEmptyBeforeAnyMedia()
{
    // Qt Multimedia starts with the first file; until then every control must be harmless.
    m_player->pause();
    m_player->stop();
    m_player->setUrl(QString());
    for (const char *name : {"play", "pause", "stop"})
        QTest::mouseClick(m_player->findChild<QToolButton *>(QString::fromLatin1(name)), Qt::LeftButton);
    m_player->findChild<QSlider *>(QStringLiteral("seek"))->setValue(1000);
    QCOMPARE(m_player->url(), QString());
    QVERIFY(!m_player->duration());
    QVERIFY(!m_player->currentPosition());
    QCOMPARE(state(), QStringLiteral("未加载文件"));
}

void TestRealPlayer::playsInRealTimeAndReloadsTheSamePath()
{
    loadAndPlay(0.2);
    QCOMPARE(m_player->url(), m_path);
    QVERIFY2(qAbs(*m_player->duration() - 6.0) < 0.2, qPrintable(QString::number(*m_player->duration())));
    const auto *time = m_player->findChild<QLabel *>(QStringLiteral("time"));
    QVERIFY(time->text().endsWith(QStringLiteral("/ 0:06")));

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
    m_player->setUrl(m_path);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->duration().has_value(), timeout);
    QVERIFY2(qAbs(*m_player->duration() - 3.0) < 0.3, qPrintable(QString::number(*m_player->duration())));
    QVERIFY2(position() < 0.6, qPrintable(QString::number(position())));
    QTRY_VERIFY_WITH_TIMEOUT(position() > 0.1, timeout);
}

void TestRealPlayer::pauseAndStopKeepTheMedia()
{
    loadAndPlay(0.5);
    m_player->pause();
    QTest::qWait(100);
    const double pausedAt = position();
    QTest::qWait(500);
    QVERIFY(pausedAt > 0.5);
    QVERIFY(qAbs(position() - pausedAt) < 0.02);
    QCOMPARE(state(), QStringLiteral("已暂停"));

    m_player->stop();
    QCOMPARE(m_player->url(), m_path);
    QVERIFY(m_player->duration().has_value());
    QCOMPARE(state(), QStringLiteral("已停止"));
}

void TestRealPlayer::emptyPathClosesTheFile()
{
    loadAndPlay(0.1);
    QVERIFY(fileIsOpen());

    m_player->setUrl(QString());
    QCOMPARE(m_player->url(), QString());
    QVERIFY(!m_player->duration());
    QVERIFY(!m_player->currentPosition());
    // Linux renames and deletes open files too, so look at the descriptors themselves.
    QVERIFY(!fileIsOpen());
    const QString renamed = m_dir.filePath(QStringLiteral("renamed.mp3"));
    QVERIFY(QFile::rename(m_path, renamed));
    QVERIFY(QFile::remove(renamed));
}

void TestRealPlayer::clickOnTheSliderJumpsThere()
{
    m_player->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_player));
    loadAndPlay(0.1);
    m_player->pause();

    auto *seek = m_player->findChild<QSlider *>(QStringLiteral("seek"));
    QTest::mouseClick(seek, Qt::LeftButton, {}, QPoint(seek->width() * 3 / 4, seek->height() / 2));
    const double wanted = *m_player->duration() * 0.75;
    QTRY_VERIFY2_WITH_TIMEOUT(qAbs(position() - wanted) < 0.3, qPrintable(QString::number(position())),
                              timeout);
}

void TestRealPlayer::unplayableFileSaysSo()
{
    const QString bad = m_dir.filePath(QStringLiteral("not-audio.mp3"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    m_player->setUrl(bad);
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("无法播放此文件"), timeout);
    QVERIFY(!m_player->duration());
    QCOMPARE(m_player->url(), bad);

    loadAndPlay(0.1);
    QCOMPARE(state(), QStringLiteral("正在播放"));
}

QTEST_MAIN(TestRealPlayer)
#include "tst_realplayer.moc"
