#include "gui/qtprompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

/// The widest line of a message, in pixels: wider boxes are hard to read.
constexpr int messageWidth = 420;

std::optional<QString> runFileDialog(QWidget *parent, const QString &title, const QString &filter,
                                     const QString &startBeside, bool save)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The program asks about replacing a file itself, once, with its own wording.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.resize(680, 420);
    if (const QStringList filters = QtPrompts::nameFilters(filter); !filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!startBeside.isEmpty())
        dialog.setDirectory(QFileInfo(startBeside).absolutePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString captionOr(const QString &caption)
{
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

QMessageBox::Icon boxIcon(Prompts::Icon icon)
{
    switch (icon) {
    case Prompts::Icon::Error:
        return QMessageBox::Critical;
    case Prompts::Icon::Warning:
        return QMessageBox::Warning;
    case Prompts::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

/// \a text as a message box shows it: a box grows with its longest line up to most of the
/// screen and wraps only at blanks, so a long path would run off its edge.
QString wrappedForBox(const QString &text)
{
    return QtPrompts::wrapped(text, QFontMetrics(QApplication::font("QMessageBox")), messageWidth);
}

} // namespace

QString QtPrompts::wrapped(const QString &text, const QFontMetrics &metrics, int width)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n')) {
        QString rest = line;
        while (metrics.horizontalAdvance(rest) > width) {
            // The most characters that fit, with a break after a folder's separator where one is near.
            qsizetype fit = 1;
            while (fit < rest.size() && metrics.horizontalAdvance(rest.left(fit + 1)) <= width)
                ++fit;
            if (const qsizetype slash = rest.lastIndexOf(u'/', fit - 1); slash >= fit / 2)
                fit = slash + 1;
            lines.append(rest.left(fit));
            rest = rest.mid(fit);
        }
        lines.append(rest);
    }
    return lines.join(u'\n');
}

QStringList QtPrompts::nameFilters(const QString &filter)
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

std::optional<QString> QtPrompts::askOpenFile(const QString &filter, const QString &lastChosen)
{
    return runFileDialog(m_window, QString(), filter, lastChosen, false);
}

std::optional<QString> QtPrompts::askSaveFile(const QString &filter, const QString &title)
{
    const auto chosen = runFileDialog(m_window, title, filter, m_lastSaved, true);
    if (chosen)
        m_lastSaved = *chosen;
    return chosen;
}

std::optional<QString> QtPrompts::askFolder(const QString &title, const QString &startIn)
{
    QFileDialog dialog(m_window, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.resize(680, 420);
    // A folder that has gone opens the dialog where it was, as near as there is something.
    QString start = QDir::cleanPath(startIn);
    while (!start.isEmpty() && !QFileInfo(start).isDir() && QFileInfo(start).path() != start)
        start = QFileInfo(start).path();
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

bool QtPrompts::askYesNo(const QString &text, const QString &caption)
{
    QMessageBox box(QMessageBox::Question, captionOr(caption), wrappedForBox(text), QMessageBox::Yes | QMessageBox::No,
                    m_window);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    // Replacing a file is the risky answer, so it is not the one Enter gives.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::tell(const QString &text, Icon icon, const QString &caption)
{
    QMessageBox box(boxIcon(icon), captionOr(caption), wrappedForBox(text), QMessageBox::Ok, m_window);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}
