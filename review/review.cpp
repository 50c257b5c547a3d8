// Step three: keeping the cut piece under a chosen name, or throwing it away to mark again.

#include "app/frm.h"
#include "app/frmtexts.h"
#include "review/savetarget.h"

void Frm::savePiece()
{
    // The piece may be the very file a running cut is writing.
    if (cutRunning())
        return;
    CommonDialog &dialog = *m_platform.comDlg;
    dialog.setFilter(FrmText::saveFilter);
    dialog.setDialogTitle(FrmText::saveTitle);
    // Reported as a failure so that a cancel is told apart from a confirm of the last name.
    dialog.setCancelError(true);
    if (!dialog.showSave(this) || dialog.fileName().isEmpty())
        return;

    const QString piece = keptPieceName();
    const QString target = withMp3Extension(dialog.fileName());
    FileSystem &files = *m_platform.files;
    if (!files.isNormalFile(piece)) {
        m_platform.messages->show(this, FrmText::nothingToSave, MessageBox::Icon::None, FrmText::captionHint);
        return;
    }
    if (target == piece)
        return;
    if (files.exists(target)
        && !m_platform.messages->askYesNo(this, FrmText::replaceTarget.arg(target), FrmText::captionHint))
        return;
    if (!moveFile(files, piece, target))
        showError(FrmText::saveFailed.arg(target));
}

void Frm::recutPiece()
{
    if (cutRunning())
        return;
    m_mdst->setUrl(QString());
    showStep(2);
    m_platform.files->remove(keptPieceName());
}
