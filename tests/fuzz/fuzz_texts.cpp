// Any bytes as what a person types: the input whole as a time, and split at its NUL bytes as the
// program's arguments. Besides the sanitizers' reports, it stops where a time is read from what
// is no time, or reads as another number than the C library reads, and where the arguments are
// taken for a cut or a window that the program cannot carry out as asked.

#include "app/arguments.h"
#include "engine/timetext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void require(bool holds, const char *rule)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", rule);
    std::abort();
}

void checkTime(std::string_view text)
{
    const auto seconds = timeTextSeconds(text);
    if (!seconds)
        return;
    require(std::isfinite(*seconds) && *seconds >= 0, "a time is a finite number of seconds, not negative");
    require(text.find_first_not_of("0123456789.:") == std::string_view::npos, "a time holds digits, points and colons");
    if (text.find(':') == std::string_view::npos) {
        const std::string copy(text);
        require(*seconds == std::strtod(copy.c_str(), nullptr), "seconds read as the C library reads them");
    }
}

void checkArguments(const std::vector<std::string_view> &arguments)
{
    const auto parsed = parseArguments(arguments);
    const auto *asked = std::get_if<Arguments>(&parsed);
    if (!asked)
        return;
    require(asked->fadeIn >= 0 && asked->fadeIn <= 60 && asked->fadeOut >= 0 && asked->fadeOut <= 60,
            "a fade lasts up to a minute");
    if (asked->mode == Arguments::Mode::Window) {
        require(asked->operands.size() <= 1 && !asked->output && !asked->overwrite && !asked->maxVolume
                    && asked->fadeIn == 0 && asked->fadeOut == 0,
                "a window opens one song at the most, and cuts nothing");
        return;
    }
    if (asked->mode != Arguments::Mode::Cut)
        return;
    require(!asked->output || !asked->output->empty(), "an output is named");
    require(asked->operands.size() == 3 && !asked->operands[2].empty(), "a cut has its marks and its song");
    for (int i = 0; i < 2; ++i)
        checkTime(asked->operands[std::size_t(i)]);
    if (asked->output == "-") {
        require(!asked->maxVolume && asked->fadeIn == 0 && asked->fadeOut == 0, "a stream's gain is never changed");
        return;
    }
    std::error_code error;
    const std::filesystem::path target = pieceTarget(asked->operands[2], asked->output, error);
    require(error || (target.is_absolute() && target.has_filename()), "a piece goes to a file's absolute path");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    checkTime(text);
    std::vector<std::string_view> arguments;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t nul = std::min(text.find('\0', from), text.size());
        arguments.push_back(text.substr(from, nul - from));
        from = nul + 1;
    }
    checkArguments(arguments);
    return 0;
}
