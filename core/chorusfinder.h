#pragma once

#include "core/latestwork.h"
#include "engine/chorus.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

/// Proposes a song's chorus (proposeChorus()) on a worker thread, from the sound its waveform's
/// decode hands over, so that the window goes on meanwhile. Only the song asked for last is
/// told: one asked for before it, or before cancel(), is dropped. Destroyed while it works, it
/// tells nothing; the work ends on its own and touches nothing of it.
class ChorusFinder : public QObject
{
    Q_OBJECT
public:
    explicit ChorusFinder(QObject *parent = nullptr);

    /// Looks for the chorus of the song whose sound is \a mono at \a sampleRate; found() tells.
    void find(std::shared_ptr<const std::vector<float>> mono, int sampleRate);
    /// Drops the song asked for last: nothing more is told.
    void cancel();

signals:
    /// The stretch proposed, or none where the song has none.
    void found(std::optional<ChorusProposal> proposal);

private:
    LatestWork m_work;
};
