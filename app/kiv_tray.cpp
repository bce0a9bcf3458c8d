#include "kiv_tray.h"

#include "kiv_notify.h"

#include <QApplication>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>

TkivTray::TkivTray(QWidget* Window, QObject* Parent)
    : QObject(Parent), FIcon(new QSystemTrayIcon(this)), FWindow(Window) {
    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason R) {
        // The context menu's click (right button) is the tray's own business.
        if (R != QSystemTrayIcon::Trigger && R != QSystemTrayIcon::DoubleClick)
            return;
        ShowWindow(FWindow);
        emit ShowRequested();
    });
    Update();
}

TkivTray::~TkivTray() = default;

void TkivTray::SetMonitorOn(bool On) {
    FOn = On;
    Update();
}

void TkivTray::SetCount(int Projects) {
    FCount = std::max(0, Projects);
    Update();
}

bool TkivTray::IsShown() const {
    return FIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

QString TkivTray::ToolTip() const {
    return FIcon->toolTip();
}

QIcon TkivTray::Icon() const {
    return FIcon->icon();
}

void TkivTray::ShowWindow(QWidget* Window) {
    if (!Window)
        return;
    if (Window->isMinimized())
        Window->showNormal();
    else
        Window->show();
    Window->raise();
    Window->activateWindow();
}

QIcon TkivTray::Drawn() const {
    const QIcon Base = QApplication::windowIcon().isNull()
                           ? QIcon(QStringLiteral(":/app/kivSubversion.png"))
                           : QApplication::windowIcon();
    if (FCount == 0)
        return Base;
    // A red disc with the number in the lower right corner, at every size the tray may ask.
    QIcon R;
    for (const int Size : {16, 22, 24, 32, 48, 64}) {
        QPixmap P = Base.pixmap(Size, Size);
        if (P.isNull()) {
            P = QPixmap(Size, Size);
            P.fill(Qt::transparent);
        }
        QPainter G(&P);
        G.setRenderHint(QPainter::Antialiasing);
        const QString Text = FCount > 99 ? QStringLiteral("99+") : QString::number(FCount);
        const int D = Size * 5 / 8;
        const QRect Disc(Size - D, Size - D, D, D);
        G.setPen(Qt::NoPen);
        G.setBrush(QColor(0xc6, 0x28, 0x28));
        G.drawEllipse(Disc);
        QFont F = G.font();
        F.setBold(true);
        F.setPixelSize(std::max(6, D * (Text.size() > 1 ? 5 : 7) / 10));
        G.setFont(F);
        G.setPen(Qt::white);
        G.drawText(Disc, Qt::AlignCenter, Text);
        G.end();
        R.addPixmap(P);
    }
    return R;
}

void TkivTray::Update() {
    FIcon->setIcon(Drawn());
    FIcon->setToolTip(FCount > 0 ? QStringLiteral("kivSubversion: ") + NewRevisionsText(FCount)
                                 : QStringLiteral("kivSubversion: keine neuen Revisionen"));
    // Shown while the monitor is on; Qt docks it when a tray comes later.
    FIcon->setVisible(FOn);
}
