// fm_html_ausgabe: the dialog that asks for the folder and the file name of the HTML page.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class TkivDirectoryEdit;

class TfmHTML_Ausgabe : public QDialog {
    Q_OBJECT
public:
    explicit TfmHTML_Ausgabe(QWidget* Parent = nullptr);

    QLabel* lbSpeicherort = nullptr;
    TkivDirectoryEdit* dirEd_HTML = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cmb_HTMLName = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnAbort = nullptr;

    // Both controls call it: OK only while the folder exists and a file name is given.
    void dirEd_HTMLChange();
    // OK: a name that would leave the folder is refused, and a file (or a link) already there
    // is replaced only when the user says so; otherwise the dialog stays open.
    void accept() override;
    // Whether the user agreed to replace what is at the chosen name.
    bool ReplaceAgreed = false;
};

// Why Name cannot be the page's file name in the chosen folder (it holds a "/", is "." or "..",
// holds control characters), in German; empty when it can.
QString HtmlFileNameProblem(const QString& Name);

// Runs the dialog with Directory; true when confirmed with OK, and then Directory and FileName
// hold what the dialog showed, and Replace (if given) whether the user agreed to replace a file
// or link already at that name. On false both stay as passed. EkivOSError when the user or the
// computer name cannot be read (before the dialog shows).
bool ShowHtmlExportDialog(QString& Directory, QString& FileName, bool* Replace = nullptr);
