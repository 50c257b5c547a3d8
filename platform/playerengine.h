#pragma once

#include <QObject>
#include <QString>

#include <optional>

/// Plays one audio file at a time, without any widget. Every change is a signal, emitted in the
/// same order by every engine, so a view or a session follows it without polling:
///
/// - load(path): sourceChanged(path), stateChanged(Loading); once the file is open
///   durationChanged(d), stateChanged(Ready), then stateChanged(Playing) as it starts by itself;
///   or stateChanged(Failed) when it cannot be played. An MP3 file without a header telling its
///   length tells it only once it plays: then durationChanged(d) comes after Ready and Playing,
///   and may come again as the length is found better.
/// - load(""): stateChanged(NoMedia), sourceChanged(""); the file is released at once.
/// - while playing, positionChanged(seconds) as the position moves; at the end of the file
///   positionChanged(length), stateChanged(Ended).
/// - play(), pause(), stop(): stateChanged(Playing / Paused / Ready); stop() also
///   positionChanged(0), play() after Ended too as it starts over. seek():
///   positionChanged(seconds), after stateChanged(Ready) when the file had ended.
/// - while looping, the end of the file is followed at once by its start: the position goes back
///   to 0 and on, and Ended never comes.
/// - while Loading, play(), pause() and stop() signal nothing: they only decide whether the
///   file starts once open.
///
/// A state is never signalled twice in a row, nor a position that has not moved.
class PlayerEngine : public QObject
{
    Q_OBJECT
public:
    enum class State { NoMedia, Loading, Ready, Playing, Paused, Ended, Failed };
    Q_ENUM(State)

    using QObject::QObject;

    /// Loads the file at \a path and plays it as soon as it is open, also when it is the path
    /// loaded last (it is then read afresh). The empty path stops, unloads and releases the file.
    virtual void load(const QString &path) = 0;
    /// The path loaded last; empty when none is.
    QString source() const { return m_source; }
    State state() const { return m_state; }
    /// Seconds; empty until the length is known (from durationChanged() on), and in NoMedia
    /// and Failed.
    virtual std::optional<double> duration() const = 0;
    /// Seconds; empty in NoMedia, Loading and Failed.
    virtual std::optional<double> position() const = 0;

    /// Plays from the position; a file still loading plays once it is open.
    virtual void play() = 0;
    /// Stops where it is; the media stays loaded. A file still loading will not start by itself.
    virtual void pause() = 0;
    /// Stops and goes back to the start; the media stays loaded.
    virtual void stop() = 0;
    /// Moves to \a seconds, kept within the duration; ignored while the duration is unknown.
    virtual void seek(double seconds) = 0;
    /// Plays the media again and again with no gap, its last sample followed by its first, as a
    /// phone repeats a ringtone; or once, to its end. It holds for every file loaded after too.
    /// Turned off while playing, the file plays on to its end.
    virtual void setLooping(bool on) = 0;
    virtual bool looping() const = 0;

protected:
    /// Takes \a path as the source, with the signals every engine gives in this order: for a path
    /// sourceChanged, then stateChanged(Loading); for the empty path stateChanged(NoMedia), then
    /// sourceChanged when there was a source. True for a path, which the engine then opens.
    bool takeSource(const QString &path);
    /// Signals \a state unless it is the state already.
    void setState(State state);

signals:
    void sourceChanged(const QString &path);
    void stateChanged(PlayerEngine::State state);
    void durationChanged(double seconds);
    void positionChanged(double seconds);

private:
    QString m_source;
    State m_state = State::NoMedia;
};
