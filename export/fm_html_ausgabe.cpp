#include "fm_html_ausgabe.h"

#include "kivButtonEdit.h"
#include "kiv_FileText.h"
#include "kiv_prompts.h"
#include "kiv_system.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>

TfmHTML_Ausgabe::TfmHTML_Ausgabe(QWidget* Parent) : QDialog(Parent) {
    setWindowTitle(QStringLiteral("HTML Ausgabe"));
    // A fixed dialog border: no resizing, no maximise box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(577, 104);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(11);
    setFont(F);

    lbSpeicherort = new QLabel(QStringLiteral("Zielverzeichnis der HTML:"), this);
    lbSpeicherort->move(8, 7);
    lbSpeicherort->adjustSize();
    dirEd_HTML = new TkivDirectoryEdit(this);
    dirEd_HTML->setGeometry(8, 24, 457, 21);
    Label1 = new QLabel(QStringLiteral("Dateiname:"), this);
    Label1->move(8, 55);
    Label1->adjustSize();
    cmb_HTMLName = new QComboBox(this);
    cmb_HTMLName->setEditable(true);
    // Typed names are the result, not new list entries.
    cmb_HTMLName->setInsertPolicy(QComboBox::NoInsert);
    cmb_HTMLName->setGeometry(8, 72, 457, 21);
    lbSpeicherort->setBuddy(dirEd_HTML);
    Label1->setBuddy(cmb_HTMLName);

    btnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"),
                            this);
    btnOK->setGeometry(480, 40, 89, 25);
    btnOK->setDefault(true);
    btnOK->setEnabled(false);
    btnAbort = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                               QStringLiteral("Abbrechen"), this);
    btnAbort->setGeometry(480, 70, 89, 25);
    btnAbort->setAutoDefault(false);

    setTabOrder(btnOK, btnAbort);
    setTabOrder(btnAbort, dirEd_HTML);
    setTabOrder(dirEd_HTML, cmb_HTMLName);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnAbort, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects as well
    connect(dirEd_HTML, &QLineEdit::textChanged, this, [this] { dirEd_HTMLChange(); });
    // editTextChanged covers typing as well as choosing a proposal from the list.
    connect(cmb_HTMLName, &QComboBox::editTextChanged, this, [this] { dirEd_HTMLChange(); });
}

void TfmHTML_Ausgabe::dirEd_HTMLChange() {
    btnOK->setEnabled(DirExists(dirEd_HTML->text()) && !cmb_HTMLName->currentText().isEmpty());
}

QString HtmlFileNameProblem(const QString& Name) {
    if (Name.contains(u'/'))
        return QStringLiteral("Der Dateiname »%1« enthält einen »/«: die Seite kommt in den "
                              "gewählten Ordner, nicht in einen anderen.")
            .arg(Name);
    if (Name == u"." || Name == u"..")
        return QStringLiteral("»%1« ist kein Dateiname.").arg(Name);
    for (const QChar C : Name)
        if (C.unicode() < 0x20 || C.unicode() == 0x7F)
            return QStringLiteral("Der Dateiname enthält Steuerzeichen.");
    return QString();
}

void TfmHTML_Ausgabe::accept() {
    const QString Name = cmb_HTMLName->currentText();
    ReplaceAgreed = false;
    auto Refuse = [this](const QString& Message) {
        cmb_HTMLName->setFocus();
        ShowError(Message);
    };
    if (const QString Problem = HtmlFileNameProblem(Name); !Problem.isEmpty())
        return Refuse(Problem);
    const QString Path = IncludeDirDelimiter(dirEd_HTML->text()) + Name;
    const QFileInfo Info(Path);
    if (Info.isSymLink()) {
        if (!AskYesNo(QStringLiteral("Unter dem Namen »%1« liegt eine symbolische Verknüpfung. "
                                     "Soll die Seite sie ersetzen? Wohin sie zeigt, bleibt "
                                     "unberührt.")
                          .arg(Path)))
            return cmb_HTMLName->setFocus();
        ReplaceAgreed = true;
    } else if (Info.exists()) {
        if (const QString Problem = FileTypeProblem(Path); !Problem.isEmpty())
            return Refuse(
                QStringLiteral("»%1« kann die Seite nicht aufnehmen: %2.").arg(Path, Problem));
        if (!AskYesNo(QStringLiteral("Die Datei »%1« gibt es schon. Ersetzen?").arg(Path)))
            return cmb_HTMLName->setFocus();
        ReplaceAgreed = true;
    }
    QDialog::accept();
}

bool ShowHtmlExportDialog(QString& Directory, QString& FileName, bool* Replace) {
    // Read before the dialog exists: a failure raises and nothing is shown.
    const QString User = GetLogonUserName();
    const QString Computer = GetLocalComputerName();

    // Parent only for placing it over the main window; it lives on this stack frame, so it is
    // destroyed whatever happens.
    TfmHTML_Ausgabe Dlg(QApplication::activeWindow());
    Dlg.dirEd_HTML->setText(Directory);
    if (DirExists(Directory))
        Dlg.btnOK->setEnabled(true);
    {
        // Filling and selecting the first proposal in code does not run the change handler.
        const QSignalBlocker Block(Dlg.cmb_HTMLName);
        Dlg.cmb_HTMLName->addItem(User + QStringLiteral(".html"));
        Dlg.cmb_HTMLName->addItem(Computer + QStringLiteral(".html"));
        Dlg.cmb_HTMLName->addItem(Computer + QLatin1Char('_') + User + QStringLiteral(".html"));
        Dlg.cmb_HTMLName->setCurrentIndex(0);
    }
    if (Dlg.exec() != QDialog::Accepted)
        return false;
    Directory = Dlg.dirEd_HTML->text();
    FileName = Dlg.cmb_HTMLName->currentText();
    if (Replace)
        *Replace = Dlg.ReplaceAgreed;
    return true;
}
