#include "core/splitplan.h"

#include <QStringList>
#include <QTest>

namespace {

SizeBoxes boxesOf(const QStringList &texts)
{
    return {texts[0], texts[1], texts[2]};
}

} // namespace

class TestSplitPlan : public QObject
{
    Q_OBJECT
private slots:
    void planPieces_data()
    {
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<qint32>("fileLength");
        QTest::addColumn<QList<qint32>>("pieces");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("boxesAfter");
        const qint32 mp3 = 3000000;
        QTest::newRow("rest into last box") << QStringList{"500", "1200", "0"} << mp3
            << QList<qint32>{512000, 1228800, 1259200} << true << QStringList{"500", "1200", "1229.7"};
        QTest::newRow("empty first box") << QStringList{"0", "1200", "0"} << mp3
            << QList<qint32>{1228800, 1771200} << true << QStringList{"1200", "1729.7", "0"};
        QTest::newRow("empty middle box") << QStringList{"500", "0", "700"} << mp3
            << QList<qint32>{512000, 716800, 1771200} << true << QStringList{"500", "700", "1729.7"};
        QTest::newRow("one box") << QStringList{"500", "0", "0"} << mp3
            << QList<qint32>{512000, 2488000} << true << QStringList{"500", "2429.7", "0"};
        QTest::newRow("two empty in front") << QStringList{"0", "0", "700"} << mp3
            << QList<qint32>{} << false << QStringList{"0", "700", "0"};
        QTest::newRow("box beyond the end") << QStringList{"500", "5000", "100"} << mp3
            << QList<qint32>{512000, 2488000} << true << QStringList{"500", "2429.7", "0"};
        QTest::newRow("box exactly the rest") << QStringList{"512", "512", "100"} << 1048576
            << QList<qint32>{524288, 524288} << true << QStringList{"512", "512.", "0"};
        QTest::newRow("first box beyond the end") << QStringList{"5000", "100", "100"} << mp3
            << QList<qint32>{} << false << QStringList{"5000", "100", "100"};
        QTest::newRow("pieces short of the end") << QStringList{"100", "100", "100"} << mp3
            << QList<qint32>{102400, 102400, 102400} << true << QStringList{"100", "100", "100"};
        QTest::newRow("half KB") << QStringList{"0.5", "0", "0"} << mp3
            << QList<qint32>{512, 2999488} << true << QStringList{"0.5", "2929.2", "0"};
        QTest::newRow("single precision") << QStringList{"488.2833", "0", "0"} << mp3
            << QList<qint32>{500002, 2499998} << true << QStringList{"488.2833", "2441.4", "0"};
        QTest::newRow("only \"0\" is empty") << QStringList{"0.0", "100", "0"} << mp3
            << QList<qint32>{0, 102400, 2897600} << true << QStringList{"0.0", "100", "2829.7"};
        QTest::newRow("negative size") << QStringList{"-100", "500", "0"} << mp3
            << QList<qint32>{-102400, 512000, 2590400} << true << QStringList{"-100", "500", "2529.7"};
        QTest::newRow("empty file") << QStringList{"100", "0", "0"} << 0
            << QList<qint32>{} << false << QStringList{"100", "0", "0"};
        QTest::newRow("first box overflows") << QStringList{"99999999", "0", "0"} << mp3
            << QList<qint32>{} << false << QStringList{"99999999", "0", "0"};
        QTest::newRow("second box overflows") << QStringList{"500", "99999999", "0"} << mp3
            << QList<qint32>{512000} << false << QStringList{"500", "99999999", "0"};
        QTest::newRow("rest overflows") << QStringList{"-1000000", "0", "0"} << 2000000000
            << QList<qint32>{-1024000000} << false << QStringList{"-1000000", "0", "0"};
    }
    void planPieces()
    {
        QFETCH(QStringList, boxes);
        QFETCH(qint32, fileLength);
        QFETCH(QList<qint32>, pieces);
        QFETCH(bool, ok);
        QFETCH(QStringList, boxesAfter);
        SizeBoxes sizes = boxesOf(boxes);
        const SplitPlan plan = ::planPieces(sizes, fileLength);
        QVERIFY(plan.accepted);
        QCOMPARE(plan.pieceSizes, pieces);
        QCOMPARE(plan.pieceTop, pieces.size() - 1);
        QCOMPARE(plan.ok, ok);
        QCOMPARE(QStringList(sizes.begin(), sizes.end()), boxesAfter);
    }

    void boxNotANumber_data()
    {
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("letters") << QStringList{"500", "abc", "0"};
        QTest::newRow("empty box") << QStringList{"500", "1200", ""};
        QTest::newRow("blank around 0") << QStringList{" 0", "1200", "0"};
        QTest::newRow("gap before a bad box") << QStringList{"0", "1200", "12 00"};
    }
    void boxNotANumber()
    {
        QFETCH(QStringList, boxes);
        SizeBoxes sizes = boxesOf(boxes);
        const SplitPlan plan = ::planPieces(sizes, 3000000);
        QVERIFY(!plan.accepted);
        QVERIFY(!plan.ok);
        QVERIFY(plan.pieceSizes.isEmpty());
        QCOMPARE(plan.pieceTop, -1);
        QCOMPARE(QStringList(sizes.begin(), sizes.end()), boxes);
    }
};

QTEST_APPLESS_MAIN(TestSplitPlan)
#include "tst_splitplan.moc"
