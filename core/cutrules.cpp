#include "core/cutrules.h"

#include "core/numbertext.h"

#include <cmath>

std::optional<double> positionToKB(const QString &markText, double duration, double fileKB,
                                   double audioStartKB)
{
    const std::optional<double> seconds = textValue(markText);
    if (!seconds || duration == 0.0)
        return std::nullopt;
    // Dividing first keeps the result to the last bit the same as the plain proportion
    // seconds / duration * fileKB when there is no tag in front.
    const double kb = audioStartKB + *seconds / duration * (fileKB - audioStartKB);
    if (!std::isfinite(kb))
        return std::nullopt;
    return kb;
}

QString pieceFileName(const QString &destDir, int index, const QString &srcName)
{
    return destDir + QStringLiteral("[铃声]") + QString::number(index) + srcName;
}

qint64 id3v2TagSize(const QByteArray &head)
{
    constexpr qsizetype headerSize = 10;
    constexpr unsigned char footerFlag = 0x10;
    if (head.size() < headerSize || !head.startsWith("ID3"))
        return 0;

    const auto byte = [&head](qsizetype i) { return static_cast<unsigned char>(head[i]); };
    const unsigned char version = byte(3);
    if (version < 2 || version > 4 || byte(4) == 0xFF)
        return 0;

    // The size is stored seven bits to a byte so that no byte of it looks like the start
    // of an MPEG frame; a byte with its top bit set means this is no tag header.
    qint64 size = 0;
    for (qsizetype i = 6; i < headerSize; ++i) {
        if (byte(i) >= 0x80)
            return 0;
        size = (size << 7) | byte(i);
    }

    const bool hasFooter = version == 4 && (byte(5) & footerFlag) != 0;
    return headerSize + size + (hasFooter ? headerSize : 0);
}
