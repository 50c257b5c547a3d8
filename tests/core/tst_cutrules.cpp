#include "core/cutrules.h"
#include "core/numbertext.h"
#include "core/pathrules.h"

#include <QDir>
#include <QTest>

class TestCutRules : public QObject
{
    Q_OBJECT
private slots:
    void positionToKB_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("audioStartKB");
        QTest::addColumn<std::optional<double>>("kb");
        QTest::newRow("after a tag") << "90" << 180.0 << 100.0 << std::optional(100.0 + 0.5 * 2829.7);
        QTest::newRow("mark not a number") << "1:30" << 180.0 << 0.0 << std::optional<double>();
        QTest::newRow("no duration") << "30" << 0.0 << 0.0 << std::optional<double>();
        QTest::newRow("infinite") << "1e308" << 1e-10 << 0.0 << std::optional<double>();
    }
    void positionToKB()
    {
        QFETCH(QString, mark);
        QFETCH(double, duration);
        QFETCH(double, audioStartKB);
        QFETCH(std::optional<double>, kb);
        QCOMPARE(::positionToKB(mark, duration, 2929.7, audioStartKB), kb);
    }

    void positionWithoutTagIsPlainProportion()
    {
        const std::optional<double> kb = ::positionToKB("30", 180.0, 2929.7);
        QVERIFY(kb == 30.0 / 180.0 * 2929.7);
        QCOMPARE(generalText(*kb), "488.283333333333");
    }

    void pieceFileName()
    {
        QCOMPARE(::pieceFileName("/music/", 12, "song.mp3"), QStringLiteral("/music/[铃声]12song.mp3"));
    }

    void id3v2TagSize_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<qint64>("size");
        QTest::newRow("no tag") << QByteArray("\xFF\xFB\x90\x00\x00\x00\x00\x00\x02\x01", 10) << qint64(0);
        QTest::newRow("v3") << QByteArray("ID3\x03\x00\x00\x00\x00\x02\x01", 10) << qint64(10 + 257);
        QTest::newRow("v3 all size bits") << QByteArray("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10)
                                          << qint64(10 + 0x0FFFFFFF);
        QTest::newRow("v4 footer") << QByteArray("ID3\x04\x00\x10\x00\x00\x02\x01", 10) << qint64(20 + 257);
        QTest::newRow("footer flag before v4") << QByteArray("ID3\x03\x00\x10\x00\x00\x02\x01", 10)
                                               << qint64(10 + 257);
        QTest::newRow("longer head") << QByteArray("ID3\x02\x00\x00\x00\x00\x00\x05\xFF\xFB", 12) << qint64(15);
        QTest::newRow("bad size byte") << QByteArray("ID3\x03\x00\x00\x00\x00\x80\x01", 10) << qint64(0);
        QTest::newRow("unknown version") << QByteArray("ID3\x05\x00\x00\x00\x00\x02\x01", 10) << qint64(0);
        QTest::newRow("bad revision") << QByteArray("ID3\x03\xFF\x00\x00\x00\x02\x01", 10) << qint64(0);
        QTest::newRow("short") << QByteArray("ID3\x03\x00\x00\x00\x00\x02", 9) << qint64(0);
    }
    void id3v2TagSize()
    {
        QFETCH(QByteArray, head);
        QFETCH(qint64, size);
        QCOMPARE(::id3v2TagSize(head), size);
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("in a folder") << "/music/old/song.mp3" << "/music/old/" << "song.mp3";
        QTest::newRow("at the root") << "/a.mp3" << "/" << "a.mp3";
        QTest::newRow("folder only") << "/music/" << "/music/" << "";
        QTest::newRow("no separator") << "a.mp3" << "" << "a.mp3";
        if (QDir::separator() == u'/')
            QTest::newRow("backslash in a name") << "/m/a\\b.mp3" << "/m/" << "a\\b.mp3";
    }
    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QCOMPARE(folderPart(QDir::toNativeSeparators(path)), QDir::toNativeSeparators(folder));
        QCOMPARE(fileNamePart(QDir::toNativeSeparators(path)), QDir::toNativeSeparators(name));
    }
};

QTEST_APPLESS_MAIN(TestCutRules)
#include "tst_cutrules.moc"
