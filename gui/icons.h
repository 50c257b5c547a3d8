#pragma once

#include <QIcon>

/// The program's icon, read as the PNG it is: left to guess, Qt would load every image format
/// plugin it has to ask each whether it reads the file, while the window is first showing.
QIcon programIcon();

enum class TransportGlyph { Play, Pause, Stop };

/// The players' button icons, drawn here rather than taken from the style, which would first look
/// for them in the desktop's icon theme (a search through its folders, while the window is first
/// showing), and would look different on every desktop.
QIcon transportIcon(TransportGlyph glyph);
