#include "gui/icons.h"

#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

QIcon programIcon()
{
    QImageReader reader(QStringLiteral(":/mp3cutter.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return QIcon(QPixmap::fromImage(reader.read()));
}

QIcon transportIcon(TransportGlyph glyph)
{
    // On an 18-pixel square; drawn again at twice the size for screens of twice the density.
    constexpr int side = 18;
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(side * scale, side * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x30, 0x30, 0x30));
        switch (glyph) {
        case TransportGlyph::Play:
            painter.drawPolygon(QPolygonF({{5, 3}, {15, 9}, {5, 15}}));
            break;
        case TransportGlyph::Pause:
            painter.drawRect(QRectF(4.5, 3.5, 3.5, 11));
            painter.drawRect(QRectF(10, 3.5, 3.5, 11));
            break;
        case TransportGlyph::Stop:
            painter.drawRect(QRectF(4.5, 4.5, 9, 9));
            break;
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
