// The proposed stretch in the window: shown on the song's waveform once its decode is whole,
// and taken by one button as the two marks of a cut.

#include "core/waveformloader.h"
#include "gui/transportbar.h"
#include "gui/waveformview.h"
#include "harness.h"
#include "structuredsong.h"

#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestProposal : public QObject
{
    Q_OBJECT
private slots:
    void theButtonCutsTheProposedStretch()
    {
        using Part = StructuredSong::Part;
        SongPlan plan;
        plan.bpm = 126;
        plan.parts = {{Part::Intro, 4}, {Part::Verse, 16}, {Part::Chorus, 16}, {Part::Verse, 16},
                      {Part::Chorus, 16}, {Part::Bridge, 8}, {Part::Chorus, 16}, {Part::Outro, 4}};
        const StructuredSong song = makeSong(plan, 22050);
        QTemporaryDir folder;
        const QString wav = folder.filePath(QStringLiteral("song.wav"));
        const QString mp3 = folder.filePath(QStringLiteral("song.mp3"));
        QVERIFY(writeWav(wav.toStdString(), song.samples, song.sampleRate));
        QCOMPARE(QProcess::execute(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3}), 0);

        Harness h;
        auto *button = h.child<QPushButton>(QStringLiteral("cmdSuggest"));
        QVERIFY(button);
        h.choose(mp3);
        QCOMPARE(h.visibleStep(), 2);
        const WaveformView *view = h.child<TransportBar>(QStringLiteral("MDplay"))->waveform();
        QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 30000);
        const auto proposal = view->proposal();
        QVERIFY(proposal);
        const auto choruses = song.all(Part::Chorus);
        QVERIFY(std::any_of(choruses.begin(), choruses.end(), [&](const StructuredSong::Section &chorus) {
            return std::abs(chorus.startSeconds - proposal->from) < 0.05 && std::abs(chorus.endSeconds - proposal->to) < 0.05;
        }));

        QSignalSpy ended(h.session.get(), &CutSession::cutEnded);
        h.click(QStringLiteral("cmdSuggest"));
        QVERIFY(ended.wait(30000));
        QVERIFY(ended.at(0).at(0).toBool());
        QCOMPARE(h.visibleStep(), 3);
        const auto &piece = h.session->state().piece;
        QVERIFY(piece);
        QCOMPARE(piece->startSeconds, proposal->from);
        QCOMPARE(piece->endSeconds, proposal->to);

        // Another song, with no chorus: the proposal goes with the song it was made for, and
        // none comes for this one.
        const QString tone = folder.filePath(QStringLiteral("tone.mp3"));
        QCOMPARE(QProcess::execute(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"),
                                                          tone, QStringLiteral("synth"), QStringLiteral("60"),
                                                          QStringLiteral("sine"), QStringLiteral("440")}),
                 0);
        h.session->keepAndStartOver();
        h.choose(tone);
        QCOMPARE(h.visibleStep(), 2);
        QVERIFY(!view->proposal());
        QVERIFY(!button->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(view->loader()->analysisSignal(), 30000);
        QTest::qWait(1000);
        QVERIFY(!view->proposal());
        QVERIFY(!button->isVisible());
    }
};

QTEST_MAIN(TestProposal)
#include "tst_proposal.moc"
