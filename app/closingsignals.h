#pragma once

#include <QObject>

class QSocketNotifier;

/// Takes the signals that end a program from outside (Ctrl+C's SIGINT, a kill's SIGTERM, a closed
/// terminal's SIGHUP) as a close of every window, through the event loop: a cut that is writing is
/// abandoned and what it wrote removed, and the application quits. A second such signal finds the
/// handlers there were before. A signal ignored from the start (nohup) stays ignored.
///
/// One at a time in a process: it holds the handlers of those signals while it lives.
class ClosingSignals : public QObject
{
    Q_OBJECT
public:
    explicit ClosingSignals(QObject *parent = nullptr);
    ~ClosingSignals() override;

    /// The signal that closed the windows; 0 while none has come.
    int received() const { return m_received; }

private:
    void closeWindows();
    void restoreSignals();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
