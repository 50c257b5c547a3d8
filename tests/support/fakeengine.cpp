#include "fakeengine.h"

#include <QTimer>

#include <algorithm>

FakeEngine::FakeEngine(QObject *parent)
    : PlayerEngine(parent)
{
}

void FakeEngine::load(const QString &path)
{
    loads.append(path);
    ++m_loads;
    m_playWhenOpen = true;
    m_duration.reset();
    m_position = 0;
    m_reported = -1;
    if (path.isEmpty()) {
        const bool hadSource = !m_source.isEmpty();
        m_source.clear();
        setState(State::NoMedia);
        if (hadSource)
            emit sourceChanged(m_source);
        return;
    }
    m_source = path;
    emit sourceChanged(m_source);
    setState(State::Loading);
    if (loadDelayMs <= 0)
        open(m_loads, nextDuration);
    else
        QTimer::singleShot(loadDelayMs, this, [this, load = m_loads, length = nextDuration] { open(load, length); });
}

void FakeEngine::open(int load, std::optional<double> length)
{
    if (load != m_loads || m_state != State::Loading)
        return;
    if (!length) {
        setState(State::Failed);
        return;
    }
    m_duration = length;
    emit durationChanged(*m_duration);
    setState(State::Ready);
    if (m_playWhenOpen)
        play();
}

bool FakeEngine::isOpen() const
{
    return m_state == State::Ready || m_state == State::Playing || m_state == State::Paused
           || m_state == State::Ended;
}

std::optional<double> FakeEngine::duration() const
{
    return m_duration;
}

std::optional<double> FakeEngine::position() const
{
    return isOpen() ? std::optional(m_position) : std::nullopt;
}

void FakeEngine::play()
{
    if (m_state == State::Loading) {
        m_playWhenOpen = true;
        return;
    }
    if (!isOpen() || m_state == State::Playing)
        return;
    const bool over = m_state == State::Ended;
    setState(State::Playing);
    if (over)
        reportPosition(0);
}

void FakeEngine::pause()
{
    ++pauses;
    if (m_state == State::Loading)
        m_playWhenOpen = false;
    else if (m_state == State::Playing)
        setState(State::Paused);
}

void FakeEngine::stop()
{
    ++stops;
    if (m_state == State::Loading) {
        m_playWhenOpen = false;
        return;
    }
    if (!isOpen())
        return;
    setState(State::Ready);
    reportPosition(0);
}

void FakeEngine::seek(double seconds)
{
    if (!isOpen())
        return;
    if (m_state == State::Ended)
        setState(State::Ready);
    reportPosition(seconds);
}

void FakeEngine::moveTo(double seconds)
{
    if (isOpen())
        reportPosition(seconds);
}

void FakeEngine::reachEnd()
{
    if (!isOpen())
        return;
    reportPosition(*m_duration);
    setState(State::Ended);
}

void FakeEngine::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void FakeEngine::reportPosition(double seconds)
{
    m_position = std::clamp(seconds, 0.0, m_duration.value_or(0.0));
    if (m_position == m_reported)
        return;
    m_reported = m_position;
    emit positionChanged(m_position);
}
