// Figures for the chorus proposal: how long the analysis of a song takes on one core, and how
// much of it goes to finding the beats. Prints figures only.

#include "engine/beats.h"
#include "engine/chorus.h"
#include "structuredsong.h"

#include <cstdio>
#include <ctime>

namespace {

/// The processor time of this thread, in ms: the machine is shared, and the clock on the wall
/// counts the others' work too.
double threadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double millisecondsOf(const auto &work)
{
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double start = threadMilliseconds();
        work();
        best = std::min(best, threadMilliseconds() - start);
    }
    return best;
}

} // namespace

int main()
{
    using Part = StructuredSong::Part;
    for (const double minutes : {5.0, 10.0}) {
        SongPlan plan;
        plan.bpm = 120;
        // Sections of 16 bars, 32 s each at 120 beats a minute.
        const int sections = int(minutes * 60 / 32);
        const Part cycle[] = {Part::Verse, Part::Chorus, Part::Verse, Part::Chorus, Part::Bridge, Part::Chorus};
        for (int i = 0; i < sections; ++i)
            plan.parts.emplace_back(cycle[i % 6], 16);
        const StructuredSong song = makeSong(plan, 11025);
        std::optional<ChorusProposal> proposal;
        const double beats = millisecondsOf([&] { (void)trackBeats(onsetEnvelope(song.samples, song.sampleRate)); });
        const double whole = millisecondsOf([&] { proposal = proposeChorus(song.samples, song.sampleRate); });
        std::printf("%.1f min at 11025 Hz: proposal %.1f ms on one core (beats %.1f ms)", double(song.samples.size()) / 11025 / 60,
                    whole, beats);
        if (proposal)
            std::printf(", %.2f-%.2f s at %.1f BPM\n", proposal->startSeconds, proposal->endSeconds, proposal->bpm);
        else
            std::printf(", none\n");
    }
    return 0;
}
