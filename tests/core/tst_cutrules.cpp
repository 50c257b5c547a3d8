#include "core/cutrules.h"
#include "core/pathrules.h"

#include <QDir>
#include <QTest>

class TestCutRules : public QObject
{
    Q_OBJECT
private slots:
    void pieceFileName()
    {
        QCOMPARE(::pieceFileName("/music/", 12, "song.mp3"), QStringLiteral("/music/[铃声]12song.mp3"));
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
