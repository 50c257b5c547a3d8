#pragma once

#include <QRect>

/// Window layouts are drawn in twips; 15 of them make a pixel.
constexpr QRect twips(int left, int top, int width, int height)
{
    constexpr auto px = [](int t) { return (t + 7) / 15; };
    return {px(left), px(top), px(width), px(height)};
}
