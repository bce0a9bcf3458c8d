#include "KivForm.h"

#include "kiv_focusreturn.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace {
QPointer<QWidget> ExplicitMainForm;
QPointer<TKivForm> FirstForm;
} // namespace

TKivForm::TKivForm(QWidget* Parent) : QDialog(Parent) {
    if (!FirstForm)
        FirstForm = this;
    KeepFocusAcrossDialogs();
    // Posted now, dispatched by the next event loop; the context object drops it when the form
    // is destroyed first.
    QMetaObject::invokeMethod(this, &TKivForm::AfterCreate, Qt::QueuedConnection);
}

void TKivForm::SetMainForm(QWidget* Form) {
    ExplicitMainForm = Form;
}

QWidget* TKivForm::MainForm() {
    if (ExplicitMainForm)
        return ExplicitMainForm;
    return FirstForm;
}

int TKivForm::DesktopWidthOverride = 0;

void TKivForm::AfterCreate() {
    if (FAfterCreateDone)
        return;
    if (!isVisible()) {
        // Not shown yet: the call is posted again by the show event.
        FAfterCreateWaiting = true;
        return;
    }
    FAfterCreateDone = true;
    FAfterCreateWaiting = false;
    QPointer<TKivForm> Self(this);
    QCoreApplication::processEvents();
    if (!Self) // destroyed while the pending events were handled
        return;
    if (OnAfterCreate)
        OnAfterCreate(this);
}

bool TKivForm::event(QEvent* Event) {
    switch (Event->type()) {
    case QEvent::WindowActivate:
        if (!FActivated) {
            FActivated = true;
            if (OnFirstActivate)
                OnFirstActivate(this);
        }
        break;
    case QEvent::Show:
        if (FAfterCreateWaiting && !FAfterCreateDone) {
            FAfterCreateWaiting = false;
            QMetaObject::invokeMethod(this, &TKivForm::AfterCreate, Qt::QueuedConnection);
        }
        break;
    default:
        break;
    }
    return QDialog::event(Event);
}

static bool IsPushButton(const QWidget* W) {
    return qobject_cast<const QPushButton*>(W) || qobject_cast<const QToolButton*>(W);
}

void TKivForm::keyPressEvent(QKeyEvent* Event) {
    const int Key = Event->key();
    const Qt::KeyboardModifiers Mods = Event->modifiers() & ~Qt::KeypadModifier;
    if ((Key == Qt::Key_Return || Key == Qt::Key_Enter) &&
        (Mods == Qt::NoModifier || Mods == Qt::ShiftModifier) && ActivReturn) {
        QWidget* Focus = focusWidget();
        if (!Focus || !IsPushButton(Focus)) {
            bool ReplaceReturn = true;
            if (OnTestReturn && Focus)
                OnTestReturn(this, ReplaceReturn);
            if (ReplaceReturn) {
                // Handled here before the dialog's own Return handling (its default button).
                focusNextPrevChild(Mods != Qt::ShiftModifier);
                Event->accept();
                return;
            }
        }
    }
    QDialog::keyPressEvent(Event);
}

void TKivForm::Loaded() {
    if (!MainFormSize)
        return;
    QWidget* Main = MainForm();
    if (!Main || Main == this)
        return;
    int Width = DesktopWidthOverride;
    if (Width <= 0) {
        QScreen* Screen = Main->screen() ? Main->screen() : QGuiApplication::primaryScreen();
        Width = Screen ? Screen->geometry().width() : 0;
    }
    if (Width > 800)
        setGeometry(Main->geometry());
    else
        setWindowState(windowState() | Qt::WindowMaximized);
}
