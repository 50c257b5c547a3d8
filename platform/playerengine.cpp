#include "platform/playerengine.h"

bool PlayerEngine::takeSource(const QString &path)
{
    if (path.isEmpty()) {
        const bool hadSource = !m_source.isEmpty();
        m_source.clear();
        setState(State::NoMedia);
        if (hadSource)
            emit sourceChanged(m_source);
        return false;
    }
    m_source = path;
    emit sourceChanged(m_source);
    setState(State::Loading);
    return true;
}

void PlayerEngine::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}
