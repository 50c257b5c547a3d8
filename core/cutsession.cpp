#include "core/cutsession.h"

#include "core/cutrules.h"
#include "core/numbertext.h"
#include "core/pathrules.h"
#include "core/piecewriter.h"
#include "core/savetarget.h"
#include "core/texts.h"
#include "platform/qtfilesystem.h"

#include <QThread>

#include <cerrno>

#include <cmath>
#include <limits>

namespace {

double kilobytes(qint64 bytes)
{
    return double(bytes) / 1024.0;
}

/// Failures of the piece that another folder may well not have: writing it, where the name is
/// not too long for any folder.
bool anotherFolderMayHelp(const CutError &error)
{
    return (error.kind == CutError::Kind::Unwritable && error.error != ENAMETOOLONG)
        || error.kind == CutError::Kind::Incomplete;
}

} // namespace

/// A song being read on another thread before it is taken.
struct CutSession::Opening
{
    QString path;
    qint64 length = 0;
    std::optional<SongMap> song;
    SongTags tags;
    QThread *thread = nullptr;
};

CutSession::CutSession(FileSystem &files, Prompts &prompts, PlayerEngine *songPlayer, PlayerEngine *piecePlayer,
                       QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_prompts(prompts)
    , m_songPlayer(songPlayer)
    , m_piecePlayer(piecePlayer)
{
    connect(&m_checker, &PieceChecker::checked, this, &CutSession::takeCheck);
}

CutSession::~CutSession()
{
    // A song still being read: its thread ends soon, and its result is not wanted any more.
    if (m_opening) {
        m_opening->thread->wait();
        delete m_opening->thread;
    }
    delete m_writer;
}

void CutSession::showStep(int step)
{
    // Only step three has a piece to play and change; leaving it lets the piece be.
    if (step != 3) {
        m_state.piece.reset();
        m_keptJob.reset();
        m_checker.cancel();
    }
    // A move asked of the piece before is not one of the piece shown now.
    m_nextMove.reset();
    m_state.step = step;
    emit stepChanged(step);
    emit changed();
}

void CutSession::tellError(const QString &text)
{
    m_prompts.tell(text, Prompts::Icon::Error, CutText::captionError);
}

void CutSession::tellHint(const QString &text, const QString &caption)
{
    m_prompts.tell(text, Prompts::Icon::None, caption);
}

void CutSession::chooseSource()
{
    // Swapping the song while a cut reads it would leave the session describing another file.
    if (cutRunning() || opening())
        return;
    const std::optional<QString> chosen = m_prompts.askOpenFile(CutText::openFilter, m_lastTaken);
    const QString path = chosen ? *chosen : m_lastTaken;
    if (!path.isEmpty())
        beginOpening(path);
}

std::optional<qint64> CutSession::measureSource(const QString &path)
{
    // Measured first, without reading a byte: a file that cannot be cut must not replace the
    // one that can, and a pipe would keep the reader waiting.
    const std::optional<qint64> length = m_files.length(path);
    if (!length) {
        const FileProblem problem = m_files.lastProblem();
        tellError(problem == FileProblem::NotAFile
                      ? CutText::sourceNotAFile.arg(path)
                      : CutText::sourceUnreadable.arg(CutText::problemText(problem), path));
        return std::nullopt;
    }
    if (*length > std::numeric_limits<qint32>::max()) {
        tellError(CutText::sourceTooLarge.arg(path));
        return std::nullopt;
    }
    return length;
}

void CutSession::openSource(const QString &path)
{
    if (cutRunning() || opening())
        return;
    beginOpening(path);
}

void CutSession::beginOpening(const QString &path)
{
    const std::optional<qint64> length = measureSource(path);
    if (!length) {
        emit sourceRefused(path);
        return;
    }
    m_opening = std::make_unique<Opening>();
    Opening *opening = m_opening.get();
    opening->path = path;
    opening->length = *length;
    // Reading every frame header of a long song takes longer than the window may stand still.
    opening->thread = QThread::create([opening, tags = m_tagReader] {
        const std::filesystem::path song = fileSystemPath(opening->path);
        opening->song = scanSong(song);
        if (opening->song)
            opening->tags = tags->read(song);
    });
    connect(opening->thread, &QThread::finished, this, [this, opening] { finishOpening(opening); });
    opening->thread->start();
}

bool CutSession::openSourceNow(const QString &path)
{
    if (cutRunning() || opening())
        return false;
    const std::optional<qint64> length = measureSource(path);
    if (!length)
        return false;
    std::optional<SongMap> song = scanSong(fileSystemPath(path));
    if (!song) {
        tellError(CutText::sourceNotMp3.arg(path));
        return false;
    }
    takeSource(path, *length, std::move(song), m_tagReader->read(fileSystemPath(path)));
    return true;
}

void CutSession::finishOpening(Opening *opening)
{
    const std::unique_ptr<Opening> done = std::move(m_opening);
    opening->thread->deleteLater();
    if (!opening->song) {
        tellError(CutText::sourceNotMp3.arg(opening->path));
        emit sourceRefused(opening->path);
        return;
    }
    takeSource(opening->path, opening->length, std::move(opening->song), std::move(opening->tags));
}

void CutSession::takeSource(const QString &path, qint64 length, std::optional<SongMap> song, SongTags tags)
{
    // A start mark is a time in the song it was placed in; in another song it would mark nothing.
    if (!m_files.sameFile(path, m_state.sourcePath))
        m_state.startMark.reset();
    m_state.mirrors.status = markingStatus();
    m_lastTaken = path;
    m_state.sourcePath = path;
    if (m_state.outputFolder.isEmpty())
        m_state.outputFolder = folderPart(path);
    m_state.fileLength = qint32(length);
    m_state.audioStart = song->leadingTag;
    m_song = std::move(song);
    m_tags = std::move(tags);
    showStep(2);
    if (m_songPlayer)
        m_songPlayer->load(path);
    refreshDuration();
    emit sourceTaken(path);
}

QString CutSession::loadedSong() const
{
    return m_songPlayer ? m_songPlayer->source() : m_state.sourcePath;
}

bool CutSession::reads(const QString &path)
{
    return m_files.sameFile(path, m_state.sourcePath) || m_files.sameFile(path, loadedSong())
        || (m_opening && m_files.sameFile(path, m_opening->path));
}

std::optional<double> CutSession::songDuration() const
{
    if (m_song)
        return m_song->duration();
    return m_songPlayer ? m_songPlayer->duration() : std::nullopt;
}

void CutSession::refreshDuration()
{
    if (const auto d = songDuration())
        m_state.duration = *d;
}

std::optional<double> CutSession::readPlayer()
{
    const auto d = songDuration();
    const auto p = m_songPlayer ? m_songPlayer->position() : std::nullopt;
    // Without both, a mark would be an old one, or a time mapped with another file's length.
    if (!d || !p) {
        tellError(CutText::playerUnreadable.arg(loadedSong()));
        return std::nullopt;
    }
    return p;
}

void CutSession::markStart()
{
    // A press while a cut writes must not move the marks under it.
    if (cutRunning())
        return;
    if (loadedSong().isEmpty()) {
        tellError(CutText::chooseMp3);
        return;
    }
    if (const auto p = readPlayer())
        placeStart(*p);
}

void CutSession::markStartAt(double seconds)
{
    if (cutRunning())
        return;
    placeStart(seconds);
}

void CutSession::placeStart(double seconds)
{
    refreshDuration();
    m_state.startMark = seconds;
    if (m_song)
        m_state.mirrors.sizeBoxes[0] = sizeBoxText(generalText(kilobytes(bytesBefore(seconds))));
    m_state.mirrors.status = markingStatus();
    emit changed();
}

QString CutSession::markingStatus() const
{
    return m_state.startMark ? CutText::started : QString();
}

void CutSession::markEndAndCut()
{
    if (cutRunning())
        return;
    if (loadedSong().isEmpty()) {
        tellHint(CutText::markStartFirst, QString());
        return;
    }
    if (const auto p = readPlayer())
        cut(*p);
}

void CutSession::markEndAndCutAt(double seconds)
{
    if (cutRunning())
        return;
    if (loadedSong().isEmpty()) {
        tellHint(CutText::markStartFirst, QString());
        return;
    }
    cut(seconds);
}

void CutSession::markAndCut(double startSeconds, double endSeconds)
{
    if (cutRunning())
        return;
    placeStart(startSeconds);
    markEndAndCutAt(endSeconds);
}

qint64 CutSession::bytesBefore(double seconds) const
{
    const qint64 frame = std::clamp<qint64>(m_song->sampleAt(seconds) / m_song->samplesPerFrame, 0,
                                            m_song->frameCount() - 1);
    return m_song->frame(frame).offset;
}

void CutSession::tellMarkProblem(MarkProblem problem, double startSeconds, double endSeconds)
{
    switch (problem) {
    case MarkProblem::EndNotAfterStart:
        tellHint(CutText::endBeforeStart, CutText::captionHint);
        return;
    case MarkProblem::TooClose:
        tellHint(CutText::marksTooClose.arg(std::lround(m_song->samplesPerFrame * 1000.0 / m_song->sampleRate())),
                 CutText::captionHint);
        return;
    case MarkProblem::StartPastEnd:
    case MarkProblem::EndPastEnd:
        const bool start = problem == MarkProblem::StartPastEnd;
        tellHint(QString::fromStdString(CutWords::pastEnd(start, start ? startSeconds : endSeconds, m_song->duration(),
                                                          double(m_song->samplesPerFrame) / m_song->sampleRate()))
                     .arg(m_state.sourcePath),
                 CutText::captionHint);
        return;
    }
}

bool CutSession::askOutputFolder()
{
    const std::optional<QString> chosen = m_prompts.askFolder(CutText::folderTitle, m_state.outputFolder);
    if (!chosen || chosen->isEmpty())
        return false;
    m_state.outputFolder = asFolder(*chosen);
    emit changed();
    return true;
}

void CutSession::cut(double endSeconds)
{
    m_markProblem.reset();
    // 1. A start mark, and the song it is placed in.
    const auto startMark = m_state.startMark;
    if (!startMark) {
        tellHint(CutText::markStartFirst, QString());
        return;
    }
    if (!m_song || !m_files.isNormalFile(m_state.sourcePath)) {
        tellHint(CutText::chooseMp3, CutText::captionHint);
        return;
    }
    // 2. A folder for the piece, unless it has a name of its own.
    if (m_pieceName.isEmpty() && !m_files.isFolder(m_state.outputFolder)) {
        // Not an error of the person's: a warning before the folder dialog that follows.
        m_prompts.tell(m_state.outputFolder.isEmpty() ? CutText::chooseFolder
                                                      : CutText::folderGone.arg(m_state.outputFolder),
                       Prompts::Icon::Warning, CutText::captionHint);
        if (!askOutputFolder())
            return;
    }
    // 3. Where the piece lies in the song, and the frames it needs in front.
    auto planned = plan(*startMark, endSeconds);
    if (!planned)
        return;
    // 4. The piece's name, from the choices alone.
    LastCut next;
    next.srcName = fileNamePart(m_state.sourcePath);
    next.destDir = m_state.outputFolder;
    next.endMark = endSeconds;
    // 5. Its bytes, written under a name of their own until whole.
    writePiece(*startMark, endSeconds, std::move(*planned), std::move(next));
}

std::optional<PiecePlan> CutSession::plan(double startSeconds, double endSeconds)
{
    m_markProblem.reset();
    auto planned = planPiece(*m_song, fileSystemPath(m_state.sourcePath), startSeconds, endSeconds);
    if (const auto *problem = std::get_if<MarkProblem>(&planned)) {
        m_markProblem = *problem;
        tellMarkProblem(*problem, startSeconds, endSeconds);
        return std::nullopt;
    }
    if (const auto *failed = std::get_if<CutError>(&planned)) {
        tellError(CutText::failure(*failed, false));
        return std::nullopt;
    }
    return std::move(std::get<PiecePlan>(planned));
}

std::optional<FileSystem::Replace> CutSession::mayWrite(const QString &target)
{
    // Whatever the answer to "replace?", the song would be lost under the piece.
    if (reads(target)) {
        tellError(CutText::targetIsSource.arg(target));
        return std::nullopt;
    }
    if (!m_files.exists(target))
        return FileSystem::Replace::No;
    if (!m_prompts.askYesNo(CutText::replaceTarget.arg(target), CutText::captionHint))
        return std::nullopt;
    return FileSystem::Replace::Yes;
}

void CutSession::writePiece(double startSeconds, double endSeconds, PiecePlan plan, LastCut next)
{
    const QString target = m_pieceName.isEmpty() ? pieceFileName(next.destDir, 1, next.srcName) : m_pieceName;
    // Only an explicit name can be the song's own. The name beside the song is the same for every
    // cut of it: a ringtone kept from an earlier cut may be waiting under it.
    const auto replace = mayWrite(target);
    if (!replace)
        return;
    m_writing = writingFor(plan, std::move(next), startSeconds, endSeconds);
    startWriter(jobFor(std::move(plan), target, *replace), &CutSession::finishCut, &CutSession::showProgress);
}

CutSession::Writing CutSession::writingFor(const PiecePlan &plan, LastCut next, double startSeconds,
                                           double endSeconds) const
{
    const std::vector<ByteRange> &ranges = plan.parts.ranges;
    // The boxes and the plan show what was placed: the song's bytes in front of the piece's
    // frames, those the frames span, and the rest.
    const qint64 offset = ranges.front().offset;
    const qint64 spanned = ranges.back().offset + ranges.back().length - offset;
    const qint64 rest = m_state.fileLength - offset - spanned;
    next.pieceSizes = {qint32(offset), qint32(spanned), qint32(rest)};
    return Writing{std::move(next),
                   {sizeBoxText(generalText(kilobytes(offset))), sizeBoxText(generalText(kilobytes(spanned))),
                    sizeBoxText(oneDecimalText(kilobytes(rest)))},
                   startSeconds,
                   endSeconds};
}

PieceWriter::Job CutSession::jobFor(PiecePlan plan, const QString &target, FileSystem::Replace replace) const
{
    // The piece is named only once whole, tags and all: a failure leaves nothing that looks like one.
    const std::vector<std::uint8_t> tag = m_tagReader->renderForPiece(m_tags, plan.lengthMs());
    return {m_state.sourcePath,
            std::move(plan.parts.ranges),
            QByteArray(reinterpret_cast<const char *>(tag.data()), qsizetype(tag.size())),
            std::move(plan.parts.header),
            std::move(plan.parts.lead),
            target,
            songTakesGain() ? gainChange() : GainChange(),
            replace};
}

void CutSession::startWriter(PieceWriter::Job job, Finish finished, void (CutSession::*progressed)(qint64))
{
    m_writer = new PieceWriter(m_files, std::move(job), this);
    connect(m_writer, &PieceWriter::finished, this, finished);
    connect(m_writer, &PieceWriter::progressed, this, progressed);
    m_writer->start();
    emit cutStarted(m_writer->job().length());
}

void CutSession::showProgress(qint64 written)
{
    const qint64 bytes = m_writer->job().length();
    m_state.mirrors.status = CutText::cutting.arg(written * 100 / std::max<qint64>(bytes, 1));
    emit changed();
    emit cutProgress(written, bytes);
}

CutSession::Writing CutSession::endWriting(bool ok)
{
    if (ok)
        m_keptJob = m_writer->job();
    m_writer->deleteLater();
    m_writer = nullptr;
    Writing done = std::move(*m_writing);
    m_writing.reset();
    return done;
}

void CutSession::finishCut(const std::optional<CutError> &error)
{
    Writing done = endWriting(!error);
    if (error) {
        m_state.mirrors.status = markingStatus();
        emit changed();
        emit cutEnded(false);
        const QString failed = CutText::failure(*error, false);
        // Pieces beside the song: another folder, which later cuts keep, and the same cut again.
        if (!m_pieceName.isEmpty() || !anotherFolderMayHelp(*error)) {
            tellError(failed);
            return;
        }
        tellError(failed + u'\n' + CutText::chooseFolder);
        if (askOutputFolder())
            cut(done.endSeconds);
        return;
    }
    m_state.lastCut = std::move(done.cut);
    m_state.mirrors.sizeBoxes = done.sizeBoxes;
    m_state.mirrors.status = CutText::cutDone;
    if (m_songPlayer)
        m_songPlayer->pause();
    m_state.piece = KeptPiece{m_keptJob->targetPath, false, m_song->reference.layer,
                              songTakesGain() ? m_state.gain : GainChoice(), done.startSeconds, done.endSeconds, std::nullopt};
    showStep(3);
    checkPiece();
    playPiece(0);
    if (gainChange().any() && !songTakesGain())
        tellNoGain();
    emit cutEnded(true);
}

void CutSession::abandonCut()
{
    if (!m_writer)
        return;
    delete m_writer;
    m_writer = nullptr;
    m_nextMove.reset();
    // A rewrite given up leaves the piece as it was, and the choice with it.
    if (!m_writing)
        m_state.gain = m_gainBefore;
    m_writing.reset();
    m_state.mirrors.status = markingStatus();
    emit changed();
    emit cutEnded(false);
}

void CutSession::savePiece()
{
    // The piece may be the very file a running cut is writing.
    if (cutRunning())
        return;
    // Said before the dialog: a name typed for nothing is the person's time lost.
    if (!m_state.piece || m_state.piece->saved || !m_files.isNormalFile(m_state.piece->path)) {
        tellHint(CutText::nothingToSave, CutText::captionHint);
        return;
    }
    const std::optional<QString> chosen = m_prompts.askSaveFile(CutText::saveFilter, CutText::saveTitle);
    if (!chosen || chosen->isEmpty())
        return;

    const QString piece = m_state.piece->path;
    const QString target = withMp3Extension(*chosen);
    if (m_files.sameFile(target, piece))
        return;
    const auto replace = mayWrite(target);
    if (!replace)
        return;
    if (const FileProblem problem = moveFile(m_files, piece, target, *replace); problem != FileProblem::None) {
        tellError(CutText::saveFailed.arg(CutText::problemText(problem), target));
        return;
    }
    // Step three goes on with the piece where it now is: it plays from there, and the boxes
    // change it there.
    m_state.piece->path = target;
    m_state.piece->saved = true;
    m_keptJob->targetPath = target;
    // A check still running may look for the piece where it was.
    if (!m_state.piece->check)
        checkPiece();
    emit changed();
    playPiece(0);
}

void CutSession::throwAway()
{
    if (cutRunning() || !m_state.piece)
        return;
    // A saved piece is the person's file now, and one that has gone needs no deleting. One that
    // stays keeps step three, where it can still be saved or kept.
    const KeptPiece &piece = *m_state.piece;
    if (!piece.saved && !m_files.remove(piece.path)) {
        if (const FileProblem problem = m_files.lastProblem(); problem != FileProblem::Missing) {
            tellError(CutText::pieceNotRemoved.arg(CutText::problemText(problem), piece.path));
            return;
        }
    }
    releasePiece();
    m_state.mirrors.status = markingStatus();
    showStep(2);
}

void CutSession::keepAndStartOver()
{
    // A rewrite of the piece finishes first: its end names the piece to the piece player.
    if (cutRunning())
        return;
    releasePiece();
    m_state.mirrors.status = markingStatus();
    showStep(1);
}

void CutSession::chooseAgain()
{
    // A cut of the song being left is not wanted any more.
    abandonCut();
    showStep(1);
    if (m_songPlayer)
        m_songPlayer->stop();
}

void CutSession::setFadeIn(bool on)
{
    chooseGain(&GainChoice::fadeIn, on);
}

void CutSession::setFadeOut(bool on)
{
    chooseGain(&GainChoice::fadeOut, on);
}

void CutSession::setMaxVolume(bool on)
{
    chooseGain(&GainChoice::maxVolume, on);
}

void CutSession::chooseGain(bool GainChoice::*choice, bool on)
{
    // A piece being written keeps the choice it began with.
    if (cutRunning() || m_state.gain.*choice == on)
        return;
    // The boxes show how the piece in step three plays: a choice it cannot follow is not made.
    if (m_state.piece && m_state.piece->layer != 3) {
        tellNoGain();
        return;
    }
    if (m_state.piece && !m_files.isNormalFile(m_state.piece->path)) {
        tellError(CutText::rewriteFailed.arg(CutText::problemText(FileProblem::Missing), m_state.piece->path));
        return;
    }
    m_gainBefore = m_state.gain;
    m_state.gain.*choice = on;
    emit changed();
    if (!m_state.piece)
        return;
    // Cut again from the song rather than changed in place: the piece then never holds a fade
    // it no longer should, and a failure leaves it as it was.
    PieceWriter::Job job = *m_keptJob;
    job.gain = gainChange();
    job.replace = FileSystem::Replace::Yes;
    startWriter(std::move(job), &CutSession::finishRewrite, &CutSession::showRewriteProgress);
}

void CutSession::showRewriteProgress(qint64 written)
{
    emit cutProgress(written, m_writer->job().length());
}

void CutSession::finishRewrite(const std::optional<CutError> &error)
{
    m_writer->deleteLater();
    m_writer = nullptr;
    if (error) {
        m_state.gain = m_gainBefore;
        emit changed();
        tellError(CutText::failure(*error, true));
        emit cutEnded(false);
        makeNextMove();
        return;
    }
    m_state.piece->gain = m_state.gain;
    checkPiece();
    emit changed();
    // From the start: what was heard so far was the piece as it was.
    playPiece(0);
    emit cutEnded(true);
    makeNextMove();
}

void CutSession::moveStart(double seconds)
{
    askMove(MovedEnd::Start, seconds);
}

void CutSession::moveEnd(double seconds)
{
    askMove(MovedEnd::End, seconds);
}

void CutSession::askMove(MovedEnd moved, double seconds)
{
    if (!m_state.piece)
        return;
    // Keys pressed faster than the piece is cut again must still all count: the marks asked
    // meanwhile are cut once the piece is whole, each end where it was asked last.
    NextMove next = m_nextMove.value_or(NextMove{});
    (moved == MovedEnd::Start ? next.start : next.end) = seconds;
    next.last = moved;
    m_nextMove = next;
    if (!cutRunning())
        makeNextMove();
}

void CutSession::makeNextMove()
{
    if (const auto next = std::exchange(m_nextMove, std::nullopt); next && m_state.piece)
        movePiece(next->start.value_or(m_state.piece->startSeconds), next->end.value_or(m_state.piece->endSeconds),
                  next->last);
}

void CutSession::movePiece(double startSeconds, double endSeconds, MovedEnd moved)
{
    if (cutRunning() || !m_song)
        return;
    const QString piece = m_state.piece->path;
    if (!m_files.isNormalFile(piece)) {
        tellError(CutText::rewriteFailed.arg(CutText::problemText(FileProblem::Missing), piece));
        return;
    }
    auto planned = plan(startSeconds, endSeconds);
    if (!planned)
        return;
    LastCut next = m_state.lastCut;
    next.endMark = endSeconds;
    m_writing = writingFor(*planned, std::move(next), startSeconds, endSeconds);
    m_moved = moved;
    // Cut again from the song under the piece's own name, as a change of its gain is: the piece
    // there is replaced only by a whole one.
    startWriter(jobFor(std::move(*planned), piece, FileSystem::Replace::Yes), &CutSession::finishMove,
                &CutSession::showRewriteProgress);
}

void CutSession::finishMove(const std::optional<CutError> &error)
{
    Writing done = endWriting(!error);
    if (error) {
        tellError(CutText::failure(*error, true));
        emit cutEnded(false);
        makeNextMove();
        return;
    }
    m_state.lastCut = std::move(done.cut);
    m_state.mirrors.sizeBoxes = done.sizeBoxes;
    m_state.startMark = done.startSeconds;
    m_state.piece->startSeconds = done.startSeconds;
    m_state.piece->endSeconds = done.endSeconds;
    checkPiece();
    emit changed();
    // A moved start is heard from the start on; a moved end in the seconds that lead up to it.
    constexpr double endHeardSeconds = 3.0;
    playPiece(m_moved == MovedEnd::Start ? 0.0 : std::max(0.0, done.endSeconds - done.startSeconds - endHeardSeconds));
    emit cutEnded(true);
    makeNextMove();
}

void CutSession::checkPiece()
{
    KeptPiece &piece = *m_state.piece;
    piece.check.reset();
    // Held to the fades and loudness its frames were written with, and to nothing else.
    m_checker.check(m_state.sourcePath, *m_song, piece.startSeconds, piece.endSeconds, piece.path,
                    gainChange(piece.gain));
}

void CutSession::takeCheck(const PieceCheck &check)
{
    if (!m_state.piece)
        return;
    m_state.piece->check = check;
    emit changed();
}

void CutSession::releasePiece()
{
    disconnect(m_pendingSeek);
    if (m_piecePlayer)
        m_piecePlayer->load(QString());
}

void CutSession::playPiece(double seconds)
{
    if (!m_piecePlayer)
        return;
    disconnect(m_pendingSeek);
    m_piecePlayer->load(m_state.piece->path);
    if (seconds <= 0)
        return;
    // A player opens a file in its own time, and seeks only once it knows the file's length.
    if (m_piecePlayer->duration()) {
        m_piecePlayer->seek(seconds);
        return;
    }
    m_pendingSeek = connect(m_piecePlayer, &PlayerEngine::durationChanged, this, [this, seconds] {
        disconnect(m_pendingSeek);
        m_piecePlayer->seek(seconds);
    });
}

GainChange CutSession::gainChange() const
{
    return gainChange(m_state.gain);
}

GainChange CutSession::gainChange(const GainChoice &choice)
{
    return {choice.fadeIn ? defaultFadeSeconds : 0.0, choice.fadeOut ? defaultFadeSeconds : 0.0, choice.maxVolume};
}

bool CutSession::songTakesGain() const
{
    return m_song && m_song->reference.layer == 3;
}

void CutSession::tellNoGain()
{
    tellHint(CutText::noGain(m_song->reference.layer), CutText::captionHint);
}
