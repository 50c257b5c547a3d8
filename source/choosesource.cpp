// Step one: choosing the source MP3.

#include "app/frm.h"
#include "app/frmtexts.h"
#include "cut/cutrules.h"
#include "source/pathrules.h"

#include <QLineEdit>

#include <limits>

namespace {

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

void Frm::chooseSource()
{
    // Swapping the source while a cut reads it would leave the window describing another file.
    if (cutRunning())
        return;

    m_platform.cmmDlg->setCancelError(true);
    // A cancel keeps the dialog's last confirmed name, which is then taken again.
    m_platform.cmmDlg->showOpen(this);
    const QString chosen = m_platform.cmmDlg->fileName();
    if (!chosen.isEmpty()) {
        // Measure first: a file that cannot be cut must not replace the one that can.
        const auto length = m_platform.files->length(chosen);
        if (!length) {
            showError(FrmText::sourceUnreadable.arg(chosen));
            return;
        }
        if (*length > std::numeric_limits<qint32>::max()) {
            showError(FrmText::sourceTooLarge.arg(chosen));
            return;
        }
        m_txtSource->setText(chosen);
        if (m_txtDestdir->text().isEmpty())
            m_txtDestdir->setText(folderPart(m_txtSource->text()));
        m_state.fileLength = qint32(*length);
        m_state.audioStart = audioStartOf(*m_platform.files, m_txtSource->text(), *length);
        showStep(2);
    }
    m_mdplay->setUrl(m_platform.cmmDlg->fileName());
    refreshDuration();
}
