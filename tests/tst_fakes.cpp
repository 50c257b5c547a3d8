#include "fakes.h"

#include <QTest>

class TestFakes : public QObject
{
    Q_OBJECT
private slots:
    void dialogKeepsNameAcrossCancel()
    {
        FakeDialog d;
        d.setCancelError(true);
        d.answers = {QString("/a.mp3"), std::nullopt};
        QVERIFY(d.showOpen(nullptr));
        QVERIFY(!d.showOpen(nullptr));
        QCOMPARE(d.fileName(), QString("/a.mp3"));
    }
};

QTEST_MAIN(TestFakes)
#include "tst_fakes.moc"
