#include "core/numbertext.h"
#include "engine/timetext.h"

#include <QTest>

#include <limits>

class TestNumberText : public QObject
{
    Q_OBJECT
private slots:
    void generalText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("mark in KB") << 30.0 / 180.0 * 2929.7 << "488.283333333333";
        QTest::newRow("whole") << 30.0 << "30";
        QTest::newRow("negative") << -12.5 << "-12.5";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("15 digits") << 123456789012345.0 << "123456789012345";
    }
    void generalText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(::generalText(value), text);
    }

    void generalTextReadsBack_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("huge") << 1e15;
        QTest::newRow("tiny") << 1.5e-5;
    }
    void generalTextReadsBack()
    {
        QFETCH(double, value);
        QCOMPARE(textValue(::generalText(value)), value);
    }

    void oneDecimalText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("one decimal") << 1.5 << "1.5";
        QTest::newRow("whole keeps point") << 2.0 << "2.";
        QTest::newRow("zero") << 0.0 << "0.";
        QTest::newRow("rounds up") << 2929.6875 << "2929.7";
        QTest::newRow("rounds to zero") << 0.04 << "0.";
        QTest::newRow("negative") << -1.5 << "-1.5";
        QTest::newRow("no negative zero") << -0.04 << "0.";
        QTest::newRow("tie away from zero") << 1.25 << "1.3";
        QTest::newRow("decimal tie, binary below") << 0.15 << "0.2";
        QTest::newRow("carry into whole") << 9.96 << "10.";
        QTest::newRow("carry from hundredths") << 0.05 << "0.1";
        QTest::newRow("beyond 15 digits") << 1e20 << "100000000000000000000.";
    }
    void oneDecimalText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(::oneDecimalText(value), text);
    }

    void numberText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("trailing point") << "1." << true << 1.0;
        QTest::newRow("leading point") << ".5" << true << 0.5;
        QTest::newRow("plus") << "+5" << true << 5.0;
        QTest::newRow("exponent") << "-2.5E+2" << true << -250.0;
        QTest::newRow("too large") << "1e400" << true << inf;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("point only") << "." << false << 0.0;
        QTest::newRow("leading blank") << " 1" << false << 0.0;
        QTest::newRow("inner blank") << "1 .5" << false << 0.0;
        QTest::newRow("bare exponent") << "1e" << false << 0.0;
        QTest::newRow("fractional exponent") << "1e5.5" << false << 0.0;
        QTest::newRow("hex") << "0x10" << false << 0.0;
        QTest::newRow("infinity") << "inf" << false << 0.0;
        QTest::newRow("comma") << "1,5" << false << 0.0;
        QTest::newRow("letter") << "12a" << false << 0.0;
        QTest::newRow("fullwidth digits") << QStringLiteral("１２") << false << 0.0;
    }
    void numberText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        QCOMPARE(isNumberText(text), valid);
        QCOMPARE(textValue(text), valid ? std::optional(value) : std::nullopt);
    }

    void kbTextToBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<qint32>>("bytes");
        QTest::newRow("fraction") << "488.2833" << std::optional<qint32>(500002);
        QTest::newRow("half KB") << "0.5" << std::optional<qint32>(512);
        QTest::newRow("negative") << "-100" << std::optional<qint32>(-102400);
        QTest::newRow("half to even 0") << "0.00048828125" << std::optional<qint32>(0);
        QTest::newRow("half to even 2") << "0.00146484375" << std::optional<qint32>(2);
        QTest::newRow("half down to even 2") << "0.00244140625" << std::optional<qint32>(2);
        QTest::newRow("negative half to even") << "-0.00146484375" << std::optional<qint32>(-2);
        // A double would give 16777216.7168 and round up; the float holds 16384 exactly.
        QTest::newRow("single precision") << "16384.0007" << std::optional<qint32>(16777216);
        QTest::newRow("too small for a float") << "1e-50" << std::optional<qint32>(0);
        QTest::newRow("lowest qint32") << "-2097152" << std::optional<qint32>(-2147483647 - 1);
        QTest::newRow("one past qint32") << "2097152" << std::optional<qint32>();
        QTest::newRow("overflows qint32") << "99999999" << std::optional<qint32>();
        QTest::newRow("overflows float") << "1e39" << std::optional<qint32>();
        QTest::newRow("not a number") << "5 KB" << std::optional<qint32>();
    }
    void kbTextToBytes()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<qint32>, bytes);
        QCOMPARE(::kbTextToBytes(text), bytes);
    }

    void aSizeBoxKeepsItsFirstEightCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        QTest::newRow("long") << "1234.56789012345" << "1234.567";
        QTest::newRow("exactly eight") << "488.2833" << "488.2833";
        QTest::newRow("short") << "0" << "0";
        QTest::newRow("exponent cut off") << "1.23456789e-05" << "1.234567";
    }
    void aSizeBoxKeepsItsFirstEightCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QCOMPARE(::sizeBoxText(text), kept);
    }

    void timeTextSeconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<double>>("seconds");
        QTest::newRow("seconds") << "12.5" << std::optional<double>(12.5);
        QTest::newRow("whole seconds") << "30" << std::optional<double>(30);
        QTest::newRow("leading point") << ".5" << std::optional<double>(0.5);
        QTest::newRow("minutes") << "0:12.5" << std::optional<double>(12.5);
        QTest::newRow("hours") << "1:02:03" << std::optional<double>(3723);
        QTest::newRow("milliseconds") << "2:03.250" << std::optional<double>(123.25);
        QTest::newRow("many minutes") << "75:00" << std::optional<double>(4500);
        QTest::newRow("one digit of seconds") << "1:2" << std::optional<double>();
        QTest::newRow("sixty seconds") << "1:60" << std::optional<double>();
        QTest::newRow("sixty minutes under an hour") << "1:60:00" << std::optional<double>();
        QTest::newRow("negative") << "-1" << std::optional<double>();
        QTest::newRow("blank") << "" << std::optional<double>();
        QTest::newRow("words") << "1 min" << std::optional<double>();
        QTest::newRow("exponent") << "1e2" << std::optional<double>();
        QTest::newRow("more minutes than a double holds") << "0:" + QString(309, u'9') + ":00" << std::optional<double>();
        QTest::newRow("more hours than seconds hold") << QString(306, u'9') + ":00:00" << std::optional<double>();
    }
    void timeTextSeconds()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<double>, seconds);
        QCOMPARE(::timeTextSeconds(text.toStdString()), seconds);
    }

    void clockText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00.0";
        QTest::newRow("tenths cut, not rounded") << 12.39 << "0:12.3";
        QTest::newRow("stepped up by tenths") << 0.1 + 0.2 << "0:00.3";
        QTest::newRow("a hair below its tenth") << 0.7 + 0.1 << "0:00.8";
        QTest::newRow("minutes") << 83.25 << "1:23.2";
        QTest::newRow("last tenth of an hour") << 3599.99 << "59:59.9";
        QTest::newRow("hours") << 4 * 3600.0 + 62.5 << "4:01:02.5";
        QTest::newRow("negative") << -3.0 << "0:00.0";
    }
    void clockText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(::clockText(seconds), text);
        // What the clock shows is a time the command line takes.
        QVERIFY(::timeTextSeconds(text.toStdString()));
    }
};

QTEST_APPLESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
