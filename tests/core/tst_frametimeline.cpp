// The song's frames in time: where each frame lies, when it sounds, and the Xing frame a piece
// made of some of them gets in front.

#include "core/cutrules.h"
#include "core/frametimeline.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>

namespace {

using Offsets = QList<qint64>;

// MPEG-1 layer 3, 44.1 kHz, joint stereo, no CRC: 128 kbit/s frames are 417 bytes, 32 kbit/s 104.
constexpr quint32 mpeg1At128 = 0xFFFB9044;
constexpr quint32 mpeg1At32 = 0xFFFB1044;
constexpr quint32 mpeg1At160 = 0xFFFBA044;

QByteArray frame(quint32 word, char fill = 0x55)
{
    QByteArray bytes(frameHeaderFrom(word)->length, fill);
    qToBigEndian<quint32>(word, bytes.data());
    return bytes;
}

QByteArray frames(int count, quint32 word = mpeg1At128)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += frame(word);
    return bytes;
}

/// Offsets of \a count frames of \a length each from \a from, and the end.
Offsets evenOffsets(qint64 from, int count, qint64 length = 417)
{
    Offsets offsets;
    for (int i = 0; i <= count; ++i)
        offsets.append(from + i * length);
    return offsets;
}

QByteArray id3v2(int bodySize, char version = 3, const QByteArray &body = {})
{
    QByteArray tag("ID3");
    tag += char(version);
    tag += char(0);
    tag += char(version == 4 ? 0x10 : 0);
    for (int shift : {21, 14, 7, 0})
        tag += char((bodySize >> shift) & 0x7F);
    tag += body.leftJustified(bodySize, '\0', true);
    if (version == 4)
        tag += "3DI" + tag.mid(3, 7);
    return tag;
}

QByteArray apeTag(const QByteArray &items, bool withHeader = true)
{
    const auto block = [&](quint32 flags) {
        QByteArray b("APETAGEX");
        b.resize(32, '\0');
        qToLittleEndian<quint32>(2000, b.data() + 8);
        qToLittleEndian<quint32>(quint32(items.size() + 32), b.data() + 12);
        qToLittleEndian<quint32>(1, b.data() + 16);
        qToLittleEndian<quint32>(flags, b.data() + 20);
        return b;
    };
    return (withHeader ? block(0xA0000000u) : QByteArray()) + items + block(withHeader ? 0x80000000u : 0);
}

QByteArray id3v1()
{
    // A title that ends in what looks like the last frame of the song.
    QByteArray tag = QByteArray("TAG").leftJustified(24, ' ');
    return tag + frame(mpeg1At32);
}

/// A frame such as an encoder puts in front: side information, then the tag and its fields.
QByteArray vbrFrame(const QByteArray &tag, quint32 frameCount, quint32 byteCount)
{
    QByteArray bytes = frame(mpeg1At128, '\0');
    uchar *p = reinterpret_cast<uchar *>(bytes.data());
    if (tag == "VBRI") {
        memcpy(p + 36, "VBRI", 4);
        qToBigEndian<quint32>(byteCount, p + 36 + 10);
        qToBigEndian<quint32>(frameCount, p + 36 + 14);
    } else {
        memcpy(p + 36, tag.constData(), 4);
        qToBigEndian<quint32>(3, p + 40);
        qToBigEndian<quint32>(frameCount, p + 44);
        qToBigEndian<quint32>(byteCount, p + 48);
    }
    return bytes;
}

QString fixture(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestFrameTimeline : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void findsTheFramesBetweenTagsAndJunk_data();
    void findsTheFramesBetweenTagsAndJunk();
    void noRunOfFramesIsNoTimeline_data();
    void noRunOfFramesIsNoTimeline();
    void readsTheEncodersFrameInFront_data();
    void readsTheEncodersFrameInFront();
    void framesAndTimesMapBothWays_data();
    void framesAndTimesMapBothWays();
    void fixturesAgreeWithTheirOwnHeaders_data();
    void fixturesAgreeWithTheirOwnHeaders();
    void aTagInFrontMovesTheFramesOnly();
    void pieceWithXingFrameReadsBack_data();
    void pieceWithXingFrameReadsBack();
    void xingFrameIsTheShortestThatHoldsIt_data();
    void xingFrameIsTheShortestThatHoldsIt();
    void noXingFrameForOtherLayersAndRangesKeptInTheSong();

private:
    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("song.mp3"))
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    QTemporaryDir m_dir;
};

void TestFrameTimeline::findsTheFramesBetweenTagsAndJunk_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Offsets>("offsets");
    QTest::addColumn<bool>("constant");

    QTest::newRow("frames alone") << frames(10) << evenOffsets(0, 10) << true;
    // The tag's body holds a run of frames, a cover picture may: they are the tag's.
    const QByteArray tag = id3v2(3000, 3, frames(6));
    QTest::newRow("ID3v2 holding frames") << tag + frames(10) << evenOffsets(tag.size(), 10) << true;
    const QByteArray tag24 = id3v2(100, 4);
    QTest::newRow("ID3v2.4 with footer") << tag24 + frames(10) << evenOffsets(tag24.size(), 10) << true;
    QTest::newRow("ID3v1 behind") << frames(10) + id3v1() << evenOffsets(0, 10) << true;
    QTest::newRow("APE tag holding frames") << frames(10) + apeTag(frames(5, mpeg1At32)) << evenOffsets(0, 10) << true;
    QTest::newRow("APE tag without header") << frames(10) + apeTag(frames(5, mpeg1At32), false) << evenOffsets(0, 10)
                                            << true;
    QTest::newRow("APE tag then ID3v1") << frames(10) + apeTag(frames(3, mpeg1At32)) + id3v1() << evenOffsets(0, 10)
                                        << true;
    QTest::newRow("APE tag without footer") << frames(10) + apeTag(frames(3, mpeg1At32)).chopped(32)
                                            << evenOffsets(0, 10) << true;
    QTest::newRow("junk in front") << QByteArray(333, 0x11) + frames(10) << evenOffsets(333, 10) << true;

    Offsets junkAfterFour = evenOffsets(0, 10);
    for (qsizetype i = 4; i < junkAfterFour.size(); ++i)
        junkAfterFour[i] += 37;
    QTest::newRow("junk between frames") << frames(4) + QByteArray(37, '\xFF') + frames(6) << junkAfterFour << true;

    // The fifth frame is cut short by the sixth: its bytes are no frame.
    Offsets cutShort = evenOffsets(0, 3);
    for (qint64 at = 4 * 417 + 200; at <= 4 * 417 + 200 + 5 * 417; at += 417)
        cutShort.append(at);
    QTest::newRow("frame cut short") << frames(4) + frames(1).left(200) + frames(5) << cutShort << true;
    QTest::newRow("last frame cut short") << frames(10) + frames(1).left(300) << evenOffsets(0, 10) << true;

    Offsets mixed = evenOffsets(0, 5);
    for (int i = 1; i <= 5; ++i)
        mixed.append(5 * 417 + i * 522);
    QTest::newRow("two bit rates") << frames(5) + frames(5, mpeg1At160) << mixed << false;
}

void TestFrameTimeline::findsTheFramesBetweenTagsAndJunk()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Offsets, offsets);
    QFETCH(bool, constant);
    const auto timeline = scanFrameTimeline(write(bytes));
    QVERIFY(timeline);
    QCOMPARE(timeline->frameOffsets, offsets);
    QCOMPARE(timeline->constantBitRate, constant);
    QCOMPARE(timeline->reference.word, mpeg1At128);
    QCOMPARE(timeline->samplesPerFrame, 1152);
    QVERIFY(!timeline->vbrHeader);
}

void TestFrameTimeline::noRunOfFramesIsNoTimeline_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("random bytes") << readAll(fixture(QStringLiteral("random-bytes.mp3")));
    QTest::newRow("all 0xFF") << QByteArray(100000, '\xFF');
    QTest::newRow("three frames") << frames(3);
    QTest::newRow("frames in a tag only") << id3v2(5000, 3, frames(10));
    QTest::newRow("frames of changing streams") << frame(mpeg1At128) + frame(0xFFF39044) + frame(mpeg1At128)
                                                       + frame(0xFFF39044) + frame(mpeg1At128);
}

void TestFrameTimeline::noRunOfFramesIsNoTimeline()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!scanFrameTimeline(write(bytes)));
}

void TestFrameTimeline::readsTheEncodersFrameInFront_data()
{
    QTest::addColumn<QByteArray>("tag");
    QTest::newRow("Xing") << QByteArray("Xing");
    QTest::newRow("Info") << QByteArray("Info");
    QTest::newRow("VBRI") << QByteArray("VBRI");
}

void TestFrameTimeline::readsTheEncodersFrameInFront()
{
    QFETCH(QByteArray, tag);
    const QByteArray tagInFront = id3v2(200);
    const auto timeline = scanFrameTimeline(write(tagInFront + vbrFrame(tag, 9, 10 * 417) + frames(9)));
    QVERIFY(timeline);
    QCOMPARE(timeline->frameOffsets, evenOffsets(tagInFront.size() + 417, 9));
    QVERIFY(timeline->vbrHeader);
    QCOMPARE(timeline->vbrHeader->tag, tag);
    QCOMPARE(timeline->vbrHeader->offset, qint64(tagInFront.size()));
    QCOMPARE(timeline->vbrHeader->frames.value_or(0), 9u);
    QCOMPARE(timeline->vbrHeader->bytes.value_or(0), quint32(10 * 417));
    QVERIFY(timeline->vbrHeader->toc.isEmpty());
}

void TestFrameTimeline::framesAndTimesMapBothWays_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<int>("samples");
    QTest::newRow("MPEG-1 layer 3 44.1 kHz") << mpeg1At128 << 1152;
    QTest::newRow("MPEG-2 layer 3 22.05 kHz") << 0xFFF39044u << 576;
    QTest::newRow("MPEG-2.5 layer 3 11.025 kHz") << 0xFFE38044u << 576;
    QTest::newRow("MPEG-1 layer 2 48 kHz") << 0xFFFDA444u << 1152;
    QTest::newRow("MPEG-1 layer 1 32 kHz") << 0xFFFFC844u << 384;
}

void TestFrameTimeline::framesAndTimesMapBothWays()
{
    QFETCH(quint32, word);
    QFETCH(int, samples);
    const auto timeline = scanFrameTimeline(write(frames(500, word)));
    QVERIFY(timeline);
    QCOMPARE(timeline->frameCount(), qsizetype(500));
    QCOMPARE(timeline->samplesPerFrame, samples);
    const int rate = timeline->reference.sampleRate;
    QCOMPARE(timeline->duration(), 500.0 * samples / rate);
    for (qsizetype i = 0; i < timeline->frameCount(); ++i) {
        QCOMPARE(timeline->frameTime(i), double(i) * samples / rate);
        QCOMPARE(timeline->frameAt(timeline->frameTime(i)), i);
        QCOMPARE(timeline->frameAt(timeline->frameTime(i + 1) - 1e-6), i);
    }
    QCOMPARE(timeline->frameAt(-3.0), qsizetype(0));
    QCOMPARE(timeline->frameAt(timeline->duration()), qsizetype(499));
    QCOMPARE(timeline->frameAt(1e9), qsizetype(499));
}

void TestFrameTimeline::fixturesAgreeWithTheirOwnHeaders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("channelMode");
    QTest::addColumn<bool>("constant");
    // Every file that lame gave the frame in front: its counts are the encoder's own.
    QTest::newRow("VBR tones") << "vbr-tones.mp3" << 10 << 1 << false;
    QTest::newRow("VBR tones, large ID3v2") << "vbr-tones-id3.mp3" << 10 << 1 << false;
    QTest::newRow("CBR tones") << "cbr-tones.mp3" << 10 << 1 << true;
    QTest::newRow("VBR MPEG-1") << "vbr-v2-stereo-44k1-xing.mp3" << 10 << 1 << false;
    QTest::newRow("VBR MPEG-2 mono") << "vbr-v6-mono-22k05-xing.mp3" << 20 << 3 << false;
    QTest::newRow("CBR Info") << "cbr128-stereo-44k1-info.mp3" << 10 << 1 << true;
    QTest::newRow("ID3v1 behind") << "id3v1-trailing.mp3" << 10 << 1 << true;
    QTest::newRow("cover in front") << "id3v2-cover.mp3" << 10 << 1 << true;
    QTest::newRow("short") << "short-0.8s.mp3" << 10 << 1 << true;
}

void TestFrameTimeline::fixturesAgreeWithTheirOwnHeaders()
{
    QFETCH(QString, name);
    QFETCH(int, version);
    QFETCH(int, channelMode);
    QFETCH(bool, constant);
    const QByteArray bytes = readAll(fixture(name));
    QVERIFY(!bytes.isEmpty());
    const auto timeline = scanFrameTimeline(fixture(name));
    QVERIFY(timeline);
    QCOMPARE(timeline->reference.version, version);
    QCOMPARE(timeline->reference.channelMode, channelMode);
    QCOMPARE(timeline->constantBitRate, constant);
    QVERIFY(timeline->vbrHeader);
    QCOMPARE(timeline->vbrHeader->frames.value_or(0), quint32(timeline->frameCount()));
    QCOMPARE(timeline->vbrHeader->bytes.value_or(0), quint32(timeline->frameOffsets.last() - timeline->vbrHeader->offset));
    QCOMPARE(timeline->frameOffsets.first(), timeline->vbrHeader->offset + timeline->vbrHeader->length);
    // Frame after frame, each where the one before it ends.
    for (qsizetype i = 0; i < timeline->frameCount(); ++i) {
        const auto header = frameHeaderAt(bytes, timeline->frameOffsets[i]);
        QVERIFY(header);
        QVERIFY(header->sameStream(timeline->reference));
        QCOMPARE(timeline->frameOffsets[i + 1], timeline->frameOffsets[i] + header->length);
    }
}

void TestFrameTimeline::aTagInFrontMovesTheFramesOnly()
{
    const auto plain = scanFrameTimeline(fixture(QStringLiteral("vbr-tones.mp3")));
    const auto tagged = scanFrameTimeline(fixture(QStringLiteral("vbr-tones-id3.mp3")));
    QVERIFY(plain && tagged);
    const qint64 tagSize = id3v2TagSize(readAll(fixture(QStringLiteral("vbr-tones-id3.mp3"))).left(10));
    QVERIFY(tagSize > 90000);
    Offsets moved = plain->frameOffsets;
    for (qint64 &offset : moved)
        offset += tagSize;
    QCOMPARE(tagged->frameOffsets, moved);
}

void TestFrameTimeline::pieceWithXingFrameReadsBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::newRow("VBR stereo, busy then quiet") << "vbr-tones.mp3" << 3.0 << 12.0;
    QTest::newRow("VBR stereo, whole") << "vbr-tones.mp3" << 0.0 << 1000.0;
    QTest::newRow("VBR stereo, three frames") << "vbr-tones.mp3" << 5.0 << 5.06;
    QTest::newRow("CBR stereo") << "cbr-tones.mp3" << 2.0 << 9.0;
    QTest::newRow("CBR 48 kHz") << "cbr192-stereo-48k.mp3" << 1.0 << 4.0;
    QTest::newRow("MPEG-2 mono") << "vbr-v6-mono-22k05-xing.mp3" << 0.5 << 4.5;
    QTest::newRow("MPEG-2.5 mono") << "vbr-v8-mono-8k-noxing.mp3" << 1.0 << 5.0;
}

void TestFrameTimeline::pieceWithXingFrameReadsBack()
{
    QFETCH(QString, name);
    QFETCH(double, from);
    QFETCH(double, to);
    const auto song = scanFrameTimeline(fixture(name));
    QVERIFY(song);
    const qsizetype first = song->frameAt(from);
    const qsizetype end = song->frameAt(to) + 1;
    const QByteArray xing = xingFrameFor(*song, first, end);
    QVERIFY(!xing.isEmpty());
    const QByteArray audio = readAll(fixture(name)).mid(song->frameOffsets[first],
                                                          song->frameOffsets[end] - song->frameOffsets[first]);
    const QString path = write(xing + audio, QStringLiteral("piece.mp3"));

    const auto piece = scanFrameTimeline(path);
    QVERIFY(piece);
    QVERIFY(piece->vbrHeader);
    QCOMPARE(piece->vbrHeader->tag, QByteArray("Xing"));
    QCOMPARE(piece->vbrHeader->offset, qint64(0));
    QCOMPARE(piece->vbrHeader->frames.value_or(0), quint32(end - first));
    QCOMPARE(piece->vbrHeader->bytes.value_or(0), quint32(xing.size() + audio.size()));
    QCOMPARE(piece->frameCount(), end - first);
    QCOMPARE(piece->frameOffsets.first(), qint64(xing.size()));

    const auto header = frameHeaderAt(xing, 0);
    QVERIFY(header);
    QCOMPARE(header->version, song->reference.version);
    QCOMPARE(header->layer, song->reference.layer);
    QCOMPARE(header->sampleRate, song->reference.sampleRate);
    QCOMPARE(header->channelMode, song->reference.channelMode);
    QVERIFY(!header->padded);
    QVERIFY(!header->hasCrc);
    QCOMPARE(qsizetype(header->length), xing.size());
    // The side information is all zero: a decoder plays the frame as silence.
    QCOMPARE(xing.mid(4, header->sideInfoSize()), QByteArray(header->sideInfoSize(), '\0'));

    // Entry i: where the frame playing at i % of the piece's time begins, in 256ths of the piece.
    const QByteArray toc = piece->vbrHeader->toc;
    QCOMPARE(toc.size(), 100);
    for (int i = 0; i < 100; ++i) {
        const qint64 at = piece->frameOffsets[piece->frameAt(piece->duration() * i / 100.0)];
        const int want = int(std::min<qint64>(255, 256 * at / (xing.size() + audio.size())));
        QVERIFY2(qAbs(uchar(toc[i]) - want) <= 1, qPrintable(QStringLiteral("entry %1: %2, want %3").arg(i).arg(uchar(toc[i])).arg(want)));
        if (i > 0)
            QVERIFY(uchar(toc[i]) >= uchar(toc[i - 1]));
    }
}

void TestFrameTimeline::xingFrameIsTheShortestThatHoldsIt_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<int>("length");
    // Side information, "Xing", flags, frames, bytes and the table: 152 bytes for MPEG-1 stereo,
    // 137 for MPEG-1 mono, 137 for MPEG-2 stereo, 129 for MPEG-2 mono.
    QTest::newRow("MPEG-1 stereo 44.1 kHz, 48 kbit/s") << mpeg1At128 << 156;
    QTest::newRow("MPEG-1 mono 44.1 kHz, 48 kbit/s") << 0xFFFB90C4u << 156;
    QTest::newRow("MPEG-1 stereo 32 kHz, 40 kbit/s") << 0xFFFB9844u << 180;
    QTest::newRow("MPEG-2 stereo 22.05 kHz, 48 kbit/s") << 0xFFF39044u << 156;
    QTest::newRow("MPEG-2.5 mono 8 kHz, 16 kbit/s") << 0xFFE388C4u << 144;
}

void TestFrameTimeline::xingFrameIsTheShortestThatHoldsIt()
{
    QFETCH(quint32, word);
    QFETCH(int, length);
    const auto song = scanFrameTimeline(write(frames(20, word)));
    QVERIFY(song);
    const QByteArray xing = xingFrameFor(*song, 2, 12);
    QCOMPARE(xing.size(), qsizetype(length));
    const auto header = frameHeaderAt(xing, 0);
    QVERIFY(header);
    QCOMPARE(header->word & 0xFFFE0CCFu, word & 0xFFFE0CCFu);
    const int xingAt = 4 + header->sideInfoSize();
    QCOMPARE(xing.mid(xingAt, 4), QByteArray("Xing"));
    QCOMPARE(qFromBigEndian<quint32>(xing.constData() + xingAt + 4), 7u);
    QVERIFY(xingAt + 16 + 100 <= length);
}

void TestFrameTimeline::noXingFrameForOtherLayersAndRangesKeptInTheSong()
{
    const auto layer2 = scanFrameTimeline(write(frames(20, 0xFFFDA444)));
    QVERIFY(layer2);
    QVERIFY(xingFrameFor(*layer2, 0, 20).isEmpty());

    const auto song = scanFrameTimeline(write(frames(20)));
    QVERIFY(song);
    const QByteArray all = xingFrameFor(*song, -5, 50);
    QCOMPARE(xingFrameFor(*song, 0, 20), all);
    const int xingAt = 4 + 32;
    QCOMPARE(qFromBigEndian<quint32>(all.constData() + xingAt + 8), 20u);
    QCOMPARE(qFromBigEndian<quint32>(all.constData() + xingAt + 12), quint32(all.size() + 20 * 417));
    const QByteArray none = xingFrameFor(*song, 15, 10);
    QCOMPARE(qFromBigEndian<quint32>(none.constData() + xingAt + 8), 0u);
    QCOMPARE(qFromBigEndian<quint32>(none.constData() + xingAt + 12), quint32(none.size()));
}

QTEST_GUILESS_MAIN(TestFrameTimeline)
#include "tst_frametimeline.moc"
