#include "core/cutrules.h"

QString pieceFileName(const QString &destDir, int index, const QString &srcName)
{
    return destDir + QStringLiteral("[铃声]") + QString::number(index) + srcName;
}
