#include "core/cutrules.h"

#include "core/cuttexts.h"

QString pieceFileName(const QString &destDir, int index, const QString &srcName)
{
    return destDir + QString::fromUtf8(CutWords::piecePrefix) + QString::number(index) + srcName;
}
