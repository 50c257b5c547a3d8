#pragma once

#include "platform/playerengine.h"

#include <functional>

/// An engine that makes the real one only when the first file is loaded, so that what the real
/// one needs (Qt Multimedia and the libraries under it) is not loaded while the window first
/// shows. It signals what the real one signals, in the same order; until then it has no media.
class LazyPlayerEngine : public PlayerEngine
{
    Q_OBJECT
public:
    /// Makes the real engine as a child of the given object; null when it cannot be made, and
    /// every file loaded then fails.
    using Make = std::function<PlayerEngine *(QObject *parent)>;

    explicit LazyPlayerEngine(Make make, QObject *parent = nullptr);

    void load(const QString &path) override;
    std::optional<double> duration() const override;
    std::optional<double> position() const override;
    void play() override;
    void pause() override;
    void stop() override;
    void seek(double seconds) override;
    void setLooping(bool on) override;
    bool looping() const override { return m_looping; }

private:
    /// The real engine, made on the first call; null when it cannot be made.
    PlayerEngine *real();

    Make m_make;
    PlayerEngine *m_real = nullptr;
    bool m_made = false;
    /// Kept for the real engine, which may not be made yet.
    bool m_looping = false;
};
