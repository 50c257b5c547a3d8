#pragma once

#include <QString>

/// The name piece \a index of \a srcName is saved under; \a destDir ends with its
/// separator.
QString pieceFileName(const QString &destDir, int index, const QString &srcName);
