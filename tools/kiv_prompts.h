// Message boxes and input boxes, behind one replaceable interface so that tests can answer
// them without a person.
#pragma once

#include <QString>

class TkivPrompter {
public:
    virtual ~TkivPrompter() = default;
    virtual void Info(const QString& Message) = 0;
    virtual void Error(const QString& Message) = 0;
    // True for Yes. DefaultNo makes No the default button.
    virtual bool YesNo(const QString& Message, bool DefaultNo) = 0;
    // Single-line input box; false when cancelled, Text untouched then.
    virtual bool InputText(const QString& Caption, const QString& Prompt, QString& Text) = 0;
    // A file to open, a file to write (replacing one is confirmed) or a folder, chosen in the
    // desktop's dialog. Path: what is proposed, and the choice; false when cancelled, Path
    // untouched then. Filter: "Beschreibung (*.x *.y)" entries joined by ";;". A prompter that
    // shows no dialogs cancels.
    enum class TFileChoice { Open, Save, Folder };
    virtual bool ChooseFile(TFileChoice Kind, const QString& Caption, const QString& Filter,
                            QString& Path);
};

// The prompter in use (the Qt message boxes unless replaced).
TkivPrompter& Prompter();
// Replaces it (not owned); nullptr goes back to the Qt message boxes.
void SetPrompter(TkivPrompter* Replacement);

// These may be called from any thread: a worker's call is shown on the GUI thread and
// waits for the answer.
void ShowInfo(const QString& Message);
void ShowError(const QString& Message);
// Every "&" shows as itself. No is the default button when DefaultNo is true.
bool AskYesNo(const QString& Message, bool DefaultNo = true);
bool InputQuery(const QString& Caption, const QString& Prompt, QString& Text);
bool ChooseFile(TkivPrompter::TFileChoice Kind, const QString& Caption, const QString& Filter,
                QString& Path);
