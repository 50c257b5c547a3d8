#include "fakes.h"

void FakePlayer::setUrl(const QString &path)
{
    m_url = path;
    urlsSet.append(path);
    playing = !path.isEmpty();
}

bool FakeDialog::answer()
{
    ++shown;
    if (whileOpen)
        whileOpen();
    const auto next = answers.isEmpty() ? std::nullopt : answers.dequeue();
    if (next)
        m_fileName = *next;
    return next.has_value() || !cancelError;
}
