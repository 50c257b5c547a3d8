#pragma once

#include "engine/mpegframe.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

/// The frame in front of a song's audio frames that describes the song (Xing, Info or VBRI),
/// with the LAME tag behind a Xing or Info header when it has one.
struct EncoderFrame
{
    std::string tag;                        ///< "Xing", "Info" (a constant bit rate's) or "VBRI"
    std::int64_t offset = 0;                ///< where the frame begins in the file
    int length = 0;                         ///< bytes of the frame
    std::optional<std::uint32_t> frames;    ///< audio frames of the song, when given
    std::optional<std::uint32_t> bytes;     ///< bytes from this frame on, when given
    /// The 36 bytes of the LAME tag, when the frame has one: encoder, settings, delay and padding.
    std::vector<std::uint8_t> lameTag;
    std::optional<int> delay;               ///< encoder delay in samples, from the LAME tag
    std::optional<int> padding;             ///< samples of padding behind the sound, from the LAME tag
};

/// One audio frame of a song.
struct SongFrame
{
    std::int64_t offset = 0;        ///< where it begins in the file
    std::uint16_t length = 0;       ///< bytes, header included
    std::uint16_t reservoir = 0;    ///< bytes of its audio data in the frames before it (main_data_begin)
    /// Its header's four bytes: a song may change its channel mode, and so the size of its
    /// frames' side information, from frame to frame.
    std::uint32_t word = 0;

    FrameHeader header() const { return *frameHeaderFrom(word); }
};

/// Where the MPEG audio frames of a song lie in its file and which samples they hold, read from
/// the frame headers and side information: nothing is decoded.
///
/// Samples are counted as a decoder puts them out, frame after frame from the first audio frame:
/// frame i holds samples [i × samplesPerFrame, (i + 1) × samplesPerFrame). The song's sound, as a
/// gapless player plays it, is [firstSample(), endSample()) of them.
///
/// A map holds either the whole song (scanSong()) or only the run of frames a piece needs
/// (mapSongFor()), with the frames in front of that run and behind it counted but not read. Its
/// frames are reached by the song's frame index, so that code written for a whole map cannot
/// quietly take a partial map's first frame read for the song's first frame.
class SongMap
{
public:
    /// A whole song without frames, until they are read.
    SongMap() = default;
    /// A whole song of just these \a frames, in order.
    explicit SongMap(std::vector<SongFrame> frames) : m_frames(std::move(frames)) {}

    /// The first audio frame's header: every frame of the stream has its version, layer and
    /// sample rate.
    FrameHeader reference;
    int samplesPerFrame = 0;
    /// Every audio frame has the same bit rate.
    bool constantBitRate = false;
    std::optional<EncoderFrame> encoderFrame;
    /// Bytes of the ID3v2 tag in front of everything, 0 without one.
    std::int64_t leadingTag = 0;
    /// The file holds no tag: no ID3v2 tag in front (junk there is no tag), and no ID3v1, APE or
    /// Lyrics3 tag behind the audio.
    bool untagged = false;
    /// Frame headers read to make the map.
    std::int64_t headersRead = 0;

    /// Every frame of the song was read, as scanSong() reads them. A partial map may happen to
    /// hold them all too; framesRead() == frameCount() says so.
    bool whole() const { return m_whole; }
    /// Frames of the song, read or counted. mapSongFor() stops counting where the song is known
    /// to run on past the piece's end: then it counts as many as decide everything about the piece.
    std::int64_t frameCount() const { return m_framesBefore + framesRead() + m_framesAfter; }
    /// The song's index of the first frame read, and one past its last.
    std::int64_t firstRead() const { return m_framesBefore; }
    std::int64_t endRead() const { return m_framesBefore + framesRead(); }
    std::int64_t framesRead() const { return std::int64_t(m_frames.size()); }
    /// The song's frame \a index; it must be one of those read.
    const SongFrame &frame(std::int64_t index) const { return m_frames[std::size_t(index - m_framesBefore)]; }
    /// The audio frames read, in order, from the song's frame firstRead() on. A leading ID3v2
    /// tag, the encoder's frame, junk between frames and ID3v1, APE or Lyrics3 tags behind the
    /// audio lie in none of them.
    std::span<const SongFrame> readFrames() const { return m_frames; }

    int sampleRate() const { return reference.sampleRate; }
    /// Samples a decoder drops at the start: the encoder's delay and, for layer 3, the decoder's
    /// own 529, as the LAME tag tells them. Without one decoders drop nothing, and the song's
    /// time 0 is its first decoded sample.
    std::int64_t firstSample() const;
    /// One past the song's last sample: the end of the last frame less the encoder's padding.
    std::int64_t endSample() const;
    /// Seconds of sound from firstSample() to endSample().
    double duration() const;
    /// The sample the song's time \a seconds falls on, counted as frames hold them.
    std::int64_t sampleAt(double seconds) const;
    /// Bytes from the first frame read to the end of the last, junk between them included: all
    /// the song's audio from scanSong().
    std::int64_t audioBytes() const;

private:
    friend struct SongMapReader;

    std::vector<SongFrame> m_frames;
    std::int64_t m_framesBefore = 0;
    std::int64_t m_framesAfter = 0;
    bool m_whole = true;
};

/// The decoder's own delay of a layer 3 stream, in samples: gapless players drop it together
/// with the encoder's delay.
constexpr int decoderDelay = 529;

/// Bytes taken by the ID3v2 tag that \a head (its first \a size bytes) starts with, header and
/// footer included; 0 when there is no well-formed tag header.
std::int64_t id3v2TagSize(const std::uint8_t *head, std::size_t size);

/// Where a song's ID3v2 tags in front end and its first MPEG frame (the encoder's frame, where it
/// has one) begins: whatever lies between is junk.
struct AudioStart
{
    std::int64_t tagsEnd = 0;
    std::int64_t firstFrame = 0;
};

/// Where the song at \a path has its tags in front and its first frame; empty where it holds no
/// run of MPEG audio frames. Reads no further than its first frames.
std::optional<AudioStart> findAudioStart(const std::filesystem::path &path);

/// Reads the map of the MPEG audio file at \a path, every frame of it; empty when it is no
/// ordinary file, cannot be read or holds no run of MPEG audio frames.
std::optional<SongMap> scanSong(const std::filesystem::path &path);

/// Reads as much of the map of the file at \a path as a piece from \a startSeconds to
/// \a endSeconds needs: the same frames, count and bit-rate mode that scanSong() finds, so that
/// placePiece() and everything made from its placement come out the same. Where the song keeps
/// one bit rate, its frames lie where their length says, which the headers around the piece and
/// at the song's end confirm; anywhere else, and in any song whose bit rate varies, the frames
/// are walked as far as the piece's end (to the song's end while they all keep one bit rate).
std::optional<SongMap> mapSongFor(const std::filesystem::path &path, double startSeconds, double endSeconds);
