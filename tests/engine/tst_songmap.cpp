// The song's frames and samples: where each frame lies between the tags and junk, what the
// encoder's frame in front says, and the frames in front of a piece made of some of them.

#include "core/pathrules.h"
#include "engine/pieceheader.h"
#include "engine/placement.h"
#include "engine/songmap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

using Offsets = QList<qint64>;

// MPEG-1 layer 3, 44.1 kHz, joint stereo, no CRC: 128 kbit/s frames are 417 bytes, 32 kbit/s 104.
constexpr quint32 mpeg1At128 = 0xFFFB9044;
constexpr quint32 mpeg1At32 = 0xFFFB1044;
constexpr quint32 mpeg1At160 = 0xFFFBA044;
// Behind the side information: "Xing", its flags, frames, bytes, the seek table and the quality.
constexpr int xingFieldsSize = 120;

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

/// Frames of two bit rates by turns: a song of a variable bit rate.
QByteArray mixedFrames(int count, quint32 word, quint32 other)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += frame(i % 2 ? other : word);
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

/// Offsets of \a before frames of 417 bytes, \a junk bytes, then \a after frames, and the end.
Offsets junkOffsets(int before, qint64 junk, int after)
{
    Offsets offsets = evenOffsets(0, before + after);
    for (qsizetype i = before; i < offsets.size(); ++i)
        offsets[i] += junk;
    return offsets;
}

Offsets offsetsOf(const SongMap &song)
{
    Offsets offsets;
    for (const SongFrame &f : song.readFrames())
        offsets.append(f.offset);
    offsets.append(song.readFrames().back().offset + song.readFrames().back().length);
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

QByteArray lyrics3v2(const QByteArray &lyrics)
{
    const QByteArray body = "LYRICSBEGIN" "LYR" + QByteArray::number(lyrics.size()).rightJustified(5, '0') + lyrics;
    return body + QByteArray::number(body.size()).rightJustified(6, '0') + "LYRICS200";
}

QByteArray id3v1()
{
    // A title that ends in what looks like the last frame of the song.
    QByteArray tag = QByteArray("TAG").leftJustified(24, ' ');
    return tag + frame(mpeg1At32);
}

/// The frame an encoder puts in front of 9 frames of 417 bytes: "Xing" or "Info" with the fields
/// \a flags name and, when \a encoder is given, a LAME tag that it marks; or a "VBRI" header.
QByteArray encoderFrame(const QByteArray &tag, quint32 flags = 3, const QByteArray &encoder = {}, int delay = 0,
                        int padding = 0)
{
    QByteArray bytes = frame(mpeg1At128, '\0');
    uchar *p = reinterpret_cast<uchar *>(bytes.data()) + 36;
    std::memcpy(p, tag.constData(), 4);
    if (tag == "VBRI") {
        qToBigEndian<quint32>(10 * 417, p + 10);
        qToBigEndian<quint32>(9, p + 14);
        return bytes;
    }
    qToBigEndian<quint32>(flags, p + 4);
    p += 8;
    for (const quint32 field : {9u, 10u * 417}) {
        if (flags & 1) {
            qToBigEndian<quint32>(field, p);
            p += 4;
        }
        flags >>= 1;
    }
    p += (flags & 1 ? 100 : 0) + (flags & 2 ? 4 : 0);
    if (!encoder.isEmpty()) {
        std::memcpy(p, encoder.constData(), std::size_t(encoder.size()));
        p[21] = uchar(delay >> 4);
        p[22] = uchar((delay & 0x0F) << 4 | padding >> 8);
        p[23] = uchar(padding);
    }
    return bytes;
}

/// A frame whose side information begins with main_data_begin = \a reservoir, every bit behind
/// it set so that none of them may count.
QByteArray frameWithReservoir(quint32 word, int reservoir)
{
    QByteArray bytes = frame(word, '\0');
    const FrameHeader header = *frameHeaderFrom(word);
    uchar *side = reinterpret_cast<uchar *>(bytes.data()) + 4 + (header.hasCrc ? 2 : 0);
    if (header.version == 10) {
        side[0] = uchar(reservoir >> 1);
        side[1] = uchar((reservoir & 1) << 7 | 0x7F);
    } else {
        side[0] = uchar(reservoir);
        side[1] = 0xFF;
    }
    return bytes;
}

const std::uint8_t *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const std::uint8_t *>(bytes.constData());
}

QByteArray asBytes(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

quint16 bigEndian16At(const std::vector<std::uint8_t> &bytes, std::size_t at)
{
    return quint16(bytes[at] << 8 | bytes[at + 1]);
}

/// Where the audio data of frame \a f begins in it, as \a file holds it.
int dataStartOf(const QByteArray &file, const SongFrame &f)
{
    return frameHeaderFrom(qFromBigEndian<quint32>(file.constData() + f.offset))->sideInfoEnd();
}

/// The audio data that frame \a index of \a song takes from the frames before it, its
/// reservoir, as \a file holds it.
QByteArray reservoirOf(const QByteArray &file, const SongMap &song, qint64 index)
{
    QByteArray bytes;
    qint64 missing = song.frame(index).reservoir;
    for (qint64 i = index; missing > 0 && i-- > 0;) {
        const SongFrame &f = song.frame(i);
        const qint64 n = std::min<qint64>(missing, f.length - dataStartOf(file, f));
        bytes.prepend(file.mid(f.offset + f.length - n, n));
        missing -= n;
    }
    return bytes;
}

/// The first frame of \a song, as \a file holds it, whose audio data begins before the first
/// frame's or before the frame before's; -1 when none does. The audio data is one stream, and
/// decoders keep its bytes only from where the frame before began.
qint64 frameOutOfStream(const QByteArray &file, const SongMap &song)
{
    qint64 dataBefore = 0;
    qint64 lastStart = 0;
    for (qint64 i = 0; i < song.framesRead(); ++i) {
        const SongFrame &f = song.frame(i);
        const qint64 start = dataBefore - f.reservoir;
        if (start < lastStart)
            return qint64(i);
        lastStart = start;
        dataBefore += f.length - dataStartOf(file, f);
    }
    return -1;
}

template<typename T>
qint64 orNone(const std::optional<T> &value)
{
    return value ? qint64(*value) : -1;
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

std::optional<SongMap> scan(const QString &path)
{
    return scanSong(fileSystemPath(path));
}

} // namespace

class TestSongMap : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void findsTheFramesBetweenTagsAndJunk_data();
    void findsTheFramesBetweenTagsAndJunk();
    void noRunOfFramesIsNoSong_data();
    void noRunOfFramesIsNoSong();
    void aFileThatGivesLessThanItsSizeIsNoSong();
    void readsTheEncodersFrameInFront_data();
    void readsTheEncodersFrameInFront();
    void countsTheSongsSamples_data();
    void countsTheSongsSamples();
    void readsEachFramesReservoir_data();
    void readsEachFramesReservoir();
    void fixturesAgreeWithTheirOwnHeaders_data();
    void fixturesAgreeWithTheirOwnHeaders();
    void aTagInFrontMovesTheFramesOnly();
    void id3v2TagSize_data();
    void id3v2TagSize();
    void pieceHeaderReadsBack_data();
    void pieceHeaderReadsBack();
    void pieceHeaderIsTheShortestThatHoldsIt_data();
    void pieceHeaderIsTheShortestThatHoldsIt();

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

void TestSongMap::findsTheFramesBetweenTagsAndJunk_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Offsets>("offsets");
    QTest::addColumn<qint64>("leadingTag");

    QTest::newRow("frames alone") << frames(10) << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("four frames, the fewest") << frames(4) << evenOffsets(0, 4) << qint64(0);
    // The tag's body holds a run of frames, a cover picture may: they are the tag's.
    const QByteArray tag = id3v2(3000, 3, frames(6));
    QTest::newRow("ID3v2 holding frames") << tag + frames(10) << evenOffsets(tag.size(), 10) << qint64(tag.size());
    const QByteArray tags = id3v2(100, 4) + tag;
    QTest::newRow("ID3v2 tags in a row") << tags + frames(10) << evenOffsets(tags.size(), 10) << qint64(tags.size());
    QTest::newRow("ID3v1 behind") << frames(10) + id3v1() << evenOffsets(0, 10) << qint64(0);
    const QByteArray items = frames(5, mpeg1At32);
    QTest::newRow("APE tag holding frames") << frames(10) + apeTag(items) << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("APE tag without header") << frames(10) + apeTag(items, false) << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("APE tag then ID3v1") << frames(10) + apeTag(items) + id3v1() << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("APE tag without footer") << frames(10) + apeTag(items).chopped(32) << evenOffsets(0, 10)
                                            << qint64(0);
    QTest::newRow("Lyrics3v2 holding frames") << frames(10) + lyrics3v2(items) << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("APE tag, Lyrics3v2 and ID3v1") << frames(10) + apeTag(items) + lyrics3v2(items) + id3v1()
                                                  << evenOffsets(0, 10) << qint64(0);
    QTest::newRow("junk in front") << QByteArray(333, 0x11) + frames(10) << evenOffsets(333, 10) << qint64(0);

    QTest::newRow("junk between frames") << frames(4) + QByteArray(37, '\xFF') + frames(6) << junkOffsets(4, 37, 6)
                                         << qint64(0);
    // The file is read a megabyte at a time.
    QTest::newRow("junk past the first read") << frames(3000) + QByteArray(37, '\xFF') + frames(3000)
                                              << junkOffsets(3000, 37, 3000) << qint64(0);

    // The fifth frame is cut short by the sixth: its bytes are no frame.
    Offsets cutShort = evenOffsets(0, 3);
    for (qint64 at = 4 * 417 + 200; at <= 4 * 417 + 200 + 5 * 417; at += 417)
        cutShort.append(at);
    QTest::newRow("frame cut short") << frames(4) + frames(1).left(200) + frames(5) << cutShort << qint64(0);
    QTest::newRow("last frame cut short") << frames(10) + frames(1).left(300) << evenOffsets(0, 10) << qint64(0);

    Offsets mixed = evenOffsets(0, 5);
    for (int i = 1; i <= 5; ++i)
        mixed.append(5 * 417 + i * 522);
    QTest::newRow("two bit rates") << frames(5) + frames(5, mpeg1At160) << mixed << qint64(0);
}

void TestSongMap::findsTheFramesBetweenTagsAndJunk()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Offsets, offsets);
    QFETCH(qint64, leadingTag);
    const auto song = scan(write(bytes));
    QVERIFY(song);
    QCOMPARE(offsetsOf(*song), offsets);
    QCOMPARE(song->leadingTag, leadingTag);
    QCOMPARE(song->reference.word, mpeg1At128);
    QCOMPARE(song->samplesPerFrame, 1152);
    QVERIFY(!song->encoderFrame);
}

void TestSongMap::noRunOfFramesIsNoSong_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("random bytes") << readAll(fixture(QStringLiteral("random-bytes.mp3")));
    QTest::newRow("all 0xFF") << QByteArray(100000, '\xFF');
    // Three frames that fill the file are a piece of two behind its header frame; behind junk,
    // or with junk behind them, they are no song.
    QTest::newRow("three frames behind junk") << QByteArray(100, 'j') + frames(3);
    QTest::newRow("three frames, then junk") << frames(3) + QByteArray(100, 'j');
    QTest::newRow("frames in a tag only") << id3v2(5000, 3, frames(10));
    QTest::newRow("frames of changing streams") << frame(mpeg1At128) + frame(0xFFF39044) + frame(mpeg1At128)
                                                       + frame(0xFFF39044) + frame(mpeg1At128);
}

void TestSongMap::noRunOfFramesIsNoSong()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!scan(write(bytes)));
}

void TestSongMap::aFileThatGivesLessThanItsSizeIsNoSong()
{
    // A kernel file says it is a page long and holds a few bytes: the reads come up short, as
    // they do for a song cut short while it is read. Before, that was a null pointer read.
    const QString shortReads = QStringLiteral("/sys/devices/system/cpu/online");
    QFile file(shortReads);
    if (!file.open(QIODevice::ReadOnly) || QFileInfo(shortReads).size() <= file.readAll().size())
        QSKIP("no kernel file here whose reads come up short");
    QVERIFY(!scanSong(shortReads.toStdString()));
    QVERIFY(!mapSongFor(shortReads.toStdString(), 0, 1));
}

void TestSongMap::readsTheEncodersFrameInFront_data()
{
    QTest::addColumn<QByteArray>("frameInFront");
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("padding");
    const qint64 bytes = 10 * 417;
    QTest::newRow("Xing") << encoderFrame("Xing") << QByteArray("Xing") << qint64(9) << bytes << -1 << -1;
    QTest::newRow("VBRI") << encoderFrame("VBRI") << QByteArray("VBRI") << qint64(9) << bytes << -1 << -1;
    QTest::newRow("Xing with frames only, LAME tag") << encoderFrame("Xing", 1, "LAME3.100", 0xABC, 0x123)
                                                     << QByteArray("Xing") << qint64(9) << qint64(-1) << 0xABC << 0x123;
    QTest::newRow("Info with every field, LAME tag") << encoderFrame("Info", 15, "LAME3.100", 576, 1260)
                                                     << QByteArray("Info") << qint64(9) << bytes << 576 << 1260;
    QTest::newRow("Info, tag of libavcodec") << encoderFrame("Info", 15, "Lavc58.91", 1105, 0) << QByteArray("Info")
                                             << qint64(9) << bytes << 1105 << 0;
    // Its delay and padding cannot be trusted: decoders do not honour them either.
    QTest::newRow("Info, tag of an unknown encoder") << encoderFrame("Info", 15, "GOGO3.13", 576, 1260)
                                                     << QByteArray("Info") << qint64(9) << bytes << -1 << -1;
}

void TestSongMap::readsTheEncodersFrameInFront()
{
    QFETCH(QByteArray, frameInFront);
    QFETCH(QByteArray, tag);
    QFETCH(qint64, frames);
    QFETCH(qint64, bytes);
    QFETCH(int, delay);
    QFETCH(int, padding);
    const QByteArray tagInFront = id3v2(200);
    const auto song = scan(write(tagInFront + frameInFront + ::frames(9)));
    QVERIFY(song);
    // Players drop a Xing or Info frame, but play a VBRI frame's silence.
    QCOMPARE(offsetsOf(*song), evenOffsets(tagInFront.size() + (tag == "VBRI" ? 0 : 417), tag == "VBRI" ? 10 : 9));
    QVERIFY(song->encoderFrame);
    const EncoderFrame &header = *song->encoderFrame;
    QCOMPARE(QByteArray::fromStdString(header.tag), tag);
    QCOMPARE(header.offset, qint64(tagInFront.size()));
    QCOMPARE(header.length, 417);
    QCOMPARE(orNone(header.frames), frames);
    QCOMPARE(orNone(header.bytes), bytes);
    QCOMPARE(orNone(header.delay), delay);
    QCOMPARE(orNone(header.padding), padding);
    QCOMPARE(header.lameTag.size(), std::size_t(delay < 0 ? 0 : 36));
}

void TestSongMap::countsTheSongsSamples_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("rate");
    // A decoder drops the encoder's delay and its own 529 samples in front; without a LAME tag it
    // drops nothing, and the sound runs to the last frame's end.
    QTest::newRow("layer 3, no frame in front") << frames(100) << qint64(0) << qint64(115200) << 44100;
    QTest::newRow("Xing, no LAME tag") << encoderFrame("Xing") + frames(9) << qint64(0) << qint64(10368) << 44100;
    QTest::newRow("LAME tag") << encoderFrame("Info", 15, "LAME3.100", 576, 1260) + frames(9) << qint64(1105)
                              << qint64(10368 - 1260 + 529) << 44100;
    QTest::newRow("LAME tag, no delay") << encoderFrame("Info", 15, "LAME3.100", 0, 1000) + frames(9) << qint64(529)
                                        << qint64(10368 - 1000 + 529) << 44100;
    // Less padding than the decoder's delay: the sound still ends with the last frame.
    QTest::newRow("padding under 529") << encoderFrame("Info", 15, "LAME3.100", 576, 100) + frames(9) << qint64(1105)
                                       << qint64(10368) << 44100;
    QTest::newRow("delay and padding overlap") << encoderFrame("Info", 15, "LAME3.100", 4095, 0) + frames(3)
                                               << qint64(4624) << qint64(4624) << 44100;
    QTest::newRow("MPEG-2 layer 3") << frames(100, 0xFFF39044) << qint64(0) << qint64(57600) << 22050;
    QTest::newRow("MPEG-1 layer 2") << frames(100, 0xFFFDA444) << qint64(0) << qint64(115200) << 48000;
}

void TestSongMap::countsTheSongsSamples()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, first);
    QFETCH(qint64, end);
    QFETCH(int, rate);
    const auto song = scan(write(bytes));
    QVERIFY(song);
    QCOMPARE(song->sampleRate(), rate);
    QCOMPARE(song->firstSample(), first);
    QCOMPARE(song->endSample(), end);
    QCOMPARE(song->duration(), double(end - first) / rate);
    QCOMPARE(song->sampleAt(0.0), first);
    QCOMPARE(song->sampleAt(1.0), first + rate);
    QCOMPARE(song->sampleAt(song->duration()), end);
}

void TestSongMap::readsEachFramesReservoir_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QList<int>>("written");
    QTest::addColumn<QList<int>>("reservoirs");
    // Nine bits in MPEG-1, eight in MPEG-2 and 2.5.
    const QList<int> mpeg1{0, 1, 256, 511, 0x155};
    const QList<int> mpeg2{0, 1, 128, 255, 0x55};
    QTest::newRow("MPEG-1 stereo") << mpeg1At128 << mpeg1 << mpeg1;
    QTest::newRow("MPEG-1 mono, CRC") << 0xFFFA90C4u << mpeg1 << mpeg1;
    QTest::newRow("MPEG-2 stereo") << 0xFFF39044u << mpeg2 << mpeg2;
    QTest::newRow("MPEG-2.5 mono") << 0xFFE388C4u << mpeg2 << mpeg2;
    QTest::newRow("layer 2 has none") << 0xFFFD9044u << mpeg1 << QList<int>(mpeg1.size(), 0);
}

void TestSongMap::readsEachFramesReservoir()
{
    QFETCH(quint32, word);
    QFETCH(QList<int>, written);
    QFETCH(QList<int>, reservoirs);
    QByteArray bytes;
    for (const int reservoir : written)
        bytes += frameWithReservoir(word, reservoir);
    const auto song = scan(write(bytes));
    QVERIFY(song);
    QList<int> read;
    for (const SongFrame &f : song->readFrames())
        read.append(f.reservoir);
    QCOMPARE(read, reservoirs);
}

void TestSongMap::fixturesAgreeWithTheirOwnHeaders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("channelMode");
    QTest::addColumn<bool>("constant");
    QTest::addColumn<double>("seconds");
    // Every file that lame gave the frame in front: its counts, CRCs, delay and padding are the
    // encoder's own, and the sound it made them from is as long as given here.
    QTest::newRow("VBR tones") << "vbr-tones.mp3" << 10 << 1 << false << 16.0;
    QTest::newRow("VBR tones, large ID3v2") << "vbr-tones-id3.mp3" << 10 << 1 << false << 16.0;
    QTest::newRow("CBR tones") << "cbr-tones.mp3" << 10 << 1 << true << 16.0;
    QTest::newRow("VBR MPEG-1") << "vbr-v2-stereo-44k1-xing.mp3" << 10 << 1 << false << 5.0;
    QTest::newRow("VBR MPEG-2 mono") << "vbr-v6-mono-22k05-xing.mp3" << 20 << 3 << false << 5.0;
    QTest::newRow("CBR Info") << "cbr128-stereo-44k1-info.mp3" << 10 << 1 << true << 5.0;
    QTest::newRow("ID3v1 behind") << "id3v1-trailing.mp3" << 10 << 1 << true << 5.0;
    QTest::newRow("cover in front") << "id3v2-cover.mp3" << 10 << 1 << true << 5.0;
    QTest::newRow("short") << "short-0.8s.mp3" << 10 << 1 << true << 0.8;
}

void TestSongMap::fixturesAgreeWithTheirOwnHeaders()
{
    QFETCH(QString, name);
    QFETCH(int, version);
    QFETCH(int, channelMode);
    QFETCH(bool, constant);
    QFETCH(double, seconds);
    const QByteArray bytes = readAll(fixture(name));
    QVERIFY(!bytes.isEmpty());
    const auto song = scan(fixture(name));
    QVERIFY(song);
    QCOMPARE(song->reference.version, version);
    QCOMPARE(song->reference.channelMode, channelMode);
    QCOMPARE(song->constantBitRate, constant);

    QVERIFY(song->encoderFrame);
    const EncoderFrame &lame = *song->encoderFrame;
    const qint64 audioStart = song->readFrames().front().offset;
    const qint64 audioEnd = audioStart + song->audioBytes();
    QCOMPARE(orNone(lame.frames), song->frameCount());
    QCOMPARE(orNone(lame.bytes), audioEnd - lame.offset);
    QCOMPARE(audioStart, lame.offset + lame.length);
    QCOMPARE(orNone(lame.delay), 576);
    QCOMPARE(song->endSample() - song->firstSample(), std::llround(seconds * song->sampleRate()));
    // The two CRCs lame wrote: of the frame in front of its tag's CRC, and of the audio frames.
    const qint64 lameAt = lame.offset + 4 + song->reference.sideInfoSize() + xingFieldsSize;
    QCOMPARE(bytes.mid(lameAt, 36), asBytes(lame.lameTag));
    QCOMPARE(lameCrc(0, bytesOf(bytes) + lame.offset, std::size_t(lameAt + 34 - lame.offset)),
             bigEndian16At(lame.lameTag, 34));
    QCOMPARE(lameCrc(0, bytesOf(bytes) + audioStart, std::size_t(song->audioBytes())), bigEndian16At(lame.lameTag, 32));

    // Frame after frame, each where the one before it ends, their audio data one stream.
    for (qint64 i = 0; i < song->framesRead(); ++i) {
        const SongFrame &f = song->frame(i);
        const auto header = frameHeaderFrom(qFromBigEndian<quint32>(bytes.constData() + f.offset));
        QVERIFY(header);
        QVERIFY(header->sameStream(song->reference));
        QCOMPARE(int(f.length), header->length);
        if (i + 1 < song->framesRead())
            QCOMPARE(song->frame(i + 1).offset, f.offset + f.length);
    }
    QCOMPARE(frameOutOfStream(bytes, *song), -1);
}

void TestSongMap::aTagInFrontMovesTheFramesOnly()
{
    const auto plain = scan(fixture(QStringLiteral("vbr-tones.mp3")));
    const auto tagged = scan(fixture(QStringLiteral("vbr-tones-id3.mp3")));
    QVERIFY(plain && tagged);
    const QByteArray head = readAll(fixture(QStringLiteral("vbr-tones-id3.mp3"))).left(10);
    const qint64 tagSize = ::id3v2TagSize(bytesOf(head), std::size_t(head.size()));
    QVERIFY(tagSize > 90000);
    QCOMPARE(tagged->leadingTag, tagSize);
    Offsets moved = offsetsOf(*plain);
    for (qint64 &offset : moved)
        offset += tagSize;
    QCOMPARE(offsetsOf(*tagged), moved);
}

void TestSongMap::id3v2TagSize_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<qint64>("size");
    QTest::newRow("no tag") << QByteArray("\xFF\xFB\x90\x00\x00\x00\x00\x00\x02\x01", 10) << qint64(0);
    QTest::newRow("v3") << QByteArray("ID3\x03\x00\x00\x00\x00\x02\x01", 10) << qint64(10 + 257);
    QTest::newRow("v3 all size bits") << QByteArray("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) << qint64(10 + 0x0FFFFFFF);
    QTest::newRow("v4 footer") << QByteArray("ID3\x04\x00\x10\x00\x00\x02\x01", 10) << qint64(20 + 257);
    QTest::newRow("footer flag before v4") << QByteArray("ID3\x03\x00\x10\x00\x00\x02\x01", 10) << qint64(10 + 257);
    QTest::newRow("longer head") << QByteArray("ID3\x02\x00\x00\x00\x00\x00\x05\xFF\xFB", 12) << qint64(15);
    QTest::newRow("bad size byte") << QByteArray("ID3\x03\x00\x00\x00\x00\x80\x01", 10) << qint64(0);
    QTest::newRow("unknown version") << QByteArray("ID3\x05\x00\x00\x00\x00\x02\x01", 10) << qint64(0);
    QTest::newRow("bad revision") << QByteArray("ID3\x03\xFF\x00\x00\x00\x02\x01", 10) << qint64(0);
    QTest::newRow("short") << QByteArray("ID3\x03\x00\x00\x00\x00\x02", 9) << qint64(0);
}

void TestSongMap::id3v2TagSize()
{
    QFETCH(QByteArray, head);
    QFETCH(qint64, size);
    QCOMPARE(::id3v2TagSize(bytesOf(head), std::size_t(head.size())), size);
}

void TestSongMap::pieceHeaderReadsBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QByteArray>("tag");
    QTest::newRow("VBR stereo, busy then quiet") << "vbr-tones.mp3" << 3.0 << 12.0 << QByteArray("Xing");
    QTest::newRow("VBR stereo, whole") << "vbr-tones.mp3" << 0.0 << 16.0 << QByteArray("Xing");
    QTest::newRow("VBR stereo, a frame's time") << "vbr-tones.mp3" << 5.0 << 5.03 << QByteArray("Xing");
    QTest::newRow("CBR stereo") << "cbr-tones.mp3" << 2.0 << 9.0 << QByteArray("Info");
    QTest::newRow("CBR 48 kHz, no LAME tag") << "cbr192-stereo-48k.mp3" << 1.0 << 4.0 << QByteArray("Info");
    QTest::newRow("CBR below the header's size") << "cbr16-mono-8k-info.mp3" << 1.0 << 4.0 << QByteArray("Info");
    QTest::newRow("MPEG-2 mono") << "vbr-v6-mono-22k05-xing.mp3" << 0.5 << 4.5 << QByteArray("Xing");
    QTest::newRow("MPEG-2.5 mono") << "vbr-v8-mono-8k-noxing.mp3" << 1.0 << 5.0 << QByteArray("Xing");
}

void TestSongMap::pieceHeaderReadsBack()
{
    QFETCH(QString, name);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QByteArray, tag);
    const auto song = scan(fixture(name));
    QVERIFY(song);
    const auto placed = placePiece(*song, from, to);
    QVERIFY(std::holds_alternative<Placement>(placed));
    const Placement piece = std::get<Placement>(placed);
    const QByteArray source = readAll(fixture(name));
    const auto lead = leadFrames(*song, piece, fileSystemPath(fixture(name)));
    QVERIFY(lead);
    QByteArray audio = asBytes(*lead);
    for (const ByteRange &range : frameRanges(*song, piece))
        audio += source.mid(range.offset, range.length);
    std::vector<std::uint8_t> header = pieceHeaderFrame(*song, piece);
    QVERIFY(!header.empty());
    const quint16 musicCrc = lameCrc(0, bytesOf(audio), std::size_t(audio.size()));
    sealPieceHeader(header, musicCrc);
    const QByteArray headerBytes = asBytes(header);
    const qint64 total = headerBytes.size() + audio.size();

    const QByteArray pieceBytes = headerBytes + audio;
    const auto read = scan(write(pieceBytes, QStringLiteral("piece.mp3")));
    QVERIFY(read);
    QVERIFY(read->encoderFrame);
    const EncoderFrame &info = *read->encoderFrame;
    QCOMPARE(QByteArray::fromStdString(info.tag), tag);
    QCOMPARE(info.offset, qint64(0));
    QCOMPARE(orNone(info.frames), piece.frameCount());
    QCOMPARE(orNone(info.bytes), total);
    QCOMPARE(read->frameCount(), piece.frameCount());
    QCOMPARE(read->readFrames().front().offset, qint64(headerBytes.size()));
    // A gapless decoder plays exactly the marked samples.
    QCOMPARE(orNone(info.delay), piece.delay);
    QCOMPARE(orNone(info.padding), piece.padding);
    QCOMPARE(read->endSample() - read->firstSample(), piece.endSample - piece.startSample);
    // The song's first frame finds the audio data it takes from the frames before it in the lead
    // frames, and the audio data stays one stream from the piece's first frame on.
    QCOMPARE(reservoirOf(pieceBytes, *read, piece.leadFrames),
             reservoirOf(source, *song, piece.firstFrame));
    QCOMPARE(frameOutOfStream(pieceBytes, *read), -1);

    const std::size_t lameAt = std::size_t(4 + song->reference.sideInfoSize() + xingFieldsSize);
    QCOMPARE(asBytes(info.lameTag), headerBytes.mid(qsizetype(lameAt), 36));
    QCOMPARE(qFromBigEndian<quint32>(info.lameTag.data() + 28), quint32(total));
    QCOMPARE(bigEndian16At(info.lameTag, 32), musicCrc);
    QCOMPARE(bigEndian16At(info.lameTag, 34), lameCrc(0, header.data(), lameAt + 34));

    const auto frameHeader = frameHeaderFrom(bigEndian32(header.data()));
    QVERIFY(frameHeader);
    QVERIFY(frameHeader->sameStream(song->reference));
    QCOMPARE(frameHeader->channelMode, song->reference.channelMode);
    QVERIFY(!frameHeader->padded);
    QVERIFY(!frameHeader->hasCrc);
    QCOMPARE(frameHeader->length, int(header.size()));
    // The side information is all zero: a decoder plays the frame as silence.
    QCOMPARE(headerBytes.mid(4, frameHeader->sideInfoSize()), QByteArray(frameHeader->sideInfoSize(), '\0'));

    // Entry i: where, in 256ths of the piece, the frame playing at i % of its time begins.
    const std::uint8_t *toc = header.data() + 4 + frameHeader->sideInfoSize() + 16;
    for (int i = 0; i < 100; ++i) {
        const qint64 at = read->frame(read->frameCount() * i / 100).offset;
        QCOMPARE(int(toc[i]), int(std::min<qint64>(255, 256 * at / total)));
    }
}

void TestSongMap::pieceHeaderIsTheShortestThatHoldsIt_data()
{
    QTest::addColumn<QByteArray>("song");
    QTest::addColumn<quint32>("lead");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("tag");
    // Side information, the Xing fields and the LAME tag: 192 bytes for MPEG-1 stereo, 177 for
    // MPEG-1 mono and MPEG-2 stereo, 169 for MPEG-2 mono.
    QTest::newRow("MPEG-1 stereo 44.1 kHz, 64 kbit/s") << mixedFrames(20, mpeg1At128, mpeg1At160) << 0u << 208
                                                       << QByteArray("Xing");
    QTest::newRow("MPEG-1 stereo 48 kHz, 64 kbit/s to the byte") << mixedFrames(20, 0xFFFB9444, 0xFFFBA444) << 0u
                                                                 << 192 << QByteArray("Xing");
    QTest::newRow("MPEG-1 mono 44.1 kHz, 56 kbit/s") << mixedFrames(20, 0xFFFB90C4, 0xFFFBA0C4) << 0u << 182
                                                     << QByteArray("Xing");
    QTest::newRow("MPEG-1 stereo with CRC, 64 kbit/s") << mixedFrames(20, 0xFFFA9044, 0xFFFAA044) << 0u << 208
                                                       << QByteArray("Xing");
    QTest::newRow("MPEG-2 stereo 22.05 kHz, 56 kbit/s") << mixedFrames(20, 0xFFF39044, 0xFFF3A044) << 0u << 182
                                                        << QByteArray("Xing");
    QTest::newRow("MPEG-2.5 mono 8 kHz, 24 kbit/s") << mixedFrames(20, 0xFFE388C4, 0xFFE398C4) << 0u << 216
                                                    << QByteArray("Xing");
    QTest::newRow("CBR keeps its own rate") << frames(20) << 0u << 417 << QByteArray("Info");
    QTest::newRow("CBR too low for it") << frames(20, mpeg1At32) << 0u << 208 << QByteArray("Info");
    QTest::newRow("CBR, a lead frame of its rate") << frames(20) << mpeg1At128 << 417 << QByteArray("Info");
    QTest::newRow("CBR, a lead frame of a higher rate") << frames(20) << mpeg1At160 << 208 << QByteArray("Xing");
    QTest::newRow("layer 2 has none") << frames(20, 0xFFFDA444) << 0u << 0 << QByteArray();
}

void TestSongMap::pieceHeaderIsTheShortestThatHoldsIt()
{
    QFETCH(QByteArray, song);
    QFETCH(quint32, lead);
    QFETCH(int, length);
    QFETCH(QByteArray, tag);
    const auto map = scan(write(song));
    QVERIFY(map);
    Placement piece;
    piece.firstFrame = 2;
    piece.endFrame = 12;
    piece.leadFrames = lead ? 1 : 0;
    piece.leadWord = lead;
    piece.delay = 1000;
    piece.padding = 700;
    std::vector<std::uint8_t> header = pieceHeaderFrame(*map, piece);
    QCOMPARE(int(header.size()), length);
    if (length == 0)
        return;
    const auto frameHeader = frameHeaderFrom(bigEndian32(header.data()));
    QVERIFY(frameHeader);
    QCOMPARE(frameHeader->word & 0xFFFE0CCFu, map->reference.word & 0xFFFE0CCFu);
    QVERIFY(!frameHeader->hasCrc);

    sealPieceHeader(header, 0);
    const qint64 from = map->frame(2).offset;
    const QByteArray audio = (lead ? frame(lead, '\0') : QByteArray()) + song.mid(from, map->frame(12).offset - from);
    const auto read = scan(write(asBytes(header) + audio, QStringLiteral("piece.mp3")));
    QVERIFY(read && read->encoderFrame);
    QCOMPARE(QByteArray::fromStdString(read->encoderFrame->tag), tag);
    QCOMPARE(orNone(read->encoderFrame->frames), piece.frameCount());
    QCOMPARE(orNone(read->encoderFrame->delay), 1000);
    QCOMPARE(orNone(read->encoderFrame->padding), 700);
}

QTEST_GUILESS_MAIN(TestSongMap)
#include "tst_songmap.moc"
