#include "platform/lazyplayerengine.h"

LazyPlayerEngine::LazyPlayerEngine(Make make, QObject *parent)
    : PlayerEngine(parent)
    , m_make(std::move(make))
{
}

PlayerEngine *LazyPlayerEngine::real()
{
    if (m_made)
        return m_real;
    m_made = true;
    m_real = m_make(this);
    if (!m_real)
        return nullptr;
    m_real->setLooping(m_looping);
    // Taking each piece of the real engine's news through the calls it made itself keeps the
    // order it gave them in: a source it takes signals Loading here at once, and its own Loading
    // that follows is then no change.
    connect(m_real, &PlayerEngine::sourceChanged, this, [this](const QString &path) { takeSource(path); });
    connect(m_real, &PlayerEngine::stateChanged, this, &LazyPlayerEngine::setState);
    connect(m_real, &PlayerEngine::durationChanged, this, &PlayerEngine::durationChanged);
    connect(m_real, &PlayerEngine::positionChanged, this, &PlayerEngine::positionChanged);
    return m_real;
}

void LazyPlayerEngine::load(const QString &path)
{
    if (path.isEmpty() && !m_real) {
        takeSource(path);
        return;
    }
    if (PlayerEngine *engine = real()) {
        engine->load(path);
        return;
    }
    if (takeSource(path))
        setState(State::Failed);
}

std::optional<double> LazyPlayerEngine::duration() const
{
    return m_real ? m_real->duration() : std::nullopt;
}

std::optional<double> LazyPlayerEngine::position() const
{
    return m_real ? m_real->position() : std::nullopt;
}

void LazyPlayerEngine::play()
{
    if (m_real)
        m_real->play();
}

void LazyPlayerEngine::pause()
{
    if (m_real)
        m_real->pause();
}

void LazyPlayerEngine::stop()
{
    if (m_real)
        m_real->stop();
}

void LazyPlayerEngine::seek(double seconds)
{
    if (m_real)
        m_real->seek(seconds);
}

void LazyPlayerEngine::setLooping(bool on)
{
    m_looping = on;
    if (m_real)
        m_real->setLooping(on);
}
