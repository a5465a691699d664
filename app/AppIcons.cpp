// Small pictograms for the toolbar: each link kind has its colour, connect is a
// closed plug and disconnect an open one; capture is a red dot and a square.
#include "app/AppIcons.h"
#include "res/resource.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
constexpr int kW = 16, kH = 15;

QPixmap blank() {
    QPixmap pm(kW, kH);
    pm.fill(Qt::transparent);
    return pm;
}

QIcon plug(QColor colour, bool connected, QChar letter) {
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(0.5, 3.5, 7, 8), 1.5, 1.5);
    p.drawLine(QPointF(0, 7.5), QPointF(-1, 7.5));
    const qreal gap = connected ? 0 : 3;
    p.setBrush(connected ? colour : QColor(Qt::lightGray));
    p.drawRect(QRectF(8 + gap, 5, 3, 5));
    p.drawLine(QPointF(11 + gap, 7.5), QPointF(15, 7.5));
    QFont f = p.font();
    f.setPixelSize(7);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0.5, 3.5, 7, 8), Qt::AlignCenter, QString(letter));
    return QIcon(pm);
}
} // namespace

QIcon AppIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 60, 110));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 3, 30, 24), 3, 3);
    p.setBrush(QColor(10, 20, 30));
    p.drawRect(QRectF(4, 6, 24, 16));
    p.setPen(QColor(80, 230, 120));
    QFont f = p.font();
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(4, 6, 24, 16), Qt::AlignCenter, QStringLiteral("PMX"));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 110));
    p.drawRect(QRectF(12, 27, 8, 3));
    return QIcon(pm);
}

QIcon ToolbarIcon(int id) {
    switch (id) {
    case ID_FILE_OPEN: {
        QPixmap pm = blank();
        QPainter p(&pm);
        p.setPen(QColor(120, 90, 20));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(1, 4, 13, 9);
        p.drawRect(1, 2, 5, 2);
        return QIcon(pm);
    }
    case ID_CAPTURE_ON: {
        QPixmap pm = blank();
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(120, 0, 0));
        p.setBrush(QColor(220, 30, 30));
        p.drawEllipse(QRectF(3, 2.5, 10, 10));
        return QIcon(pm);
    }
    case ID_CAPTURE_OFF: {
        QPixmap pm = blank();
        QPainter p(&pm);
        // Coloured, so that its greyed (disabled) look differs from the enabled one.
        p.setPen(QColor(10, 25, 100));
        p.setBrush(QColor(40, 80, 200));
        p.drawRect(3, 2, 9, 9);
        return QIcon(pm);
    }
    case ID_SERIAL_CONNECT: return plug(QColor(30, 110, 200), true, 'S');
    case ID_SERIAL_DISCONNECT: return plug(QColor(30, 110, 200), false, 'S');
    case ID_MODEM_CONNECT: return plug(QColor(20, 150, 70), true, 'M');
    case ID_MODEM_DISCONNECT: return plug(QColor(20, 150, 70), false, 'M');
    case ID_LAN_CONNECT: return plug(QColor(200, 110, 20), true, 'L');
    case ID_LAN_DISCONNECT: return plug(QColor(200, 110, 20), false, 'L');
    case ID_ISDN_CONNECT: return plug(QColor(140, 40, 170), true, 'I');
    case ID_ISDN_DISCONNECT: return plug(QColor(140, 40, 170), false, 'I');
    case ID_VIEW_CLEARNEW: {
        QPixmap pm = blank();
        QPainter p(&pm);
        p.setPen(QColor(60, 60, 60));
        p.setBrush(Qt::white);
        p.drawRect(2, 1, 10, 12);
        p.setPen(QColor(200, 30, 30));
        p.drawLine(4, 4, 10, 10);
        p.drawLine(10, 4, 4, 10);
        return QIcon(pm);
    }
    case ID_APP_ABOUT: {
        QPixmap pm = blank();
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(20, 60, 140));
        p.setBrush(QColor(60, 120, 220));
        p.drawEllipse(QRectF(1.5, 1, 12, 12));
        QFont f = p.font();
        f.setPixelSize(10);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(1.5, 1, 12, 12), Qt::AlignCenter, QStringLiteral("?"));
        return QIcon(pm);
    }
    default: return QIcon();
    }
}
