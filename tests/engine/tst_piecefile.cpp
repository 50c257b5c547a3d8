// Writing a piece: the same bytes to a file and to a stream, its header frame sealed with the CRC
// of what follows it, its name taken only when free or when asked to, and nothing left behind
// by any failure.

#include "core/pathrules.h"
#include "corefakes.h"
#include "engine/piecefile.h"
#include "engine/pieceheader.h"
#include "engine/songtagslib.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString song = QStringLiteral(FIXTURE_DIR "/id3v2-small.mp3");

/// The parts of a piece of the tagged song from 1.0003 s to 2.5117 s: a tag, an Info frame, lead
/// frames and the song's frames.
PieceParts pieceParts()
{
    const auto map = scanSong(fileSystemPath(song));
    const Placement piece = std::get<Placement>(placePiece(*map, 1.0003, 2.5117));
    return {tagLibTags().renderForPiece(tagLibTags().read(fileSystemPath(song)), 1511), pieceHeaderFrame(*map, piece),
            *leadFrames(*map, piece, fileSystemPath(song)), frameRanges(*map, piece)};
}

} // namespace

class TestPieceFile : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        target = dir->filePath(QStringLiteral("piece.mp3"));
    }
    void cleanup() { dir.reset(); }

    void aFileAndAStreamGetTheSameSealedBytes()
    {
        const PieceParts parts = pieceParts();
        QVERIFY(!parts.tag.empty() && !parts.header.empty() && !parts.lead.empty());
        SongFile source(fileSystemPath(song));
        NewFile file(fileSystemPath(target), false);
        QCOMPARE(PieceFile(parts, source, file).run(), PieceFile::State::Written);

        const QString streamed = dir->filePath(QStringLiteral("streamed"));
        const int fd = ::open(QFile::encodeName(streamed).constData(), O_WRONLY | O_CREAT, 0644);
        StreamTarget stream(fd);
        SongFile again(fileSystemPath(song));
        QCOMPARE(PieceFile(parts, again, stream).run(), PieceFile::State::Written);
        ::close(fd);

        const QByteArray piece = readAll(target);
        QCOMPARE(piece.size(), parts.length());
        QCOMPARE(readAll(streamed), piece);
        // The LAME tag's music CRC, 32 bytes into it, covers every byte behind the header frame.
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(piece.constData());
        const qsizetype audio = qsizetype(parts.tag.size() + parts.header.size());
        const qsizetype crcAt = piece.indexOf("LAME", qsizetype(parts.tag.size())) + 32;
        QCOMPARE(std::uint16_t(bytes[crcAt] << 8 | bytes[crcAt + 1]), lameCrc(0, bytes + audio, std::size_t(piece.size() - audio)));
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("piece.mp3"), QStringLiteral("streamed")}));
    }

    void aTakenNameIsReplacedOnlyWhenAsked()
    {
        QVERIFY(writeFile(target, "kept"));
        SongFile source(fileSystemPath(song));
        NewFile keep(fileSystemPath(target), false);
        PieceFile refused(pieceParts(), source, keep);
        QCOMPARE(refused.run(), PieceFile::State::Failed);
        QCOMPARE(refused.error()->kind, CutError::Kind::Taken);
        QCOMPARE(readAll(target), QByteArray("kept"));
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("piece.mp3")}));

        NewFile replace(fileSystemPath(target), true);
        QCOMPARE(PieceFile(pieceParts(), source, replace).run(), PieceFile::State::Written);
        QCOMPARE(readAll(target).size(), pieceParts().length());
    }

    void aNameTakenWhileThePieceIsWrittenIsNotReplaced()
    {
        SongFile source(fileSystemPath(song));
        NewFile file(fileSystemPath(target), false);
        PieceFile writer(pieceParts(), source, file);
        QCOMPARE(writer.step(1000), PieceFile::State::Writing);
        QVERIFY(writeFile(target, "another program's"));
        QCOMPARE(writer.run(), PieceFile::State::Failed);
        QCOMPARE(writer.error()->kind, CutError::Kind::Taken);
        QCOMPARE(readAll(target), QByteArray("another program's"));
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("piece.mp3")}));
    }

    void aLongTargetNameStillHasRoomForTheFileBeingWritten()
    {
        // 83 × 3 + 2 + 4: the 255 bytes a name may have.
        target = dir->filePath(QString(83, u'长') + QStringLiteral("nn.mp3"));
        SongFile source(fileSystemPath(song));
        NewFile file(fileSystemPath(target), false);
        QCOMPARE(PieceFile(pieceParts(), source, file).run(), PieceFile::State::Written);
        QCOMPARE(filesIn(dir->path()), QStringList({QFileInfo(target).fileName()}));
    }

    void aFailureLeavesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("song shortened") << "shortened";
        QTest::newRow("folder gone") << "folder";
        QTest::newRow("disk full") << "full";
        QTest::newRow("abandoned half-way") << "abandoned";
    }

    void aFailureLeavesNothing()
    {
        QFETCH(QString, fault);
        const QString copy = dir->filePath(QStringLiteral("song.mp3"));
        QVERIFY(QFile::copy(song, copy));
        if (fault == u"shortened")
            QVERIFY(QFile::resize(copy, 40'000));
        if (fault == u"folder")
            target = dir->filePath(QStringLiteral("gone/piece.mp3"));
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        if (fault == u"full") {
            // Root obeys it too: a full disk without one. The write fails with EFBIG.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = before;
            limit.rlim_cur = 10'000;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
        SongFile source(fileSystemPath(copy));
        NewFile file(fileSystemPath(target), false);
        {
            PieceFile writer(pieceParts(), source, file);
            const PieceFile::State state = fault == u"abandoned" ? writer.step(1000) : writer.run();
            setrlimit(RLIMIT_FSIZE, &before);
            if (fault == u"abandoned") {
                QCOMPARE(state, PieceFile::State::Writing);
                QCOMPARE(filesIn(dir->path()).size(), 2);
            } else {
                QCOMPARE(state, PieceFile::State::Failed);
                QCOMPARE(writer.error()->kind, fault == u"shortened" ? CutError::Kind::Changed : CutError::Kind::Unwritable);
                QCOMPARE(writer.error()->error, fault == u"folder" ? ENOENT : fault == u"full" ? EFBIG : 0);
            }
        }
        QCOMPARE(filesIn(dir->path()), QStringList({QStringLiteral("song.mp3")}));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString target;
};

QTEST_GUILESS_MAIN(TestPieceFile)
#include "tst_piecefile.moc"
