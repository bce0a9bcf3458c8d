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

protected:
    bool event(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void AfterCreate();
    bool FActivated = false;
    bool FAfterCreateDone = false;
};
