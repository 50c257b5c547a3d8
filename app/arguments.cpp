#include "app/arguments.h"

#include "core/cuttexts.h"

#include <cstdio>
#include <cstdlib>

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

/// A fade's length: a number of seconds above 0 and at most a minute.
std::optional<double> fadeSeconds(std::string_view text)
{
    const std::string value(text);
    char *end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !(seconds > 0 && seconds <= 60))
        return std::nullopt;
    return seconds;
}

} // namespace

std::variant<Arguments, UsageError> parseArguments(const std::vector<std::string_view> &arguments)
{
    Arguments parsed;
    bool cut = false;
    bool suggest = false;
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
        } else if (arg == "--suggest") {
            suggest = true;
        } else if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "-v" || arg == "--version") {
            version = true;
        } else if (arg == "--overwrite") {
            parsed.overwrite = true;
        } else if (arg == "--max-volume") {
            parsed.maxVolume = true;
        } else if (arg == "--verify") {
            parsed.verify = true;
        } else if (arg == "--fade-in" || arg == "--fade-out" || arg.substr(0, 10) == "--fade-in=" || arg.substr(0, 11) == "--fade-out=") {
            const bool in = arg.substr(0, 9) == "--fade-in";
            const std::size_t equals = arg.find('=');
            if (equals == std::string_view::npos && i + 1 == arguments.size())
                return UsageError{std::string(arg) + " 后面需要淡入淡出的秒数。"};
            const std::string_view value = equals == std::string_view::npos ? arguments[++i] : arg.substr(equals + 1);
            const auto seconds = fadeSeconds(value);
            if (!seconds)
                return UsageError{"淡入淡出的秒数须大于 0 且不超过 60：" + std::string(value)};
            (in ? parsed.fadeIn : parsed.fadeOut) = *seconds;
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
    if (suggest) {
        if (cut || parsed.output || parsed.overwrite || parsed.fadeIn > 0 || parsed.fadeOut > 0 || parsed.maxVolume
            || parsed.verify)
            return UsageError{"--suggest 不能与 --cut、-o、--overwrite、--fade-in、--fade-out、--max-volume 或 --verify 一起用。"};
        if (parsed.operands.size() != 1 || parsed.operands[0].empty())
            return UsageError{"--suggest 需要一个 FILE 参数。"};
        parsed.mode = Arguments::Mode::Suggest;
        return parsed;
    }
    if (!cut) {
        if (parsed.output || parsed.overwrite || parsed.fadeIn > 0 || parsed.fadeOut > 0 || parsed.maxVolume || parsed.verify)
            return UsageError{"-o、--overwrite、--fade-in、--fade-out、--max-volume 和 --verify 只能与 --cut 一起用。"};
        if (parsed.operands.size() > 1)
            return UsageError{"窗口一次只能打开一个文件。"};
        return parsed;
    }
    if (parsed.operands.size() != 3)
        return UsageError{"--cut 需要 START、END 和 FILE 三个参数。"};
    if (parsed.operands[2].empty())
        return UsageError{"要剪切的文件名不能为空。"};
    // The gain is changed in the piece once it is whole, which a stream never is.
    if (parsed.output == "-" && (parsed.fadeIn > 0 || parsed.fadeOut > 0 || parsed.maxVolume))
        return UsageError{"写到标准输出（-o -）时不能淡入淡出或调整音量。"};
    // The check reads the piece back.
    if (parsed.output == "-" && parsed.verify)
        return UsageError{"写到标准输出（-o -）时不能校验铃声。"};
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

std::filesystem::path pieceTarget(const std::filesystem::path &song, const std::optional<std::string> &output,
                                  std::error_code &error)
{
    const std::filesystem::path songPath = std::filesystem::absolute(song, error).lexically_normal();
    const std::string pieceName = CutWords::piecePrefix + std::string("1") + songPath.filename().string();
    if (error)
        return {};
    if (!output)
        return songPath.parent_path() / pieceName;
    const std::filesystem::path out = std::filesystem::absolute(*output, error).lexically_normal();
    if (error)
        return {};
    std::error_code notAFolder;
    if (output->back() == '/' || std::filesystem::is_directory(out, notAFolder))
        return out / pieceName;
    return endsWithMp3(*output) ? out : std::filesystem::path(out.string() + ".mp3");
}
