#pragma once

#include <QString>

class QWidget;

/// An open or save file dialog that keeps its settings and its last confirmed name
/// between uses.
class CommonDialog
{
public:
    virtual ~CommonDialog() = default;

    /// Label and pattern pairs joined by "|", e.g. "MP3音频文件|*.mp3". A lone last
    /// entry serves as both label and pattern.
    virtual void setFilter(const QString &filter) = 0;
    virtual void setDialogTitle(const QString &title) = 0;
    /// When true, a cancel makes showOpen()/showSave() report failure.
    virtual void setCancelError(bool on) = 0;
    /// Modal open dialog. Returns false only for a cancel under setCancelError(true).
    virtual bool showOpen(QWidget *parent) = 0;
    /// Modal save dialog. Never asks about overwriting: the caller does that itself.
    virtual bool showSave(QWidget *parent) = 0;
    /// The full path last confirmed, exactly as confirmed (no extension added);
    /// a cancel leaves it as it was. Empty until the first confirm.
    virtual QString fileName() const = 0;
};
