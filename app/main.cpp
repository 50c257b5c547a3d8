#include "app/commandline.h"
#include "app/window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <cstdio>

namespace {

/// The window module: beside the program in a build tree, in the library folder once installed.
RunWindow findWindow(const char *argv0)
{
    const QDir here = QFileInfo(QString::fromLocal8Bit(argv0)).absoluteDir();
    for (const QString &folder : {here.path(), here.filePath(QStringLiteral(MP3CUTTER_INSTALLED_MODULE_DIR))}) {
        QLibrary module(QDir(folder).filePath(QStringLiteral("mp3cutter-window")));
        if (auto run = reinterpret_cast<RunWindow>(module.resolve(MP3CUTTER_WINDOW_ENTRY)))
            return run;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);
    const RunWindow runWindow = findWindow(argv[0]);
    if (!runWindow) {
        std::fputs("mp3cutter: the window module mp3cutter-window is missing; reinstall the program\n", stderr);
        return CommandLineFailed;
    }
    return runWindow(argc, argv);
}
