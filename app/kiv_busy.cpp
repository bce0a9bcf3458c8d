#include "kiv_busy.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

TBusyIndicator::TBusyIndicator(QWidget* Parent) : QWidget(Parent), FTimer(new QTimer(this)) {
    setFixedSize(80, 50);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FTimer->setInterval(70);
    connect(FTimer, &QTimer::timeout, this, [this] {
        FFrame = (FFrame + 1) % FrameCount;
        update();
    });
}

void TBusyIndicator::Play() {
    FFrame = 0;
    FTimer->start();
    update();
}

void TBusyIndicator::Stop() {
    FTimer->stop();
    FFrame = StopFrame;
    update();
}

bool TBusyIndicator::Playing() const {
    return FTimer->isActive();
}

void TBusyIndicator::paintEvent(QPaintEvent*) {
    QPainter P(this);
    P.setRenderHint(QPainter::Antialiasing);
    P.fillRect(rect(), palette().base());
    P.setPen(QPen(palette().mid().color(), 1));
    P.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));

    // The folder.
    const QColor Dark(0xB0, 0x80, 0x10), Light(0xFF, 0xD8, 0x50), Back(0xF0, 0xC0, 0x30);
    QPainterPath Tab;
    Tab.moveTo(14, 16);
    Tab.lineTo(14, 12);
    Tab.lineTo(26, 12);
    Tab.lineTo(29, 16);
    Tab.closeSubpath();
    P.setPen(QPen(Dark, 1));
    P.setBrush(Back);
    P.drawPath(Tab);
    P.drawRect(QRectF(14, 16, 40, 26));
    P.setBrush(Light);
    QPainterPath Front;
    Front.moveTo(14, 42);
    Front.lineTo(19, 22);
    Front.lineTo(59, 22);
    Front.lineTo(54, 42);
    Front.closeSubpath();
    P.drawPath(Front);

    // The magnifying glass circles over the folder.
    const double Angle = 2 * M_PI * FFrame / FrameCount;
    const QPointF Centre(40 + 14 * std::cos(Angle), 27 + 8 * std::sin(Angle));
    P.setPen(QPen(QColor(0x40, 0x40, 0x40), 3, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(Centre + QPointF(5, 5), Centre + QPointF(12, 12));
    P.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    P.setBrush(QColor(0xC8, 0xE8, 0xFF, 200));
    P.drawEllipse(Centre, 7, 7);
}
