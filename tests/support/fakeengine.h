#pragma once

#include "platform/playerengine.h"

#include <QString>
#include <QStringList>

#include <optional>

/// An engine the test drives: loads open when and as the test says, and the position moves
/// only when the test moves it. It signals what the real engine signals, in the same order.
class FakeEngine : public PlayerEngine
{
    Q_OBJECT
public:
    explicit FakeEngine(QObject *parent = nullptr);

    void load(const QString &path) override;
    std::optional<double> duration() const override;
    std::optional<double> position() const override;
    void play() override;
    void pause() override;
    void stop() override;
    void seek(double seconds) override;
    void setLooping(bool on) override { m_looping = on; }
    bool looping() const override { return m_looping; }

    /// How the next load goes: opened after loadDelayMs (0: at once, inside load()), with
    /// duration nextDuration; std::nullopt: the load fails (state Failed).
    int loadDelayMs = 0;
    std::optional<double> nextDuration = 180.0;
    /// Moves the position as if playing had got there (emits positionChanged).
    void moveTo(double seconds);
    /// Plays to the end: positionChanged(duration), stateChanged(Ended); while looping, on into
    /// the start: positionChanged(0), still playing.
    void reachEnd();
    QStringList loads;   ///< every path given to load(), in order, "" included
    int pauses = 0;      ///< calls of pause()
    int stops = 0;       ///< calls of stop()

private:
    void open(int load, std::optional<double> length);
    void reportPosition(double seconds);
    bool isOpen() const;

    bool m_playWhenOpen = true;
    bool m_looping = false;
    int m_loads = 0;
    std::optional<double> m_duration;
    double m_position = 0;
    /// The position signalled last; negative when none since the load.
    double m_reported = -1;
};
