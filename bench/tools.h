#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>

/// Runs \a program with \a args, its output thrown away and its errors shown; true when it ran
/// and exited with 0.
inline bool runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(600'000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

/// Writes \a frames over and over to \a path until it holds \a size bytes: the last copy is cut
/// short, and its torn last frame is junk behind the song, as in many files.
inline bool repeatToSize(const QByteArray &frames, const QString &path, qint64 size)
{
    QFile out(path);
    if (frames.isEmpty() || !out.open(QIODevice::WriteOnly))
        return false;
    while (out.size() < size) {
        const QByteArray part = frames.left(size - out.size());
        if (out.write(part) != part.size())
            return false;
    }
    return out.flush();
}

/// Measures how long the event loop goes without a turn: from its making on, a 1 ms timer stamps
/// every turn the loop gets, and so may any handler through turn().
class EventGaps
{
public:
    explicit EventGaps(double limitMs)
        : m_limitMs(limitMs)
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, &m_ticker, [this] { turn(); });
        m_clock.start();
        m_ticker.start();
    }

    void turn()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double gap = double(now - m_lastTurn) / 1e6;
        m_lastTurn = now;
        m_longestMs = std::max(m_longestMs, gap);
        if (gap > m_limitMs)
            ++m_overLimit;
    }
    /// Milliseconds since the making.
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    double longestMs() const { return m_longestMs; }
    /// Gaps longer than the limit.
    int overLimit() const { return m_overLimit; }

private:
    double m_limitMs;
    QElapsedTimer m_clock;
    qint64 m_lastTurn = 0;
    double m_longestMs = 0;
    int m_overLimit = 0;
    QTimer m_ticker;
};
