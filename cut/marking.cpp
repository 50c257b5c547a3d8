// The two marking buttons of step two: "以此为起点" takes the start mark, "以此为终点" takes
// the end mark and cuts at once.

#include "app/frm.h"
#include "app/frmtexts.h"
#include "cut/cutrules.h"
#include "cut/mp3frames.h"
#include "cut/numbertext.h"
#include "cut/rangecopier.h"
#include "cut/splitplan.h"
#include "source/pathrules.h"

#include <QLabel>
#include <QLineEdit>

namespace {

double kilobytes(qint64 bytes)
{
    return double(bytes) / 1024.0;
}

} // namespace

bool Frm::readPlayer(QString &mark)
{
    const auto d = m_mdplay->duration();
    const auto p = m_mdplay->currentPosition();
    // Without both, a mark would be an old one, or a time mapped with another file's length.
    if (!d || !p) {
        showError(FrmText::playerUnreadable.arg(m_mdplay->url()));
        return false;
    }
    m_state.duration = *d;
    mark = generalText(*p);
    return true;
}

void Frm::alignKeptPieceToFrame(QList<qint32> &sizes)
{
    // A piece that begins inside a frame may begin with bytes that look like the header of
    // another kind of stream; players then give up on it at once. So the kept piece begins
    // at the next real frame of the song, at most a frame later than the mark.
    if (sizes.size() < 2 || sizes[0] <= 0)
        return;
    const auto source = m_platform.files->openRead(m_txtSource->text());
    if (!source || !source->seek(m_state.audioStart))
        return;
    const auto reference = frameHeaderAt(source->read(4), 0);
    if (!reference || !source->seek(sizes[0]))
        return;
    constexpr qint64 window = 16 * 1024;
    const auto start = nextFrameStart(source->read(window), 0, *reference);
    if (start && *start < sizes[1]) {
        sizes[0] += qint32(*start);
        sizes[1] -= qint32(*start);
    }
}

void Frm::markStart()
{
    // A second press while a cut copies must not move the marks under it.
    if (cutRunning())
        return;
    if (m_mdplay->url().isEmpty()) {
        showError(FrmText::chooseMp3);
        return;
    }
    if (!readPlayer(m_state.startPos))
        return;
    m_state.fileKB = roundedKB(m_state.fileLength);
    if (const auto kb = positionToKB(m_state.startPos, m_state.duration, m_state.fileKB, kilobytes(m_state.audioStart)))
        m_txtSplit[0]->setText(generalText(*kb));
    m_lb->setText(FrmText::started);
}

bool Frm::buildSplitPlan()
{
    const bool folderFound = m_platform.files->isFolder(m_txtDestdir->text());
    const bool sourceFound = m_platform.files->isNormalFile(m_txtSource->text());
    if (!folderFound || !sourceFound)
        return false;

    auto boxes = sizeBoxes();
    SplitPlan plan = planPieces(boxes, m_state.fileLength);
    if (!plan.accepted)
        return false;
    setSizeBoxes(boxes);
    m_state.pieceSizes = plan.pieceSizes;
    m_state.pieceTop = plan.pieceTop;
    return plan.ok;
}

void Frm::cutRange()
{
    if (cutRunning())
        return;

    if (!m_mdplay->url().isEmpty() && !readPlayer(m_state.endPos))
        return;
    m_state.fileKB = roundedKB(m_state.fileLength);

    const auto startMark = textValue(m_state.startPos);
    const auto endMark = textValue(m_state.endPos);
    if (!m_mdplay->url().isEmpty() && startMark && endMark && *endMark < *startMark) {
        m_platform.messages->show(this, FrmText::endBeforeStart, MessageBox::Icon::None, FrmText::captionHint);
        return;
    }

    const double audioStartKB = kilobytes(m_state.audioStart);
    const auto endKB = positionToKB(m_state.endPos, m_state.duration, m_state.fileKB, audioStartKB);
    const auto startKB = positionToKB(m_state.startPos, m_state.duration, m_state.fileKB, audioStartKB);
    if (endKB && startKB) {
        // Both places from the same length: the player may have changed its mind about it
        // since the start was marked, or another file may have been chosen since.
        m_txtSplit[0]->setText(generalText(*startKB));
        m_txtSplit[1]->setText(generalText(*endKB - *startKB));
    }

    // A start at the very first byte leaves nothing in front of the selection; the plan then
    // moves the selection up to the first piece, and the kept piece must follow it.
    const bool startsAtFirstByte = m_txtSplit[0]->text() == QStringLiteral("0");
    const bool planned = buildSplitPlan();

    if (m_mdplay->url().isEmpty()) {
        m_platform.messages->show(this, FrmText::markStartFirst, MessageBox::Icon::None, QString());
        return;
    }
    if (m_txtDestdir->text().isEmpty()) {
        m_platform.messages->show(this, FrmText::chooseFolder, MessageBox::Icon::None, FrmText::captionHint);
        return;
    }
    if (!planned) {
        m_platform.messages->show(this, FrmText::chooseMp3, MessageBox::Icon::None, FrmText::captionHint);
        return;
    }
    QList<qint32> sizes = m_state.pieceSizes.first(m_state.pieceTop + 1);
    if (std::any_of(sizes.cbegin(), sizes.cend(), [](qint32 size) { return size < 0; })) {
        m_platform.messages->show(this, FrmText::endBeforeStart, MessageBox::Icon::None, FrmText::captionHint);
        return;
    }
    if (startsAtFirstByte)
        sizes.prepend(0);
    else
        alignKeptPieceToFrame(sizes);

    setCursor(Qt::WaitCursor);
    m_state.srcName = fileNamePart(m_txtSource->text());
    m_state.srcPath = m_txtSource->text();
    m_state.destDir = m_txtDestdir->text();

    QList<RangeCopier::Piece> pieces;
    for (qsizetype i = 0; i < sizes.size(); ++i)
        pieces.append({pieceFileName(m_state.destDir, int(i), m_state.srcName), sizes[i]});
    m_copier = new RangeCopier(*m_platform.files, m_state.srcPath, pieces, this);
    connect(m_copier, &RangeCopier::finished, this, &Frm::finishCut);
    m_copier->start();
}

void Frm::finishCut(bool ok, const QString &failedPath, bool sourceFailed)
{
    const qsizetype pieceCount = m_copier->pieceCount();
    m_copier->deleteLater();
    m_copier = nullptr;
    unsetCursor();

    if (!ok) {
        showError((sourceFailed ? FrmText::sourceReadFailed : FrmText::pieceWriteFailed).arg(failedPath));
        emit cutEnded(false);
        return;
    }
    for (qsizetype i = 0; i < pieceCount; ++i) {
        if (i != 1)
            m_platform.files->remove(pieceFileName(m_state.destDir, int(i), m_state.srcName));
    }
    m_lb->setText(FrmText::cutDone);
    m_mdplay->pause();
    showStep(3);
    m_mdst->setUrl(keptPieceName());
    emit cutEnded(true);
}

QString Frm::keptPieceName() const
{
    return pieceFileName(m_state.destDir, 1, m_state.srcName);
}
