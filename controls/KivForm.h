// Base form of the program's own windows.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class TKivForm : public QDialog {
    Q_OBJECT
public:
    explicit TKivForm(QWidget* Parent = nullptr);

    bool ActivReturn = true;   // Return acts as Tab, except on push buttons
    bool MainFormSize = false; // fit to the main window when Loaded() runs
    QString TagString;         // free text for the form's user

    // Events; the sender comes first, answers go through references.
    std::function<void(QObject* Sender)> OnAfterCreate;   // once, after shown, queued
    std::function<void(QObject* Sender)> OnFirstActivate; // first activation only
    std::function<void(QObject* Sender, bool& ReplaceReturn)> OnTestReturn;

    // End of construction of a derived form: applies MainFormSize.
    void Loaded();

    // The application's main window, which MainFormSize fits to: the one set here, else the
    // first TKivForm created (while it exists).
    static void SetMainForm(QWidget* Form);
    static QWidget* MainForm();
    // Desktop width that Loaded() uses instead of the screen's when above 0 (for tests).
    static int DesktopWidthOverride;

protected:
    bool event(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void AfterCreate();
    bool FActivated = false;
    bool FAfterCreateDone = false;
    bool FAfterCreateWaiting = false; // the queued call came before the form was shown
};
