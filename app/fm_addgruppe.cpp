#include "fm_addgruppe.h"

#include "fm_main.h"

#include "kivButtonEdit.h"
#include "kiv_XMLTreeView.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_repos.h"
#include "kiv_system.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

TfmNeueGruppe::TfmNeueGruppe(QWidget* Parent) : TKivForm(Parent) {
    setWindowTitle(QStringLiteral("Neues Verzeichnis hinzufügen"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(519, 104);

    lbl1 = new QLabel(QStringLiteral("Name"), this);
    lbl2 = new QLabel(QStringLiteral("Verzeichnis"), this);
    edName = new QLineEdit(this);
    edName->setFixedWidth(177);
    edDir = new TkivDirectoryEdit(this);
    edDir->setFixedWidth(393);
    lbl1->setBuddy(edName);
    lbl2->setBuddy(edDir);
    btn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"),
                           this);
    btn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                           QStringLiteral("Abbrechen"), this);
    btn1->setFixedSize(100, 25);
    btn2->setFixedSize(100, 25);
    btn1->setDefault(true);
    btn2->setAutoDefault(false);

    auto* Grid = new QGridLayout(this);
    Grid->setContentsMargins(8, 6, 8, 8);
    Grid->setHorizontalSpacing(8);
    Grid->setVerticalSpacing(2);
    Grid->addWidget(lbl1, 0, 0);
    Grid->addWidget(edName, 1, 0, Qt::AlignLeft);
    Grid->addWidget(lbl2, 2, 0);
    Grid->addWidget(edDir, 3, 0, Qt::AlignLeft);
    Grid->addWidget(btn1, 1, 1, Qt::AlignRight);
    Grid->addWidget(btn2, 3, 1, Qt::AlignRight);
    Grid->setColumnStretch(0, 1);
    Grid->setRowStretch(4, 1);

    connect(btn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(btn2, &QPushButton::clicked, this, &QDialog::reject);
    edName->setFocus();
    Loaded();
}

void TfmNeueGruppe::done(int Result) {
    bool CanClose = true;
    FClosingResult = Result;
    if (Result == QDialog::Accepted) {
        try {
            KivFormCloseQuery(this, CanClose);
        } catch (const std::exception& E) {
            // The dialog stays open with all input kept; the focus is on the failing field.
            HandleException(E);
            CanClose = false;
        }
    }
    if (CanClose)
        TKivForm::done(Result);
}

void TfmNeueGruppe::KivFormCloseQuery(QObject* Sender, bool& CanClose) {
    Q_UNUSED(Sender);
    // Cancel, Escape and the close box close without a test.
    CanClose = FClosingResult != QDialog::Accepted;
    if (CanClose)
        return;
    CheckEntryField(edName);
    CheckEntryField(edDir);
    auto* Tree = static_cast<TkivXMLTreeView*>(ParentNode->treeWidget());
    const QString Name = EnteredText(edName->text());
    TXMLTreeNode* Node = Tree->AddChild(ParentNode, Name);
    Node->XMLElement()->SetName(ElementNames[ekProject]);
    Node->XMLElement()->SetAttribute(QStringLiteral("Name"), Name);
    // An absolute folder is stored as typed; a relative one as the folder it names now, so
    // that it means the same wherever the program or kivsvn runs.
    QString Dir = EnteredText(edDir->text());
    if (!QDir::isAbsolutePath(TrimBlanksAndControls(Dir)))
        Dir = ProjectFolder(Dir);
    Node->XMLElement()->SetAttribute(QStringLiteral("Verzeichnis"), Dir);
    Added = Node;
    CanClose = true;
}

void TfmNeueGruppe::CheckEntryField(QWidget* Field) {
    const QString Text = Field == edDir ? edDir->text() : edName->text();
    // The folder the text names, by the rule every run and the search use.
    const QString Folder = ProjectFolder(Text);
    QString Message = QStringLiteral("Das Feld darf nicht leer sein");
    bool Passed = !Text.trimmed().isEmpty();
    if (Passed && Field == edDir) {
        Message = QStringLiteral("Das Verzeichnis existiert nicht");
        Passed = DirExists(Folder);
    }
    if (Passed && ParentNode && Field == edDir) {
        for (int i = 0; Passed && i < ParentNode->childCount(); ++i) {
            auto* Child = static_cast<TXMLTreeNode*>(ParentNode->child(i));
            Message = QStringLiteral("Dieses Verzeichnis existiert schon");
            Passed = !PathsOverlap(
                ProjectFolder(Child->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"))),
                Folder);
        }
    } else if (Passed && ParentNode) {
        // The rule a .repos import follows too.
        Message = QStringLiteral("Diese Gruppe existiert schon");
        Passed = !ChildNamed(ParentNode->XMLElement(), Text);
    }
    if (!Passed) {
        Field->setFocus();
        throw EInputError(Message);
    }
}

void TfmNeueGruppe::AddEndSearchButton() {
    if (btnSucheBeenden)
        return;
    btnSucheBeenden = new QPushButton(QStringLiteral("Suche beenden"), this);
    btnSucheBeenden->setObjectName(QStringLiteral("btnSucheBeenden"));
    btnSucheBeenden->setToolTip(QStringLiteral("Keine weiteren Arbeitskopien anbieten: die "
                                               "ganze Suche endet hier"));
    btnSucheBeenden->setAutoDefault(false);
    btnSucheBeenden->setFixedSize(100, 25);
    auto* Grid = static_cast<QGridLayout*>(layout());
    Grid->addWidget(btnSucheBeenden, 4, 1, Qt::AlignRight);
    setFixedSize(519, 104 + 31);
    connect(btnSucheBeenden, &QPushButton::clicked, this, [this] {
        FEndSearch = true;
        reject();
    });
    lblWartend = new QLabel(this);
    lblWartend->setObjectName(QStringLiteral("lblWartend"));
    Grid->addWidget(lblWartend, 4, 0, Qt::AlignLeft | Qt::AlignVCenter);
}

void TfmNeueGruppe::ShowWaiting(int Waiting, bool Searching) {
    if (!lblWartend)
        return;
    const QString Still =
        Searching ? QStringLiteral("; die Suche läuft noch.") : QStringLiteral(".");
    if (Waiting <= 0)
        lblWartend->setText(Searching ? QStringLiteral("Keine weiteren Funde warten; die Suche "
                                                       "läuft noch.")
                                      : QStringLiteral("Dies ist der letzte Fund."));
    else if (Waiting == 1)
        lblWartend->setText(QStringLiteral("Noch 1 weiterer Fund wartet") + Still);
    else
        lblWartend->setText(QStringLiteral("Noch %1 weitere Funde warten")
                                .arg(QLocale(QLocale::German).toString(Waiting)) +
                            Still);
}

namespace {
int RunEntryDialog(TfmNeueGruppe& Dialog, TXMLTreeNode* Parent, const QString& Directory) {
    QWidget* Owner = Dialog.parentWidget();
    Dialog.ParentNode = Parent;
    Dialog.edDir->setText(Directory);
    if (Owner)
        Dialog.move(Owner->geometry().center() - QPoint(Dialog.width() / 2, Dialog.height() / 2));
    Dialog.edName->setFocus();
    return Dialog.exec();
}
QWidget* OwnerOf(TXMLTreeNode* Parent) {
    return Parent && Parent->treeWidget() ? Parent->treeWidget()->window() : nullptr;
}
} // namespace

TXMLTreeNode* ShowNewEntryDialog(TXMLTreeNode* Parent, const QString& Directory) {
    TfmNeueGruppe Dialog(OwnerOf(Parent));
    RunEntryDialog(Dialog, Parent, Directory);
    return Dialog.Added;
}

bool ShowSearchEntryDialog(TXMLTreeNode* Parent, const QString& Directory,
                           const std::function<TSearchQueue()>& Queue, TXMLTreeNode** Added) {
    TfmNeueGruppe Dialog(OwnerOf(Parent));
    Dialog.AddEndSearchButton();
    // The folder's own name is what most finds are entered as.
    Dialog.edName->setText(QDir(ExcludeDirDelimiter(Directory)).dirName());
    Dialog.edName->selectAll();
    // The walk goes on while the dialog is open: the count follows it.
    QTimer Ticker;
    if (Queue) {
        auto Show = [&] {
            const TSearchQueue Q = Queue();
            Dialog.ShowWaiting(Q.Waiting, Q.Searching);
        };
        Show();
        QObject::connect(&Ticker, &QTimer::timeout, &Dialog, Show);
        Ticker.start(250);
    } else {
        Dialog.lblWartend->hide();
    }
    RunEntryDialog(Dialog, Parent, Directory);
    if (Added)
        *Added = Dialog.Added;
    return Dialog.EndSearchChosen();
}
