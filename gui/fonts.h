#pragma once

#include <QFont>
#include <QString>

/// A font named \a family that falls back to an installed Chinese Song (serif) face, then to
/// any CJK face, so the texts never turn into boxes where the named font is missing.
QFont cjkFont(const QString &family, double pointSize, bool bold = false);

/// The face of every text of the window and its dialogs: the window's Song face at 9 points.
/// Set as the application's font, it is the only face the window's first showing opens (a widget
/// that lays out text before taking its parent's font would otherwise open the system's too).
QFont windowFont();
