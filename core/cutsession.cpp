#include "core/cutsession.h"

#include "core/cutrules.h"
#include "core/numbertext.h"
#include "core/pathrules.h"
#include "core/piecewriter.h"
#include "core/savetarget.h"
#include "core/texts.h"
#include "engine/pieceheader.h"

#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <limits>

namespace {

double kilobytes(qint64 bytes)
{
    return double(bytes) / 1024.0;
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
    // Reading every frame header of a long song takes longer than the window may stand still.
    opening->thread = QThread::create([opening] {
        const std::filesystem::path song = fileSystemPath(opening->path);
        opening->song = scanSong(song);
        if (opening->song)
            opening->tags = SongTags::read(song);
    });
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
    std::optional<SongMap> song = scanSong(fileSystemPath(path));
    if (!song) {
        tellError(CutText::sourceNotMp3.arg(path));
        return false;
    }
    takeSource(path, *length, std::move(song), SongTags::read(fileSystemPath(path)));
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
        markStartAt(*p);
}

void CutSession::markStartAt(double seconds)
{
    if (cutRunning())
        return;
    refreshDuration();
    m_state.startPos = generalText(seconds);
    m_state.fileKB = roundedKB(m_state.fileLength);
    if (m_song)
        m_state.sizeBoxes[0] = sizeBoxText(generalText(kilobytes(bytesBefore(seconds))));
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

qint64 CutSession::bytesBefore(double seconds) const
{
    const qint64 frame = std::clamp<qint64>(m_song->sampleAt(seconds) / m_song->samplesPerFrame, 0,
                                            m_song->frameCount() - 1);
    return m_song->frames[std::size_t(frame)].offset;
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
        tellHint((start ? CutText::startPastEnd : CutText::endPastEnd)
                     .arg(generalText(start ? startSeconds : endSeconds), generalText(m_song->duration()),
                          m_state.sourcePath),
                 CutText::captionHint);
        return;
    }
}

void CutSession::cut(double endSeconds)
{
    // Everything is worked out on a copy: a cut that is refused changes nothing.
    m_markProblem.reset();
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
    if (next.outputFolder.isEmpty()) {
        tellHint(CutText::chooseFolder, CutText::captionHint);
        return;
    }
    if (!m_song || !m_files.isFolder(next.outputFolder) || !m_files.isNormalFile(next.sourcePath)) {
        tellHint(CutText::chooseMp3, CutText::captionHint);
        return;
    }
    const auto placed = placePiece(*m_song, *startMark, endSeconds);
    if (const auto *problem = std::get_if<MarkProblem>(&placed)) {
        m_markProblem = *problem;
        tellMarkProblem(*problem, *startMark, endSeconds);
        return;
    }
    const Placement &piece = std::get<Placement>(placed);
    std::optional<std::vector<std::uint8_t>> lead = leadFrames(*m_song, piece, fileSystemPath(next.sourcePath));
    if (!lead) {
        tellError(CutText::sourceReadFailed.arg(next.sourcePath));
        return;
    }
    std::vector<ByteRange> ranges = frameRanges(*m_song, piece);
    // The boxes and the plan show what was placed: the song's bytes in front of the piece's
    // frames, those the frames span, and the rest.
    const qint64 offset = ranges.front().offset;
    const qint64 spanned = ranges.back().offset + ranges.back().length - offset;
    const qint64 rest = next.fileLength - offset - spanned;
    next.sizeBoxes = {sizeBoxText(generalText(kilobytes(offset))), sizeBoxText(generalText(kilobytes(spanned))),
                      sizeBoxText(oneDecimalText(kilobytes(rest)))};
    next.pieceSizes = {qint32(offset), qint32(spanned), qint32(rest)};
    next.pieceTop = 2;

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
    // The piece is named only once whole, tags and all: a failure leaves nothing that looks like one.
    const std::vector<std::uint8_t> tag = m_tags.renderForPiece(
        std::llround(double(piece.endSample - piece.startSample) * 1000.0 / m_song->sampleRate()));
    PieceWriter::Job job{m_state.srcPath,
                         std::move(ranges),
                         QByteArray(reinterpret_cast<const char *>(tag.data()), qsizetype(tag.size())),
                         pieceHeaderFrame(*m_song, piece),
                         std::move(*lead),
                         target,
                         songTakesGain() ? gainChange() : GainChange()};
    startWriter(std::move(job), &CutSession::finishCut);
}

void CutSession::startWriter(PieceWriter::Job job, void (CutSession::*finished)(bool, const QString &, bool))
{
    m_writer = new PieceWriter(m_files, std::move(job), this);
    connect(m_writer, &PieceWriter::finished, this, finished);
    connect(m_writer, &PieceWriter::progressed, this,
            [this](qint64 written) { emit cutProgress(written, m_writer->job().length()); });
    m_writer->start();
    emit changed();
    emit cutStarted(m_writer->job().length());
}

void CutSession::finishCut(bool ok, const QString &failedPath, bool sourceFailed)
{
    if (ok)
        m_keptJob = m_writer->job();
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
    m_gainBefore = m_state.gain;
    m_state.gain.*choice = on;
    emit changed();
    if (m_state.step != 3 || !m_keptJob || !m_files.isNormalFile(m_keptJob->targetPath))
        return;
    if (!songTakesGain()) {
        tellNoGain();
        return;
    }
    // Cut again from the song rather than changed in place: the piece then never holds a fade
    // it no longer should, and a failure leaves it as it was.
    PieceWriter::Job job = *m_keptJob;
    job.gain = gainChange();
    startWriter(std::move(job), &CutSession::finishRewrite);
}

void CutSession::finishRewrite(bool ok, const QString &failedPath, bool sourceFailed)
{
    m_writer->deleteLater();
    m_writer = nullptr;
    if (!ok) {
        m_state.gain = m_gainBefore;
        emit changed();
        tellError((sourceFailed ? CutText::sourceReadFailed : CutText::rewriteFailed).arg(failedPath));
        emit cutEnded(false);
        return;
    }
    // From the start: what was heard so far was the piece as it was.
    if (m_piecePlayer)
        m_piecePlayer->load(m_keptJob->targetPath);
    emit cutEnded(true);
}

GainChange CutSession::gainChange() const
{
    const GainChoice &choice = m_state.gain;
    return {choice.fadeIn ? defaultFadeSeconds : 0.0, choice.fadeOut ? defaultFadeSeconds : 0.0, choice.maxVolume};
}

bool CutSession::songTakesGain() const
{
    return m_song && m_song->reference.layer == 3;
}

void CutSession::tellNoGain()
{
    tellHint(CutText::noGainForLayer.arg(m_song->reference.layer == 1 ? QStringLiteral("I") : QStringLiteral("II")),
             CutText::captionHint);
}
