#pragma once

#include <QFont>
#include <QString>

/// A font named \a family that falls back to an installed Chinese Song (serif) face, then to
/// any CJK face, so the texts never turn into boxes where the named font is missing.
QFont cjkFont(const QString &family, double pointSize, bool bold = false);
