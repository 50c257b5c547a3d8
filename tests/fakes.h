#pragma once

#include "app/frm.h"
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

/// The real file system, with faults to order: refused opens, a write budget after which
/// writes fail as on a full disk, renames that fail or cross file systems. It logs what it did.
class FaultyFileSystem : public FileSystem
{
public:
    explicit FaultyFileSystem(std::unique_ptr<FileSystem> real);

    std::optional<qint64> length(const QString &path) override { return m_real->length(path); }
    bool isFolder(const QString &path) override { return m_real->isFolder(path); }
    bool isNormalFile(const QString &path) override { return m_real->isNormalFile(path); }
    bool exists(const QString &path) override { return m_real->exists(path); }
    std::unique_ptr<QIODevice> openRead(const QString &path) override;
    std::unique_ptr<QIODevice> openWrite(const QString &path) override;
    MoveResult rename(const QString &from, const QString &to) override;
    bool remove(const QString &path) override;

    /// Paths for which openWrite fails, as in a folder the user may not write to.
    std::function<bool(const QString &)> refuseWrite;
    /// Bytes all writes together may still take before they fail; negative for no limit.
    qint64 writeBudget = -1;
    /// Renames between two folders answer CrossDevice without touching anything.
    bool renamesCrossDevice = false;
    /// Every openWrite, rename and remove, as "write PATH", "rename FROM > TO", "remove PATH".
    QStringList log;
    /// Which files existed when each piece was opened for writing.
    QList<QStringList> existingAtOpen;

private:
    std::unique_ptr<FileSystem> m_real;
};

/// A main window built on fakes, or on the real players, with the real file system below a
/// FaultyFileSystem.
struct Harness
{
    /// Real players play real files through Qt Multimedia; the fakes answer what a test sets.
    enum class Players { Fake, Real };

    explicit Harness(Players players = Players::Fake);
    ~Harness();

    template<class T>
    T *child(const QString &name) const
    {
        return frm->findChild<T *>(name);
    }
    /// Clicks the button as a user would.
    void click(const QString &name) const;
    /// Picks \a path in the open dialog of step one.
    void choose(const QString &path) const;
    /// Presses the start button with the player at \a seconds.
    void markAt(double seconds) const;
    /// Presses the end button at \a seconds; true when a cut ran and succeeded.
    bool cutAt(double seconds) const;
    /// The step whose pane is visible, 0 when none or several are.
    int visibleStep() const;
    /// The step whose indicator is enabled, 0 when none or several are.
    int enabledStep() const;

    /// Null with real players; markAt() and cutAt() need these.
    FakePlayer *mdplay = nullptr;
    FakePlayer *mdst = nullptr;
    /// The step-two and step-three players, fake or real.
    MediaPlayer *play = nullptr;
    MediaPlayer *listen = nullptr;
    FakeDialog *cmmDlg = nullptr;
    FakeDialog *comDlg = nullptr;
    FakeMessages *messages = nullptr;
    FaultyFileSystem *files = nullptr;
    FakeProcesses *processes = nullptr;
    std::unique_ptr<Frm> frm;
};

/// The whole content of a file; empty when it cannot be read.
QByteArray readAll(const QString &path);
/// Writes a file of \a size bytes whose every byte tells its offset apart from its neighbours.
QByteArray writePatternFile(const QString &path, qint64 size);
