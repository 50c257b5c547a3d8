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
    if (!takeSource(path))
        return;
    if (loadDelayMs <= 0)
        open(m_loads, nextDuration);
    else
        QTimer::singleShot(loadDelayMs, this, [this, load = m_loads, length = nextDuration] { open(load, length); });
}

void FakeEngine::open(int load, std::optional<double> length)
{
    if (load != m_loads || state() != State::Loading)
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
    return state() == State::Ready || state() == State::Playing || state() == State::Paused
           || state() == State::Ended;
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
    if (state() == State::Loading) {
        m_playWhenOpen = true;
        return;
    }
    if (!isOpen() || state() == State::Playing)
        return;
    const bool over = state() == State::Ended;
    setState(State::Playing);
    if (over)
        reportPosition(0);
}

void FakeEngine::pause()
{
    ++pauses;
    if (state() == State::Loading)
        m_playWhenOpen = false;
    else if (state() == State::Playing)
        setState(State::Paused);
}

void FakeEngine::stop()
{
    ++stops;
    if (state() == State::Loading) {
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
    if (state() == State::Ended)
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
    if (m_looping && state() == State::Playing) {
        reportPosition(0);
        return;
    }
    reportPosition(*m_duration);
    setState(State::Ended);
}

void FakeEngine::reportPosition(double seconds)
{
    m_position = std::clamp(seconds, 0.0, m_duration.value_or(0.0));
    if (m_position == m_reported)
        return;
    m_reported = m_position;
    emit positionChanged(m_position);
}
