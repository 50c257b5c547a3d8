#pragma once

#include <QIODevice>
#include <QString>

#include <memory>
#include <vector>

struct mpg123_handle_struct;

/// A song's sound as its map places it (time 0 on the map's first sample, its end on the map's
/// end), decoded by libmpg123 and read as a WAV file of 32-bit float samples. A player that seeks
/// in it lands on the very sample its clock names, the one a mark at that time cuts at: in the
/// MP3 itself GStreamer seeks by an estimate of bytes, which a damaged song or a VBR song's
/// uneven rate throws off by seconds, and its clock then goes on from the time asked for rather
/// than from what it plays. The samples are decoded as the player reads them.
///
/// The WAV file holds the sound over and over, as many times as a WAV file has room for, so that
/// a player reading on past the sound's end hears its first sample right after its last, with no
/// gap: looping by seeking back to the start flushes the player, which is heard. Unless it loops,
/// the file ends after the pass being read; times in the file are the player's, and soundTime()
/// tells them within the sound.
class SongWave final : public QIODevice
{
    Q_OBJECT
public:
    /// A song mapped and opened by libmpg123.
    class Opened
    {
    public:
        Opened() = default;
        ~Opened();
        Opened(const Opened &) = delete;
        Opened &operator=(const Opened &) = delete;

        mpg123_handle_struct *handle = nullptr;
        int rate = 0;
        int channels = 0;
        /// The decoded sample frame at time 0.
        qint64 first = 0;
        /// Sample frames of the whole sound.
        qint64 frames = 0;
        /// The sample frame the decoder reads next, counted from time 0.
        qint64 next = 0;
        /// The decoder cannot go on from next: up to the next seek, the sound is silence.
        bool ended = false;

        qint64 dataBytes() const;
    };

    /// Maps the song at \a path and opens it: reading every frame header takes long for a long
    /// song, so it belongs on a worker thread. Empty when it holds no MPEG audio, or its sound is
    /// too long for a WAV file.
    static std::unique_ptr<Opened> open(const QString &path);

    /// Reads \a song; it is open for reading at once.
    explicit SongWave(std::unique_ptr<Opened> song, QObject *parent = nullptr);
    ~SongWave() override;

    bool isSequential() const override { return false; }
    qint64 size() const override;
    qint64 bytesAvailable() const override;
    bool seek(qint64 pos) override;

    /// The player is about to seek. Qt 6.4's GStreamer player may still read once more where it
    /// was before its seek reaches this device, and then plays what it read there first, at the
    /// time sought: a buffer of 40 ms. Until the seek arrives, a read gets one sample frame.
    void seekComing();

    /// Whether reading goes on past the end of the sound into its next pass; changed at any time,
    /// it holds from the next read on.
    void setLooping(bool on) { m_looping = on; }
    /// Milliseconds of one pass of the sound.
    qint64 soundMs() const;
    /// The time \a ms of the file, in milliseconds, as the time within the pass it falls in.
    qint64 soundTime(qint64 ms) const;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    /// Decodes from the sound's sample frame \a from on into m_block.
    void decodeFrom(qint64 from);

    std::unique_ptr<Opened> m_song;
    /// The RIFF header in front of the samples.
    std::vector<char> m_header;
    /// Decoded sample frames from m_blockFirst on, interleaved.
    std::vector<float> m_block;
    qint64 m_blockFirst = 0;
    /// Passes of the sound the file holds.
    qint64 m_passes = 1;
    bool m_looping = false;
    /// Reads that may come from before a seek; a few at most, in case the seek never comes.
    int m_readsBeforeSeek = 0;
};
