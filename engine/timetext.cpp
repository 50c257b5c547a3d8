#include "engine/timetext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// \a text as a decimal number of digits with at most one point, as from_chars reads it.
std::optional<double> decimal(std::string_view text)
{
    std::size_t digits = 0;
    std::size_t points = 0;
    for (const char c : text) {
        digits += isDigit(c) ? 1 : 0;
        points += c == '.' ? 1 : 0;
    }
    if (digits == 0 || points > 1 || digits + points != text.size())
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

/// Digits and nothing else.
bool isWhole(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

/// Two digits, then an optional point and more digits: the seconds behind a colon.
bool isClockSeconds(std::string_view text)
{
    return text.size() >= 2 && isDigit(text[0]) && isDigit(text[1]) && (text.size() == 2 || text[2] == '.');
}

} // namespace

std::optional<double> timeTextSeconds(std::string_view text)
{
    const std::size_t lastColon = text.rfind(':');
    if (lastColon == std::string_view::npos)
        return decimal(text);
    const std::string_view secondsText = text.substr(lastColon + 1);
    std::string_view minutesText = text.substr(0, lastColon);
    std::string_view hoursText;
    if (const std::size_t colon = minutesText.find(':'); colon != std::string_view::npos) {
        hoursText = minutesText.substr(0, colon);
        minutesText = minutesText.substr(colon + 1);
        if (!isWhole(hoursText))
            return std::nullopt;
    }
    if (!isWhole(minutesText) || !isClockSeconds(secondsText))
        return std::nullopt;
    // Digits past any double read as nothing, not as 0; and hours a double holds may still make
    // seconds it cannot.
    const std::optional<double> hours = hoursText.empty() ? 0.0 : decimal(hoursText);
    const std::optional<double> minutes = decimal(minutesText);
    const std::optional<double> seconds = decimal(secondsText);
    if (!hours || !minutes || !seconds || *seconds >= 60.0 || (!hoursText.empty() && *minutes >= 60.0))
        return std::nullopt;
    const double total = *hours * 3600.0 + *minutes * 60.0 + *seconds;
    return std::isfinite(total) ? std::optional(total) : std::nullopt;
}
