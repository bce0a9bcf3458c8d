// fm_addgruppe: the dialog that enters one new project, a name and its working copy's folder.
#pragma once

#include "KivForm.h"

#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TXMLTreeNode;
class TkivDirectoryEdit;

class TfmNeueGruppe : public TKivForm {
    Q_OBJECT
public:
    explicit TfmNeueGruppe(QWidget* Parent = nullptr);

    QLabel* lbl1 = nullptr;
    QLabel* lbl2 = nullptr;
    QLineEdit* edName = nullptr;
    TkivDirectoryEdit* edDir = nullptr;
    QPushButton* btn1 = nullptr; // OK
    QPushButton* btn2 = nullptr; // Cancel

    // Only in the dialogs the search opens: ends the whole search (the dialog closes as with
    // Cancel).
    QPushButton* btnSucheBeenden = nullptr;
    void AddEndSearchButton();
    bool EndSearchChosen() const { return FEndSearch; }
    // Only in the dialogs the search opens: how many finds wait behind this one.
    QLabel* lblWartend = nullptr;
    void ShowWaiting(int Waiting, bool Searching);

    // The container node under which the project is added; set before the dialog shows.
    TXMLTreeNode* ParentNode = nullptr;
    // The project the dialog added (null until it did).
    TXMLTreeNode* Added = nullptr;

    // With OK: checks both fields and adds the project; CanClose false keeps the dialog open.
    void KivFormCloseQuery(QObject* Sender, bool& CanClose);
    // Succeeds, or moves the focus to the field and raises the error that names the fault.
    void CheckEntryField(QWidget* Field);

protected:
    void done(int Result) override;

private:
    int FClosingResult = QDialog::Rejected;
    bool FEndSearch = false;
};

// Opens the dialog for Parent with Directory filled in; the dialog adds the project itself.
// The project's node, or null when nothing was added.
TXMLTreeNode* ShowNewEntryDialog(TXMLTreeNode* Parent, const QString& Directory);
// What the search's dialog tells about the finds behind the one it offers.
struct TSearchQueue {
    int Waiting = 0;        // finds not offered yet
    bool Searching = false; // the walk goes on, so more may come
};
// The same for a copy the search found: the folder's own name proposed (selected, so typing
// replaces it), the finds still waiting (Queue is asked again while the dialog is open), and
// the button that ends the search; true when the user chose that.
// Added: the project's node, or null when nothing was added.
bool ShowSearchEntryDialog(TXMLTreeNode* Parent, const QString& Directory,
                           const std::function<TSearchQueue()>& Queue = nullptr,
                           TXMLTreeNode** Added = nullptr);
