// The chorus proposed off the window's thread: what is told, and for which song.

#include "core/chorusfinder.h"
#include "structuredsong.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <numbers>

namespace {

using Part = StructuredSong::Part;

std::shared_ptr<const std::vector<float>> songSound(StructuredSong &song)
{
    return std::make_shared<const std::vector<float>>(std::move(song.samples));
}

std::shared_ptr<const std::vector<float>> steadyTone()
{
    auto tone = std::make_shared<std::vector<float>>(std::size_t(90 * 11025));
    for (std::size_t i = 0; i < tone->size(); ++i)
        (*tone)[i] = float(0.5 * std::sin(2 * std::numbers::pi * 440 * double(i) / 11025));
    return tone;
}

StructuredSong aSong()
{
    SongPlan plan;
    plan.bpm = 120;
    plan.parts = {{Part::Intro, 4}, {Part::Verse, 16}, {Part::Chorus, 16}, {Part::Verse, 16},
                  {Part::Chorus, 16}, {Part::Bridge, 8}, {Part::Chorus, 16}, {Part::Outro, 4}};
    return makeSong(plan, 11025);
}

} // namespace

class TestChorusFinder : public QObject
{
    Q_OBJECT
private slots:
    void tellsTheChorus()
    {
        StructuredSong song = aSong();
        ChorusFinder finder;
        QSignalSpy found(&finder, &ChorusFinder::found);
        finder.find(songSound(song), song.sampleRate);
        QVERIFY(found.wait(30000));
        const auto proposal = found.at(0).at(0).value<std::optional<ChorusProposal>>();
        QVERIFY(proposal);
        const auto choruses = song.all(Part::Chorus);
        QVERIFY(std::any_of(choruses.begin(), choruses.end(), [&](const StructuredSong::Section &chorus) {
            return std::abs(chorus.startSeconds - proposal->startSeconds) < 0.05;
        }));
    }

    // A song asked for before another, or dropped, is never told: the window shows the last
    // song's proposal, or none, never an earlier song's.
    void tellsOnlyTheLastSong()
    {
        StructuredSong song = aSong();
        const auto sound = songSound(song);
        ChorusFinder finder;
        QSignalSpy found(&finder, &ChorusFinder::found);
        finder.find(sound, song.sampleRate);
        finder.find(steadyTone(), 11025);
        QVERIFY(found.wait(30000));
        QVERIFY(!found.at(0).at(0).value<std::optional<ChorusProposal>>());

        finder.find(sound, song.sampleRate);
        finder.cancel();
        finder.find(steadyTone(), 11025);
        QVERIFY(found.wait(30000));
        QVERIFY(!found.at(1).at(0).value<std::optional<ChorusProposal>>());
        // Whatever of the dropped songs was still under way has ended by now, and said nothing.
        QTest::qWait(200);
        QCOMPARE(found.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestChorusFinder)
#include "tst_chorusfinder.moc"
