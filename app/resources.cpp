// Artwork by resource number, with drawn placeholders of the right size when it is not built in.
#include "app/resources.h"

#include <QFile>
#include <QPainter>

namespace {

QString resourcePath(int id) {
    return QStringLiteral(":/res/%1.png").arg(id);
}

QSize placeholderSize(int id) {
    switch (id) {
    case RES_TREE_STRIP:
        return {96, 16};
    case RES_LOGON_PICTURE:
        return {392, 163};
    case 189:
        return {640, 480};
    case 185:
    case 186:
    case 187:
    case 188:
    case 190:
        return {640, 470};
    case RES_APP_ICON:
        return {32, 32};
    default:
        return {24, 24};
    }
}

// A plain drawing: a framed tile with the resource number; the tree strip gets six figures.
QPixmap placeholder(int id) {
    QSize size = placeholderSize(id);
    QPixmap pixmap(size);
    pixmap.fill(QColor(192, 192, 192));
    QPainter p(&pixmap);
    if (id == RES_TREE_STRIP) {
        for (int i = 0; i < 6; ++i) {
            QRect cell(i * 16 + 3, 3, 10, 10);
            p.fillRect(cell, i == 0 ? QColor(0, 0, 128) : QColor(0, 128, 255));
        }
        return pixmap;
    }
    p.setPen(QColor(0, 0, 128));
    p.drawRect(QRect(QPoint(0, 0), size - QSize(1, 1)));
    if (size.width() >= 64) p.drawText(pixmap.rect(), Qt::AlignCenter, QString::number(id));
    return pixmap;
}

} // namespace

bool orvelanResourceExists(int resourceId) {
    return QFile::exists(resourcePath(resourceId));
}

QPixmap orvelanBitmap(int resourceId) {
    QPixmap pixmap;
    if (orvelanResourceExists(resourceId) && pixmap.load(resourcePath(resourceId))) return pixmap;
    return placeholder(resourceId);
}

QIcon orvelanIcon(int resourceId) {
    QIcon icon(orvelanBitmap(resourceId));
    // The application icon also comes large, for window managers that show it big.
    const QString large = QStringLiteral(":/res/%1-256.png").arg(resourceId);
    if (QFile::exists(large)) icon.addFile(large);
    return icon;
}
