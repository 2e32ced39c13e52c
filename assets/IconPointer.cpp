#include "IconPointer.h"

#include <QPainter>
#include <QPixmap>

namespace pictures {

QCursor iconPointer()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::white, 3));
    painter.drawRect(4, 4, 23, 23);
    painter.drawRect(12, 12, 7, 7);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(4, 4, 23, 23);
    painter.drawRect(12, 12, 7, 7);
    painter.end();
    return QCursor(pixmap, 16, 16);
}

} // namespace pictures
