#pragma once

#include <QString>

#include <optional>

/// What the cut session asks of the person using it, and tells them. The window answers with
/// dialogs, the command line with its arguments and standard error, tests with queued answers.
class Prompts
{
public:
    enum class Icon { None, Warning, Error };

    virtual ~Prompts() = default;

    /// A file to open, from a dialog offering \a filter ("label|pattern") that starts beside
    /// \a lastChosen; empty when the person cancels.
    virtual std::optional<QString> askOpenFile(const QString &filter, const QString &lastChosen) = 0;
    /// A name to save under, as typed or picked (no extension added); empty on cancel.
    virtual std::optional<QString> askSaveFile(const QString &filter, const QString &title) = 0;
    /// A folder, from a dialog titled \a title that starts in \a startIn; empty on cancel. A
    /// front end that has no way to ask (the command line) cancels.
    virtual std::optional<QString> askFolder([[maybe_unused]] const QString &title, [[maybe_unused]] const QString &startIn)
    {
        return std::nullopt;
    }
    /// True for yes.
    virtual bool askYesNo(const QString &text, const QString &caption) = 0;
    /// A message with one OK button; an empty caption stands for the program's title.
    virtual void tell(const QString &text, Icon icon, const QString &caption) = 0;
};
