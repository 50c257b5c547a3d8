#include "core/splitplan.h"

#include "core/numbertext.h"

#include <limits>
#include <optional>

namespace {

// Only this exact text marks a box as unused; "0.0" or "00" is a size of nothing the
// user asked for.
bool isEmptyBox(const QString &box)
{
    return box == u"0";
}

// Each box holding "0" lets the boxes after it move up by one. The box just filled is
// not looked at again, so two "0" in a row leave the second one in front.
void closeGaps(SizeBoxes &boxes)
{
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (!isEmptyBox(boxes[i]))
            continue;
        for (std::size_t j = i; j + 1 < boxes.size(); ++j)
            boxes[j] = boxes[j + 1];
        boxes.back() = QStringLiteral("0");
    }
}

std::optional<qint32> toQint32(qint64 v)
{
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(v);
}

} // namespace

SplitPlan planPieces(SizeBoxes &boxes, qint32 fileLength)
{
    SplitPlan plan;
    for (const QString &box : boxes) {
        if (!isNumberText(box))
            return plan;
    }
    plan.accepted = true;
    closeGaps(boxes);

    qint32 remaining = fileLength;
    bool overflow = false;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const std::optional<qint32> size = kbTextToBytes(boxes[i]);
        if (!size) {
            overflow = true;
            break;
        }
        if (*size < remaining && !isEmptyBox(boxes[i])) {
            plan.pieceSizes.append(*size);
            const std::optional<qint32> left = toQint32(qint64(remaining) - *size);
            if (!left) {
                overflow = true;
                break;
            }
            remaining = *left;
            continue;
        }
        // The file runs out in this box, or the box is empty: what is left becomes the
        // last piece, and the box shows its real size.
        if (remaining > 0 && !plan.pieceSizes.isEmpty()) {
            plan.pieceSizes.append(remaining);
            boxes[i] = oneDecimalText(remaining / 1024.0);
            for (std::size_t j = i + 1; j < boxes.size(); ++j)
                boxes[j] = QStringLiteral("0");
        }
        break;
    }

    plan.pieceTop = static_cast<qint16>(plan.pieceSizes.size() - 1);
    plan.ok = !overflow && plan.pieceTop != -1;
    return plan;
}
