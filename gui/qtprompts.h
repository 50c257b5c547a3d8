#pragma once

#include "core/prompts.h"

#include <QFontMetrics>
#include <QPointer>
#include <QStringList>
#include <QWidget>

/// The session's questions as Qt's file dialogs and message boxes, modal to one window.
class QtPrompts : public Prompts
{
public:
    /// The window the dialogs belong to; none until it exists.
    void setWindow(QWidget *window) { m_window = window; }

    std::optional<QString> askOpenFile(const QString &filter, const QString &lastChosen) override;
    std::optional<QString> askSaveFile(const QString &filter, const QString &title) override;
    std::optional<QString> askFolder(const QString &title, const QString &startIn) override;
    bool askYesNo(const QString &text, const QString &caption) override;
    void tell(const QString &text, Icon icon, const QString &caption) override;

    /// "label|pattern|label|pattern" as the name filters QFileDialog shows. A lone last entry
    /// serves as both label and pattern.
    static QStringList nameFilters(const QString &filter);
    /// \a text with each line broken so that none is wider than \a width pixels: after the last
    /// '/' of what fits where that keeps at least half of it, else where the width ends.
    static QString wrapped(const QString &text, const QFontMetrics &metrics, int width);

private:
    QPointer<QWidget> m_window;
    /// The save dialog opens where the last piece was saved.
    QString m_lastSaved;
};
