// What an MPEG audio frame header says about its stream and its frame.

#include "core/mp3frames.h"

#include <QTest>
#include <QtEndian>

namespace {

QByteArray header(uchar b1, uchar b2, uchar b3 = 0xC4)
{
    return QByteArray("\xFF", 1) + char(b1) + char(b2) + char(b3);
}

} // namespace

class TestMp3Frames : public QObject
{
    Q_OBJECT
private slots:
    void headersGiveTheirFrameLength_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("layer");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("length");
        QTest::newRow("MPEG-1 layer 3 128k 44.1k") << header(0xFB, 0x90) << 10 << 3 << 44100 << 417;
        QTest::newRow("same, padded") << header(0xFB, 0x92) << 10 << 3 << 44100 << 418;
        QTest::newRow("MPEG-1 layer 3 320k 48k") << header(0xFB, 0xE4) << 10 << 3 << 48000 << 960;
        QTest::newRow("MPEG-2 layer 3 32k 22.05k") << header(0xF3, 0x40) << 20 << 3 << 22050 << 104;
        QTest::newRow("MPEG-2.5 layer 3 8k 8k") << header(0xE3, 0x18) << 25 << 3 << 8000 << 72;
        QTest::newRow("MPEG-1 layer 2 192k 48k") << header(0xFD, 0xA4) << 10 << 2 << 48000 << 576;
        QTest::newRow("MPEG-1 layer 1 384k 32k") << header(0xFF, 0xC8) << 10 << 1 << 32000 << 576;
    }

    void headersGiveTheirFrameLength()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, version);
        QFETCH(int, layer);
        QFETCH(int, sampleRate);
        QFETCH(int, length);
        const auto h = frameHeaderAt(bytes, 0);
        QVERIFY(h);
        QCOMPARE(h->version, version);
        QCOMPARE(h->layer, layer);
        QCOMPARE(h->sampleRate, sampleRate);
        QCOMPARE(h->length, length);
    }

    void headersTellTheirStream_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("channelMode");
        QTest::addColumn<bool>("padded");
        QTest::addColumn<bool>("hasCrc");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("sideInfo");
        QTest::newRow("MPEG-1 layer 3 joint stereo") << header(0xFB, 0x92, 0x44) << 128000 << 1 << true << false << 1152 << 32;
        QTest::newRow("MPEG-1 layer 3 mono, CRC") << header(0xFA, 0x90, 0xC4) << 128000 << 3 << false << true << 1152 << 17;
        QTest::newRow("MPEG-2 layer 3 stereo") << header(0xF3, 0x40, 0x04) << 32000 << 0 << false << false << 576 << 17;
        QTest::newRow("MPEG-2.5 layer 3 mono") << header(0xE3, 0x18) << 8000 << 3 << false << false << 576 << 9;
        QTest::newRow("MPEG-2 layer 2 dual channel") << header(0xF5, 0x40, 0x84) << 32000 << 2 << false << false << 1152 << 17;
        QTest::newRow("MPEG-1 layer 1") << header(0xFF, 0xC8) << 384000 << 3 << false << false << 384 << 17;
    }

    void headersTellTheirStream()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, bitRate);
        QFETCH(int, channelMode);
        QFETCH(bool, padded);
        QFETCH(bool, hasCrc);
        QFETCH(int, samples);
        QFETCH(int, sideInfo);
        const auto h = frameHeaderAt(bytes, 0);
        QVERIFY(h);
        QCOMPARE(h->bitRate, bitRate);
        QCOMPARE(h->channelMode, channelMode);
        QCOMPARE(h->padded, padded);
        QCOMPARE(h->hasCrc, hasCrc);
        QCOMPARE(h->samplesPerFrame(), samples);
        QCOMPARE(h->sideInfoSize(), sideInfo);
        QCOMPARE(h->word, qFromBigEndian<quint32>(bytes.constData()));
    }

    void reservedAndBrokenHeadersAreNone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no sync") << QByteArray("\xFF\x7B\x90\xC4", 4);
        QTest::newRow("reserved version") << header(0xEB, 0x90);
        QTest::newRow("reserved layer") << header(0xF9, 0x90);
        QTest::newRow("free bit rate") << header(0xFB, 0x00);
        QTest::newRow("bad bit rate") << header(0xFB, 0xF0);
        QTest::newRow("reserved sample rate") << header(0xFB, 0x9C);
        QTest::newRow("reserved emphasis") << header(0xFB, 0x90, 0xC6);
        QTest::newRow("too short") << QByteArray("\xFF\xFB\x90", 3);
    }

    void reservedAndBrokenHeadersAreNone()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!frameHeaderAt(bytes, 0));
    }
};

QTEST_APPLESS_MAIN(TestMp3Frames)
#include "tst_mp3frames.moc"
