#include "platform/mpg123decoder.h"

#include "platform/mpg123setup.h"

#include <QFile>

#include <mpg123.h>

#include <algorithm>
#include <cstring>

Mpg123Decoder::Mpg123Decoder() = default;

Mpg123Decoder::~Mpg123Decoder()
{
    if (m_handle)
        mpg123_delete(m_handle);
}

bool Mpg123Decoder::prepare(bool gapless)
{
    m_ended = true;
    m_failed = false;
    m_foreign = false;
    m_framesOnly = false;
    m_frames.clear();
    m_decoded.clear();
    m_file.close();
    if (m_handle)
        mpg123_close(m_handle);
    else if (mpg123Ready())
        m_handle = mpg123_new(nullptr, nullptr);
    if (!m_handle)
        return false;
    // Quiet, since a damaged frame is the file's business, not the terminal's.
    mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_param(m_handle, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    decodeToFloats(m_handle);
    return true;
}

std::optional<AudioDecoder::Format> Mpg123Decoder::open(const QString &path)
{
    // Gapless, so that time 0 is where a gapless player's is and the marks' times are.
    if (!prepare(true))
        return std::nullopt;
    if (mpg123_open(m_handle, QFile::encodeName(path).constData()) != MPG123_OK)
        return std::nullopt;
    int encoding = 0;
    if (mpg123_getformat(m_handle, &m_rate, &m_channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_FLOAT_32
        || m_rate <= 0 || m_channels < 1) {
        mpg123_close(m_handle);
        return std::nullopt;
    }
    // Past damage of any length, as far as the end of the file: a player plays on to the sound
    // after it, and the picture must show that sound. Set only once the file has given its
    // format: the limit also bounds the search for the first frame, and a file that is no song
    // should still be refused after the usual search, not read to its end.
    mpg123_param(m_handle, MPG123_RESYNC_LIMIT, -1, 0.0);
    Format format{int(m_rate), m_channels, std::nullopt};
    if (const off_t frames = mpg123_length(m_handle); frames >= 0)
        format.frames = frames;
    m_ended = false;
    return format;
}

qsizetype Mpg123Decoder::read(std::span<float> samples)
{
    if (m_framesOnly)
        return readFrames(samples);
    // Whole frames only, so that every call ends on a frame's last channel.
    const size_t frameSamples = size_t(std::max(m_channels, 1));
    const size_t bytes = samples.size() / frameSamples * frameSamples * sizeof(float);
    while (!m_ended && bytes > 0) {
        size_t done = 0;
        const int status = mpg123_read(m_handle, samples.data(), bytes, &done);
        // What comes with the news of a new format is still in the one before it.
        const bool foreignSamples = m_foreign;
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            // Amid a song, a frame of another rate or channel count is nearly always damage that
            // happens to look like a header. The song's frame map steps over frames of another
            // stream as over damage, and so does the decode: they take no time.
            m_foreign = rate != m_rate || channels != m_channels;
        } else if (status == MPG123_DONE) {
            m_ended = true;
        } else if (status != MPG123_OK) {
            m_ended = true;
            m_failed = true;
        }
        if (done > 0 && !foreignSamples)
            return qsizetype(done / sizeof(float));
    }
    return 0;
}

std::optional<AudioDecoder::Format> Mpg123Decoder::openFrames(const QString &path, std::vector<FrameBytes> frames,
                                                              int samplesPerFrame)
{
    // Not gapless: the caller knows which of the frames' samples the song plays.
    if (!prepare(false) || frames.empty() || samplesPerFrame <= 0)
        return std::nullopt;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly) || mpg123_open_feed(m_handle) != MPG123_OK)
        return std::nullopt;
    m_framesOnly = true;
    m_frames = std::move(frames);
    m_nextFrame = 0;
    m_samplesPerFrame = samplesPerFrame;
    m_block.clear();
    m_blockAt = 0;
    m_readAt = 0;
    m_framesKept = 0;
    m_rate = 0;
    m_channels = 0;
    // The format comes with the first frame that decodes.
    while (m_rate == 0 && feedNextFrame()) {
    }
    if (m_rate == 0)
        return std::nullopt;
    m_ended = false;
    return Format{int(m_rate), m_channels, qint64(m_frames.size()) * samplesPerFrame};
}

bool Mpg123Decoder::feedNextFrame()
{
    if (m_nextFrame >= m_frames.size())
        return false;
    const FrameBytes frame = m_frames[m_nextFrame++];
    if (frame.offset < m_blockAt || frame.offset + frame.length > m_blockAt + m_block.size()) {
        constexpr qint64 block = 1 << 20;
        m_blockAt = frame.offset;
        if (!m_file.seek(frame.offset))
            m_block.clear();
        else
            m_block = m_file.read(std::max<qint64>(block, frame.length));
    }
    const qint64 at = frame.offset - m_blockAt;
    if (frame.length <= 0 || at + frame.length > m_block.size()) {
        // The file is shorter than it was when its frames were found: it changed under us.
        m_failed = true;
        m_nextFrame = m_frames.size();
        return false;
    }
    mpg123_feed(m_handle, reinterpret_cast<const unsigned char *>(m_block.constData() + at), size_t(frame.length));
    for (;;) {
        off_t number = 0;
        unsigned char *audio = nullptr;
        size_t bytes = 0;
        const int status = mpg123_decode_frame(m_handle, &number, &audio, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            if (m_rate == 0 && rate > 0 && channels > 0 && encoding == MPG123_ENC_FLOAT_32) {
                m_rate = rate;
                m_channels = channels;
            }
            m_foreign = rate != m_rate || channels != m_channels;
            continue;
        }
        if (status != MPG123_OK)
            break;
        if (m_rate > 0)
            keepFrame(number, audio, bytes);
    }
    return true;
}

void Mpg123Decoder::keepFrame(qint64 number, const unsigned char *audio, size_t bytes)
{
    const size_t frameSamples = size_t(m_samplesPerFrame) * size_t(m_channels);
    // A frame the decoder stepped over keeps its time, silent, as in the song's frame map.
    while (m_framesKept < number && m_framesKept < qint64(m_frames.size())) {
        m_decoded.insert(m_decoded.end(), frameSamples, 0.0f);
        ++m_framesKept;
    }
    if (number < m_framesKept || m_framesKept >= qint64(m_frames.size()))
        return;
    if (m_foreign || bytes != frameSamples * sizeof(float)) {
        m_decoded.insert(m_decoded.end(), frameSamples, 0.0f);
    } else {
        const size_t at = m_decoded.size();
        m_decoded.resize(at + frameSamples);
        std::memcpy(m_decoded.data() + at, audio, bytes);
    }
    ++m_framesKept;
}

qsizetype Mpg123Decoder::readFrames(std::span<float> samples)
{
    while (m_readAt == m_decoded.size() && !m_ended) {
        m_decoded.clear();
        m_readAt = 0;
        if (!feedNextFrame()) {
            // What the decoder still holds back, or never gave, is silence in its time.
            keepFrame(qint64(m_frames.size()) - 1, nullptr, 0);
            m_ended = true;
        }
    }
    const size_t frameSamples = size_t(std::max(m_channels, 1));
    const size_t n = std::min(m_decoded.size() - m_readAt, samples.size() / frameSamples * frameSamples);
    std::copy_n(m_decoded.begin() + qsizetype(m_readAt), n, samples.begin());
    m_readAt += n;
    return qsizetype(n);
}
