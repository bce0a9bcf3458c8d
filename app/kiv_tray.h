// The tray icon of the server monitor: there only while the monitor is on and the desktop has
// a tray, with the number of projects that have new revisions drawn on it; a click brings the
// window up.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class QSystemTrayIcon;
class QWidget;

class TkivTray : public QObject {
    Q_OBJECT
public:
    // Window: the window a click shows (may be null: then only ShowRequested is sent).
    explicit TkivTray(QWidget* Window, QObject* Parent = nullptr);
    ~TkivTray() override;

    // The monitor on or off. The icon shows while it is on and a tray is there.
    void SetMonitorOn(bool On);
    // The projects with new revisions: drawn on the icon and said in its tooltip.
    void SetCount(int Projects);
    int Count() const { return FCount; }
    bool MonitorOn() const { return FOn; }
    // Whether the icon is in the tray now.
    bool IsShown() const;
    QString ToolTip() const;
    QIcon Icon() const;

    // Brings Window up, as a click on the tray icon or a notification's action does.
    static void ShowWindow(QWidget* Window);

signals:
    void ShowRequested();

private:
    void Update();
    QIcon Drawn() const;

    QSystemTrayIcon* FIcon;
    QPointer<QWidget> FWindow;
    bool FOn = false;
    int FCount = 0;
};
