#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

/// Numbers as the user sees and types them. Every conversion here uses "." as the
/// decimal point whatever the system locale, so a text written by one function always
/// reads back with another.

/// \a v with up to 15 significant digits, no trailing zeros; an exponent only for
/// magnitudes of 1e15 and above or below 1e-4.
QString generalText(double v);

/// \a v rounded to one decimal, the point always written and the decimal digit only when
/// it is not 0: 2 -> "2.", 1.5 -> "1.5", 0.04 -> "0.".
QString oneDecimalText(double v);

/// A plain decimal number: optional sign, digits with an optional point, an optional
/// exponent. Nothing else, not even blanks.
bool isNumberText(const QString &t);

/// The value of \a t; empty when it is not a number text. Too large a number gives an
/// infinity, too small a one 0.
std::optional<double> textValue(const QString &t);

/// A size typed in KB, in bytes: the text as a single-precision float times 1024, to the
/// nearest integer with halves to the even one. Empty when the text is not a number or
/// the bytes do not fit in a qint32.
std::optional<qint32> kbTextToBytes(const QString &t);

/// Characters a size box holds; a longer text keeps its first ones.
constexpr qsizetype sizeBoxLength = 8;

/// \a text as a size box holds it: its first sizeBoxLength characters.
QString sizeBoxText(const QString &text);

/// \a seconds as a clock shows them, to the tenth of a second: "m:ss.t", from an hour on
/// "h:mm:ss.t". The tenths are cut, not rounded, as a clock's are: 12.39 reads "0:12.3". Negative
/// times read as 0; the engine's timeTextSeconds() reads every text back.
QString clockText(double seconds);
