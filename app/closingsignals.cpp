#include "app/closingsignals.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int closingSignals[] = {SIGINT, SIGTERM, SIGHUP};

/// Where the handler writes the signal's number: the event loop reads it from the other end.
int signalPipe = -1;
/// What the signals did before, to do again once the windows no longer close on them.
struct sigaction before[std::size(closingSignals)];

void passOn(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a signal to act on.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe, &number, 1);
    errno = saved;
}

} // namespace

ClosingSignals::ClosingSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalPipe = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ClosingSignals::closeWindows);

    struct sigaction action = {};
    action.sa_handler = &passOn;
    action.sa_flags = SA_RESTART;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(closingSignals); ++i) {
        if (::sigaction(closingSignals[i], nullptr, &before[i]) == 0 && before[i].sa_handler != SIG_IGN)
            ::sigaction(closingSignals[i], &action, nullptr);
    }
}

ClosingSignals::~ClosingSignals()
{
    if (m_pipe[0] < 0)
        return;
    restoreSignals();
    signalPipe = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void ClosingSignals::closeWindows()
{
    unsigned char number = 0;
    if (::read(m_pipe[0], &number, 1) != 1 || m_received != 0)
        return;
    m_received = number;
    // A program that does not close when asked, whatever holds it up, ends at the next signal.
    restoreSignals();
    // As though the person closed them: the main window abandons its cut. A dialog it had open
    // closes too, and quit() ends the loops of any still running.
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

void ClosingSignals::restoreSignals()
{
    for (std::size_t i = 0; i < std::size(closingSignals); ++i)
        ::sigaction(closingSignals[i], &before[i], nullptr);
}
