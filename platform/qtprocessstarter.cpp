#include "qtprocessstarter.h"

#ifdef Q_OS_WIN
#include <QDir>
#include <QProcess>
#include <QStringList>
#include <qt_windows.h>
#endif

void QtProcessStarter::startMinimized(const QString &commandLine)
{
#ifdef Q_OS_WIN
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty())
        return;
    // Never a program of the same name from the current folder: only the system's own.
    wchar_t systemDir[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(systemDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    const QString program = QDir(QString::fromWCharArray(systemDir, int(n))).filePath(words.takeFirst() + ".exe");
    QProcess process;
    process.setProgram(program);
    process.setArguments(words);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
    });
    process.startDetached();
#else
    Q_UNUSED(commandLine);
#endif
}
