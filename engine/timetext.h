#pragma once

#include <optional>
#include <string_view>

/// A time typed as seconds ("12.5") or as [h:]m:ss[.fff] ("0:12.5", "1:02:03"), in seconds.
/// Empty for anything else, including negative times, minutes or seconds of 60 or more after
/// a colon, and times too large for a double.
std::optional<double> timeTextSeconds(std::string_view text);
