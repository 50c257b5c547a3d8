#include "app/commandline.h"
#include "app/modules.h"
#include "app/suggest.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>


namespace {

int openWindow(char *program, const Arguments &arguments)
{
    const auto runWindow = reinterpret_cast<RunWindow>(
        moduleEntry(MP3CUTTER_WINDOW_MODULE, MP3CUTTER_WINDOW_ENTRY, ModuleSymbols::Shared));
    if (!runWindow) {
        std::fputs("mp3cutter：找不到窗口组件（" MP3CUTTER_WINDOW_MODULE "），请重新安装本程序\n", stderr);
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
    case Arguments::Mode::Suggest:
        return runSuggest(arguments);
    case Arguments::Mode::Window:
        break;
    }
    return openWindow(argv[0], arguments);
}
