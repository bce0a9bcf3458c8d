#include "kiv_focusreturn.h"

#include <QApplication>
#include <QEvent>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

class TFocusReturn : public QObject {
public:
    explicit TFocusReturn(QObject* Parent) : QObject(Parent) {}

    bool eventFilter(QObject* Watched, QEvent* Event) override {
        const QEvent::Type Type = Event->type();
        if ((Type == QEvent::Show || Type == QEvent::Hide) && Watched->isWidgetType()) {
            auto* W = static_cast<QWidget*>(Watched);
            if (W->isWindow() && W->isModal()) {
                if (Type == QEvent::Show)
                    Opened(W);
                else
                    Closed(W);
            }
        }
        return false;
    }

private:
    struct TEntry {
        QPointer<QWidget> Dialog;
        QPointer<QWidget> Before;
    };
    QList<TEntry> FOpen;

    void Opened(QWidget* Dialog) {
        for (const TEntry& E : std::as_const(FOpen))
            if (E.Dialog == Dialog)
                return;
        // The show event comes before the dialog is activated: the focus is still where the
        // user left it. Without an active window (the window manager is slow, or the dialog
        // comes from a timer), the owner's own focus widget is the one to return to.
        QWidget* Before = QApplication::focusWidget();
        if (!Before && QApplication::activeWindow())
            Before = QApplication::activeWindow()->focusWidget();
        if (!Before && Dialog->parentWidget())
            Before = Dialog->parentWidget()->window()->focusWidget();
        FOpen.append(TEntry{Dialog, Before});
    }

    void Closed(QWidget* Dialog) {
        QPointer<QWidget> Before;
        for (int i = FOpen.size() - 1; i >= 0; --i) {
            if (FOpen.at(i).Dialog == Dialog) {
                Before = FOpen.takeAt(i).Before;
                break;
            }
        }
        for (int i = FOpen.size() - 1; i >= 0; --i)
            if (!FOpen.at(i).Dialog)
                FOpen.removeAt(i);
        if (!Before)
            return;
        // After the dialog has gone: an answer may have closed the owner, or opened the next
        // dialog, which then keeps the focus.
        QTimer::singleShot(0, Before, [Before] {
            if (!Before || !Before->isVisible() || !Before->isEnabled())
                return;
            QWidget* Modal = QApplication::activeModalWidget();
            if (Modal && Modal != Before->window())
                return;
            QWidget* Window = Before->window();
            if (!Window->isActiveWindow())
                Window->activateWindow();
            Before->setFocus(Qt::ActiveWindowFocusReason);
        });
    }
};

} // namespace

void KeepFocusAcrossDialogs() {
    static QPointer<TFocusReturn> Installed; // goes with the application that owns it
    QCoreApplication* App = QCoreApplication::instance();
    if (!App || Installed)
        return;
    Installed = new TFocusReturn(App);
    App->installEventFilter(Installed);
}
