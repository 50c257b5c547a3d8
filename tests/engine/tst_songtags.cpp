// A piece carries its song's tags, and none of the frames that tell of the song's own bytes or times.

#include "engine/songtagslib.h"
#include "sessionrig.h"
#include "watchdog.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <apetag.h>
#include <attachedpictureframe.h>
#include <id3v1tag.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tpropertymap.h>

#include <memory>

using namespace TagLib;

namespace {

const QString untagged = QStringLiteral(FIXTURE_DIR "/tone6-cbr128.mp3");
const ByteVector cover("\x89PNG\r\n\x1A\n and the rest of a picture", 32);
const String coverName("封面.png", String::UTF8);

PropertyMap fieldsOf(const QString &fields)
{
    PropertyMap map;
    for (const QString &field : fields.split(';', Qt::SkipEmptyParts))
        map[String(field.section('=', 0, 0).toStdString(), String::UTF8)].append(String(field.section('=', 1).toStdString(), String::UTF8));
    return map;
}

// Puts in \a song a tag of \a kind holding \a fields, and a front cover where \a withCover; an ID3v2 tag
// also gets every kind of frame that a piece must not carry.
void addTag(MPEG::File &song, const QString &kind, const QString &fields, bool withCover)
{
    if (kind == "APEv2") {
        song.APETag(true)->setProperties(fieldsOf(fields));
        if (withCover)
            song.APETag()->setData("Cover Art (Front)", coverName.data(String::UTF8) + ByteVector(1, '\0') + cover);
    } else if (kind == "ID3v2") {
        ID3v2::Tag &tag = *song.ID3v2Tag(true);
        tag.setProperties(fieldsOf(fields + ";COMMENT:iTunSMPB= 00000000 00000210 000003C0 0000000000040EC0"));
        if (withCover) {
            auto *picture = new ID3v2::AttachedPictureFrame;
            picture->setType(ID3v2::AttachedPictureFrame::FrontCover);
            picture->setMimeType("image/png");
            picture->setDescription(coverName);
            picture->setPicture(cover);
            tag.addFrame(picture);
        }
        const ID3v2::Header v24;
        const ByteVector body("\0eng\x02\x01\0la\0\0\0\0\x10", 14); // reads as timed lyrics or events, else as bytes
        for (const char *id : {"MLLT", "SEEK", "ASPI", "ETCO", "SYLT", "SYTC", "POSS", "PRIV", "TLEN"})
            tag.addFrame(ID3v2::FrameFactory::instance()->createFrame(ByteVector(id) + ByteVector::fromUInt(14) + ByteVector(2, '\0') + body, &v24));
    } else if (kind == "ID3v1") {
        song.ID3v1Tag(true)->setProperties(fieldsOf(fields));
    }
}

// The untagged song copied to \a path with \a fields in a tag of \a kind, with a cover where that tag
// holds pictures and fields.
void tagSong(const QString &path, const QString &kind, const QString &fields)
{
    QVERIFY(QFile::copy(untagged, path));
    MPEG::File song(QFile::encodeName(path).constData());
    addTag(song, kind, fields, kind == "APEv2" || (kind == "ID3v2" && !fields.isEmpty()));
    const int which = kind == "ID3v1" ? MPEG::File::ID3v1 : kind == "APEv2" ? MPEG::File::APE : MPEG::File::ID3v2;
    QVERIFY(kind.isEmpty() || song.save(which, File::StripOthers, ID3v2::v4, File::DoNotDuplicate));
}

// Cuts the song at \a song as the program cuts (the tag goes on the piece before it takes its name) and
// checks that the piece carries \a fields, \a pictures covers, its own length and nothing else.
void checkPieceCarries(const QString &song, const QString &fields, unsigned pictures)
{
    const QString piece = QFileInfo(song).dir().filePath("piece.mp3");
    QVERIFY(cutAsTheCommandLineDoes(song, 1.0, 4.321, piece));

    MPEG::File readBack(QFile::encodeName(piece).constData());
    QVERIFY(readBack.hasID3v2Tag() && !readBack.hasID3v1Tag() && !readBack.hasAPETag());
    const ID3v2::Tag &id3 = *readBack.ID3v2Tag();
    QCOMPARE(id3.header()->majorVersion(), 3u);
    QVERIFY(id3.frameListMap()["TLEN"].front()->toString() == "3321");
    const PropertyMap expected = fieldsOf(fields), got = id3.properties();
    for (const auto &[key, values] : expected)
        QCOMPARE(QString::fromStdString(got[key].toString().to8Bit(true)), QString::fromStdString(values.toString().to8Bit(true)));
    const ID3v2::FrameList covers = id3.frameListMap()["APIC"];
    QCOMPARE(covers.size(), pictures);
    for (const ID3v2::Frame *frame : covers) {
        const auto &picture = dynamic_cast<const ID3v2::AttachedPictureFrame &>(*frame);
        QVERIFY(picture.type() == ID3v2::AttachedPictureFrame::FrontCover && picture.mimeType() == "image/png");
        QVERIFY(picture.description() == coverName && picture.picture() == cover);
    }
    // The fields, the pictures and the length, and nothing else that the song carried.
    QCOMPARE(id3.frameList().size(), expected.size() + pictures + 1);
}

} // namespace

class TestSongTags : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { m_dir.reset(); }

    void piecesCarryTheSongsTags_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fields");
        QTest::newRow("ID3v2") << "ID3v2" << "TITLE=夜曲;ARTIST=周杰伦;ALBUM=十一月的萧邦;ALBUMARTIST=群星;DATE=2005;"
                                             "TRACKNUMBER=3/12;GENRE=流行;COMMENT=好听;LYRICS=一群嗜血的蚂蚁;MOOD=安静;COMPOSER=作曲";
        QTest::newRow("APEv2 only") << "APEv2" << "TITLE=稻香;ARTIST=歌手;ALBUM=魔杰座;DATE=2008;TRACKNUMBER=7;GENRE=Pop;COMMENT=还不错";
        QTest::newRow("ID3v1 only") << "ID3v1" << "TITLE=Night Song;ARTIST=Someone;ALBUM=Nights;DATE=1999;TRACKNUMBER=4;GENRE=Jazz;COMMENT=ok";
    }

    void piecesCarryTheSongsTags()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fields);
        tagSong(m_dir->filePath("song.mp3"), kind, fields);
        checkPieceCarries(m_dir->filePath("song.mp3"), fields, kind == "ID3v1" ? 0 : 1);
    }

    // Each tag is "KIND fields", "KIND+cover fields" for one that also holds the front cover.
    void eachFieldComesFromTheFirstTagThatHasIt_data()
    {
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QString>("expected");
        QTest::newRow("APEv2 and ID3v1")
            << QStringList{"APEv2+cover TITLE=稻香;ARTIST=歌手", "ID3v1 ALBUM=Nights;DATE=2008;TRACKNUMBER=7"}
            << "TITLE=稻香;ARTIST=歌手;ALBUM=Nights;DATE=2008;TRACKNUMBER=7";
        QTest::newRow("ID3v2 and ID3v1")
            << QStringList{"ID3v2+cover TITLE=夜曲;ARTIST=周杰伦", "ID3v1 TITLE=Night Song;ALBUM=Nights;DATE=1999;GENRE=Jazz"}
            << "TITLE=夜曲;ARTIST=周杰伦;ALBUM=Nights;DATE=1999;GENRE=Jazz";
        QTest::newRow("ID3v2 of the song's bytes and times only, and ID3v1")
            << QStringList{"ID3v2 ", "ID3v1 TITLE=Night Song;ARTIST=Someone"} << "TITLE=Night Song;ARTIST=Someone";
        QTest::newRow("all three, the cover from APEv2")
            << QStringList{"ID3v2 TITLE=夜曲", "APEv2+cover TITLE=稻香;ARTIST=歌手;COMMENT=还不错",
                           "ID3v1 TITLE=Night Song;ARTIST=Someone;ALBUM=Nights;TRACKNUMBER=4"}
            << "TITLE=夜曲;ARTIST=歌手;COMMENT=还不错;ALBUM=Nights;TRACKNUMBER=4";
        QTest::newRow("covers in ID3v2 and APEv2")
            << QStringList{"ID3v2+cover TITLE=夜曲", "APEv2+cover ARTIST=歌手"} << "TITLE=夜曲;ARTIST=歌手";
    }

    void eachFieldComesFromTheFirstTagThatHasIt()
    {
        QFETCH(QStringList, tags);
        QFETCH(QString, expected);
        const QString path = m_dir->filePath("song.mp3");
        QVERIFY(QFile::copy(untagged, path));
        {
            MPEG::File song(QFile::encodeName(path).constData());
            for (const QString &tag : tags) {
                const QString kind = tag.section(' ', 0, 0);
                addTag(song, kind.section('+', 0, 0), tag.section(' ', 1), kind.endsWith("+cover"));
            }
            QVERIFY(song.save(MPEG::File::AllTags, File::StripOthers, ID3v2::v4, File::DoNotDuplicate));
        }
        checkPieceCarries(path, expected, tags.filter("+cover").isEmpty() ? 0 : 1);
    }

    void tagsAroundJunkInFrontAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fields");
        QTest::newRow("ID3v2, then junk") << "ID3v2" << "TITLE=前面;ARTIST=歌手";
        QTest::newRow("junk, and APEv2 behind") << "APEv2" << "TITLE=后面;ALBUM=专辑";
    }

    void tagsAroundJunkInFrontAreRead()
    {
        // TagLib looks for a tag in junk in front of the frames a byte at a time: 1.4 s behind
        // 10 MB, hours behind a gigabyte. The tags are read where the song's map finds them, and
        // a gigabyte of zeros (a hole in the file: no disk) costs about one read of it.
        QFETCH(QString, kind);
        QFETCH(QString, fields);
        const QString song = m_dir->filePath("song.mp3");
        tagSong(song, kind, fields);
        QByteArray bytes = readAll(song);
        const auto tag = qsizetype(id3v2TagSize(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())));
        QFile file(song);
        constexpr qint64 junk = qint64(1) << 30;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes.left(tag)) == tag && file.resize(tag + junk)
                && file.seek(tag + junk) && file.write(bytes.mid(tag)) == bytes.size() - tag);
        file.close();
        const Watchdog watchdog("tagsAroundJunkInFrontAreRead", std::chrono::seconds(60));
        checkPieceCarries(song, fields, 1);
    }

    void songsWithoutTagsGiveNone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("untagged") << QString();
        QTest::newRow("missing") << "missing";
        QTest::newRow("only frames of the song's own bytes and times") << "ID3v2";
    }

    void songsWithoutTagsGiveNone()
    {
        QFETCH(QString, kind);
        const QString song = m_dir->filePath("song.mp3");
        if (kind != "missing")
            tagSong(song, kind, {});
        if (kind == "ID3v2")
            QCOMPARE(MPEG::File(QFile::encodeName(song).constData()).ID3v2Tag()->frameList().size(), 10u);
        const SongTags tags = tagLibTags().read(song.toStdString());
        QVERIFY(tags.empty() && tagLibTags().renderForPiece(tags, 1000).empty());
    }
};

QTEST_GUILESS_MAIN(TestSongTags)
#include "tst_songtags.moc"
