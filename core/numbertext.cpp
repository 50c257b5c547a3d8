#include "core/numbertext.h"

#include <QByteArray>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

// Only for texts that passed isNumberText(). The C locale reads "1." and ".5" and keeps
// the overflowed or underflowed value when it reports failure.
double validatedValue(const QString &t)
{
    return QLocale::c().toDouble(t);
}

// A string of decimal digits plus one in its last place; "99" gives "100".
QString incremented(QString digits)
{
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'9') {
            digits[i] = QChar(digits[i].unicode() + 1);
            return digits;
        }
        digits[i] = u'0';
    }
    return u'1' + digits;
}

} // namespace

QString generalText(double v)
{
    // -0 would otherwise keep its sign; to the user it is plain 0.
    if (v == 0.0)
        return QStringLiteral("0");
    return QString::number(v, 'g', 15);
}

QString oneDecimalText(double v)
{
    if (!std::isfinite(v))
        return generalText(v);

    // Rounds the 15-digit decimal form the user would see, not the binary value behind
    // it, half away from zero: 1.25 -> "1.3", and 0.15 -> "0.2" although the double
    // stored for 0.15 lies just below it.
    const QString sci = QString::number(std::abs(v), 'e', 14);
    const qsizetype ePos = sci.indexOf(u'e');
    const QString digits = sci.left(1) + sci.mid(2, ePos - 2);
    const int exponent = sci.mid(ePos + 1).toInt();

    // Digits up to and including the tenths, i.e. the value times 10 as an integer.
    const int keep = exponent + 2;
    QString tenths;
    if (keep >= digits.size()) {
        tenths = digits + QString(keep - digits.size(), u'0');
    } else if (keep >= 0) {
        tenths = digits.left(keep);
        if (digits[keep] >= u'5')
            tenths = incremented(tenths);
    }

    QString whole = tenths.chopped(qMin<qsizetype>(1, tenths.size()));
    while (whole.startsWith(u'0'))
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    const QChar tenth = tenths.isEmpty() ? QChar(u'0') : tenths.back();

    const bool zero = whole == u"0" && tenth == u'0';
    QString text = (v < 0 && !zero) ? QStringLiteral("-") : QString();
    text += whole + u'.';
    if (tenth != u'0')
        text += tenth;
    return text;
}

bool isNumberText(const QString &t)
{
    // [0-9] rather than \d: \d would also take digits of other scripts.
    static const QRegularExpression number(
        QStringLiteral("\\A[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?\\z"));
    return number.match(t).hasMatch();
}

std::optional<double> textValue(const QString &t)
{
    if (!isNumberText(t))
        return std::nullopt;
    return validatedValue(t);
}

std::optional<qint32> kbTextToBytes(const QString &t)
{
    if (!isNumberText(t))
        return std::nullopt;

    // Read straight into a float: going through a double first could round twice and
    // land on the other neighbouring float.
    const QByteArray latin = t.toLatin1();
    const char *first = latin.constData();
    const char *last = first + latin.size();
    if (*first == '+')
        ++first;
    float kb = 0.0f;
    if (std::from_chars(first, last, kb).ec == std::errc::result_out_of_range) {
        // from_chars leaves kb alone both when the text is too large and when it is too
        // small for a float; only the first is an error.
        if (std::abs(validatedValue(t)) > 1.0)
            return std::nullopt;
        kb = 0.0f;
    }

    const float scaled = kb * 1024.0f;
    if (!std::isfinite(scaled))
        return std::nullopt;

    // Halves go to the even neighbour, worked out here rather than left to the current
    // floating-point rounding mode.
    const double exact = scaled;
    double rounded = std::floor(exact);
    const double fraction = exact - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;

    if (rounded < std::numeric_limits<qint32>::min() || rounded > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(rounded);
}

QString sizeBoxText(const QString &text)
{
    return text.left(sizeBoxLength);
}

QString clockText(double seconds)
{
    // A time stepped up by tenths lands a hair below its tenth (0.1 + 0.2 = 0.30000000000000004,
    // but 0.7 + 0.1 = 0.7999999999999999): a millionth of a tenth more keeps it on its own.
    const double shown = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1e12) : 0.0;
    const qint64 tenths = qint64(std::floor(shown * 10.0 + 1e-6));
    const qint64 wholeSeconds = tenths / 10;
    const QString rest = QStringLiteral("%1.%2").arg(wholeSeconds % 60, 2, 10, QLatin1Char('0')).arg(tenths % 10);
    if (wholeSeconds < 3600)
        return QStringLiteral("%1:%2").arg(wholeSeconds / 60).arg(rest);
    return QStringLiteral("%1:%2:%3").arg(wholeSeconds / 3600).arg(wholeSeconds / 60 % 60, 2, 10, QLatin1Char('0')).arg(rest);
}
