#include "app/arguments.h"

#include "core/cuttexts.h"

#include <cstdio>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool endsWithMp3(const std::string &name)
{
    constexpr std::string_view mp3 = ".mp3";
    if (name.size() < mp3.size())
        return false;
    for (std::size_t i = 0; i < mp3.size(); ++i) {
        const char c = name[name.size() - mp3.size() + i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != mp3[i])
            return false;
    }
    return true;
}

} // namespace

std::variant<Arguments, UsageError> parseArguments(const std::vector<std::string_view> &arguments)
{
    Arguments parsed;
    bool cut = false;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        const bool operand = optionsEnded || arg.size() < 2 || arg[0] != '-' || isDigit(arg[1]) || arg[1] == '.';
        if (operand) {
            parsed.operands.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--cut") {
            cut = true;
        } else if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "-v" || arg == "--version") {
            version = true;
        } else if (arg == "--overwrite") {
            parsed.overwrite = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 == arguments.size())
                return UsageError{std::string(arg) + " 后面需要输出文件名。"};
            parsed.output = std::string(arguments[++i]);
        } else if (arg.substr(0, 9) == "--output=") {
            parsed.output = std::string(arg.substr(9));
        } else if (arg.substr(0, 2) == "-o") {
            parsed.output = std::string(arg.substr(2));
        } else {
            return UsageError{"未知选项：" + std::string(arg)};
        }
    }
    if (help || version) {
        parsed.mode = help ? Arguments::Mode::Help : Arguments::Mode::Version;
        return parsed;
    }
    if (parsed.output && parsed.output->empty())
        return UsageError{"-o 后面的输出文件名不能为空。"};
    if (!cut) {
        if (parsed.output || parsed.overwrite)
            return UsageError{"-o 和 --overwrite 只能与 --cut 一起用。"};
        if (parsed.operands.size() > 1)
            return UsageError{"窗口一次只能打开一个文件。"};
        return parsed;
    }
    if (parsed.operands.size() != 3)
        return UsageError{"--cut 需要 START、END 和 FILE 三个参数。"};
    parsed.mode = Arguments::Mode::Cut;
    return parsed;
}

std::string generalText(double v)
{
    // -0 would otherwise keep its sign; to the user it is plain 0.
    if (v == 0.0)
        return "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

std::filesystem::path pieceTarget(const std::filesystem::path &song, const std::optional<std::string> &output)
{
    const std::filesystem::path songPath = std::filesystem::absolute(song).lexically_normal();
    const std::string pieceName = CutWords::piecePrefix + std::string("1") + songPath.filename().string();
    if (!output)
        return songPath.parent_path() / pieceName;
    const std::filesystem::path out = std::filesystem::absolute(*output).lexically_normal();
    std::error_code error;
    if (output->back() == '/' || std::filesystem::is_directory(out, error))
        return out / pieceName;
    return endsWithMp3(*output) ? out : std::filesystem::path(out.string() + ".mp3");
}
