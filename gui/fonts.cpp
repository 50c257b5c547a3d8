#include "fonts.h"

#include <QStringList>

QFont cjkFont(const QString &family, double pointSize, bool bold)
{
    QFont font;
    font.setFamilies({family, QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont windowFont()
{
    return cjkFont(QStringLiteral("宋体"), 9);
}
