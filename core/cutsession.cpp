#include "core/cutsession.h"

#include "core/cutrules.h"
#include "core/numbertext.h"
#include "core/pathrules.h"
#include "core/piecewriter.h"
#include "core/savetarget.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QThread>

#include <limits>

namespace {

double kilobytes(qint64 bytes)
{
    return double(bytes) / 1024.0;
}

/// Bytes in front of the audio: a leading ID3v2 tag holds no sound, so marks are mapped onto
/// what follows it. A tag that claims more than the whole file is not trusted.
qint64 audioStartOf(FileSystem &files, const QString &path, qint64 length)
{
    const auto file = files.openRead(path);
    if (!file)
        return 0;
    const qint64 tag = id3v2TagSize(file->read(10));
    return tag < length ? tag : 0;
}

} // namespace

/// A song being read on another thread before it is taken.
struct CutSession::Opening
{
    QString path;
    qint64 length = 0;
    qint64 audioStart = 0;
    std::optional<FrameTimeline> timeline;
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

QString CutSession::keptPieceName() const
{
    return m_pieceName.isEmpty() ? pieceFileName(m_state.destDir, 1, m_state.srcName) : m_pieceName;
}

void CutSession::showStep(int step)
{
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
        openSource(path);
}

bool CutSession::checkLength(const QString &path, std::optional<qint64> length)
{
    if (!length) {
        tellError(CutText::sourceUnreadable.arg(path));
        return false;
    }
    if (*length > std::numeric_limits<qint32>::max()) {
        tellError(CutText::sourceTooLarge.arg(path));
        return false;
    }
    return true;
}

void CutSession::openSource(const QString &path)
{
    if (cutRunning() || opening())
        return;
    // Measure first: a file that cannot be cut must not replace the one that can.
    const std::optional<qint64> length = m_files.length(path);
    if (!checkLength(path, length)) {
        emit sourceRefused(path);
        return;
    }
    m_opening = std::make_unique<Opening>();
    Opening *opening = m_opening.get();
    opening->path = path;
    opening->length = *length;
    opening->audioStart = audioStartOf(m_files, path, *length);
    // Reading every frame header of a long song takes longer than the window may stand still.
    opening->thread = QThread::create([opening] { opening->timeline = scanFrameTimeline(opening->path); });
    connect(opening->thread, &QThread::finished, this, [this, opening] { finishOpening(opening); });
    opening->thread->start();
}

bool CutSession::openSourceNow(const QString &path)
{
    if (cutRunning() || opening())
        return false;
    const std::optional<qint64> length = m_files.length(path);
    if (!checkLength(path, length))
        return false;
    std::optional<FrameTimeline> timeline = scanFrameTimeline(path);
    if (!timeline) {
        tellError(CutText::sourceNotMp3.arg(path));
        return false;
    }
    takeSource(path, *length, audioStartOf(m_files, path, *length), std::move(timeline));
    return true;
}

void CutSession::finishOpening(Opening *opening)
{
    const std::unique_ptr<Opening> done = std::move(m_opening);
    opening->thread->deleteLater();
    if (!opening->timeline) {
        tellError(CutText::sourceNotMp3.arg(opening->path));
        emit sourceRefused(opening->path);
        return;
    }
    takeSource(opening->path, opening->length, opening->audioStart, std::move(opening->timeline));
}

void CutSession::takeSource(const QString &path, qint64 length, qint64 audioStart,
                            std::optional<FrameTimeline> timeline)
{
    m_lastTaken = path;
    m_state.sourcePath = path;
    if (m_state.outputFolder.isEmpty())
        m_state.outputFolder = folderPart(path);
    m_state.fileLength = qint32(length);
    m_state.audioStart = audioStart;
    m_timeline = std::move(timeline);
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

std::optional<double> CutSession::songDuration() const
{
    if (variableBitRate() || (!m_songPlayer && m_timeline))
        return m_timeline->duration();
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
        markStartAt(*p);
}

void CutSession::markStartAt(double seconds)
{
    if (cutRunning())
        return;
    refreshDuration();
    m_state.startPos = generalText(seconds);
    m_state.fileKB = roundedKB(m_state.fileLength);
    if (const auto kb = positionToKB(m_state.startPos, m_state.duration, m_state.fileKB, kilobytes(m_state.audioStart)))
        m_state.sizeBoxes[0] = sizeBoxText(generalText(*kb));
    m_state.status = CutText::started;
    emit changed();
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

void CutSession::cut(double endSeconds)
{
    // Everything is worked out on a copy: a cut that is refused changes nothing.
    CutState next = m_state;
    if (const auto d = songDuration())
        next.duration = *d;
    next.endPos = generalText(endSeconds);
    next.fileKB = roundedKB(next.fileLength);

    const auto startMark = textValue(next.startPos);
    if (!startMark) {
        tellHint(CutText::markStartFirst, QString());
        return;
    }
    if (endSeconds < *startMark) {
        tellHint(CutText::endBeforeStart, CutText::captionHint);
        return;
    }
    if (next.outputFolder.isEmpty()) {
        tellHint(CutText::chooseFolder, CutText::captionHint);
        return;
    }

    KeptPiece kept;
    bool planned = m_files.isFolder(next.outputFolder) && m_files.isNormalFile(next.sourcePath);
    if (planned && variableBitRate()) {
        // Bytes are no measure of time in such a song: its frames say where each moment lies.
        kept = keptFromFrames(*m_timeline, *startMark, endSeconds);
        const qint64 rest = next.fileLength - kept.offset - kept.length;
        next.sizeBoxes = {sizeBoxText(generalText(kilobytes(kept.offset))),
                          sizeBoxText(generalText(kilobytes(kept.length))), sizeBoxText(oneDecimalText(kilobytes(rest)))};
        next.pieceSizes = {qint32(kept.offset), qint32(kept.length), qint32(rest)};
        next.pieceTop = 2;
    } else if (planned) {
        const double audioStartKB = kilobytes(next.audioStart);
        const auto endKB = positionToKB(next.endPos, next.duration, next.fileKB, audioStartKB);
        const auto startKB = positionToKB(next.startPos, next.duration, next.fileKB, audioStartKB);
        if (endKB && startKB) {
            // Both places from the same length: the player may have changed its mind about it
            // since the start was marked, or another song may have been chosen since.
            next.sizeBoxes[0] = sizeBoxText(generalText(*startKB));
            next.sizeBoxes[1] = sizeBoxText(generalText(*endKB - *startKB));
        }
        // A start at the very first byte leaves nothing in front of the selection; the plan then
        // moves the selection up to the first piece, and the kept piece follows it.
        const bool startsAtFirstByte = next.sizeBoxes[0] == u"0";
        const SplitPlan plan = planPieces(next.sizeBoxes, next.fileLength);
        planned = plan.ok;
        if (planned) {
            next.pieceSizes = plan.pieceSizes;
            next.pieceTop = plan.pieceTop;
            kept = keptFromPlan(plan.pieceSizes, startsAtFirstByte, timeline());
        }
    }
    if (!planned) {
        tellHint(CutText::chooseMp3, CutText::captionHint);
        return;
    }
    if (kept.length < 0) {
        tellHint(CutText::endBeforeStart, CutText::captionHint);
        return;
    }

    next.srcName = fileNamePart(next.sourcePath);
    next.srcPath = next.sourcePath;
    next.destDir = next.outputFolder;
    const QString target = m_pieceName.isEmpty() ? pieceFileName(next.destDir, 1, next.srcName) : m_pieceName;
    // Only an explicit name can be the song's own; writing there would replace the song itself.
    if (QFileInfo(target) == QFileInfo(next.srcPath)) {
        tellError(CutText::targetIsSource.arg(target));
        return;
    }
    // The name is the same for every cut of one song: a ringtone kept from an earlier cut may be
    // waiting under it.
    if (m_files.exists(target)
        && !m_prompts.askYesNo(CutText::replaceTarget.arg(target), CutText::captionHint))
        return;

    m_state = next;
    PieceWriter::Job job{m_state.srcPath, kept.offset, kept.length, kept.prefix, target};
    m_writer = new PieceWriter(m_files, std::move(job), this);
    connect(m_writer, &PieceWriter::finished, this, &CutSession::finishCut);
    connect(m_writer, &PieceWriter::progressed, this,
            [this](qint64 written) { emit cutProgress(written, m_writer->job().prefix.size() + m_writer->job().length); });
    m_writer->start();
    emit changed();
    emit cutStarted(kept.prefix.size() + kept.length);
}

void CutSession::finishCut(bool ok, const QString &failedPath, bool sourceFailed)
{
    m_writer->deleteLater();
    m_writer = nullptr;
    if (!ok) {
        tellError((sourceFailed ? CutText::sourceReadFailed : CutText::pieceWriteFailed).arg(failedPath));
        emit cutEnded(false);
        return;
    }
    m_state.status = CutText::cutDone;
    if (m_songPlayer)
        m_songPlayer->pause();
    showStep(3);
    if (m_piecePlayer)
        m_piecePlayer->load(keptPieceName());
    emit cutEnded(true);
}

void CutSession::abandonCut()
{
    if (!m_writer)
        return;
    delete m_writer;
    m_writer = nullptr;
    emit cutEnded(false);
}

void CutSession::savePiece()
{
    // The piece may be the very file a running cut is writing.
    if (cutRunning())
        return;
    const std::optional<QString> chosen = m_prompts.askSaveFile(CutText::saveFilter, CutText::saveTitle);
    if (!chosen || chosen->isEmpty())
        return;

    const QString piece = keptPieceName();
    const QString target = withMp3Extension(*chosen);
    if (!m_files.isNormalFile(piece)) {
        tellHint(CutText::nothingToSave, CutText::captionHint);
        return;
    }
    if (target == piece)
        return;
    if (m_files.exists(target) && !m_prompts.askYesNo(CutText::replaceTarget.arg(target), CutText::captionHint))
        return;
    if (!moveFile(m_files, piece, target))
        tellError(CutText::saveFailed.arg(target));
}

void CutSession::throwAway()
{
    if (cutRunning())
        return;
    if (m_piecePlayer)
        m_piecePlayer->load(QString());
    showStep(2);
    m_files.remove(keptPieceName());
}

void CutSession::keepAndStartOver()
{
    if (m_piecePlayer)
        m_piecePlayer->load(QString());
    showStep(1);
}

void CutSession::chooseAgain()
{
    showStep(1);
    if (m_songPlayer)
        m_songPlayer->stop();
}
