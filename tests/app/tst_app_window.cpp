// The main window and the new-entry dialog, driven headless against real files in temporary
// data folders. Message and input boxes are answered by a test prompter.
#include "fm_addgruppe.h"
#include "fm_html_ausgabe.h"
#include "fm_main.h"
#include "kiv_appcore.h"
#include "kiv_busy.h"
#include "kiv_registrydoc.h"
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "kiv_test_tmpfs.h"

#include "kivButtonEdit.h"
#include "kiv_XmlObjects.h"
#include "kiv_prompts.h"
#include "kiv_single.h"
#include "kiv_system.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Head = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");

std::unique_ptr<TkivPlainXmlElement> ReadFile(const QString& FileName) {
    TPlainXmlReader Reader;
    Reader.LoadFromFile(FileName);
    auto Root = Reader.TakeRoot();
    // A file without a document element compares as an empty, nameless one.
    return Root ? std::move(Root) : std::make_unique<TkivPlainXmlElement>();
}

QByteArray ReadFileBytes(const QString& Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

QStringList ChildNames(TkivXmlElement* E) {
    QStringList R;
    for (int i = 0; i < E->ChildCount(); ++i)
        R << E->GetChild(i)->GetAttribute(QStringLiteral("Name"));
    return R;
}

QStringList Captions(QTreeWidgetItem* Parent) {
    QStringList R;
    for (int i = 0; i < Parent->childCount(); ++i)
        R << Parent->child(i)->text(0);
    return R;
}

TXMLTreeNode* Child(TXMLTreeNode* Parent, const QString& Caption) {
    for (int i = 0; i < Parent->childCount(); ++i)
        if (Parent->child(i)->text(0) == Caption)
            return static_cast<TXMLTreeNode*>(Parent->child(i));
    return nullptr;
}
} // namespace

class TestAppWindow : public QObject {
    Q_OBJECT
    QTemporaryDir FWork;
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    QString FStartDir;

    QString RegistryPath() const {
        return FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
    }
    void WriteRegistry(const QString& Body) {
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        QFile F(RegistryPath());
        QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write((Head + Body).toLatin1());
    }
    QByteArray RegistryBytes() const {
        QFile F(RegistryPath());
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    }
    QString WorkDir(const QString& Name) {
        const QString P = FWork.path() + u'/' + Name;
        QDir().mkpath(P);
        return P;
    }
    // A shown main window whose start (the deferred load) has run.
    std::unique_ptr<TfmMain> Open(bool ExpectStart = true) {
        auto W = std::make_unique<TfmMain>();
        W->show();
        const int Errors = FPrompter.Errors.size();
        for (int i = 0; i < (ExpectStart ? 400 : 4); ++i) {
            QTest::qWait(5);
            if (W->RegistryLoaded() || FPrompter.Errors.size() != Errors)
                break;
        }
        return W;
    }
    TXMLTreeNode* Root(TfmMain& W) { return W.lvDir->XMLItems()->TopNode(0); }

    // The real program with folders of its own, up and with its registry loaded.
    static void StartProgram(QProcess& P, const QString& Data, const QString& Runtime) {
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("XDG_DATA_HOME", Data);
        Env.insert("XDG_CONFIG_HOME", Data + "/config");
        Env.insert("XDG_RUNTIME_DIR", Runtime);
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        P.setProcessEnvironment(Env);
        P.start(QStringLiteral(KIV_PROGRAM_PATH), {});
        QVERIFY(P.waitForStarted());
        // The instance lock shows the window exists; the load follows at once.
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(Runtime).entryList(QDir::Files).isEmpty(), 10000);
        QTest::qWait(700);
    }

    // Runs Drive once the next modal dialog is up, then calls Open (which shows it).
    void WithModal(const std::function<void(QWidget*)>& Drive, const std::function<void()>& Open) {
        bool Driven = false;
        QTimer T;
        T.setInterval(5);
        QObject::connect(&T, &QTimer::timeout, [&] {
            if (QWidget* M = QApplication::activeModalWidget(); M && !Driven) {
                Driven = true;
                T.stop();
                Drive(M);
            }
        });
        T.start();
        Open();
        QVERIFY(Driven);
    }

private slots:
    void initTestCase() {
        QVERIFY(FWork.isValid() && FFolders.Apply());
        SetPrompter(&FPrompter);
        FStartDir = QDir::currentPath();
    }
    void init() {
        FPrompter.Reset();
        QFile::remove(RegistryPath());
        QDir::setCurrent(FStartDir);
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    void elementKindsAndCaseRules() {
        TkivXMLTreeView Tree;
        auto Kind = [&](const QString& Name) {
            TXMLTreeNode* N = Tree.AddChild(nullptr, Name);
            N->XMLElement()->SetName(Name);
            return GetElementKind(N);
        };
        QCOMPARE(Kind("SubVersion"), ekRoot);
        QCOMPARE(Kind("subversion"), ekRoot);
        QCOMPARE(Kind("PROJEKTGRUPPE"), ekGroup);
        QCOMPARE(Kind("Projekt"), ekProject);
        QCOMPARE(Kind("Ordner"), ekProject);
        QCOMPARE(LowerAZ(QStringLiteral("ÄPfel")), QStringLiteral("Äpfel"));
        QCOMPARE(UpperAZ(QStringLiteral("älpha")), QStringLiteral("äLPHA"));
    }

    void firstStartWithoutFile() {
        const QString Before = QDir::currentPath();
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            QCOMPARE(W->RegistryFileName(), RegistryPath());
            QCOMPARE(W->windowTitle(),
                     "Verwaltung von Subversion (Version " +
                         GetFileVersionString(QCoreApplication::applicationFilePath()) + ")");
            QCOMPARE(W->size(), QSize(751, 446));
            QCOMPARE(W->lvDir->width(), 185);
            QCOMPARE(W->lvDir->XMLItems()->TopCount(), 1);
            TXMLTreeNode* R = Root(*W);
            QCOMPARE(R->Text(), QStringLiteral("Projekte"));
            QVERIFY(R->isExpanded());
            QCOMPARE(W->lvDir->Selected(), R);
            QVERIFY(!W->cbKurz->isChecked());
            QVERIFY(W->edVerzeichnis->text().isEmpty());
            QVERIFY(!W->btnOpenVerzeichnis->isEnabled());
            QVERIFY(W->avi->isHidden());
            QCOMPARE(QDir::currentPath(), Before);
            QVERIFY(!QFile::exists(RegistryPath()));  // nothing is written before the end
            QTest::keyClick(W.get(), Qt::Key_Escape); // a dialog would close; this does not
            QVERIFY(W->isVisible());
            W->ToolButton1->click();
            QVERIFY(!W->isVisible());
        }
        auto E = ReadFile(RegistryPath());
        QCOMPARE(E->Name(), QStringLiteral("SubVersion"));
        QCOMPARE(E->AttributeCount(), 1);
        QCOMPARE(E->GetAttribute("Beschreibung"),
                 QStringLiteral("Alle Subversionsprojekte verwalten"));
        QCOMPARE(E->ChildCount(), 0);
        QVERIFY(FPrompter.Errors.isEmpty());
    }

    void shortDisplaySetting() {
        WriteRegistry("<SubVersion Beschreibung=\"x\" Kurz=\"True\"/>\r\n");
        {
            auto W = Open();
            QVERIFY(W->cbKurz->isChecked());
            W->cbKurz->click(); // off: the attribute goes
            QVERIFY(!W->cbKurz->isChecked());
        }
        auto E = ReadFile(RegistryPath());
        QVERIFY(!E->HasAttribute("Kurz"));
        QCOMPARE(E->GetAttribute("Beschreibung"), QStringLiteral("x"));

        WriteRegistry("<SubVersion Beschreibung=\"x\" Kurz=\"true\"/>\r\n");
        {
            auto W = Open();
            QVERIFY(!W->cbKurz->isChecked());
            W->cbKurz->click();
        }
        QCOMPARE(ReadFile(RegistryPath())->GetAttribute("Kurz"), QStringLiteral("True"));
    }

    void unsortedFileIsWrittenSorted() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <Projekt Name=\"b\" Verzeichnis=\"/nix/b\"/>\r\n"
                      "  <PROJEKTGRUPPE Name=\"C\"/>\r\n"
                      "  <Ordner Name=\"a\"/>\r\n"
                      "  <ProjektGruppe Name=\"Gruppe\">\r\n"
                      "    <Projekt Name=\"Z\" Verzeichnis=\"/nix/z\"/>\r\n"
                      "    <Projekt Name=\"y\" Verzeichnis=\"/nix/y\"/>\r\n"
                      "  </ProjektGruppe>\r\n"
                      "</SubVersion>\r\n");
        {
            auto W = Open();
            TXMLTreeNode* R = Root(*W);
            QCOMPARE(Captions(R), QStringList({"a", "b", "C", "Gruppe"}));
            QCOMPARE(Captions(Child(R, "Gruppe")), QStringList({"y", "Z"}));
            // Images: containers 4 expanded / 3 collapsed, projects and unknown elements 5.
            int I = -1;
            W->lvDirGetImageIndex(W->lvDir, R, I);
            QCOMPARE(I, 4);
            TXMLTreeNode* C = Child(R, "C");
            C->setExpanded(false);
            W->lvDirGetImageIndex(W->lvDir, C, I);
            QCOMPARE(I, 3);
            W->lvDirGetImageIndex(W->lvDir, Child(R, "a"), I);
            QCOMPARE(I, 5);
            W->lvDirGetImageIndex(W->lvDir, Child(R, "b"), I);
            QCOMPARE(I, 5);
            QCOMPARE(W->lvDir->Images().size(), 8);
        }
        auto E = ReadFile(RegistryPath());
        QCOMPARE(ChildNames(E.get()), QStringList({"a", "b", "C", "Gruppe"}));
        QCOMPARE(E->GetChild(1)->Name(), QStringLiteral("Projekt"));
        QCOMPARE(E->GetChild(2)->Name(), QStringLiteral("PROJEKTGRUPPE"));
        QCOMPARE(ChildNames(E->GetChild(3)), QStringList({"y", "Z"}));
    }

    void addGroupsAndProjects() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <ProjektGruppe Name=\"Kunden\">\r\n"
                      "    <Projekt Name=\"Alpha\" Verzeichnis=\"/nix/alpha\"/>\r\n"
                      "  </ProjektGruppe>\r\n"
                      "</SubVersion>\r\n");
        const QString Dir = WorkDir("neu");
        {
            auto W = Open();
            TXMLTreeNode* R = Root(*W);
            TXMLTreeNode* Kunden = Child(R, "Kunden");
            TXMLTreeNode* Alpha = Child(Kunden, "Alpha");
            W->lvDir->SetSelected(Alpha);
            QCOMPARE(W->ContainerNode(), Kunden);

            FPrompter.Entries = {QStringLiteral("Team")};
            W->ToolButton11->click();
            QCOMPARE(FPrompter.Inputs, QStringList("Neue Gruppe|Name|"));
            QCOMPARE(Captions(Kunden), QStringList({"Alpha", "Team"}));
            QCOMPARE(W->lvDir->Selected(), Alpha); // the selection does not change

            FPrompter.Entries = {std::nullopt}; // cancelled: nothing
            W->ToolButton11->click();
            QCOMPARE(Kunden->childCount(), 2);

            W->lvDir->SetSelected(R);
            FPrompter.Entries = {QString()}; // an empty name is accepted, stores no "Name"
            W->ToolButton11->click();
            QCOMPARE(R->childCount(), 2);
            TXMLTreeNode* Empty = Child(R, QString());
            QVERIFY(Empty);
            QVERIFY(!Empty->XMLElement()->HasAttribute("Name"));
            QCOMPARE(Empty->XMLElement()->Name(), QStringLiteral("ProjektGruppe"));

            // New project through the real modal dialog, under the container of the selection.
            W->lvDir->SetSelected(Alpha);
            WithModal(
                [&](QWidget* M) {
                    auto* D = qobject_cast<TfmNeueGruppe*>(M);
                    QVERIFY(D);
                    QCOMPARE(D->windowTitle(), QStringLiteral("Neues Verzeichnis hinzufügen"));
                    QCOMPARE(D->size(), QSize(519, 104));
                    QVERIFY(D->edDir->text().isEmpty());
                    D->edName->setText("  Beta  ");
                    D->edDir->setText(Dir);
                    D->btn1->click();
                },
                [&] { W->ToolButton4->click(); });
            QVERIFY(FPrompter.Errors.isEmpty());
            TXMLTreeNode* Beta = Child(Kunden, "  Beta  ");
            QVERIFY(Beta);
            QCOMPARE(Beta->XMLElement()->Name(), QStringLiteral("Projekt"));
            QCOMPARE(Beta->XMLElement()->GetAttribute("Verzeichnis"), Dir);
            QCOMPARE(W->lvDir->Selected(), Alpha);

            // Selecting it shows the folder, lists it and makes it current.
            W->lvDir->SetSelected(Beta);
            QCOMPARE(W->edVerzeichnis->text(), Dir);
            QVERIFY(W->btnOpenVerzeichnis->isEnabled());
            QCOMPARE(QDir::currentPath(), Dir);
            QVERIFY(W->lvShellModel);
            QCOMPARE(W->lvShellModel->filePath(W->lvShell->rootIndex()), Dir);
            // A group clears the field but leaves the list and the current directory.
            W->lvDir->SetSelected(Kunden);
            QVERIFY(W->edVerzeichnis->text().isEmpty());
            QVERIFY(!W->btnOpenVerzeichnis->isEnabled());
            QCOMPARE(W->lvShellModel->filePath(W->lvShell->rootIndex()), Dir);
            QCOMPARE(QDir::currentPath(), Dir);
            // A project whose folder is missing: shown, not opened, not made current.
            W->lvDir->SetSelected(Alpha);
            QCOMPARE(W->edVerzeichnis->text(), QStringLiteral("/nix/alpha"));
            QVERIFY(!W->btnOpenVerzeichnis->isEnabled());
            QCOMPARE(QDir::currentPath(), Dir);
        }
        auto E = ReadFile(RegistryPath());
        QCOMPARE(ChildNames(E.get()), QStringList({"", "Kunden"}));
        QCOMPARE(ChildNames(E->GetChild(1)), QStringList({"  Beta  ", "Alpha", "Team"}));
        QCOMPARE(E->GetChild(1)->GetChild(0)->GetAttribute("Verzeichnis"), Dir);
    }

    void renameMoveAndDelete() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <ProjektGruppe Name=\"G\">\r\n"
                      "    <Projekt Name=\"p1\" Verzeichnis=\"/nix/1\"/>\r\n"
                      "    <Projekt Name=\"p2\" Verzeichnis=\"/nix/2\"/>\r\n"
                      "    <Projekt Name=\"p3\" Verzeichnis=\"/nix/3\"/>\r\n"
                      "  </ProjektGruppe>\r\n"
                      "  <ProjektGruppe Name=\"H\">\r\n"
                      "    <ProjektGruppe Name=\"H1\"/>\r\n"
                      "  </ProjektGruppe>\r\n"
                      "  <Projekt Name=\"q\" Verzeichnis=\"/nix/q\"/>\r\n"
                      "</SubVersion>\r\n");
        {
            auto W = Open();
            TXMLTreeNode* R = Root(*W);
            TXMLTreeNode* G = Child(R, "G");
            bool Allow = true;
            W->lvDirEditing(W->lvDir, R, Allow);
            QVERIFY(!Allow);
            W->lvDirEditing(W->lvDir, G, Allow);
            QVERIFY(Allow);

            // Renaming: the text is stored as typed; blanks store nothing and the caption
            // goes back to the stored name.
            TXMLTreeNode* P2 = Child(G, "p2");
            QString S = QStringLiteral("Neu");
            W->lvDirEdited(W->lvDir, P2, S);
            QCOMPARE(P2->XMLElement()->GetAttribute("Name"), QStringLiteral("Neu"));
            QCOMPARE(P2->Text(), QStringLiteral("Neu"));
            QCOMPARE(Captions(G), QStringList({"Neu", "p1", "p3"}));
            S = QStringLiteral("   ");
            W->lvDirEdited(W->lvDir, P2, S);
            QCOMPARE(S, QStringLiteral("Neu"));
            QCOMPARE(P2->XMLElement()->GetAttribute("Name"), QStringLiteral("Neu"));

            // The same through the tree's own in-place editor.
            TXMLTreeNode* P3 = Child(G, "p3");
            W->lvDir->SetSelected(P3);
            W->lvDir->editItem(P3, 0);
            auto* Editor = W->lvDir->viewport()->findChild<QLineEdit*>();
            QVERIFY(Editor);
            Editor->setText("  ");
            QTest::keyClick(Editor, Qt::Key_Return);
            QCOMPARE(P3->Text(), QStringLiteral("p3"));
            QCOMPARE(P3->XMLElement()->GetAttribute("Name"), QStringLiteral("p3"));
            W->lvDir->editItem(R, 0); // the root is never edited
            QTest::qWait(1);
            QVERIFY(!W->lvDir->viewport()->findChild<QLineEdit*>() ||
                    !W->lvDir->viewport()->findChild<QLineEdit*>()->isVisible());

            // The drop rule: never onto a "Projekt", compared with case.
            TXMLTreeNode* Q = Child(R, "q");
            TXMLTreeNode* H = Child(R, "H");
            bool Accept = true;
            W->lvDirDragOverXML(W->lvDir, Q, P3, Accept);
            QVERIFY(!Accept);
            W->lvDirDragOverXML(W->lvDir, Q, H, Accept);
            QVERIFY(Accept);
            W->lvDirDragOverXML(W->lvDir, P3, R, Accept);
            QVERIFY(Accept);
            QVERIFY(W->lvDir->MoveNode(Q, H));
            QCOMPARE(Q->ParentNode(), H);

            // Deleting: the root asks nothing; No keeps the node; the first child passes the
            // selection to its parent, a later child to the sibling before it.
            W->lvDir->SetSelected(R);
            W->ToolButton13->click();
            QVERIFY(FPrompter.Questions.isEmpty());
            TXMLTreeNode* P1 = Child(G, "p1");
            W->lvDir->SetSelected(P1);
            W->ToolButton13->click();
            QCOMPARE(FPrompter.Questions, QStringList("Eintrag p1 löschen"));
            QCOMPARE(G->childCount(), 3);
            FPrompter.Answers = {true};
            W->ToolButton13->click();
            QCOMPARE(Captions(G), QStringList({"Neu", "p3"}));
            QCOMPARE(W->lvDir->Selected(), Child(G, "Neu"));
            FPrompter.Answers = {true};
            W->ToolButton13->click();
            QCOMPARE(W->lvDir->Selected(), G);
            QCOMPARE(Captions(G), QStringList({"p3"}));
            // A group goes with everything below it.
            W->lvDir->SetSelected(H);
            FPrompter.Answers = {true};
            W->ToolButton13->click();
            QCOMPARE(Captions(R), QStringList({"G"}));
            QCOMPARE(W->lvDir->Selected(), G);
        }
        auto E = ReadFile(RegistryPath());
        QCOMPARE(ChildNames(E.get()), QStringList({"G"}));
        QCOMPARE(ChildNames(E->GetChild(0)), QStringList({"p3"}));
    }

    void newEntryDialogChecks() {
        WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
        const QString Proj = WorkDir("a/proj"), Sub = WorkDir("a/proj/sub"),
                      Project = WorkDir("a/project"), Upper = WorkDir("a/Proj");
        auto W = Open();
        TXMLTreeNode* R = Root(*W);
        TXMLTreeNode* Other = W->lvDir->AddChild(R, "Andere");
        Other->XMLElement()->SetName("ProjektGruppe");
        Other->XMLElement()->SetAttribute("Name", "Andere");
        TXMLTreeNode* Existing = W->lvDir->AddChild(R, "ALPHA");
        Existing->XMLElement()->SetName("Projekt");
        Existing->XMLElement()->SetAttribute("Name", "ALPHA");
        Existing->XMLElement()->SetAttribute("Verzeichnis", Proj + "/");
        TXMLTreeNode* Umlaut = W->lvDir->AddChild(R, "älpha");
        Umlaut->XMLElement()->SetName("Projekt");
        Umlaut->XMLElement()->SetAttribute("Name", "älpha");

        struct Case {
            const char* Name;
            QString Dir;
            QString Error; // empty: accepted
            bool FocusOnDir;
        };
        const QList<Case> Cases = {
            {"", "", "Das Feld darf nicht leer sein", false},
            {"   ", Project, "Das Feld darf nicht leer sein", false},
            {"alpha", Project, "Diese Gruppe existiert schon", false},
            {"andere", Project, "Diese Gruppe existiert schon", false},
            {"Neu", "  ", "Das Feld darf nicht leer sein", true},
            {"Neu", FWork.path() + "/fehlt", "Das Verzeichnis existiert nicht", true},
            {"Neu", Proj, "Dieses Verzeichnis existiert schon", true},
            {"Neu", Sub + "/", "Dieses Verzeichnis existiert schon", true},
            {"Neu", FWork.path() + "/a", "Dieses Verzeichnis existiert schon", true},
            {"Älpha", Project, "", false}, // umlauts differ in either case; "project" is apart
            {"Gross", Upper, "", false},   // paths compare with case
        };
        for (const Case& C : Cases) {
            FPrompter.Reset();
            const int Before = R->childCount();
            TfmNeueGruppe D(W.get());
            D.ParentNode = R;
            D.show();
            D.edName->setText(QString::fromUtf8(C.Name));
            D.edDir->setText(C.Dir);
            D.btn1->click();
            if (C.Error.isEmpty()) {
                QVERIFY2(FPrompter.Errors.isEmpty(), C.Name);
                QVERIFY(!D.isVisible());
                QCOMPARE(R->childCount(), Before + 1);
                TXMLTreeNode* N = Child(R, QString::fromUtf8(C.Name));
                QVERIFY(N);
                QCOMPARE(N->XMLElement()->GetAttribute("Verzeichnis"), C.Dir);
            } else {
                QCOMPARE(FPrompter.Errors, QStringList(C.Error));
                QVERIFY2(D.isVisible(), C.Name);
                QCOMPARE(R->childCount(), Before);
                QCOMPARE(D.focusWidget(), C.FocusOnDir ? static_cast<QWidget*>(D.edDir)
                                                       : static_cast<QWidget*>(D.edName));
                QCOMPARE(D.edName->text(), QString::fromUtf8(C.Name)); // input kept
            }
        }
        // Only the parent's own children count: the same folder below another group passes.
        FPrompter.Reset();
        {
            TfmNeueGruppe D(W.get());
            D.ParentNode = Other;
            D.show();
            D.edName->setText("ALPHA");
            D.edDir->setText(Proj);
            D.btn1->click();
            QVERIFY(FPrompter.Errors.isEmpty());
            QCOMPARE(Other->childCount(), 1);
        }
        // Cancel and the close box add nothing and test nothing.
        for (int Way = 0; Way < 2; ++Way) {
            TfmNeueGruppe D(W.get());
            D.ParentNode = R;
            D.show();
            D.edName->setText("x");
            if (Way == 0)
                D.btn2->click();
            else
                D.close();
            QVERIFY(!D.isVisible());
        }
        QVERIFY(FPrompter.Errors.isEmpty());
        QVERIFY(!Child(R, "x"));

        // Opened with a folder: the folder is shown, the name empty and focused.
        WithModal(
            [&](QWidget* M) {
                auto* D = qobject_cast<TfmNeueGruppe*>(M);
                QVERIFY(D);
                QCOMPARE(D->edDir->text(), Project + "/");
                QVERIFY(D->edName->text().isEmpty());
                QCOMPARE(D->focusWidget(), static_cast<QWidget*>(D->edName));
                QTest::keyClick(D, Qt::Key_Escape);
            },
            [&] { ShowNewEntryDialog(R, Project + "/"); });
    }

    // After every dialog, message box and input box the keyboard focus is back in the tree, so
    // Einfg and Entf work at once; Return in the tree leaves it there. The toolkit's own boxes
    // answer here, as a person sees them.
    void focusReturnsAfterDialogs() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <ProjektGruppe Name=\"G\"/>\r\n"
                      "</SubVersion>\r\n");
        SetPrompter(nullptr);
        const auto Restore = qScopeGuard([this] { SetPrompter(&FPrompter); });
        auto W = Open();
        QVERIFY(QTest::qWaitForWindowActive(W.get()));
        TXMLTreeNode* G = Child(Root(*W), "G");
        W->lvDir->SetSelected(G);
        W->lvDir->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->lvDir));
        // Presses Keys in the next modal window once it has the focus; returns its class.
        auto Answer = [&](QList<Qt::Key> Keys, const std::function<void()>& Open) {
            QString Seen;
            QTimer T;
            T.setInterval(10);
            QObject::connect(&T, &QTimer::timeout, [&] {
                QWidget* M = QApplication::activeModalWidget();
                QWidget* F = QApplication::focusWidget();
                if (!M || !F || F->window() != M)
                    return;
                if (Seen.isEmpty())
                    Seen = QString::fromLatin1(M->metaObject()->className());
                if (!Keys.isEmpty())
                    QTest::keyClick(F, Keys.takeFirst());
            });
            T.start();
            Open();
            T.stop();
            return Seen;
        };
        auto FocusInTree = [&] {
            return QTest::qWaitFor([&] { return QApplication::focusWidget() == W->lvDir; }, 2000);
        };
        // Entf, Einfg and Strg+G from the tree, each dialog cancelled with Escape.
        QCOMPARE(Answer({Qt::Key_Escape}, [&] { QTest::keyClick(W->lvDir, Qt::Key_Delete); }),
                 QStringLiteral("QMessageBox"));
        QVERIFY(FocusInTree());
        QVERIFY(Child(Root(*W), "G")); // No is the default
        QCOMPARE(Answer({Qt::Key_Escape}, [&] { QTest::keyClick(W->lvDir, Qt::Key_Insert); }),
                 QStringLiteral("TfmNeueGruppe"));
        QVERIFY(FocusInTree());
        QCOMPARE(Answer({Qt::Key_Escape},
                        [&] { QTest::keyClick(W->lvDir, Qt::Key_G, Qt::ControlModifier); }),
                 QStringLiteral("QInputDialog"));
        QVERIFY(FocusInTree());
        // A box over the dialog gives the focus back to the dialog's field that failed, and the
        // dialog's end back to the tree.
        {
            QStringList Steps;
            QTimer T;
            T.setInterval(10);
            QObject::connect(&T, &QTimer::timeout, [&] {
                QWidget* M = QApplication::activeModalWidget();
                QWidget* F = QApplication::focusWidget();
                if (!M || !F || F->window() != M)
                    return;
                auto* D = qobject_cast<TfmNeueGruppe*>(M);
                if (D && Steps.isEmpty()) {
                    Steps << "Dialog";
                    D->edName->setText(QStringLiteral("Name"));
                    QMetaObject::invokeMethod(D->btn1, &QPushButton::click, Qt::QueuedConnection);
                } else if (qobject_cast<QMessageBox*>(M) && Steps.size() == 1) {
                    Steps << "Fehler";
                    QTest::keyClick(F, Qt::Key_Return);
                } else if (D && Steps.size() == 2) {
                    Steps << QString::fromLatin1(F == D->edDir || D->edDir->isAncestorOf(F)
                                                     ? "Verzeichnis"
                                                     : F->metaObject()->className());
                    QTest::keyClick(F, Qt::Key_Escape);
                }
            });
            T.start();
            QTest::keyClick(W->lvDir, Qt::Key_Insert);
            T.stop();
            QCOMPARE(Steps, QStringList({"Dialog", "Fehler", "Verzeichnis"}));
            QVERIFY(FocusInTree());
        }
        // A message that a run or the search shows while the window is not active: the box
        // still belongs to the window, and the focus returns to the tree.
        W->lvDir->setFocus();
        QCOMPARE(Answer({Qt::Key_Return}, [] { ShowInfo(QStringLiteral("Nachricht")); }),
                 QStringLiteral("QMessageBox"));
        QVERIFY(FocusInTree());
        // Return in the tree is no Tab: Entf right after it asks about the node.
        QTest::keyClick(W->lvDir, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->lvDir));
        QCOMPARE(Answer({Qt::Key_Escape}, [&] { QTest::keyClick(W->lvDir, Qt::Key_Delete); }),
                 QStringLiteral("QMessageBox"));
        QVERIFY(FocusInTree());
    }

    // A right click shows the selected project's folder menu; with a group none appears.
    void contextMenuForSelectedFolder() {
        const QString Dir = WorkDir("menu");
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <Projekt Name=\"m\" Verzeichnis=\"" +
                      Dir +
                      "/\"/>\r\n"
                      "</SubVersion>\r\n");
        auto W = Open();
        TXMLTreeNode* R = Root(*W);
        auto RightClick = [&](bool ChooseCopy) {
            QStringList Seen;
            QTimer T;
            T.setInterval(5);
            int Ticks = 0;
            QObject::connect(&T, &QTimer::timeout, [&] {
                auto* Menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (!Menu) {
                    if (++Ticks > 100)
                        T.stop();
                    return;
                }
                T.stop();
                for (QAction* A : Menu->actions())
                    if (!A->isSeparator())
                        Seen << A->text();
                QAction* Copy = nullptr;
                for (QAction* A : Menu->actions())
                    if (A->text() == QStringLiteral("Pfad kopieren"))
                        Copy = A;
                if (ChooseCopy && Copy) {
                    Menu->setActiveAction(Copy);
                    QTest::keyClick(Menu, Qt::Key_Return);
                } else {
                    Menu->close();
                }
            });
            T.start();
            emit W->lvDir->customContextMenuRequested(QPoint(5, 5));
            return Seen;
        };
        // The root (a group alike) has no folder: the tree's commands instead.
        W->lvDir->SetSelected(R);
        QCOMPARE(RightClick(false),
                 QStringList({"Neue Gruppe hinzufügen", "Neues Projekt hinzufügen",
                              "Eintrag löschen", "Testen auf Änderungen", "Aktualisieren",
                              "Fehlende Arbeitskopien auschecken", "Aus .repos-Datei importieren …",
                              "Als .repos-Datei exportieren …"}));
        W->lvDir->SetSelected(Child(R, "m"));
        QGuiApplication::clipboard()->clear();
        const QStringList Entries = RightClick(true);
        QVERIFY(Entries.contains(QStringLiteral("Pfad kopieren")));
        for (const char* E : {"Änderungen …", "Log anzeigen", "Log im Terminal anzeigen",
                              "Unterschiede im Terminal anzeigen", "Aufräumen"})
            QVERIFY2(Entries.contains(QString::fromUtf8(E)), E);
        // "Log im Terminal anzeigen" runs svn log in a terminal in the folder, which waits for
        // Enter.
        const QString Term = FWork.path() + "/terminal", Log = FWork.path() + "/terminal.log";
        {
            QFile T(Term);
            QVERIFY(T.open(QIODevice::WriteOnly));
            T.write("#!/bin/sh\n{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > '" +
                    QFile::encodeName(Log) + "'\n");
        }
        QFile::setPermissions(Term, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TERMINAL", QFile::encodeName(Term));
        {
            QTimer T;
            T.setInterval(5);
            QObject::connect(&T, &QTimer::timeout, [&] {
                auto* Menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (!Menu)
                    return;
                T.stop();
                for (QAction* A : Menu->actions())
                    if (A->text() == QStringLiteral("Log im Terminal anzeigen")) {
                        Menu->setActiveAction(A);
                        QTest::keyClick(Menu, Qt::Key_Return);
                    }
            });
            T.start();
            emit W->lvDir->customContextMenuRequested(QPoint(5, 5));
        }
        QTRY_VERIFY(QFileInfo(Log).size() > 0);
        QTest::qWait(100);
        QFile L(Log);
        QVERIFY(L.open(QIODevice::ReadOnly));
        const QStringList Logged = QString::fromLocal8Bit(L.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(Logged.value(0), QDir(Dir).canonicalPath());
        QCOMPARE(Logged.mid(Logged.size() - 3), QStringList({"[1]", "[svn]", "[log]"}));
        // Without any terminal the user is told so, once.
        qputenv("TERMINAL", "kiv-no-such-terminal");
        const QByteArray Path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(FWork.path() + "/nothing"));
        FPrompter.Errors.clear();
        W->inDOSBoxausfhren1Click();
        qputenv("PATH", Path);
        qunsetenv("TERMINAL");
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY(FPrompter.Errors[0].startsWith(QStringLiteral("Kein Terminal gefunden")));
        QVERIFY(W->ToolButton8->isEnabled()); // nothing started
        QCOMPARE(QGuiApplication::clipboard()->text(), Dir);
        QCOMPARE(W->lvDir->Selected(), Child(R, "m")); // a right click selects nothing
    }

    // A registry that cannot be read is named in the message and never written over.
    void failedLoadLeavesFileAlone() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <Projekt Name=\"a\"\r\n");
        const QByteArray Before = RegistryBytes();
        {
            auto W = Open();
            QVERIFY(!W->RegistryLoaded());
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY(FPrompter.Errors[0].contains(RegistryPath()));
            QVERIFY(FPrompter.Errors[0].contains("Das XML-Dokument ist fehlerhaft"));
            // Commands have nothing to act on and must not fail.
            W->ToolButton11->click();
            W->ToolButton13->click();
            W->cbKurz->click();
            W->close();
        }
        QCOMPARE(RegistryBytes(), Before);
        QCOMPARE(FPrompter.Errors.size(), 1);
    }

    // Hostile registry files: each is refused with a message that says why, the tree is empty,
    // nothing is written at exit, and the file stays byte for byte as it was.
    void hostileRegistryFiles_data() {
        QTest::addColumn<QByteArray>("Body");
        QTest::addColumn<QString>("Reason");
        const QByteArray Deep = [] {
            QByteArray B = "<SubVersion>\r\n";
            for (int I = 0; I < 1000; ++I)
                B += "<ProjektGruppe Name=\"g\">";
            for (int I = 0; I < 1000; ++I)
                B += "</ProjektGruppe>";
            return B + "\r\n</SubVersion>\r\n";
        }();
        QTest::newRow("two top-level elements")
            << QByteArray("<SubVersion Beschreibung=\"x\">\r\n  <ProjektGruppe Name=\"Kunden\"/>\r\n"
                          "</SubVersion>\r\n<Projekt Name=\"Alt\" Verzeichnis=\"/tmp\"/>\r\n")
            << "mehr als ein oberstes Element";
        QTest::newRow("value without quotes")
            << QByteArray("<SubVersion>\r\n  <Projekt Name=uq Verzeichnis=\"/tmp\"/>\r\n</SubVersion>\r\n")
            << "Das XML-Dokument ist fehlerhaft";
        QTest::newRow("nested too deep") << Deep << "zu tief verschachtelt (mehr als 1000 Ebenen)";
        QTest::newRow("unclosed after a first root")
            << QByteArray("<A/>\r\n<B><C/>\r\n") << "mehr als ein oberstes Element";
        QTest::newRow("unclosed") << QByteArray("<SubVersion>\r\n  <ProjektGruppe Name=\"a\">\r\n")
                                  << "Das XML-Dokument ist fehlerhaft";
    }
    void hostileRegistryFiles() {
        QFETCH(QByteArray, Body);
        QFETCH(QString, Reason);
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        {
            QFile F(RegistryPath());
            QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
            F.write(Head.toLatin1() + Body);
        }
        const QByteArray Before = RegistryBytes();
        {
            auto W = Open();
            QVERIFY(!W->RegistryLoaded());
            QCOMPARE(W->lvDir->XMLItems()->TopCount(), 0);
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY2(FPrompter.Errors[0].contains(Reason), qPrintable(FPrompter.Errors[0]));
            QVERIFY(FPrompter.Errors[0].contains(RegistryPath()));
            W->close();
        }
        QCOMPARE(RegistryBytes(), Before);
    }

    // What the old reader lost now survives a run: single-quoted values, NULs in the file, and
    // TAB, line feed and carriage return inside values.
    void valuesSurviveARun() {
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        {
            QFile F(RegistryPath());
            QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
            F.write(Head.toLatin1() + "<SubVersion Beschreibung='x'>\r\n"
                                      "  <Projekt Name='sq' Verzeichnis=\"/tmp/nl&#10;line\"/>\r\n"
                                      "  <Projekt Name=\"n" + QByteArray(1, '\0') + "ul\" Verzeichnis=\"/a&#9;b&#13;\"/>\r\n"
                                      "</SubVersion>\r\n");
        }
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            QCOMPARE(Captions(Root(*W)), QStringList({"nul", "sq"}));
            // A NUL typed or pasted into a name never reaches the file either.
            FPrompter.Entries = {QStringLiteral("G") + QChar(0) + QStringLiteral("ruppe")};
            W->ToolButton11Click();
            W->close();
        }
        const QByteArray Saved = RegistryBytes();
        QVERIFY(!Saved.contains('\0'));
        QVERIFY(Saved.contains("Verzeichnis=\"/tmp/nl&#10;line\""));
        QVERIFY(Saved.contains("Verzeichnis=\"/a&#9;b&#13;\""));
        auto Again = ReadFile(RegistryPath());
        QCOMPARE(ChildNames(Again.get()), QStringList({"Gruppe", "nul", "sq"}));
        QCOMPARE(Again->GetChild(2)->GetAttribute("Verzeichnis"), QStringLiteral("/tmp/nl\nline"));
    }

    // Nesting stays within what the next start can read: no group below the deepest level,
    // and no drop that would reach past it.
    void nestingStaysReadable() {
        QByteArray B = "<SubVersion>\r\n";
        for (int I = 0; I < 998; ++I)
            B += "<ProjektGruppe Name=\"g\">";
        for (int I = 0; I < 998; ++I)
            B += "</ProjektGruppe>";
        B += "<ProjektGruppe Name=\"h\"><ProjektGruppe Name=\"i\"/></ProjektGruppe>\r\n</SubVersion>\r\n";
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        {
            QFile F(RegistryPath());
            QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
            F.write(Head.toLatin1() + B);
        }
        auto W = Open();
        QVERIFY(W->RegistryLoaded());
        TXMLTreeNode* Deepest = Child(Root(*W), "g");
        while (Deepest->childCount() > 0)
            Deepest = static_cast<TXMLTreeNode*>(Deepest->child(0));
        QCOMPARE(Deepest->text(0), QStringLiteral("g")); // level 999
        W->lvDir->SetSelected(Deepest);
        FPrompter.Entries = {QStringLiteral("tief")};
        W->ToolButton11->click(); // level 1000: still readable
        QCOMPARE(Deepest->childCount(), 1);
        W->lvDir->SetSelected(Deepest->ChildNode(0));
        FPrompter.Entries = {QStringLiteral("zu tief")};
        W->ToolButton11->click(); // level 1001: refused
        QCOMPARE(Deepest->ChildNode(0)->childCount(), 0);
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY(FPrompter.Errors[0].contains(QStringLiteral("nicht tiefer als 1000 Ebenen")));
        // Dropping "h" (two levels) onto the level-999 group would reach 1001.
        bool Accept = true;
        TXMLTreeNode* H = Child(Root(*W), "h");
        W->lvDirDragOverXML(W->lvDir, H, Deepest, Accept);
        QVERIFY(!Accept);
        W->lvDirDragOverXML(W->lvDir, H->ChildNode(0), Deepest, Accept);
        QVERIFY(Accept);
        W->close();
        QVERIFY(ReadFile(RegistryPath())->ChildCount() == 2); // the save reads back
    }

    // A registry that cannot be written is told at the start; a program ended by a signal
    // reports the failed save on standard error and ends instead of waiting at a message box.
    void unwritableRegistry() {
        WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
        const QString Folder = QFileInfo(RegistryPath()).path();
        // The folder made read-only: a read-only mount of it for root (whom permissions do not
        // stop), its mode for anyone else.
        const bool Root = geteuid() == 0;
        auto Run = [](const QStringList& A) {
            QProcess P;
            P.start(A.first(), A.mid(1));
            return P.waitForFinished(10000) && P.exitCode() == 0;
        };
        if (Root) {
            if (!Run({"mount", "--bind", Folder, Folder}))
                QSKIP("cannot make a read-only mount");
            QVERIFY(Run({"mount", "-o", "remount,ro,bind", Folder, Folder}));
        } else {
            QVERIFY(QFile::setPermissions(Folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto Undo = qScopeGuard([&] {
            if (Root)
                Run({"umount", Folder});
            else
                QFile::setPermissions(Folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        const QByteArray Before = RegistryBytes();
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY2(FPrompter.Errors[0].contains("kann nicht gespeichert werden") &&
                         FPrompter.Errors[0].contains("Änderungen in diesem Lauf gehen"),
                     qPrintable(FPrompter.Errors[0]));
            W->RequestClose(); // as a signal closes it
            QTRY_VERIFY(!W->isVisible());
            QCOMPARE(FPrompter.Errors.size(), 1); // reported on standard error, not in a box
        }
        QCOMPARE(RegistryBytes(), Before);

        // The real program, on SIGTERM, with its registry made unwritable while it runs.
        QTemporaryDir Data, Runtime;
        const QString File = Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
        QDir().mkpath(QFileInfo(File).path());
        QProcess P;
        StartProgram(P, Data.path(), Runtime.path());
        QVERIFY(QDir().mkpath(File)); // in the way of the new file, even for root
        P.terminate();
        QVERIFY(P.waitForFinished(10000));
        QCOMPARE(P.exitStatus(), QProcess::NormalExit);
        const QString Err = QString::fromUtf8(P.readAllStandardError());
        QVERIFY2(Err.contains("kivSubversion: Die Datei") && Err.contains("kann nicht gespeichert"),
                 qPrintable(Err));
    }

    // A registry changed from outside while the window, which changed it too, has it open:
    // that version is kept beside it, and the user is told; on a full disk the start already
    // says a save will fail.
    void outsideChangesAndAFullDisk() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <ProjektGruppe Name=\"a\"/>\r\n</SubVersion>\r\n");
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            W->cbKurz->click();
            QTest::qWait(20);
            WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <ProjektGruppe Name=\"extern\"/>\r\n</SubVersion>\r\n");
            W->close();
            QCOMPARE(FPrompter.Infos.size(), 1);
            QVERIFY(FPrompter.Infos[0].contains("außerhalb des Programms geändert"));
        }
        const QStringList Kept = QDir(QFileInfo(RegistryPath()).path())
                                     .entryList({"SubVersionVerzeichnisse.xml.extern-*"});
        QCOMPARE(Kept.size(), 1);
        const QString KeptPath = QFileInfo(RegistryPath()).path() + u'/' + Kept[0];
        QCOMPARE(ChildNames(ReadFile(KeptPath).get()), QStringList{"extern"});
        QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList{"a"});
        QVERIFY(QFile::remove(KeptPath));

        TTinyDisk Disk(64);
        if (!Disk.Mounted())
            QSKIP(qPrintable("a full disk needs a tmpfs of its own: " + Disk.Why()));
        const QByteArray Old = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(Disk.Path("data")));
        const auto Back = qScopeGuard([&] { qputenv("XDG_DATA_HOME", Old); });
        const QString OnDisk = Disk.Path("data/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml");
        QVERIFY(QDir().mkpath(QFileInfo(OnDisk).path()));
        {
            QFile F(OnDisk);
            QVERIFY(F.open(QIODevice::WriteOnly));
            F.write((Head + "<SubVersion Beschreibung=\"x\"/>\r\n").toLatin1());
        }
        QVERIFY(Disk.Fill());
        FPrompter.Reset();
        auto W = Open();
        QVERIFY(W->RegistryLoaded());
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY2(FPrompter.Errors[0].contains("kein Platz mehr frei"), qPrintable(FPrompter.Errors[0]));
        W->RequestClose();
        QTRY_VERIFY(!W->isVisible());
    }

    // A write that fails at exit is shown, and the window still closes.
    void failedWriteIsShown() {
        auto W = Open();
        QVERIFY(W->RegistryLoaded());
        QVERIFY(QDir().mkpath(RegistryPath())); // a folder where the file should go
        W->close();
        QVERIFY(!W->isVisible());
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY(QFileInfo(RegistryPath()).isDir());
        W.reset();
        QCOMPARE(FPrompter.Errors.size(), 1); // written once, not again at destruction
        QVERIFY(QDir(RegistryPath()).removeRecursively());
    }

    // A second instance neither reads nor writes; the write replaces the file in one step.
    void secondInstanceAndAtomicWrite() {
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n"
                      "  <Projekt Name=\"a\" Verzeichnis=\"/nix/a\"/>\r\n"
                      "</SubVersion>\r\n");
        struct stat Old {};
        QCOMPARE(::stat(QFile::encodeName(RegistryPath()).constData(), &Old), 0);
        auto First = Open();
        QVERIFY(First->SingleInstance1->FirstInstance());
        {
            auto Second = Open(false);
            QVERIFY(!Second->SingleInstance1->FirstInstance());
            QVERIFY(!Second->RegistryLoaded());
            QCOMPARE(Second->lvDir->XMLItems()->TopCount(), 0);
            // The first changes its tree; the second ends and must not write its empty one.
            TXMLTreeNode* N = First->lvDir->AddChild(Root(*First), "b");
            N->XMLElement()->SetName("ProjektGruppe");
            N->XMLElement()->SetAttribute("Name", "b");
            Second->close();
        }
        QCOMPARE(ReadFile(RegistryPath())->ChildCount(), 1);
        First->close();
        struct stat New {};
        QCOMPARE(::stat(QFile::encodeName(RegistryPath()).constData(), &New), 0);
        QVERIFY(New.st_ino != Old.st_ino); // a new file renamed over the old one
        QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList({"a", "b"}));
        First.reset();
        QCOMPARE(QDir(QFileInfo(RegistryPath()).path()).entryList(QDir::Files),
                 QStringList("SubVersionVerzeichnisse.xml"));
    }

    // SIGTERM and SIGINT close the window as the user would, also over an open dialog.
    void signalsCloseTheWindow() {
        for (int Signal : {SIGTERM, SIGINT}) {
            QFile::remove(RegistryPath());
            auto W = Open();
            TShutdownWatcher Watcher(W.get());
            TXMLTreeNode* N = W->lvDir->AddChild(Root(*W), "g");
            N->XMLElement()->SetName("ProjektGruppe");
            N->XMLElement()->SetAttribute("Name", "g");
            bool ClosedDialog = false;
            WithModal([&](QWidget*) { ::raise(Signal); },
                      [&] {
                          ShowNewEntryDialog(Root(*W), QString());
                          ClosedDialog = true;
                      });
            QVERIFY(ClosedDialog);
            QTRY_VERIFY(!W->isVisible());
            QCOMPARE(Watcher.SignalsSeen(), 1);
            QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList({"g"}));
        }
        // Also while the folder menu of a project is open.
        const QString Dir = WorkDir("sig");
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <Projekt Name=\"s\" Verzeichnis=\"" +
                      Dir + "\"/>\r\n</SubVersion>\r\n");
        auto W = Open();
        TShutdownWatcher Watcher(W.get());
        W->lvDir->SetSelected(Child(Root(*W), "s"));
        QTimer T;
        T.setInterval(5);
        bool Raised = false;
        QObject::connect(&T, &QTimer::timeout, [&] {
            if (QApplication::activePopupWidget() && !Raised) {
                Raised = true;
                ::raise(SIGTERM);
            }
        });
        T.start();
        emit W->lvDir->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(Raised);
        QTRY_VERIFY(!W->isVisible());
        QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList({"s"}));
    }

    void startBusyNests() {
        auto W = Open();
        W->StartBusy();
        QVERIFY(W->avi->isVisible());
        QVERIFY(W->avi->Playing());
        W->StartBusy();
        W->StopBusy();
        QVERIFY(W->avi->isVisible());
        W->StopBusy();
        QVERIFY(!W->avi->isVisible());
        QVERIFY(!W->avi->Playing());
        W->StopBusy(); // one too many does no harm
        QCOMPARE(W->BusyCount(), 0);
    }

    // Issue 20, data loss: windows side by side, files changed from outside, files that declare
    // UTF-8 or name an attribute twice, links that lead nowhere.
    void dataLossRoundThree() {
        const QString Folder = QFileInfo(RegistryPath()).path();
        auto AddGroup = [this](TfmMain& W, const QString& Name) {
            TXMLTreeNode* N = W.lvDir->AddChild(Root(W), Name);
            N->XMLElement()->SetName("ProjektGruppe");
            N->XMLElement()->SetAttribute("Name", Name);
        };
        auto Files = [&](const QString& Pattern) {
            return QDir(Folder).entryList({Pattern}, QDir::Files, QDir::Name);
        };
        auto CleanFolder = [&] {
            for (const QString& F : QDir(Folder).entryList(QDir::Files | QDir::System))
                QFile::remove(Folder + u'/' + F);
        };

        // Three windows on one registry (other logins: other runtime folders), each with a
        // change, closing in the same second whose kept-copy names are taken already: every
        // change lands in the registry or in a kept copy of its own.
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <ProjektGruppe "
                      "Name=\"a\"/>\r\n</SubVersion>\r\n");
        const QByteArray OwnRuntime = qgetenv("XDG_RUNTIME_DIR");
        QTemporaryDir R1, R2, R3;
        std::vector<std::unique_ptr<TfmMain>> Windows;
        for (QTemporaryDir* R : {&R1, &R2, &R3}) {
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(R->path()));
            Windows.push_back(Open());
            QVERIFY(Windows.back()->RegistryLoaded());
        }
        qputenv("XDG_RUNTIME_DIR", OwnRuntime);
        for (int I = 0; I < 3; ++I)
            AddGroup(*Windows[size_t(I)], QStringLiteral("g%1").arg(I + 1));
        const QDateTime Now = QDateTime::currentDateTime();
        for (int Second = -1; Second < 10; ++Second) {
            QFile Taken(RegistryPath() + ".extern-" +
                        Now.addSecs(Second).toString("yyyyMMdd-HHmmss"));
            QVERIFY(Taken.open(QIODevice::WriteOnly));
            Taken.write("schon da");
        }
        for (auto& W : Windows)
            W->close();
        Windows.clear();
        QVERIFY2(FPrompter.Errors.isEmpty(), qPrintable(FPrompter.Errors.join('|')));
        QCOMPARE(FPrompter.Infos.size(), 2);
        QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList({"a", "g3"}));
        QStringList Kept;
        for (const QString& F : Files("SubVersionVerzeichnisse.xml.extern-*")) {
            const QByteArray Bytes = ReadFileBytes(Folder + u'/' + F);
            if (Bytes == "schon da")
                continue;
            Kept << ChildNames(ReadFile(Folder + u'/' + F).get()).join(',');
            QVERIFY(F.contains(QRegularExpression("-[23]$")));
        }
        Kept.sort();
        QCOMPARE(Kept, QStringList({"a,g1", "a,g2"}));
        CleanFolder();

        // What counts as a change: adding, deleting, moving, renaming, the root's settings;
        // looking, selecting, expanding and the start itself do not.
        WriteRegistry("<SubVersion Beschreibung=\"x\">\r\n  <ProjektGruppe Name=\"a\"/>\r\n"
                      "  <ProjektGruppe Name=\"b\"/>\r\n</SubVersion>\r\n");
        {
            auto W = Open();
            TRegistryDocument* Doc = W->Registry;
            auto Changes = [&](const std::function<void()>& Do) {
                Do();
                const bool Changed = Doc->Changed();
                Doc->Save(false); // written: nothing changed since
                return Changed && !Doc->Changed();
            };
            QVERIFY(!Doc->Changed());
            W->lvDir->collapseAll();
            W->lvDir->SetSelected(Child(Root(*W), "b"));
            W->cbKurz->setChecked(false);
            QVERIFY(!Doc->Changed());
            QVERIFY(
                Changes([&] { W->lvDir->MoveNode(Child(Root(*W), "b"), Child(Root(*W), "a")); }));
            QVERIFY(
                Changes([&] { Child(Root(*W), "a")->XMLElement()->SetAttribute("Name", "c"); }));
            QVERIFY(Changes([&] { W->cbServer->click(); }));
            QVERIFY(Changes([&] { W->lvDir->DeleteNode(Child(Root(*W), "c")); }));
            QVERIFY(Changes([&] { AddGroup(*W, "d"); }));
            W->close();
        }
        QCOMPARE(ChildNames(ReadFile(RegistryPath()).get()), QStringList{"d"});
        CleanFolder();

        // A window that changed nothing leaves a newer file alone, and says nothing.
        FPrompter.Reset();
        WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            W->lvDir->collapseAll(); // looking is no change
            W->lvDir->SetSelected(Root(*W));
            WriteRegistry("<SubVersion Beschreibung=\"von B\"/>\r\n");
            W->close();
        }
        QVERIFY(RegistryBytes().contains("von B"));
        QCOMPARE(Files("*.extern-*").size(), 0);
        QVERIFY(FPrompter.Infos.isEmpty() && FPrompter.Errors.isEmpty());

        // A changed window whose registry became something that cannot be kept (a FIFO): the
        // FIFO stays, the window's version lands beside it, and the user is told where.
        WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
        {
            auto W = Open();
            AddGroup(*W, "neu");
            QVERIFY(QFile::remove(RegistryPath()));
            QCOMPARE(mkfifo(QFile::encodeName(RegistryPath()).constData(), 0600), 0);
            W->close();
        }
        struct stat St {};
        QCOMPARE(lstat(QFile::encodeName(RegistryPath()).constData(), &St), 0);
        QVERIFY(S_ISFIFO(St.st_mode));
        const QStringList Ours = Files("SubVersionVerzeichnisse.xml.fenster-*");
        QCOMPARE(Ours.size(), 1);
        QCOMPARE(ChildNames(ReadFile(Folder + u'/' + Ours[0]).get()), QStringList{"neu"});
        QCOMPARE(FPrompter.Errors.size(), 1);
        QVERIFY2(FPrompter.Errors[0].contains("benannte Pipe") &&
                     FPrompter.Errors[0].contains(Ours[0]),
                 qPrintable(FPrompter.Errors[0]));
        CleanFolder();

        // A changed window whose folder takes no file at all: the changes land in the home
        // folder, and the user is told where.
        {
            FPrompter.Reset();
            WriteRegistry("<SubVersion Beschreibung=\"x\"/>\r\n");
            QTemporaryDir Home;
            const QByteArray OldHome = qgetenv("HOME");
            qputenv("HOME", QFile::encodeName(Home.path()));
            auto W = Open();
            AddGroup(*W, "daheim");
            const bool Root = geteuid() == 0;
            auto Run = [](const QStringList& A) {
                QProcess P;
                P.start(A.first(), A.mid(1));
                return P.waitForFinished(10000) && P.exitCode() == 0;
            };
            bool ReadOnly = false;
            if (Root)
                ReadOnly = Run({"mount", "--bind", Folder, Folder}) &&
                           Run({"mount", "-o", "remount,ro,bind", Folder, Folder});
            else
                ReadOnly = QFile::setPermissions(Folder, QFile::ReadOwner | QFile::ExeOwner);
            const auto Undo = qScopeGuard([&] {
                qputenv("HOME", OldHome);
                if (Root)
                    Run({"umount", Folder});
                else
                    QFile::setPermissions(Folder,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            });
            if (ReadOnly) {
                FPrompter.Errors.clear(); // the start's warning that a save will fail
                W->close();
                const QStringList Saved =
                    QDir(Home.path()).entryList({"SubVersionVerzeichnisse.xml.fenster-*"});
                QCOMPARE(Saved.size(), 1);
                QCOMPARE(ChildNames(ReadFile(Home.path() + u'/' + Saved[0]).get()),
                         QStringList{"daheim"});
                QCOMPARE(FPrompter.Errors.size(), 1);
                QVERIFY2(FPrompter.Errors[0].contains(Home.path() + u'/' + Saved[0]),
                         qPrintable(FPrompter.Errors[0]));
            } else {
                qWarning("no read-only registry folder to be had: the home folder is not tried");
            }
        }
        CleanFolder();

        // A registry that declares UTF-8 is read as UTF-8 and written back in Windows-1252.
        FPrompter.Reset();
        QDir().mkpath(Folder);
        {
            QFile F(RegistryPath());
            QVERIFY(F.open(QIODevice::WriteOnly));
            F.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SubVersion>\r\n"
                    "  <ProjektGruppe Name=\"M\xc3\xbcller\"/>\r\n</SubVersion>\r\n");
        }
        {
            auto W = Open();
            QCOMPARE(Captions(Root(*W)), QStringList{QStringLiteral("Müller")});
            W->close();
        }
        QVERIFY(RegistryBytes().startsWith(Head.toLatin1()));
        QVERIFY(RegistryBytes().contains("Name=\"M\xfcller\""));

        // One attribute twice: refused with its line, and never written over.
        WriteRegistry("<SubVersion>\r\n  <Projekt Name=\"p\" Verzeichnis=\"/a\" "
                      "VERZEICHNIS=\"/b\"/>\r\n</SubVersion>\r\n");
        {
            const QByteArray Before = RegistryBytes();
            auto W = Open();
            QVERIFY(!W->RegistryLoaded());
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY2(FPrompter.Errors[0].contains("(Zeile 3)") &&
                         FPrompter.Errors[0].contains("»VERZEICHNIS«"),
                     qPrintable(FPrompter.Errors[0]));
            W->close();
            QCOMPARE(RegistryBytes(), Before);
        }
        CleanFolder();

        // A registry path that is a link in a circle or to nothing: said at the start, and the
        // link stays as it is.
        const QString Elsewhere = WorkDir("anderswo") + "/liste.xml";
        for (const QString& Target : {Elsewhere, RegistryPath()}) {
            FPrompter.Reset();
            QFile::remove(RegistryPath());
            QVERIFY(QFile::link(Target, RegistryPath()));
            {
                auto W = Open();
                QVERIFY(!W->RegistryLoaded());
                QCOMPARE(FPrompter.Errors.size(), 1);
                QVERIFY2(FPrompter.Errors[0].contains(Target == Elsewhere ? "das es nicht gibt"
                                                                          : "im Kreis"),
                         qPrintable(FPrompter.Errors[0]));
                W->close();
            }
            QVERIFY(QFileInfo(RegistryPath()).isSymLink());
            QCOMPARE(QFileInfo(RegistryPath()).symLinkTarget(), Target);
            QVERIFY(!QFileInfo::exists(Elsewhere));
            QCOMPARE(Files("*").size(), 0);
        }
        QFile::remove(RegistryPath());
    }

    // Issue 20, hangs: a registry that is no file is refused at once, without blocking, in
    // German; a window closed while an HTML page is being written says it was not written.
    void hangsRoundThree() {
        QDir().mkpath(QFileInfo(RegistryPath()).path());
        QCOMPARE(mkfifo(QFile::encodeName(RegistryPath()).constData(), 0600), 0);
        QElapsedTimer Took;
        Took.start();
        {
            auto W = Open();
            QVERIFY(!W->RegistryLoaded());
            QCOMPARE(W->lvDir->XMLItems()->TopCount(), 0);
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY2(FPrompter.Errors[0].contains("benannte Pipe (FIFO), keine gewöhnliche Datei"),
                     qPrintable(FPrompter.Errors[0]));
            W->close();
        }
        QVERIFY(Took.elapsed() < 5000);
        QVERIFY(!QFileInfo(RegistryPath()).isFile() && QFileInfo::exists(RegistryPath()));
        // The real program with that FIFO (its message box up) ends on SIGTERM as usual.
        {
            QTemporaryDir Runtime;
            QProcess P;
            StartProgram(P, FFolders.Data.path(), Runtime.path());
            P.terminate();
            QVERIFY(P.waitForFinished(10000));
            QCOMPARE(P.exitStatus(), QProcess::NormalExit);
            QCOMPARE(P.exitCode(), 0);
        }
        QFile::remove(RegistryPath());
        // A link to /dev/zero, and a file beyond the bound.
        QVERIFY(QFile::link("/dev/zero", RegistryPath()));
        FPrompter.Reset();
        Open()->close();
        QVERIFY2(FPrompter.Errors.value(0).contains("ein Gerät, keine gewöhnliche Datei"),
                 qPrintable(FPrompter.Errors.value(0)));
        QVERIFY(QFileInfo(RegistryPath()).isSymLink());
        QFile::remove(RegistryPath());
        {
            QFile Big(RegistryPath());
            QVERIFY(Big.open(QIODevice::WriteOnly));
            QVERIFY(Big.resize(200 * 1024 * 1024)); // sparse
        }
        FPrompter.Reset();
        Open()->close();
        QVERIFY2(FPrompter.Errors.value(0).contains("200 MB"),
                 qPrintable(FPrompter.Errors.value(0)));
        QCOMPARE(QFileInfo(RegistryPath()).size(), 200 * 1024 * 1024);
        QFile::remove(RegistryPath());

        // Closing while a page is being written: the window waits for it and it is written.
        const QString Out = WorkDir("seiten");
        WriteRegistry("<SubVersion Beschreibung=\"x\" HTML_Export=\"" + Out +
                      "\">\r\n"
                      "  <Projekt Name=\"p\" Verzeichnis=\"" +
                      WorkDir("kopie") + "\"/>\r\n</SubVersion>\r\n");
        auto Export = [&](TfmMain& W, const QString& Page) {
            WithModal(
                [&](QWidget* M) {
                    auto* D = qobject_cast<TfmHTML_Ausgabe*>(M);
                    QVERIFY(D);
                    D->cmb_HTMLName->setEditText(QFileInfo(Page).fileName());
                    D->btnOK->click();
                },
                [&] { W.ToolButton15Click(); });
        };
        {
            FPrompter.Reset();
            auto W = Open();
            Export(*W, Out + "/gewartet.html");
            FPrompter.Answers = {true}; // "Abbrechen und das Programm beenden?"
            W->close();
            QTRY_VERIFY_WITH_TIMEOUT(!W->isVisible(), 20000);
            QVERIFY(QFileInfo(Out + "/gewartet.html").isFile());
        }
        // The program ending without waiting (its end, the session's, a signal's time out)
        // while the page's clients still run (a client that hangs): the page is not written,
        // and the user hears so, unattended on standard error.
        const QString Bin = WorkDir("haengt");
        {
            QFile Fake(Bin + "/svn");
            QVERIFY(Fake.open(QIODevice::WriteOnly));
            Fake.write("#!/bin/sh\nexec sleep 30\n");
            Fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray OldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(Bin) + ':' + OldPath);
        const auto Back = qScopeGuard([&] { qputenv("PATH", OldPath); });
        for (bool Unattended : {false, true}) {
            FPrompter.Reset();
            const QString Page = Out + (Unattended ? "/signal.html" : "/fenster.html");
            auto W = Open();
            Export(*W, Page);
            QTemporaryFile Err;
            QVERIFY(Err.open());
            std::fflush(stderr);
            const int Saved = dup(2);
            dup2(Err.handle(), 2);
            Took.restart();
            W->FinishRun(Unattended);
            std::fflush(stderr);
            dup2(Saved, 2);
            ::close(Saved);
            QVERIFY(Took.elapsed() < 5000);
            QVERIFY(!QFileInfo::exists(Page));
            QVERIFY(Err.seek(0)); // the descriptor's offset moved with what was written
            const QString Said =
                Unattended ? QString::fromUtf8(Err.readAll()) : FPrompter.Errors.join('|');
            QVERIFY2(Said.contains(Page + " wurde nicht geschrieben"), qPrintable(Said));
            if (Unattended)
                QVERIFY(FPrompter.Errors.isEmpty());
        }
    }

    // Issue 20, wrong results: control characters never reach the file, settings out of range
    // are said at the start, and what the standard library raises is shown in German.
    void wrongResultsRoundThree() {
        WriteRegistry("<SubVersion Beschreibung=\"x\" Zeitlimit=\"4294968\" Jobs=\"1000\"/>\r\n");
        {
            auto W = Open();
            QVERIFY(W->RegistryLoaded());
            QCOMPARE(FPrompter.Errors.size(), 1);
            QVERIFY2(FPrompter.Errors[0].contains("»Zeitlimit« der Projektliste (»4294968«)") &&
                         FPrompter.Errors[0].contains("»Jobs« der Projektliste (»1000«)") &&
                         FPrompter.Errors[0].contains("1 bis 86400") &&
                         FPrompter.Errors[0].contains("1 bis 64"),
                     qPrintable(FPrompter.Errors[0]));
            FPrompter.Entries = {QStringLiteral("Farbe\x1b[31m rot\x01")};
            W->ToolButton11Click();
            QCOMPARE(Captions(Root(*W)), QStringList{"Farbe[31m rot"});
            W->close();
        }
        const QByteArray Saved = RegistryBytes();
        QVERIFY(!Saved.contains('\x1b') && !Saved.contains('\x01'));
        QVERIFY(Saved.contains("Name=\"Farbe[31m rot\""));
        FPrompter.Reset();
        HandleException(std::bad_alloc());
        QCOMPARE(FPrompter.Errors,
                 QStringList{"Nicht genügend Arbeitsspeicher für diesen Vorgang."});
    }

    // The built program, ended by SIGTERM, writes the registry it read.
    void programEndsOnSigterm() {
        QTemporaryDir Data, Runtime;
        const QString File = Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
        QDir().mkpath(QFileInfo(File).path());
        {
            QFile F(File);
            QVERIFY(F.open(QIODevice::WriteOnly));
            F.write((Head + "<SubVersion Beschreibung=\"x\">\r\n"
                            "  <ProjektGruppe Name=\"b\"/>\r\n"
                            "  <ProjektGruppe Name=\"a\"/>\r\n"
                            "</SubVersion>\r\n")
                        .toLatin1());
        }
        QProcess P;
        P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        StartProgram(P, Data.path(), Runtime.path());
        QVERIFY(P.state() == QProcess::Running);
        P.terminate();
        QVERIFY(P.waitForFinished(10000));
        QCOMPARE(P.exitStatus(), QProcess::NormalExit);
        QCOMPARE(P.exitCode(), 0);
        QCOMPARE(ChildNames(ReadFile(File).get()), QStringList({"a", "b"}));
    }
};

QTEST_MAIN(TestAppWindow)
#include "tst_app_window.moc"
