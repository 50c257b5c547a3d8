// The program asked for its window where there is no display to show one.

#include <QProcess>
#include <QTest>

class TestNoDisplay : public QObject
{
    Q_OBJECT
private slots:
    void saysHowToCutWithoutOneAndFails()
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MP3CUTTER_BINARY), {QStringLiteral(FIXTURE_DIR "/cbr-tones.mp3")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains("--cut"), lines[0].constData());
        // In Chinese, as every other line of the program.
        QVERIFY2(QString::fromUtf8(lines[0]).contains(QStringLiteral("没有可以打开窗口的显示器")), lines[0].constData());
    }
};

QTEST_GUILESS_MAIN(TestNoDisplay)
#include "tst_nodisplay.moc"
