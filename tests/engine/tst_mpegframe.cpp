// What an MPEG audio frame header says about its stream and its frame.

#include "engine/mpegframe.h"

#include <QTest>

class TestMpegFrame : public QObject
{
    Q_OBJECT
private slots:
    void headersGiveTheirFrameLength_data()
    {
        QTest::addColumn<quint32>("word");
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("layer");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("length");
        QTest::newRow("MPEG-1 layer 3 128k 44.1k") << 0xFFFB90C4u << 10 << 3 << 44100 << 417;
        QTest::newRow("same, padded") << 0xFFFB92C4u << 10 << 3 << 44100 << 418;
        QTest::newRow("MPEG-1 layer 3 320k 48k") << 0xFFFBE4C4u << 10 << 3 << 48000 << 960;
        QTest::newRow("MPEG-2 layer 3 32k 22.05k") << 0xFFF340C4u << 20 << 3 << 22050 << 104;
        QTest::newRow("MPEG-2.5 layer 3 8k 8k") << 0xFFE318C4u << 25 << 3 << 8000 << 72;
        QTest::newRow("MPEG-1 layer 2 192k 48k") << 0xFFFDA4C4u << 10 << 2 << 48000 << 576;
        QTest::newRow("MPEG-1 layer 1 384k 32k") << 0xFFFFC8C4u << 10 << 1 << 32000 << 576;
        QTest::newRow("MPEG-2 layer 1 32k 24k, padded") << 0xFFF71644u << 20 << 1 << 24000 << 68;
    }

    void headersGiveTheirFrameLength()
    {
        QFETCH(quint32, word);
        QFETCH(int, version);
        QFETCH(int, layer);
        QFETCH(int, sampleRate);
        QFETCH(int, length);
        const auto h = frameHeaderFrom(word);
        QVERIFY(h);
        QCOMPARE(h->version, version);
        QCOMPARE(h->layer, layer);
        QCOMPARE(h->sampleRate, sampleRate);
        QCOMPARE(h->length, length);
        QCOMPARE(h->word, word);
    }

    void headersTellTheirStream_data()
    {
        QTest::addColumn<quint32>("word");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("channelMode");
        QTest::addColumn<bool>("padded");
        QTest::addColumn<bool>("hasCrc");
        QTest::addColumn<int>("samples");
        // Layers 1 and 2 have no side information: -1.
        QTest::addColumn<int>("sideInfoEnd");
        QTest::newRow("MPEG-1 layer 3 joint stereo") << 0xFFFB9244u << 128000 << 1 << true << false << 1152 << 36;
        QTest::newRow("MPEG-1 layer 3 mono, CRC") << 0xFFFA90C4u << 128000 << 3 << false << true << 1152 << 23;
        QTest::newRow("MPEG-2 layer 3 stereo") << 0xFFF34004u << 32000 << 0 << false << false << 576 << 21;
        QTest::newRow("MPEG-2.5 layer 3 mono") << 0xFFE318C4u << 8000 << 3 << false << false << 576 << 13;
        QTest::newRow("MPEG-2 layer 2 dual channel") << 0xFFF54084u << 32000 << 2 << false << false << 1152 << -1;
        QTest::newRow("MPEG-1 layer 1") << 0xFFFFC8C4u << 384000 << 3 << false << false << 384 << -1;
    }

    void headersTellTheirStream()
    {
        QFETCH(quint32, word);
        QFETCH(int, bitRate);
        QFETCH(int, channelMode);
        QFETCH(bool, padded);
        QFETCH(bool, hasCrc);
        QFETCH(int, samples);
        QFETCH(int, sideInfoEnd);
        const auto h = frameHeaderFrom(word);
        QVERIFY(h);
        QCOMPARE(h->bitRate, bitRate);
        QCOMPARE(h->channelMode, channelMode);
        QCOMPARE(h->padded, padded);
        QCOMPARE(h->hasCrc, hasCrc);
        QCOMPARE(h->samplesPerFrame(), samples);
        if (sideInfoEnd >= 0)
            QCOMPARE(h->sideInfoEnd(), sideInfoEnd);
    }

    void reservedAndBrokenHeadersAreNone_data()
    {
        QTest::addColumn<quint32>("word");
        QTest::newRow("no sync") << 0xFF7B90C4u;
        QTest::newRow("reserved version") << 0xFFEB90C4u;
        QTest::newRow("reserved layer") << 0xFFF990C4u;
        QTest::newRow("free bit rate") << 0xFFFB00C4u;
        QTest::newRow("bad bit rate") << 0xFFFBF0C4u;
        QTest::newRow("reserved sample rate") << 0xFFFB9CC4u;
        QTest::newRow("reserved emphasis") << 0xFFFB90C6u;
    }

    void reservedAndBrokenHeadersAreNone()
    {
        QFETCH(quint32, word);
        QVERIFY(!frameHeaderFrom(word));
    }
};

QTEST_APPLESS_MAIN(TestMpegFrame)
#include "tst_mpegframe.moc"
