#include "app/closingsignals.h"
#include "app/commandline.h"
#include "app/desktopapp.h"
#include "app/modules.h"
#include "gui/fonts.h"
#include "gui/frmtexts.h"
#include "gui/icons.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QList>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

/// A player from the player's module, loaded with the first one: Qt Multimedia and the sound
/// libraries under it cost the window's first showing nothing. Null when the module is missing,
/// which the window then says.
PlayerEngine *makePlayer(QObject *parent)
{
    static const auto make = reinterpret_cast<MakePlayer>(moduleEntry(MP3CUTTER_PLAYER_MODULE, MP3CUTTER_PLAYER_ENTRY));
    return make ? make(parent) : nullptr;
}

// What Qt says while the application starts is held back: without a display Qt ends the
// program after a page about its platform plugins, and one line that says what to do takes its
// place. With a display, what was held is said after all.

struct HeldMessage
{
    QtMsgType type;
    // Qt's logging passes static strings for these, which outlive the message.
    const char *file;
    int line;
    const char *function;
    const char *category;
    QString text;
};

QList<HeldMessage> heldMessages;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fputs("mp3cutter：没有可以打开窗口的显示器；不开窗口剪切请用 mp3cutter --cut START END FILE\n", stderr);
        std::_Exit(CommandLineFailed);
    }
    heldMessages.append({type, context.file, context.line, context.function, context.category, text});
}

void sayHeldMessages()
{
    qInstallMessageHandler(nullptr);
    for (const HeldMessage &m : std::as_const(heldMessages))
        qt_message_output(m.type, QMessageLogContext(m.file, m.line, m.function, m.category), m.text);
    heldMessages.clear();
}

/// Runs the window until it is closed; \a received the signal that closed it, or 0.
int runWindow(int argc, char *argv[], int &received)
{
    qInstallMessageHandler(&holdMessage);
    QApplication app(argc, argv);
    sayHeldMessages();
    QApplication::setApplicationName(QStringLiteral("mp3cutter"));
    QApplication::setApplicationDisplayName(FrmText::title);
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(programIcon());
    QApplication::setFont(windowFont());

    // Every text of the program is Chinese, so Qt's own (the file dialogs) should be too,
    // whatever language the desktop runs in.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    DesktopApp desktop(QApplication::arguments(), &makePlayer, QStringLiteral(MP3CUTTER_PLAYER_MODULE));
    desktop.session().setTagReader(moduleTags());
    const ClosingSignals closing;
    desktop.window().show();
    const int status = QApplication::exec();
    received = closing.received();
    return status;
}

} // namespace

extern "C" int mp3cutterRunWindow(int argc, char *argv[])
{
    int received = 0;
    const int status = runWindow(argc, argv, received);
    // Closed by a signal, and all put away: the program ends as the signal ends it, with the
    // status a shell expects.
    if (received != 0) {
        std::signal(received, SIG_DFL);
        std::raise(received);
    }
    return status;
}
