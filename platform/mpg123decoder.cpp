#include "platform/mpg123decoder.h"

#include "platform/mpg123setup.h"

#include <QFile>

#include <mpg123.h>

#include <algorithm>

Mpg123Decoder::Mpg123Decoder() = default;

Mpg123Decoder::~Mpg123Decoder()
{
    if (m_handle)
        mpg123_delete(m_handle);
}

std::optional<AudioDecoder::Format> Mpg123Decoder::open(const QString &path)
{
    m_ended = true;
    m_failed = false;
    m_foreign = false;
    if (!m_handle && mpg123Ready())
        m_handle = mpg123_new(nullptr, nullptr);
    if (!m_handle)
        return std::nullopt;
    // Gapless, so that time 0 is where a gapless player's is and the marks' times are; quiet,
    // since a damaged frame is the file's business, not the terminal's.
    mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    decodeToFloats(m_handle);

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
