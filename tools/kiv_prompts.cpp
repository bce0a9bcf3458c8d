#include "kiv_prompts.h"

#include "kiv_focusreturn.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace {

// The window a box belongs to: the open dialog, else the active window, else the program's
// visible window. A box without one is no dialog of the program for the window manager: it may
// open anywhere, behind the window, and give the focus back to nothing when it closes.
QWidget* Owner() {
    if (QWidget* Modal = QApplication::activeModalWidget())
        return Modal;
    if (QWidget* Active = QApplication::activeWindow())
        return Active;
    const QWidgetList Tops = QApplication::topLevelWidgets();
    for (QWidget* W : Tops)
        if (W->isVisible() && (W->windowType() == Qt::Window || W->windowType() == Qt::Dialog))
            return W;
    return nullptr;
}

// The Qt message boxes. The text is set as plain text: "&" and "<" show as themselves (a
// label's text marks no access key, so there is nothing to double).
class TQtPrompter : public TkivPrompter {
public:
    void Info(const QString& Message) override {
        Show(QMessageBox::Information, QStringLiteral("Information"), Message);
    }
    void Error(const QString& Message) override {
        Show(QMessageBox::Critical, QStringLiteral("Fehler"), Message);
    }
    bool YesNo(const QString& Message, bool DefaultNo) override {
        KeepFocusAcrossDialogs();
        QMessageBox Box(QMessageBox::Question, QStringLiteral("Bestätigung"), Message,
                        QMessageBox::NoButton, Owner());
        Box.setTextFormat(Qt::PlainText);
        QPushButton* Yes = Box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        QPushButton* No = Box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        Box.setDefaultButton(DefaultNo ? No : Yes);
        Box.setEscapeButton(No);
        Box.exec();
        return Box.clickedButton() == Yes;
    }
    bool InputText(const QString& Caption, const QString& Prompt, QString& Text) override {
        KeepFocusAcrossDialogs();
        bool Ok = false;
        const QString Answer =
            QInputDialog::getText(Owner(), Caption, Prompt, QLineEdit::Normal, Text, &Ok);
        if (Ok)
            Text = Answer;
        return Ok;
    }

    bool ChooseFile(TFileChoice Kind, const QString& Caption, const QString& Filter,
                    QString& Path) override {
        KeepFocusAcrossDialogs();
        QString Chosen;
        switch (Kind) {
        case TFileChoice::Open:
            Chosen = QFileDialog::getOpenFileName(Owner(), Caption, Path, Filter);
            break;
        case TFileChoice::Save:
            Chosen = QFileDialog::getSaveFileName(Owner(), Caption, Path, Filter);
            break;
        case TFileChoice::Folder:
            Chosen = QFileDialog::getExistingDirectory(Owner(), Caption, Path);
            break;
        }
        if (Chosen.isEmpty())
            return false;
        Path = Chosen;
        return true;
    }

private:
    static void Show(QMessageBox::Icon Icon, const QString& Title, const QString& Message) {
        KeepFocusAcrossDialogs();
        QMessageBox Box(Icon, Title, Message, QMessageBox::Ok, Owner());
        Box.setTextFormat(Qt::PlainText);
        Box.exec();
    }
};

TQtPrompter DefaultPrompter;
TkivPrompter* CurrentPrompter = nullptr;

} // namespace

// Message boxes exist only on the GUI thread: a call from a worker is handed over there and
// waits for the answer (the GUI thread never waits for a worker, so this cannot deadlock).
template <typename F> static auto OnGuiThread(F Call) {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App || QThread::currentThread() == App->thread())
        return Call();
    decltype(Call()) Result{};
    QMetaObject::invokeMethod(
        App, [&] { Result = Call(); }, Qt::BlockingQueuedConnection);
    return Result;
}

TkivPrompter& Prompter() {
    return CurrentPrompter ? *CurrentPrompter : DefaultPrompter;
}

void SetPrompter(TkivPrompter* Replacement) {
    CurrentPrompter = Replacement;
}

void ShowInfo(const QString& Message) {
    OnGuiThread([&] {
        Prompter().Info(Message);
        return true;
    });
}
void ShowError(const QString& Message) {
    OnGuiThread([&] {
        Prompter().Error(Message);
        return true;
    });
}
bool AskYesNo(const QString& Message, bool DefaultNo) {
    return OnGuiThread([&] { return Prompter().YesNo(Message, DefaultNo); });
}
bool InputQuery(const QString& Caption, const QString& Prompt, QString& Text) {
    return OnGuiThread([&] { return Prompter().InputText(Caption, Prompt, Text); });
}
bool ChooseFile(TkivPrompter::TFileChoice Kind, const QString& Caption, const QString& Filter,
                QString& Path) {
    return OnGuiThread([&] { return Prompter().ChooseFile(Kind, Caption, Filter, Path); });
}

bool TkivPrompter::ChooseFile(TFileChoice, const QString&, const QString&, QString&) {
    return false;
}
