// Any bytes as a song, cut as the command line cuts it: the song's map, whole and read around the
// marks, the piece's placement, its lead frames and header frame, the piece written to a file and
// to a stream, then its gain changed. Besides the sanitizers' reports, it stops where a rule the
// program keeps is broken: the map read around a piece places it as the whole map does, both
// writers make the same bytes, the piece reads back as the frames and samples it was placed as,
// its CRCs are true, and a change of gain leaves the piece whole or as it was, and nothing beside it.
//
// The input's last six bytes choose the marks and the gain; the bytes before them are the song.

#include "engine/cutpipeline.h"
#include "engine/gain.h"
#include "engine/piecefile.h"
#include "engine/pieceheader.h"
#include "engine/pieceplan.h"
#include "engine/songmap.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

/// Where an input's song and piece are kept: a folder of its own, gone with the input (libFuzzer
/// ends its process without running what atexit() holds).
class WorkFolder
{
public:
    WorkFolder()
    {
        std::string name = (std::filesystem::temp_directory_path() / "mp3cutter-fuzz-XXXXXX").string();
        if (!::mkdtemp(name.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = name;
    }
    ~WorkFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// What the input has come to: the marks, then the piece's place.
std::string reached;

void require(bool holds, const char *rule)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n%s\n", rule, reached.c_str());
    std::abort();
}

Bytes readAll(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::filesystem::path &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    require(bool(out.flush()), "the song is written");
}

std::uint16_t bigEndian16(const std::uint8_t *bytes)
{
    return std::uint16_t(bytes[0] << 8 | bytes[1]);
}

/// A mark from a little before the song's start to a little behind its end, or on a frame's edge
/// give or take a few samples, or where no song reaches.
double markFrom(std::uint16_t code, const std::optional<SongMap> &song)
{
    const double length = song ? song->duration() : 10.0;
    const double rate = song ? song->sampleRate() : 44100.0;
    const std::int64_t spf = song ? song->samplesPerFrame : 1152;
    const std::int64_t first = song ? song->firstSample() : 0;
    switch (code >> 14) {
    case 0:
    case 1:
        return (double(code & 0x7FFF) / 0x7FFF * 1.2 - 0.1) * length;
    case 2:
        return double((code & 0x3FF) * spf - first + ((code >> 10) & 0xF) - 8) / rate;
    default:
        break;
    }
    const double specials[] = {0.0, length, length + double(spf) / rate, length - 1 / rate, 1e9, -1.0, 1e-9, 0.5};
    return specials[code % std::size(specials)];
}

/// Everything the engine makes of the marks on \a map, as one text to compare: the refusal, or
/// the placement, the song's ranges, the lead frames and the header frame.
std::string pieceFrom(const SongMap &map, const std::filesystem::path &song, double from, double to)
{
    const auto placed = placePiece(map, from, to);
    if (const auto *problem = std::get_if<MarkProblem>(&placed))
        return "refused " + std::to_string(int(*problem));
    const Placement &p = std::get<Placement>(placed);
    std::string made = "frames " + std::to_string(p.firstFrame) + "-" + std::to_string(p.endFrame) + " lead "
        + std::to_string(p.leadFrames) + "x" + std::to_string(p.leadWord) + " reservoir " + std::to_string(p.reservoir)
        + " samples " + std::to_string(p.startSample) + "-" + std::to_string(p.endSample) + " delay "
        + std::to_string(p.delay) + " padding " + std::to_string(p.padding) + " ranges";
    for (const ByteRange &range : frameRanges(map, p))
        made += " " + std::to_string(range.offset) + "+" + std::to_string(range.length);
    const auto lead = leadFrames(map, p, song);
    const Bytes header = pieceHeaderFrame(map, p);
    made += "\nlead " + (lead ? std::string(lead->begin(), lead->end()) : std::string("unread"));
    made += "\nheader " + std::string(header.begin(), header.end());
    return made;
}

/// The frames of a map lie in order inside the file, none over another, and the sound has a length.
void checkMap(const SongMap &map, std::int64_t fileSize)
{
    require(map.frameCount() > 0 && map.firstRead() >= 0 && map.endRead() <= map.frameCount(), "the map counts its frames");
    require(map.firstSample() <= map.endSample(), "the song's sound begins before it ends");
    std::int64_t end = map.leadingTag;
    for (const SongFrame &frame : map.readFrames()) {
        require(frame.offset >= end && frame.length > 0, "the frames follow each other");
        end = frame.offset + frame.length;
    }
    require(end <= fileSize, "the frames lie in the file");
}

/// A stream the piece is written to as it goes, as standard output takes it.
class MemoryTarget : public PieceTarget
{
public:
    Bytes bytes;

    bool create() override { return true; }
    bool write(const std::uint8_t *from, std::size_t n) override
    {
        bytes.insert(bytes.end(), from, from + n);
        return true;
    }
    bool canRewrite() const override { return false; }
    bool rewrite(std::int64_t, const std::uint8_t *, std::size_t) override { return false; }
    std::optional<std::int64_t> close() override { return std::int64_t(bytes.size()); }
    Naming name() override { return Naming::Named; }
    void discard() override { bytes.clear(); }
    int error() const override { return 0; }
};

/// The LAME tag of \a piece's header frame, \a header, carries the CRC of every audio byte behind
/// the frame and its own.
void checkCrcs(const Bytes &piece, const EncoderFrame &header)
{
    const std::uint8_t *frame = piece.data() + header.offset;
    const auto word = frameHeaderFrom(bigEndian32(frame));
    require(bool(word), "the header frame has a frame header");
    const auto lameAt = std::size_t(lameTagOffset(*word));
    const std::size_t audio = std::size_t(header.offset + header.length);
    require(bigEndian16(frame + lameAt + 32) == lameCrc(0, piece.data() + audio, piece.size() - audio),
            "the LAME tag's music CRC is that of the audio");
    require(bigEndian16(frame + lameAt + 34) == lameCrc(0, frame, lameAt + 34), "the LAME tag's own CRC is true");
}

/// Whether the end of \a piece reads as an ID3v1, APE or Lyrics3 tag. The audio data of the song
/// may hold those bytes anywhere, by chance one piece in 2^24 ends with "TAG" 128 bytes before its
/// end, and then every player takes the frames there for a tag.
bool endsAsIfTagged(const Bytes &piece)
{
    const auto endsWith = [&](std::size_t size, std::string_view text) {
        return piece.size() >= size && std::equal(text.begin(), text.end(), piece.end() - std::ptrdiff_t(size));
    };
    return endsWith(128, "TAG") || endsWith(32, "APETAGEX") || endsWith(9, "LYRICS200");
}

/// Nothing but the song and its piece stays in \a folder.
void checkNothingBeside(const std::filesystem::path &folder)
{
    int files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder))
        ++files;
    require(files == 2, "no file is left beside the piece");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto startCode = input.ConsumeIntegral<std::uint16_t>();
    const auto endCode = input.ConsumeIntegral<std::uint16_t>();
    const auto choices = input.ConsumeIntegral<std::uint8_t>();
    const auto fades = input.ConsumeIntegral<std::uint8_t>();
    const Bytes songBytes = input.ConsumeRemainingBytes<std::uint8_t>();
    const WorkFolder folder;
    const std::filesystem::path song = folder.path() / "song.mp3";
    const std::filesystem::path piecePath = folder.path() / "piece.mp3";
    writeAll(song, songBytes);

    const auto whole = scanSong(song);
    const double start = markFrom(startCode, whole);
    const double end = markFrom(endCode, whole);
    reached = "marks " + std::to_string(start) + " " + std::to_string(end);
    const auto part = mapSongFor(song, start, end);
    require(whole.has_value() == part.has_value(), "the map around the marks is read where the whole map is");
    if (!whole)
        return 0;
    checkMap(*whole, std::int64_t(songBytes.size()));
    checkMap(*part, std::int64_t(songBytes.size()));
    const std::string fromPart = pieceFrom(*part, song, start, end);
    const std::string fromWhole = pieceFrom(*whole, song, start, end);
    if (fromPart != fromWhole)
        reached += "\naround the marks: " + fromPart.substr(0, fromPart.find('\n')) + "\nwhole: "
            + fromWhole.substr(0, fromWhole.find('\n'));
    require(fromPart == fromWhole, "the map around the marks makes the piece the whole map makes");

    // Planned as the command line plans it, from the map around the marks.
    auto planned = planPiece(*part, song, start, end);
    if (std::holds_alternative<MarkProblem>(planned))
        return 0;
    require(std::holds_alternative<PiecePlan>(planned), "the lead frames are read from the song");
    PiecePlan &plan = std::get<PiecePlan>(planned);
    const Placement &piece = plan.placement;
    reached += "\n" + fromWhole.substr(0, fromWhole.find('\n')) + "\nsong frames " + std::to_string(whole->frameCount());
    const bool layer3 = whole->reference.layer == 3;
    require(piece.firstFrame >= 0 && piece.firstFrame < piece.endFrame && piece.endFrame <= whole->frameCount(),
            "the piece's frames are the song's");
    require(piece.startSample < piece.endSample, "the piece has sound");
    require(!layer3 || (piece.delay >= 0 && piece.delay <= 4095 && piece.padding >= 0 && piece.padding <= 4095),
            "the delay and padding fit the LAME tag");

    require(layer3 == !plan.parts.header.empty(), "a layer 3 piece, and only one, has a header frame");
    // A tag in front, as a tagged song's piece has: the header frame stands behind it.
    if (choices & 1) {
        plan.parts.tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
        plan.parts.tag.resize(30);
    }
    const PieceParts &parts = plan.parts;

    SongFile source(song);
    NewFile file(piecePath, true);
    PieceFile written(parts, source, file);
    require(written.run() == PieceFile::State::Written, "the piece is written to its file");
    const Bytes pieceBytes = readAll(piecePath);
    require(std::int64_t(pieceBytes.size()) == parts.length(), "the piece's file holds all of it");

    // A stream takes it in steps of any size, the header frame sealed before the copy.
    SongFile streamSource(song);
    MemoryTarget stream;
    PieceFile streamed(parts, streamSource, stream);
    const std::int64_t step = 1 + std::int64_t(choices >> 4) * 613;
    while (streamed.step(step) == PieceFile::State::Writing) {
    }
    require(streamed.name() == PieceFile::State::Written, "the piece is written to a stream");
    require(stream.bytes == pieceBytes, "the stream gets the bytes the file got");

    if (endsAsIfTagged(pieceBytes))
        return 0;
    // A lone frame of layer 1 or 2, with no header frame in front, is not taken for a song.
    if (piece.frameCount() < 2)
        return 0;
    const auto pieceMap = scanSong(piecePath);
    require(bool(pieceMap), "the piece is an MPEG audio file");
    require(pieceMap->frameCount() == piece.frameCount(), "the piece reads back as the frames it was made of");
    require(pieceMap->leadingTag == std::int64_t(parts.tag.size()), "the piece's tag is found");
    if (layer3) {
        require(pieceMap->encoderFrame && !pieceMap->encoderFrame->lameTag.empty(), "the piece's LAME tag is found");
        require(pieceMap->endSample() - pieceMap->firstSample() == piece.endSample - piece.startSample,
                "the piece plays the samples it was placed on");
        checkCrcs(pieceBytes, *pieceMap->encoderFrame);
    }

    GainChange change;
    change.fadeInSeconds = (choices & 2) ? (fades & 0x0F) * 0.25 + 0.01 : 0.0;
    change.fadeOutSeconds = (choices & 4) ? (fades >> 4) * 0.25 + 0.01 : 0.0;
    change.maxVolume = (choices & 8) != 0;
    const auto refused = applyGain(piecePath, change);
    checkNothingBeside(folder.path());
    const Bytes gained = readAll(piecePath);

    // The pipeline both front ends run makes the same piece in one go, its gain changed before it
    // takes its name, and leaves nothing where it is refused.
    const WorkFolder pipelineFolder;
    const std::filesystem::path throughPipeline = pipelineFolder.path() / "piece.mp3";
    SongFile pipelineSource(song);
    NewFile pipelineFile(throughPipeline, false);
    CutPipeline pipeline(parts, change, pipelineSource, pipelineFile, song, throughPipeline);
    const CutPipeline::State ran = pipeline.run();
    // Asked to change nothing, it leaves the piece as cut, of whatever layer.
    if (refused && change.any())
        require(ran == CutPipeline::State::Failed && pipeline.error()->kind == refused->kind
                    && std::filesystem::is_empty(pipelineFolder.path()),
                "the pipeline refuses the gain as the gain step does, and leaves nothing");
    else
        require(ran == CutPipeline::State::Written && readAll(throughPipeline) == gained,
                "the pipeline's piece is the piece cut, then changed");

    if (refused) {
        require(gained == pieceBytes, "a refused change of gain leaves the piece as it was");
        // Only a piece of another layer is refused, or one whose sound cannot be decoded to measure.
        const CutError::Kind why = refused->kind;
        require(layer3 ? change.maxVolume && why == CutError::Kind::Undecodable
                       : why == CutError::Kind::NoGainInLayer1 || why == CutError::Kind::NoGainInLayer2,
                "a layer 3 piece takes its fades, and any other is refused for its layer");
        return 0;
    }
    require(gained.size() == pieceBytes.size(), "a change of gain keeps the piece's length");
    const auto gainedMap = scanSong(piecePath);
    require(gainedMap && gainedMap->frameCount() == pieceMap->frameCount()
                && gainedMap->firstSample() == pieceMap->firstSample() && gainedMap->endSample() == pieceMap->endSample(),
            "a change of gain keeps the piece's frames and samples");
    checkCrcs(gained, *gainedMap->encoderFrame);
    return 0;
}
