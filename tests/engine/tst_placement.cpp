// Where a piece lies in its song: which frames it takes, the silent frames in front that carry
// what its first frame takes from the frames before, and what the LAME tag drops at both ends.

#include "engine/placement.h"

#include <QTest>

#include <optional>

namespace {

/// 100 frames of header \a word from offset 417, each \a length bytes.
std::vector<SongFrame> evenFrames(quint32 word, std::uint16_t length)
{
    std::vector<SongFrame> frames;
    for (int i = 0; i < 100; ++i)
        frames.push_back({417 + i * length, length, 0, word});
    return frames;
}

/// A song of MPEG-1 layer 3 at 44.1 kHz of header \a word, behind a LAME tag of delay 576 and
/// padding 1000: with evenFrames() its sound is samples [1105, 114729).
SongMap layer3Song(quint32 word, std::vector<SongFrame> frames)
{
    SongMap song(std::move(frames));
    song.reference = *frameHeaderFrom(word);
    song.samplesPerFrame = 1152;
    EncoderFrame lame;
    lame.tag = "Info";
    lame.delay = 576;
    lame.padding = 1000;
    song.encoderFrame = lame;
    song.constantBitRate = true;
    return song;
}

/// At 128 kbit/s, 381 bytes of audio data a frame; three frames take some from the frames before.
SongMap song128()
{
    std::vector<SongFrame> frames = evenFrames(0xFFFB9044, 417);
    frames[42].reservoir = 300;
    frames[60].reservoir = 381;
    frames[80].reservoir = 500;
    return layer3Song(0xFFFB9044, std::move(frames));
}

/// At 32 kbit/s, 68 bytes of audio data a frame: the fourth frame takes 200 from the three before.
SongMap song32()
{
    std::vector<SongFrame> frames = evenFrames(0xFFFB1044, 104);
    frames[3].reservoir = 200;
    return layer3Song(0xFFFB1044, std::move(frames));
}

/// song32() as a song cut out of a longer one, without a LAME tag: its frames 2 and 6 take more
/// bytes from the frames before them than the song holds there.
SongMap cutOut32()
{
    std::vector<SongFrame> frames = evenFrames(0xFFFB1044, 104);
    frames[2].reservoir = 200;
    frames[6].reservoir = 500;
    SongMap song = layer3Song(0xFFFB1044, std::move(frames));
    song.encoderFrame.reset();
    return song;
}

/// 100 frames of MPEG-1 layer 2 at 48 kHz: samples [0, 115200).
SongMap layer2Song()
{
    std::vector<SongFrame> frames;
    for (int i = 0; i < 100; ++i)
        frames.push_back({i * 576, 576, 0, 0xFFFDA444});
    SongMap song(std::move(frames));
    song.reference = *frameHeaderFrom(0xFFFDA444);
    song.samplesPerFrame = 1152;
    return song;
}

/// The song's time at which \a sample sounds.
double secondsOf(const SongMap &song, std::int64_t sample)
{
    return double(sample - song.firstSample()) / song.sampleRate();
}

} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT
private slots:
    void placesThePieceByItsMarks_data()
    {
        QTest::addColumn<SongMap>("song");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<std::optional<MarkProblem>>("problem");
        QTest::addColumn<Placement>("placed");
        const std::optional<MarkProblem> fine;
        const qint64 songEnd = 114729;

        QTest::newRow("end before start") << song128() << qint64(50000) << qint64(40000)
                                          << std::optional(MarkProblem::EndNotAfterStart) << Placement{};
        QTest::newRow("equal marks") << song128() << qint64(50000) << qint64(50000)
                                     << std::optional(MarkProblem::TooClose) << Placement{};
        QTest::newRow("under a frame apart") << song128() << qint64(50000) << qint64(51151)
                                             << std::optional(MarkProblem::TooClose) << Placement{};
        QTest::newRow("start at the end") << song128() << songEnd << songEnd + 1152
                                          << std::optional(MarkProblem::StartPastEnd) << Placement{};
        QTest::newRow("end over a frame past the end") << song128() << qint64(30000) << songEnd + 1153
                                                       << std::optional(MarkProblem::EndPastEnd) << Placement{};

        const Placement whole{.firstFrame = 0, .endFrame = 100, .startSample = 1105, .endSample = songEnd,
                              .delay = 576, .padding = 1000};
        QTest::newRow("whole song") << song128() << qint64(1105) << songEnd << fine << whole;
        QTest::newRow("start before the song") << song128() << qint64(1105 - 44100) << songEnd << fine << whole;
        QTest::newRow("end a frame past the end")
            << song128() << qint64(30000) << songEnd + 1152 << fine
            << Placement{.firstFrame = 25, .endFrame = 100, .startSample = 30000, .endSample = songEnd, .delay = 671,
                         .padding = 1000};
        // The granules that make the first sample, and the one before them that overlaps the
        // first: here it lies in the frame before.
        QTest::newRow("a frame apart")
            << song128() << qint64(40000) << qint64(41152) << fine
            << Placement{.firstFrame = 33, .endFrame = 36, .startSample = 40000, .endSample = 41152, .delay = 1455,
                         .padding = 849};

        // The first frame's audio data that lies in the frames before it goes into silent frames
        // in front, at the song's bit rate while the tag's delay can skip them.
        QTest::newRow("one lead frame")
            << song128() << qint64(50000) << qint64(60000) << fine
            << Placement{.firstFrame = 42, .endFrame = 53, .leadFrames = 1, .leadWord = 0xFFFB9044, .reservoir = 300,
                         .startSample = 50000, .endSample = 60000, .delay = 2239, .padding = 1585};
        QTest::newRow("lead frame full to the byte, end on a frame's end")
            << song128() << qint64(70300) << qint64(70 * 1152) << fine
            << Placement{.firstFrame = 60, .endFrame = 70, .leadFrames = 1, .leadWord = 0xFFFB9044, .reservoir = 381,
                         .startSample = 70300, .endSample = 70 * 1152, .delay = 1803, .padding = 529};
        QTest::newRow("two lead frames")
            << song128() << qint64(93500) << qint64(100000) << fine
            << Placement{.firstFrame = 80, .endFrame = 87, .leadFrames = 2, .leadWord = 0xFFFB9044, .reservoir = 500,
                         .startSample = 93500, .endSample = 100000, .delay = 3115, .padding = 753};
        QTest::newRow("lead frames up to the tag's longest delay")
            << song32() << qint64(4600) << qint64(10000) << fine
            << Placement{.firstFrame = 3, .endFrame = 9, .leadFrames = 3, .leadWord = 0xFFFB1044, .reservoir = 200,
                         .startSample = 4600, .endSample = 10000, .delay = 4071, .padding = 897};
        // Past it, one frame of 80 kbit/s holds them all.
        QTest::newRow("one lead frame of a higher bit rate")
            << song32() << qint64(4700) << qint64(10000) << fine
            << Placement{.firstFrame = 3, .endFrame = 9, .leadFrames = 1, .leadWord = 0xFFFB6044, .reservoir = 200,
                         .startSample = 4700, .endSample = 10000, .delay = 1867, .padding = 897};

        // Without a LAME tag the song plays from its first decoded sample, which a piece from the
        // same frame would lose to the decoder's own delay: a silent frame in front makes room.
        QTest::newRow("no LAME tag, from the song's first sample")
            << cutOut32() << qint64(0) << qint64(10000) << fine
            << Placement{.firstFrame = 0, .endFrame = 9, .leadFrames = 1, .leadWord = 0xFFFB1044, .startSample = 0,
                         .endSample = 10000, .delay = 623, .padding = 897};
        QTest::newRow("no LAME tag, 5 ms in")
            << cutOut32() << qint64(220) << qint64(10000) << fine
            << Placement{.firstFrame = 0, .endFrame = 9, .leadFrames = 1, .leadWord = 0xFFFB1044, .startSample = 220,
                         .endSample = 10000, .delay = 843, .padding = 897};
        // Frames whose data lies in bytes the song has not got play as silence: a silent frame of
        // the piece's own stands in for each.
        QTest::newRow("a frame that takes bytes from before the song")
            << cutOut32() << qint64(4000) << qint64(10000) << fine
            << Placement{.firstFrame = 3, .endFrame = 9, .leadFrames = 1, .leadWord = 0xFFFB1044, .startSample = 4000,
                         .endSample = 10000, .delay = 1167, .padding = 897};
        QTest::newRow("a frame that takes more bytes than the song has before it")
            << cutOut32() << qint64(9000) << qint64(15000) << fine
            << Placement{.firstFrame = 7, .endFrame = 14, .leadFrames = 1, .leadWord = 0xFFFB1044, .startSample = 9000,
                         .endSample = 15000, .delay = 1559, .padding = 1657};

        QTest::newRow("layer 2, whole frames")
            << layer2Song() << qint64(50000) << qint64(100000) << fine
            << Placement{.firstFrame = 43, .endFrame = 87, .startSample = 49536, .endSample = 100224, .exact = false};
    }

    void placesThePieceByItsMarks()
    {
        QFETCH(SongMap, song);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(std::optional<MarkProblem>, problem);
        QFETCH(Placement, placed);
        const auto result = placePiece(song, secondsOf(song, start), secondsOf(song, end));
        if (problem) {
            QVERIFY(std::holds_alternative<MarkProblem>(result));
            QCOMPARE(int(std::get<MarkProblem>(result)), int(*problem));
            return;
        }
        QVERIFY(std::holds_alternative<Placement>(result));
        const Placement &piece = std::get<Placement>(result);
        QCOMPARE(piece.firstFrame, placed.firstFrame);
        QCOMPARE(piece.endFrame, placed.endFrame);
        QCOMPARE(piece.leadFrames, placed.leadFrames);
        QCOMPARE(piece.leadWord, placed.leadWord);
        QCOMPARE(piece.reservoir, placed.reservoir);
        QCOMPARE(piece.startSample, placed.startSample);
        QCOMPARE(piece.endSample, placed.endSample);
        QCOMPARE(piece.delay, placed.delay);
        QCOMPARE(piece.padding, placed.padding);
        QCOMPARE(piece.exact, placed.exact);
    }

    void frameRangesJoinNeighboursAndSplitAtJunk_data()
    {
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<QList<qint64>>("ranges");
        // Offset and length of each range; 37 bytes of junk lie behind frame 4.
        QTest::newRow("one run") << qint64(0) << qint64(4) << QList<qint64>{100, 4 * 417};
        QTest::newRow("up to the junk") << qint64(3) << qint64(5) << QList<qint64>{100 + 3 * 417, 2 * 417};
        QTest::newRow("across the junk") << qint64(2) << qint64(8)
                                         << QList<qint64>{100 + 2 * 417, 3 * 417, 100 + 5 * 417 + 37, 3 * 417};
    }

    void frameRangesJoinNeighboursAndSplitAtJunk()
    {
        QFETCH(qint64, first);
        QFETCH(qint64, end);
        QFETCH(QList<qint64>, ranges);
        std::vector<SongFrame> frames;
        for (std::int64_t i = 0; i < 10; ++i)
            frames.push_back({100 + i * 417 + (i >= 5 ? 37 : 0), 417, 0, 0xFFFB9044});
        const SongMap song = layer3Song(0xFFFB9044, std::move(frames));
        Placement piece;
        piece.firstFrame = first;
        piece.endFrame = end;
        QList<qint64> got;
        for (const ByteRange &range : frameRanges(song, piece))
            got << range.offset << range.length;
        QCOMPARE(got, ranges);
    }
};

QTEST_APPLESS_MAIN(TestPlacement)
#include "tst_placement.moc"
