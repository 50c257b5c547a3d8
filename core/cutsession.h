#pragma once

#include "core/cutstate.h"
#include "core/piececheck.h"
#include "core/piecewriter.h"
#include "core/prompts.h"
#include "engine/pieceplan.h"
#include "engine/placement.h"
#include "engine/songmap.h"
#include "engine/songtags.h"
#include "platform/filesystem.h"
#include "platform/playerengine.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QThread;

/// One person's work on ringtones: the song chosen, its marks, the piece cut from it and what
/// becomes of the piece. Each public method is one thing the person asks for; the window and the
/// command line are two ways of asking. What the person must be asked or told goes through
/// Prompts, and the session changes nothing on a refusal.
///
/// The song player is where marks are read from; without one (the command line) marks are given
/// in seconds and the song's length comes from its frames. The piece player, when there is one,
/// plays each piece that is cut.
class CutSession : public QObject
{
    Q_OBJECT
public:
    CutSession(FileSystem &files, Prompts &prompts, PlayerEngine *songPlayer, PlayerEngine *piecePlayer,
               QObject *parent = nullptr);
    ~CutSession() override;

    const CutState &state() const { return m_state; }
    PlayerEngine *songPlayer() const { return m_songPlayer; }
    PlayerEngine *piecePlayer() const { return m_piecePlayer; }
    /// The song's frames; empty while they are still being read, or for no song.
    const SongMap *songMap() const { return m_song ? &*m_song : nullptr; }
    /// Why the last cut asked for was refused for its marks; empty when its marks were sound.
    std::optional<MarkProblem> markProblem() const { return m_markProblem; }
    /// A song is being read before it is taken.
    bool opening() const { return m_opening != nullptr; }
    /// A piece is being written.
    bool cutRunning() const { return m_writer != nullptr; }
    /// Reads the tags of each song taken from now on, for its pieces to carry; none until then.
    void setTagReader(const TagReader &tags) { m_tagReader = &tags; }
    /// Cuts go to \a path instead of the name beside the song; empty for that name again.
    void setPieceName(const QString &path) { m_pieceName = path; }

    /// Asks for a song and takes it; a cancel takes the last song taken again.
    void chooseSource();
    /// Takes the song at \a path as if it had been chosen. The song's frames are read on another
    /// thread; sourceTaken() or sourceRefused() follows. A folder, a pipe or a device is refused
    /// before anything is read from it.
    void openSource(const QString &path);
    /// The same, reading the frames at once: for callers without an event loop. True when taken.
    bool openSourceNow(const QString &path);

    /// The start mark at the song player's position.
    void markStart();
    void markStartAt(double seconds);
    /// The end mark at the song player's position, and the cut up to it.
    void markEndAndCut();
    void markEndAndCutAt(double seconds);
    /// Both marks at once, as if the person had set them there, and the cut between them: a
    /// proposed stretch taken as it is.
    void markAndCut(double startSeconds, double endSeconds);

    /// Keeps the piece under a name the person chooses.
    void savePiece();
    /// Throws the piece away and goes back to marking the same song; a piece that cannot be
    /// deleted is said so, and step three stays.
    void throwAway();
    /// Leaves the piece where it is and goes back to choosing a song.
    void keepAndStartOver();
    /// Goes back to choosing a song; the song player stops.
    void chooseAgain();
    /// Takes the song player's length again.
    void refreshDuration();
    /// Stops a cut that is writing, and removes what it wrote.
    void abandonCut();
    /// Pieces fade in from silence, fade out to it, or play as loud as they can: from the next
    /// cut on, and at once for the piece step three plays, which is cut again from the song.
    void setFadeIn(bool on);
    /// Cuts the piece of step three again in place, from the song's time \a seconds to its end
    /// mark, as every piece is cut (fades and loudness as chosen); the piece is replaced only once
    /// the new one is whole, and then plays from its start. The start mark follows.
    void moveStart(double seconds);
    /// The same to its end, the start staying; the piece then plays its last seconds.
    void moveEnd(double seconds);
    // Either, asked while the piece is being cut again, is made once that ends, each end to
    // where it was asked last.
    void setFadeOut(bool on);
    void setMaxVolume(bool on);

signals:
    void stepChanged(int step);
    /// Any value of state() changed.
    void changed();
    void sourceTaken(const QString &path);
    void sourceRefused(const QString &path);
    void cutStarted(qint64 bytes);
    void cutProgress(qint64 written, qint64 bytes);
    /// A cut has ended; \a ok is false when it failed or was abandoned.
    void cutEnded(bool ok);

private:
    struct Opening;
    /// A cut whose piece is being written: what becomes the last cut once the piece is whole.
    struct Writing
    {
        LastCut cut;
        SizeBoxes sizeBoxes;
        double startSeconds = 0;
        double endSeconds = 0;
    };
    /// Which of the piece's ends a move took, and so where it plays from.
    enum class MovedEnd { Start, End };

    void showStep(int step);
    void tellError(const QString &text);
    void tellHint(const QString &text, const QString &caption);
    /// The length of the song at \a path, or nothing, having told the person why it cannot be cut.
    std::optional<qint64> measureSource(const QString &path);
    /// Measures the song at \a path and reads its frames on another thread, or refuses it.
    void beginOpening(const QString &path);
    void takeSource(const QString &path, qint64 length, std::optional<SongMap> song, SongTags tags);
    void finishOpening(Opening *opening);
    /// The song in the player, or the song taken when there is no player.
    QString loadedSong() const;
    /// Is \a path a file the session reads: the song chosen, the one playing or the one being opened?
    bool reads(const QString &path);
    /// The length marks are taken against: the frames' own, or the player's while there are none.
    std::optional<double> songDuration() const;
    /// Reads the player's position for a mark, with the duration; empty, having told the person,
    /// when the player cannot say where it is.
    std::optional<double> readPlayer();
    /// Bytes of the song in front of the frame that holds the time \a seconds.
    qint64 bytesBefore(double seconds) const;
    void placeStart(double seconds);
    void tellMarkProblem(MarkProblem problem, double startSeconds, double endSeconds);
    /// The status line while no cut runs: whether a start is marked.
    QString markingStatus() const;
    void cut(double endSeconds);
    /// Asks for the folder pieces go to; true when one was chosen, and it is kept for later cuts.
    bool askOutputFolder();
    /// Whether a file may be written under \a target, and whether in place of one there: empty, having
    /// told or asked the person, when it is a song being read or the person says no.
    std::optional<FileSystem::Replace> mayWrite(const QString &target);
    /// Starts writing \a piece under its name, unless that name is a song being read or the
    /// person does not want the file there replaced.
    void writePiece(double startSeconds, double endSeconds, PiecePlan plan, LastCut next);
    /// What a cut of \a plan between those marks becomes once whole, from \a next.
    Writing writingFor(const PiecePlan &plan, LastCut next, double startSeconds, double endSeconds) const;
    /// What writes \a plan to \a target, tags and gain as the song and the choice have them.
    PieceWriter::Job jobFor(PiecePlan plan, const QString &target, FileSystem::Replace replace) const;
    /// The plan of the piece between the marks, or nothing, having told the person why not.
    std::optional<PiecePlan> plan(double startSeconds, double endSeconds);
    void askMove(MovedEnd moved, double seconds);
    /// Cuts the piece between the marks asked since it was last cut, if any were.
    void makeNextMove();
    void movePiece(double startSeconds, double endSeconds, MovedEnd moved);
    void finishMove(const std::optional<CutError> &error);
    /// Checks the kept piece against the song, as it is now; its check is empty until then.
    void checkPiece();
    void takeCheck(const PieceCheck &check);
    /// Plays the kept piece afresh, from \a seconds into it.
    void playPiece(double seconds);
    /// Stops the piece player and lets go of the piece.
    void releasePiece();
    void showProgress(qint64 written);
    /// Lets go of the writer that has finished, keeping its job as the kept piece's when \a ok;
    /// what it was writing.
    Writing endWriting(bool ok);
    void finishCut(const std::optional<CutError> &error);
    using Finish = void (CutSession::*)(const std::optional<CutError> &);
    void startWriter(PieceWriter::Job job, Finish finished, void (CutSession::*progressed)(qint64));
    void chooseGain(bool GainChoice::*choice, bool on);
    void finishRewrite(const std::optional<CutError> &error);
    void showRewriteProgress(qint64 written);
    /// What the choice asks of a piece.
    GainChange gainChange() const;
    static GainChange gainChange(const GainChoice &choice);
    /// Only layer 3 has a global_gain to change.
    bool songTakesGain() const;
    void tellNoGain();

    FileSystem &m_files;
    Prompts &m_prompts;
    QPointer<PlayerEngine> m_songPlayer;
    QPointer<PlayerEngine> m_piecePlayer;
    CutState m_state;
    /// Where cuts go when not beside the song.
    QString m_pieceName;
    /// The last song taken: what a cancelled choice takes again.
    QString m_lastTaken;
    std::optional<SongMap> m_song;
    const TagReader *m_tagReader = &noTags();
    SongTags m_tags;
    std::optional<MarkProblem> m_markProblem;
    std::unique_ptr<Opening> m_opening;
    PieceWriter *m_writer = nullptr;
    PieceChecker m_checker;
    /// The cut that made the piece step three shows: what the piece is cut again from when its
    /// gain changes, to wherever the piece now is.
    std::optional<PieceWriter::Job> m_keptJob;
    /// The choice the piece had before it is cut again, taken back if that fails.
    GainChoice m_gainBefore;
    /// Set while m_writer writes a new piece or moves the kept one's ends.
    std::optional<Writing> m_writing;
    MovedEnd m_moved = MovedEnd::Start;
    /// The marks asked while the piece is being cut again; empty for an end not moved.
    struct NextMove
    {
        std::optional<double> start;
        std::optional<double> end;
        MovedEnd last = MovedEnd::Start;
    };
    std::optional<NextMove> m_nextMove;
    /// Waits for the piece player to know the piece's length, which a seek needs.
    QMetaObject::Connection m_pendingSeek;
};
