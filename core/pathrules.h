#pragma once

#include <QString>

/// The folder of \a path up to and including its last native separator; "" when there
/// is none.
QString folderPart(const QString &path);

/// What follows the last native separator of \a path; all of it when there is none.
QString fileNamePart(const QString &path);
