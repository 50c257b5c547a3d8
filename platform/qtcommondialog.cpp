#include "qtcommondialog.h"

#include <QFileDialog>

QStringList QtCommonDialog::nameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString label = parts[i];
        const QString pattern = i + 1 < parts.size() ? parts[i + 1] : label;
        if (label.isEmpty() && pattern.isEmpty())
            continue;
        // QFileDialog takes the patterns from the brackets and separates them by blanks.
        QString patterns = pattern;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        result.append(QStringLiteral("%1 (%2)").arg(label, patterns));
    }
    return result;
}

void QtCommonDialog::setFilter(const QString &filter)
{
    m_nameFilters = nameFilters(filter);
}

bool QtCommonDialog::showOpen(QWidget *parent)
{
    return show(parent, false);
}

bool QtCommonDialog::showSave(QWidget *parent)
{
    return show(parent, true);
}

bool QtCommonDialog::show(QWidget *parent, bool save)
{
    QFileDialog dialog(parent, m_title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The program asks about replacing a file itself, once, with its own wording.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.resize(680, 420);
    if (!m_nameFilters.isEmpty())
        dialog.setNameFilters(m_nameFilters);
    if (!m_fileName.isEmpty())
        dialog.setDirectory(QFileInfo(m_fileName).absolutePath());

    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
        return true;
    }
    return !m_cancelError;
}
