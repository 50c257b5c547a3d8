// Pieces judged by what a gapless decoder plays. Time 0 of a song is its first real sample; a
// mark at t seconds is sample round(t × rate) from there, and a piece cut from a to b must decode
// to exactly the song's samples between its marks, and say its own length in its Info frame.

#include "core/cutsession.h"
#include "corefakes.h"
#include "engine/songtagslib.h"
#include "gapless.h"
#include "platform/qtfilesystem.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

QString songPath(const QString &name)
{
    return QStringLiteral(FIXTURE_DIR "/songs/") + name;
}

/// Every song scripts/make-fixtures makes for these tests; what each is made as is in its name.
QStringList songNames()
{
    return QDir(QStringLiteral(FIXTURE_DIR "/songs")).entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name);
}
const QString junkSong = QStringLiteral("junk-cbr128-stereo-48k.mp3");
/// The song's samples from its time 0 on, as a gapless player plays it. Decoded once a song.
DecodedSound songTimeline(const QString &name)
{
    static std::map<QString, DecodedSound> decoded;
    if (const auto found = decoded.find(name); found != decoded.end())
        return found->second;
    // libmpg123 forgets the bit reservoir where it skips junk and garbles the frames behind it:
    // the song's sound is that of its frames without the junk.
    const QString source = songPath(name == junkSong ? QStringLiteral("cbr128-stereo-48k.mp3") : name);
    // Without a LAME tag a player drops nothing, not even the decoder's own delay (as GStreamer
    // plays them: tst_vbrtones holds the two decodes equal).
    const auto info = readInfoFrame(source);
    return decoded.emplace(name, decodeMp3(source, info && info->delay ? Trim::Gapless : Trim::Raw)).first->second;
}

/// What is wrong with the length the Info frame of the piece at \a path claims, against the
/// \a decoded samples it holds.
QStringList infoFaults(const QString &path, qsizetype decoded)
{
    const auto info = readInfoFrame(path);
    if (!info)
        return {QStringLiteral("it has no Xing or Info frame")};
    if (!info->frames || !info->delay)
        return {QStringLiteral("its Xing frame has no frame count or no LAME tag")};
    const qint64 claimed = qint64(*info->frames) * info->samplesPerFrame - *info->delay - *info->padding;
    if (claimed == decoded)
        return {};
    return {QStringLiteral("its Info frame claims %1 frames × %2 − delay %3 − padding %4 = %5 samples, it decodes to %6")
                .arg(*info->frames).arg(info->samplesPerFrame).arg(*info->delay).arg(*info->padding).arg(claimed)
                .arg(decoded)};
}

} // namespace

class tst_SampleExact : public QObject
{
    Q_OBJECT
private slots:
    void songDecodesToTheLengthItsTagClaims_data();
    void songDecodesToTheLengthItsTagClaims();
    void pieceSoundsAsMarked_data();
    void pieceSoundsAsMarked();
};

void tst_SampleExact::songDecodesToTheLengthItsTagClaims_data()
{
    QTest::addColumn<QString>("song");
    QVERIFY2(songNames().contains(junkSong), "the songs are missing: build the fixtures target");
    for (const QString &song : songNames()) {
        if (const auto info = readInfoFrame(songPath(song)); info && info->delay)
            QTest::newRow(qPrintable(song)) << song;
    }
}

void tst_SampleExact::songDecodesToTheLengthItsTagClaims()
{
    QFETCH(QString, song);
    const DecodedSound gapless = decodeMp3(songPath(song));
    const DecodedSound raw = decodeMp3(songPath(song), Trim::Raw);
    // The junk is the one fault among the songs, and libmpg123 speaks of it.
    QCOMPARE(gapless.problems.isEmpty(), song != junkSong);
    QCOMPARE(raw.problems.isEmpty(), song != junkSong);

    const auto info = readInfoFrame(songPath(song));
    QVERIFY(info && info->frames && info->delay);
    // What lame was given: scripts/make-fixtures makes every song 3.5 s long.
    QCOMPARE(gapless.length(), qsizetype(std::lround(3.5 * gapless.rate)));
    QCOMPARE(gapless.length(), qint64(*info->frames) * info->samplesPerFrame - *info->delay - *info->padding);
    QCOMPARE(raw.length(), qint64(*info->frames) * info->samplesPerFrame);
    QCOMPARE(raw.samples.mid((*info->delay + 529) * raw.channels, gapless.samples.size()), gapless.samples);
}

void tst_SampleExact::pieceSoundsAsMarked_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    for (const QString &song : songNames()) {
        const DecodedSound sound = songTimeline(song);
        const double end = double(sound.length()) / sound.rate;
        const double frame = (sound.rate >= 32000 ? 1152.0 : 576.0) / sound.rate;
        const std::pair<double, double> marks[] = {
            {0.0, end},                            // the whole song
            {0.0, 1.0},                            // from the very start
            {0.0071, 1.2},                         // within the first 20 ms
            {0.0194, 1.4},
            {1.0003, 2.5117},                      // both marks inside frames
            {2.2222, end},                         // up to the very end
            {1.7001, 1.7001 + frame + 0.0002},     // just over one frame
        };
        for (const auto &[from, to] : marks)
            QTest::addRow("%s %.5g-%.5g", qPrintable(song), from, to) << song << from << to;
    }
}

void tst_SampleExact::pieceSoundsAsMarked()
{
    QFETCH(QString, song);
    QFETCH(double, from);
    QFETCH(double, to);
    QTemporaryDir dir;
    const QString piecePath = dir.filePath(QStringLiteral("piece.mp3"));
    // As the command line cuts: no players, marks in seconds.
    QtFileSystem files;
    FakePrompts prompts;
    CutSession session(files, prompts, nullptr, nullptr);
    session.setTagReader(tagLibTags());
    session.setPieceName(piecePath);
    QVERIFY(session.openSourceNow(songPath(song)));
    QSignalSpy ended(&session, &CutSession::cutEnded);
    session.markStartAt(from);
    session.markEndAndCutAt(to);
    QVERIFY2(session.cutRunning(), qPrintable(prompts.told.isEmpty() ? QString() : prompts.told.last().text));
    QVERIFY(ended.wait(30000));
    QVERIFY(ended.at(0).at(0).toBool());

    const DecodedSound sound = songTimeline(song);
    const DecodedSound piece = decodeMp3(piecePath);
    const qsizetype first = std::llround(from * sound.rate);
    const qsizetype last = std::llround(to * sound.rate);
    QStringList faults;
    for (const QString &problem : piece.problems)
        faults.append(QStringLiteral("libmpg123: ") + problem);
    faults += soundFaults(piece, sound, first, last);
    faults += infoFaults(piecePath, piece.length());
    QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("marks %1 - %2 s are the song's samples [%3, %4):\n   ")
                                              .arg(from).arg(to).arg(first).arg(last)
                                          + faults.join(QStringLiteral("\n   "))));

    // The command line cuts the same piece, to the byte.
    const QString byCommand = dir.filePath(QStringLiteral("command.mp3"));
    QProcess program;
    program.start(QStringLiteral(MP3CUTTER_BINARY), {QStringLiteral("--cut"), QString::number(from, 'g', 17),
                                                      QString::number(to, 'g', 17), songPath(song),
                                                      QStringLiteral("-o"), byCommand});
    QVERIFY(program.waitForFinished(30000));
    QVERIFY2(program.exitCode() == 0, program.readAllStandardError().constData());
    QVERIFY(readAll(byCommand) == readAll(piecePath));
}

QTEST_GUILESS_MAIN(tst_SampleExact)
#include "tst_sampleexact.moc"
