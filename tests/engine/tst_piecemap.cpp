// The map a cut reads around its piece alone makes the same piece, to the byte, as the map of
// every frame: on songs of one bit rate, whose frames it finds by their length, and on songs
// where the length misleads, which it walks.

#include "core/pathrules.h"
#include "corefakes.h"
#include "engine/pieceheader.h"
#include "engine/placement.h"
#include "engine/songmap.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/") + name;
}

/// Everything the engine makes of the marks on \a map: the refusal, or the placement, the song's
/// ranges, the lead frames and the header frame.
QByteArray pieceFrom(const SongMap &map, const QString &song, double from, double to)
{
    const auto placed = placePiece(map, from, to);
    if (const auto *problem = std::get_if<MarkProblem>(&placed))
        return "refused " + QByteArray::number(int(*problem));
    const Placement &p = std::get<Placement>(placed);
    QByteArray made = QStringLiteral("frames %1-%2 lead %3 × %4 reservoir %5 samples %6-%7 delay %8 padding %9 ranges")
                          .arg(p.firstFrame).arg(p.endFrame).arg(p.leadFrames).arg(p.leadWord, 8, 16).arg(p.reservoir)
                          .arg(p.startSample).arg(p.endSample).arg(p.delay).arg(p.padding).toUtf8();
    for (const ByteRange &range : frameRanges(map, p))
        made += ' ' + QByteArray::number(range.offset) + '+' + QByteArray::number(range.length);
    const auto lead = leadFrames(map, p, fileSystemPath(song));
    const std::vector<std::uint8_t> header = pieceHeaderFrame(map, p);
    made += "\nlead " + (lead ? QByteArray(reinterpret_cast<const char *>(lead->data()), qsizetype(lead->size())).toHex() : "unread");
    made += "\nheader " + QByteArray(reinterpret_cast<const char *>(header.data()), qsizetype(header.size())).toHex();
    return made;
}

/// Where \a part, a map of some of the song's frames, holds other frames than \a whole, the map of
/// them all, holds at the same index, or says it holds the whole song: empty where it holds none.
QString partDiffers(const SongMap &part, const SongMap &whole)
{
    if (part.whole() || !whole.whole())
        return QStringLiteral("a whole map made by mapSongFor() or a partial one by scanSong()");
    // Its count behind the piece may fall short of the song's or, past damage it does not walk,
    // beyond it: only the frames read must be the song's.
    if (part.firstRead() < 0 || part.endRead() > std::min(part.frameCount(), whole.frameCount())
        || part.readFrames().size() != std::size_t(part.framesRead()))
        return QStringLiteral("frames %1 to %2 read of %3").arg(part.firstRead()).arg(part.endRead()).arg(part.frameCount());
    for (qint64 i = part.firstRead(); i < part.endRead(); ++i) {
        const SongFrame &got = part.frame(i);
        const SongFrame &wanted = whole.frame(i);
        if (got.offset != wanted.offset || got.length != wanted.length || got.reservoir != wanted.reservoir
            || got.word != wanted.word || &part.readFrames()[std::size_t(i - part.firstRead())] != &got)
            return QStringLiteral("frame %1 at %2 where it lies at %3").arg(i).arg(got.offset).arg(wanted.offset);
    }
    return {};
}

/// Marks everywhere in a song of \a seconds: from its start, its middle and near its end, to a
/// frame behind, half a second behind, its end, just past it and well past it.
QList<std::pair<double, double>> marksAcross(double seconds)
{
    QList<std::pair<double, double>> marks;
    for (const double from : {0.0, 0.3, 1.0003, seconds / 2, seconds - 1.0})
        for (const double to : {from - 0.5, from + 0.03, from + 0.5, seconds - 0.02, seconds, seconds + 0.01, seconds + 1.0})
            marks.append({from, to});
    return marks;
}

/// \a bytes with \a inserted put in front of their byte \a at.
QByteArray insertedAt(QByteArray bytes, qint64 at, const QByteArray &inserted)
{
    return bytes.insert(at, inserted);
}

/// An ID3v2.3 tag holding \a size bytes of nothing, as a second song's tag in front of its frames.
QByteArray id3v2Tag(int size)
{
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (const int shift : {21, 14, 7, 0})
        tag += char((size >> shift) & 0x7F);
    return tag + QByteArray(size, '\0');
}

} // namespace

class TestPieceMap : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup() { dir.reset(); }

    void aConstantBitRateIsReadByItsFramesLength_data()
    {
        QTest::addColumn<QString>("song");
        for (const char *name : {"songs/cbr128-stereo-44k1.mp3", "songs/cbr128-stereo-44k1-noinfo.mp3",
                                 "songs/cbr64-mono-22k05.mp3", "songs/cbr24-mono-8k-nores.mp3",
                                 "songs/ape-cbr128-stereo-44k1.mp3", "cbr-tones.mp3", "id3v2-cover.mp3",
                                 "id3v1-trailing.mp3", "id3v24-footer.mp3"})
            QTest::newRow(name) << fixture(QString::fromLatin1(name));
    }

    void aConstantBitRateIsReadByItsFramesLength()
    {
        QFETCH(QString, song);
        const auto whole = scanSong(fileSystemPath(song));
        QVERIFY(whole && whole->constantBitRate);
        for (const auto &[from, to] : marksAcross(whole->duration())) {
            const auto part = mapSongFor(fileSystemPath(song), from, to);
            QVERIFY(part);
            QCOMPARE(partDiffers(*part, *whole), QString());
            QCOMPARE(pieceFrom(*part, song, from, to), pieceFrom(*whole, song, from, to));
        }
        // Half a second from the middle: every frame up to the piece's end is walked, for damage in
        // front of it would move its time, and those behind it are counted from a few at the end
        // and a few between.
        const double middle = whole->duration() / 2;
        const auto part = mapSongFor(fileSystemPath(song), middle, middle + 0.5);
        const qint64 walkedToThePiece = part->endRead();
        QVERIFY2(part->headersRead < walkedToThePiece + 16 && part->headersRead < whole->frameCount(),
                 qPrintable(QStringLiteral("%1 headers read, %2 up to the piece's end, %3 in all")
                                .arg(part->headersRead).arg(walkedToThePiece).arg(whole->frameCount())));
    }

    void aSongWhoseFramesLengthMisleadsIsWalked_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray cbr = readAll(fixture(QStringLiteral("songs/cbr128-stereo-44k1.mp3")));
        const QByteArray untagged = readAll(fixture(QStringLiteral("songs/cbr128-stereo-44k1-noinfo.mp3")));
        const QByteArray at48k = readAll(fixture(QStringLiteral("songs/cbr128-stereo-48k.mp3")));
        const auto map = scanSong(fileSystemPath(fixture(QStringLiteral("songs/cbr128-stereo-44k1.mp3"))));
        QVERIFY(map && map->frameCount() > 100);
        const qint64 sixtiethFrame = map->frame(60).offset;

        QTest::newRow("junk between frames") << readAll(fixture(QStringLiteral("songs/junk-cbr128-stereo-48k.mp3")));
        QTest::newRow("junk as long as a frame, behind an Info frame")
            << insertedAt(at48k, 61 * 384, QByteArray(384, 'j'));
        QTest::newRow("a second song's tag between frames") << insertedAt(cbr, sixtiethFrame, id3v2Tag(1000));
        QTest::newRow("a second song's tag between frames, no Info frame")
            << insertedAt(untagged, sixtiethFrame - 417, id3v2Tag(1000));
        QTest::newRow("two songs back to back") << untagged + untagged;
        // The Info frame counts the frames behind it in bytes 4 to 8 of its fields.
        QByteArray counted = cbr;
        const qsizetype infoAt = counted.indexOf("Info");
        counted[infoAt + 11] = char(counted[infoAt + 11] + 1);
        QTest::newRow("an Info frame counting a frame too many") << counted;
        QTest::newRow("an Info frame for frames cut off") << cbr.left(cbr.size() - 20 * 418);
        QByteArray variable = readAll(fixture(QStringLiteral("songs/vbr-v4-stereo-44k1.mp3")));
        variable.replace(variable.indexOf("Xing"), 4, "Info");
        QTest::newRow("an Info frame on a variable bit rate") << variable;
        // No frame in front to count the frames, and louder frames in the middle that take the bytes
        // of a whole number of the others: the song's first and last frames keep one bit rate,
        // and its length is that of more frames of it than there are.
        const QByteArray at128 = at48k.mid(384);
        const QByteArray at192 = readAll(fixture(QStringLiteral("cbr192-stereo-48k.mp3")));
        QTest::newRow("louder frames in the middle, as long as a whole number of the others")
            << at128.left(60 * 384) + at192.left(40 * 576) + at128.mid(60 * 384);

        // MPEG-2 at 8 kbit/s and 24 kHz, a CRC in every frame: a byte of audio data a frame, and
        // each frame's data begins 255 bytes back, as far as the reservoir reaches.
        QByteArray thin;
        for (int i = 0; i < 400; ++i)
            thin += QByteArray("\xFF\xF2\x14\x00\x00\x00\xFF", 7) + QByteArray(17, '\0');
        QTest::newRow("a byte of data a frame behind a CRC") << thin;

        // Damage takes no time, as decoders count: the frames in front of a piece are walked.
        const qint64 middle = cbr.size() / 2;
        for (const auto &[name, song] : {std::pair{"", cbr}, std::pair{", no Info frame", untagged}}) {
            QByteArray overwritten = song;
            for (qint64 i = 0; i < 1698; ++i)
                overwritten[middle + i] = char((i * 167 + 13) % 251);
            QTest::addRow("1,698 bytes overwritten%s", name) << overwritten;
            QTest::addRow("2,000 bytes zeroed%s", name) << QByteArray(song).replace(middle, 2000, QByteArray(2000, '\0'));
            QTest::addRow("cut off inside a frame%s", name) << song.left(song.size() - 200);
            QTest::addRow("junk inserted%s", name) << insertedAt(song, middle, QByteArray(333, 'j'));
        }
    }

    void aSongWhoseFramesLengthMisleadsIsWalked()
    {
        QFETCH(QByteArray, bytes);
        const QString song = dir->filePath(QStringLiteral("song.mp3"));
        QVERIFY(writeFile(song, bytes));
        const auto whole = scanSong(fileSystemPath(song));
        QVERIFY(whole);
        for (const auto &[from, to] : marksAcross(whole->duration())) {
            const auto part = mapSongFor(fileSystemPath(song), from, to);
            QVERIFY(part);
            QCOMPARE(partDiffers(*part, *whole), QString());
            QCOMPARE(pieceFrom(*part, song, from, to), pieceFrom(*whole, song, from, to));
        }
    }

    void junkAmongThePiecesFramesSendsItToTheWalk()
    {
        // Without an Info frame to count them, junk exactly a frame long leaves the song's length
        // looking right; a piece read up to the end finds a frame fewer than the length says.
        QByteArray bytes = readAll(fixture(QStringLiteral("songs/cbr128-stereo-48k.mp3"))).mid(384);
        bytes.insert(60 * 384, QByteArray(384, 'j'));
        const QString song = dir->filePath(QStringLiteral("song.mp3"));
        QVERIFY(writeFile(song, bytes));
        const auto whole = scanSong(fileSystemPath(song));
        QVERIFY(whole && !whole->encoderFrame);
        for (const double from : {0.3, 1.0003}) {
            const double to = whole->duration() + 0.01;
            const auto part = mapSongFor(fileSystemPath(song), from, to);
            QVERIFY(part);
            QCOMPARE(partDiffers(*part, *whole), QString());
            QCOMPARE(pieceFrom(*part, song, from, to), pieceFrom(*whole, song, from, to));
        }
    }

    void whatIsReadFollowsThePiece()
    {
        // 20 MB of frames at 48 kHz, 24 ms each; the piece is 30 s (1250 frames) from the middle.
        // The frames up to its end are walked and those behind it counted by their length.
        const QString constant = dir->filePath(QStringLiteral("constant.mp3"));
        writeCbrSong(constant, 20'000'000);
        const auto constantPart = mapSongFor(fileSystemPath(constant), 300, 330);
        QVERIFY(constantPart && constantPart->constantBitRate);
        QCOMPARE(constantPart->frameCount(), 20'000'000 / 384);
        QVERIFY2(constantPart->headersRead < 13'760, qPrintable(QString::number(constantPart->headersRead)));
        QVERIFY(constantPart->framesRead() < 1300);

        // A varying bit rate is walked up to the piece's end and no further.
        const QString varying = dir->filePath(QStringLiteral("varying.mp3"));
        writeVbrSong(varying, 1, 40'000);
        const auto varyingPart = mapSongFor(fileSystemPath(varying), 30, 60);
        QVERIFY(varyingPart && !varyingPart->constantBitRate);
        QVERIFY2(varyingPart->headersRead < 2600, qPrintable(QString::number(varyingPart->headersRead)));
        QVERIFY(varyingPart->framesRead() < 1300);
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_GUILESS_MAIN(TestPieceMap)
#include "tst_piecemap.moc"
