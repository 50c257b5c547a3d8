#include "platform/songwave.h"

#include "engine/songmap.h"
#include "platform/mpg123setup.h"

#include <QFile>
#include <QtEndian>

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>

namespace {

/// Sample frames decoded at a time: about a tenth of a second, a few hundred microseconds of work.
constexpr qint64 blockFrames = 4096;
constexpr int bytesPerSample = int(sizeof(float));
constexpr int headerSize = 44;

void put16(std::vector<char> &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.insert(out.end(), bytes, bytes + 2);
}

void put32(std::vector<char> &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.insert(out.end(), bytes, bytes + 4);
}

void putTag(std::vector<char> &out, const char (&tag)[5])
{
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

SongWave::Opened::~Opened()
{
    if (handle)
        mpg123_delete(handle);
}

qint64 SongWave::Opened::dataBytes() const
{
    return frames * channels * bytesPerSample;
}

std::unique_ptr<SongWave::Opened> SongWave::open(const QString &path)
{
    // The song's own map says which of the decoded samples are its sound: the player's clock is
    // then the clock marks are placed by, to the sample.
    const std::optional<SongMap> map = scanSong(std::filesystem::path(QFile::encodeName(path).toStdString()));
    if (!map || map->endSample() <= map->firstSample())
        return nullptr;
    auto song = std::make_unique<Opened>();
    if (!mpg123Ready() || !(song->handle = mpg123_new(nullptr, nullptr)))
        return nullptr;
    mpg123_handle *h = song->handle;
    // Every sample of every frame, numbered as the map numbers them; the map drops what a gapless
    // player drops. Quiet, since a damaged frame is the file's business, not the terminal's.
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // On past damage of any length, as the map does: libmpg123's own limit of 1 KiB would end the
    // sound at the first few frames lost.
    mpg123_param(h, MPG123_RESYNC_LIMIT, -1, 0.0);
    decodeToFloats(h);
    long rate = 0;
    int encoding = 0;
    if (mpg123_open(h, QFile::encodeName(path).constData()) != MPG123_OK
        || mpg123_getformat(h, &rate, &song->channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_FLOAT_32
        || rate != map->sampleRate() || song->channels < 1)
        return nullptr;
    song->rate = int(rate);
    song->first = map->firstSample();
    song->frames = map->endSample() - map->firstSample();
    song->next = -1;
    // A WAV file counts its bytes in 32 bits.
    if (song->dataBytes() > std::numeric_limits<quint32>::max() - headerSize)
        return nullptr;
    return song;
}

SongWave::SongWave(std::unique_ptr<Opened> song, QObject *parent)
    : QIODevice(parent)
    , m_song(std::move(song))
{
    // The canonical 44-byte header of IEEE float samples.
    const int frameBytes = m_song->channels * bytesPerSample;
    // open() made sure that one pass fits.
    m_passes = std::max<qint64>(1, (std::numeric_limits<quint32>::max() - headerSize) / m_song->dataBytes());
    const auto data = quint32(m_passes * m_song->dataBytes());
    putTag(m_header, "RIFF");
    put32(m_header, data + headerSize - 8);
    putTag(m_header, "WAVE");
    putTag(m_header, "fmt ");
    put32(m_header, 16);
    put16(m_header, 3);
    put16(m_header, quint16(m_song->channels));
    put32(m_header, quint32(m_song->rate));
    put32(m_header, quint32(m_song->rate * frameBytes));
    put16(m_header, quint16(frameBytes));
    put16(m_header, 8 * bytesPerSample);
    putTag(m_header, "data");
    put32(m_header, data);
    // Unbuffered: a player that seeks would only throw a read-ahead away.
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

SongWave::~SongWave() = default;

qint64 SongWave::size() const
{
    return headerSize + m_passes * m_song->dataBytes();
}

qint64 SongWave::soundMs() const
{
    return m_song->frames * 1000 / m_song->rate;
}

qint64 SongWave::soundTime(qint64 ms) const
{
    const qint64 frame = std::max<qint64>(ms, 0) * m_song->rate / 1000;
    const qint64 inPass = frame % m_song->frames;
    // Where passes meet, a file that does not loop is at the end of the one it plays.
    if (inPass == 0 && frame > 0 && !m_looping)
        return soundMs();
    return inPass * 1000 / m_song->rate;
}

qint64 SongWave::bytesAvailable() const
{
    const qint64 left = QIODevice::bytesAvailable();
    return m_readsBeforeSeek > 0 ? std::min<qint64>(left, qint64(m_song->channels) * bytesPerSample) : left;
}

bool SongWave::seek(qint64 pos)
{
    m_readsBeforeSeek = 0;
    return QIODevice::seek(pos);
}

void SongWave::seekComing()
{
    m_readsBeforeSeek = 4;
}

qint64 SongWave::writeData(const char *, qint64)
{
    return -1;
}

void SongWave::decodeFrom(qint64 from)
{
    Opened &song = *m_song;
    if (from != song.next) {
        // libmpg123 walks the frame headers to the frame, so the seek lands on its sample.
        const off_t landed = mpg123_seek(song.handle, off_t(song.first + from), SEEK_SET);
        song.ended = landed < 0;
        song.next = qint64(landed) - song.first;
    }
    const qint64 count = std::min(blockFrames, song.frames - from);
    m_block.assign(std::size_t(count * song.channels), 0.0f);
    m_blockFirst = from;
    // Where the decoder stands elsewhere than asked (it gave up, or landed short), the block
    // stays silent: the length the player was told holds whatever the frames do.
    if (song.ended || song.next != from)
        return;
    auto *out = reinterpret_cast<unsigned char *>(m_block.data());
    const std::size_t want = m_block.size() * sizeof(float);
    std::size_t have = 0;
    while (have < want && !song.ended) {
        std::size_t done = 0;
        const int status = mpg123_read(song.handle, out + have, want - have, &done);
        have += done;
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(song.handle, &rate, &channels, &encoding);
            // Another rate or channel count part-way: the rest would be read as the wrong sound.
            song.ended = rate != song.rate || channels != song.channels;
        } else if (status != MPG123_OK) {
            song.ended = true;
        }
    }
    song.next = from + qint64(have / (sizeof(float) * std::size_t(song.channels)));
}

qint64 SongWave::readData(char *data, qint64 maxSize)
{
    if (m_readsBeforeSeek > 0)
        --m_readsBeforeSeek;
    const qint64 from = pos();
    const qint64 passBytes = m_song->dataBytes();
    qint64 to = std::min(size(), from + maxSize);
    if (!m_looping) {
        // The pass being played ends the file: the one a read at its very end comes from, too.
        const qint64 into = std::max<qint64>(from - headerSize, 0);
        const qint64 passes = std::max<qint64>(1, (into + passBytes - 1) / passBytes);
        to = std::min(to, headerSize + passes * passBytes);
    }
    const qint64 frameBytes = qint64(m_song->channels) * bytesPerSample;
    qint64 at = from;
    if (at < headerSize && at < to) {
        const qint64 n = std::min<qint64>(headerSize, to) - at;
        std::memcpy(data, m_header.data() + at, std::size_t(n));
        at += n;
    }
    while (at < to) {
        const qint64 inPass = (at - headerSize) % passBytes;
        const qint64 frame = inPass / frameBytes;
        const qint64 held = qint64(m_block.size()) / m_song->channels;
        if (frame < m_blockFirst || frame >= m_blockFirst + held)
            decodeFrom(frame);
        // A block never reaches past the sound's end, so a pass's end is a block's end.
        const qint64 offset = inPass - m_blockFirst * frameBytes;
        const qint64 n = std::min(to - at, qint64(m_block.size() * sizeof(float)) - offset);
        std::memcpy(data + (at - from), reinterpret_cast<const char *>(m_block.data()) + offset, std::size_t(n));
        at += n;
    }
    return at - from;
}
