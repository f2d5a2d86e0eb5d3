#include "app/ToolbarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace korvane::app {

namespace {

const QColor kGreen(30, 150, 60), kRed(200, 40, 40), kBlue(40, 90, 180), kDark(60, 60, 60),
    kAmber(220, 160, 20);

void Draw(QPainter& p, int index) {
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kDark, 1.6);
    p.setPen(pen);
    switch (index) {
        case 0: {  // connect: a plug going in
            p.setBrush(kGreen);
            p.drawRoundedRect(QRectF(2, 5, 7, 6), 1.5, 1.5);
            p.drawLine(QPointF(9, 6.5), QPointF(13, 6.5));
            p.drawLine(QPointF(9, 9.5), QPointF(13, 9.5));
            p.drawLine(QPointF(0.5, 8), QPointF(2, 8));
            break;
        }
        case 1: {  // disconnect: plug out with a red bar
            p.setBrush(QColor(180, 180, 180));
            p.drawRoundedRect(QRectF(1, 5, 6, 6), 1.5, 1.5);
            p.setPen(QPen(kRed, 2.2));
            p.drawLine(QPointF(9, 3), QPointF(14, 13));
            break;
        }
        case 2: {  // settings: a gear
            p.setBrush(QColor(150, 150, 160));
            QPainterPath gear;
            for (int i = 0; i < 8; ++i) {
                p.save();
                p.translate(8, 8);
                p.rotate(i * 45);
                p.drawRect(QRectF(-1.3, -7.2, 2.6, 3));
                p.restore();
            }
            p.drawEllipse(QPointF(8, 8), 4.6, 4.6);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(8, 8), 1.8, 1.8);
            break;
        }
        case 3: {  // log: a sheet with lines
            p.setBrush(Qt::white);
            p.drawRect(QRectF(2.5, 1.5, 11, 13));
            p.setPen(QPen(kBlue, 1.2));
            for (int y = 4; y <= 12; y += 2)
                p.drawLine(QPointF(4.5, y + 0.5), QPointF(11.5, y + 0.5));
            break;
        }
        case 4: {  // load a firmware file: a folder
            p.setBrush(kAmber);
            QPainterPath f;
            f.moveTo(1.5, 4);
            f.lineTo(6, 4);
            f.lineTo(7.5, 5.5);
            f.lineTo(14.5, 5.5);
            f.lineTo(14.5, 13.5);
            f.lineTo(1.5, 13.5);
            f.closeSubpath();
            p.drawPath(f);
            break;
        }
        case 5: {  // read from the ECU: a chip with an arrow out
            p.setBrush(QColor(70, 70, 80));
            p.drawRect(QRectF(3, 1.5, 10, 7));
            for (int x = 4; x <= 12; x += 2) p.drawLine(QPointF(x, 8.5), QPointF(x, 10));
            p.setPen(QPen(kBlue, 2));
            p.drawLine(QPointF(8, 9), QPointF(8, 15));
            p.drawLine(QPointF(5, 12), QPointF(8, 15));
            p.drawLine(QPointF(11, 12), QPointF(8, 15));
            break;
        }
        case 6: {  // start tuning
            p.setBrush(kGreen);
            QPolygonF tri({QPointF(4, 2), QPointF(14, 8), QPointF(4, 14)});
            p.drawPolygon(tri);
            break;
        }
        case 7: {  // stop tuning
            p.setBrush(kRed);
            p.drawRect(QRectF(3.5, 3.5, 9, 9));
            break;
        }
        case 9: {  // tuning grid
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.setPen(QPen(kBlue, 1));
            for (int k = 1; k < 4; ++k) {
                p.drawLine(QPointF(1.5 + k * 3.25, 1.5), QPointF(1.5 + k * 3.25, 14.5));
                p.drawLine(QPointF(1.5, 1.5 + k * 3.25), QPointF(14.5, 1.5 + k * 3.25));
            }
            break;
        }
        case 12: {  // dashboard: a gauge
            p.setBrush(Qt::white);
            p.drawPie(QRectF(1, 3, 14, 14), 0, 180 * 16);
            p.setPen(QPen(kRed, 1.8));
            p.drawLine(QPointF(8, 10), QPointF(12, 5));
            break;
        }
        case 13: {  // diagnostics list
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.drawLine(QPointF(9, 1.5), QPointF(9, 14.5));
            for (int y = 5; y <= 11; y += 3) p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
            break;
        }
        case 15: {  // calibration map: a small tree
            p.setBrush(kAmber);
            p.drawRect(QRectF(1.5, 1.5, 5, 4));
            p.drawRect(QRectF(8.5, 6.5, 6, 3.5));
            p.drawRect(QRectF(8.5, 11.5, 6, 3.5));
            p.drawLine(QPointF(4, 5.5), QPointF(4, 13));
            p.drawLine(QPointF(4, 8), QPointF(8.5, 8));
            p.drawLine(QPointF(4, 13), QPointF(8.5, 13));
            break;
        }
        case 19: {  // exit
            p.setBrush(QColor(150, 110, 70));
            p.drawRect(QRectF(2.5, 1.5, 7, 13));
            p.setPen(QPen(kRed, 2));
            p.drawLine(QPointF(8, 8), QPointF(15, 8));
            p.drawLine(QPointF(12, 5), QPointF(15, 8));
            p.drawLine(QPointF(12, 11), QPointF(15, 8));
            break;
        }
        default: {  // buttons that do nothing get a neutral dot
            p.setBrush(QColor(170, 170, 170));
            p.drawEllipse(QPointF(8, 8), 3, 3);
            break;
        }
    }
}

}  // namespace

QIcon ToolbarIcon(int index) {
    QPixmap pix(32, 32);
    pix.setDevicePixelRatio(2.0);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    Draw(p, index);
    p.end();
    return QIcon(pix);
}

}  // namespace korvane::app
