#include "app/commandline.h"
#include "app/window.h"

#include <climits>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace {

/// The window module, by an absolute path from where this program's own file lies, never from the
/// current folder: installed, in the library folder beside the program's; in a build tree, beside
/// the program.
RunWindow findWindow()
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return nullptr;
    self[length] = '\0';
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    for (const std::filesystem::path &module : {folder / MP3CUTTER_INSTALLED_MODULE, folder / "libmp3cutter-window.so"}) {
        if (void *library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL))
            return reinterpret_cast<RunWindow>(::dlsym(library, MP3CUTTER_WINDOW_ENTRY));
    }
    return nullptr;
}

int openWindow(char *program, const Arguments &arguments)
{
    const RunWindow runWindow = findWindow();
    if (!runWindow) {
        std::fputs("mp3cutter: the window module libmp3cutter-window.so is missing; reinstall the program\n", stderr);
        return CommandLineFailed;
    }
    const char *file = arguments.operands.empty() ? nullptr : arguments.operands.front().c_str();
    std::string songArgument = file ? file : "";
    std::vector<char *> argv{program};
    if (file)
        argv.push_back(songArgument.data());
    argv.push_back(nullptr);
    return runWindow(int(argv.size() - 1), argv.data());
}

} // namespace

int main(int argc, char *argv[])
{
    const auto parsed = parseArguments(std::vector<std::string_view>(argv + 1, argv + argc));
    if (const auto *wrong = std::get_if<UsageError>(&parsed))
        return usage(wrong->message);
    const Arguments &arguments = std::get<Arguments>(parsed);
    switch (arguments.mode) {
    case Arguments::Mode::Help:
        return printHelp();
    case Arguments::Mode::Version:
        return printVersion();
    case Arguments::Mode::Cut:
        return runCut(arguments);
    case Arguments::Mode::Window:
        break;
    }
    return openWindow(argv[0], arguments);
}
