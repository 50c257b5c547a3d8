#pragma once

#include "platform/commondialog.h"
#include "platform/filesystem.h"
#include "platform/mediaplayer.h"
#include "platform/messagebox.h"
#include "platform/processstarter.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

/// A player whose reads answer what the test set. Setting a path "loads" it at once.
class FakePlayer : public MediaPlayer
{
    Q_OBJECT
public:
    using MediaPlayer::MediaPlayer;

    void setUrl(const QString &path) override;
    QString url() const override { return m_url; }
    std::optional<double> duration() const override { return m_url.isEmpty() ? std::nullopt : m_duration; }
    std::optional<double> currentPosition() const override { return m_url.isEmpty() ? std::nullopt : m_position; }
    void pause() override { playing = false; ++pauses; }
    void stop() override { playing = false; ++stops; }

    /// What the player reports while media is loaded; nullopt makes the read fail.
    std::optional<double> m_duration = 180.0;
    std::optional<double> m_position = 0.0;

    bool playing = false;
    int pauses = 0;
    int stops = 0;
    QStringList urlsSet;

private:
    QString m_url;
};

/// A dialog that answers from a queue: a path confirms it, nullopt cancels.
class FakeDialog : public CommonDialog
{
public:
    void setFilter(const QString &f) override { filter = f; }
    void setDialogTitle(const QString &t) override { title = t; }
    void setCancelError(bool on) override { cancelError = on; }
    bool showOpen(QWidget *) override { return answer(); }
    bool showSave(QWidget *) override { return answer(); }
    QString fileName() const override { return m_fileName; }

    QQueue<std::optional<QString>> answers;
    /// Runs while the dialog is "open", e.g. to change files behind the program's back.
    std::function<void()> whileOpen;
    QString filter;
    QString title;
    bool cancelError = false;
    int shown = 0;

private:
    bool answer();
    QString m_fileName;
};

/// Records every message; questions are answered from a queue (Yes when it is empty).
class FakeMessages : public MessageBox
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        QString caption;
    };

    void show(QWidget *, const QString &text, Icon icon, const QString &caption) override
    {
        shown.append({text, icon, caption});
    }
    bool askYesNo(QWidget *, const QString &text, const QString &caption) override
    {
        asked.append({text, Icon::Question, caption});
        return yesNoAnswers.isEmpty() ? true : yesNoAnswers.dequeue();
    }

    QList<Shown> shown;
    QList<Shown> asked;
    QQueue<bool> yesNoAnswers;
};

class FakeProcesses : public ProcessStarter
{
public:
    void startMinimized(const QString &commandLine) override { started.append(commandLine); }
    QStringList started;
};
