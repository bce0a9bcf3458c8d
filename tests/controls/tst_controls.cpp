// Tests of the window kit: the base form, the directory edit and its browser, the folder
// context menu, and the single-instance guard with real processes.
#include "KivForm.h"
#include "kivButtonEdit.h"
#include "kiv_ContextMenu.h"
#include "kiv_single.h"
#include "kiv_system.h"
#include "kiv_terminal.h"
#include "kiv_test_prompter.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

static const QString SingleHelper = QStringLiteral(KIV_SINGLE_HELPER);

// Runs Action on the modal dialog or popup that the next blocking call opens.
static QPointer<QTimer> WhenOpen(std::function<void(QWidget*)> Action) {
    auto* Timer = new QTimer;
    auto Tries = std::make_shared<int>(0);
    QObject::connect(Timer, &QTimer::timeout, [Timer, Action, Tries] {
        QWidget* W = QApplication::activePopupWidget();
        if (!W)
            W = QApplication::activeModalWidget();
        if (!W && ++*Tries < 200)
            return;
        Timer->stop();
        Timer->deleteLater();
        if (!W)
            return;
        QPointer<QWidget> Open = W;
        Action(W);
        // A failed check inside Action must not leave the caller blocked.
        if (Open && Open->isVisible()) {
            if (auto* D = qobject_cast<QDialog*>(Open.data()))
                D->reject();
            else
                Open->close();
        }
    });
    Timer->start(25);
    return Timer;
}

// A form like the new-entry dialog: two edits and an OK button.
class TTwoEdits : public TKivForm {
public:
    TTwoEdits() {
        auto* L = new QVBoxLayout(this);
        L->addWidget(Edit1 = new QLineEdit(this));
        L->addWidget(Edit2 = new QLineEdit(this));
        L->addWidget(Ok = new QPushButton("OK", this));
        Ok->setDefault(true);
        connect(Ok, &QPushButton::clicked, this, &QDialog::accept);
        CreatedInConstructor = AfterCreateCount;
    }
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QPushButton* Ok;
    int AfterCreateCount = 0;
    int CreatedInConstructor = -1;
};

static void ShowActive(QWidget* W) {
    W->show();
    W->activateWindow();
    QApplication::setActiveWindow(W);
    QVERIFY(QTest::qWaitForWindowActive(W));
}

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void returnActsAsTab();
    void returnSwitchedOffOrVetoed();
    void afterCreateAfterShowOnce();
    void firstActivateOnce();
    void mainFormSize();
    void buttonImages();
    void browseOptions();
    void buttonFollowsEnabled();
    void browseConfirmCancelSame();
    void browseCannotLeaveRoot();
    void contextMenuEntries();
    void contextMenuRunsApplication();
    void contextMenuSaysWhatCannotStart();
    void singleInstanceTwoProcesses();
    void singleInstanceKilledFirst();
    void singleInstancePerFolder();
};

void TestControls::returnActsAsTab() {
    TTwoEdits F;
    ShowActive(&F);
    F.Edit1->setFocus();
    QTest::keyClick(F.Edit1, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), F.Edit2);
    QVERIFY(F.isVisible()); // the default button was not pressed
    QTest::keyClick(F.Edit2, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(QApplication::focusWidget(), F.Ok);
    // Shift+Return goes back.
    F.Edit2->setFocus();
    QTest::keyClick(F.Edit2, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), F.Edit1);
    // Return on the button presses it.
    F.Ok->setFocus();
    QTest::keyClick(F.Ok, Qt::Key_Return);
    QCOMPARE(F.result(), int(QDialog::Accepted));
    QVERIFY(!F.isVisible());
}

void TestControls::returnSwitchedOffOrVetoed() {
    {
        TTwoEdits F;
        F.ActivReturn = false;
        ShowActive(&F);
        F.Edit1->setFocus();
        QTest::keyClick(F.Edit1, Qt::Key_Return);
        // Return keeps its usual meaning: the default button.
        QCOMPARE(F.result(), int(QDialog::Accepted));
    }
    {
        TTwoEdits F;
        int Asked = 0;
        bool Veto = true;
        F.OnTestReturn = [&](QObject* Sender, bool& ReplaceReturn) {
            QCOMPARE(Sender, &F);
            QVERIFY(ReplaceReturn);
            ++Asked;
            ReplaceReturn = !Veto;
        };
        ShowActive(&F);
        F.Edit1->setFocus();
        QTest::keyClick(F.Edit1, Qt::Key_Return);
        QCOMPARE(Asked, 1);
        QCOMPARE(F.result(), int(QDialog::Accepted)); // let through unchanged
        Veto = false;
        F.setResult(0);
        ShowActive(&F);
        F.Edit1->setFocus();
        QTest::keyClick(F.Edit1, Qt::Key_Return);
        QCOMPARE(Asked, 2);
        QCOMPARE(QApplication::focusWidget(), F.Edit2);
    }
    {
        // No control with the focus: the handler is not asked.
        TKivForm F;
        int Asked = 0;
        F.OnTestReturn = [&](QObject*, bool&) { ++Asked; };
        ShowActive(&F);
        QVERIFY(!F.focusWidget());
        QTest::keyClick(&F, Qt::Key_Return);
        QCOMPARE(Asked, 0);
    }
}

void TestControls::afterCreateAfterShowOnce() {
    auto* F = new TTwoEdits;
    bool VisibleThen = false;
    F->OnAfterCreate = [&](QObject* Sender) {
        QCOMPARE(Sender, F);
        VisibleThen = F->isVisible();
        ++F->AfterCreateCount;
    };
    QCOMPARE(F->CreatedInConstructor, 0);
    // The queued call arrives while the form is still hidden: it waits for the show.
    QCoreApplication::processEvents();
    QCOMPARE(F->AfterCreateCount, 0);
    F->show();
    QCOMPARE(F->AfterCreateCount, 0); // never inside show() itself
    QTRY_COMPARE(F->AfterCreateCount, 1);
    QVERIFY(VisibleThen);
    F->hide();
    F->show();
    QTest::qWait(50);
    QCOMPARE(F->AfterCreateCount, 1);
    delete F;

    // Shown before the loop runs (as the main window is): fires from the loop, once.
    int Count = 0;
    TKivForm G;
    G.OnAfterCreate = [&](QObject*) { ++Count; };
    G.show();
    QCOMPARE(Count, 0);
    QTRY_COMPARE(Count, 1);

    // Destroyed before the loop dispatches the call: it never fires.
    int Gone = 0;
    {
        TKivForm H;
        H.OnAfterCreate = [&](QObject*) { ++Gone; };
        H.show();
    }
    QTest::qWait(50);
    QCOMPARE(Gone, 0);
}

void TestControls::firstActivateOnce() {
    TKivForm F;
    QWidget Other;
    int First = 0;
    F.OnFirstActivate = [&](QObject* Sender) {
        QCOMPARE(Sender, &F);
        QVERIFY(!F.isActiveWindow() || First == 0);
        ++First;
    };
    ShowActive(&F);
    QCOMPARE(First, 1);
    ShowActive(&Other);
    QVERIFY(!F.isActiveWindow());
    ShowActive(&F);
    QCOMPARE(First, 1);
}

void TestControls::mainFormSize() {
    TKivForm Main;
    TKivForm::SetMainForm(&Main);
    Main.setGeometry(40, 50, 700, 500);
    Main.MainFormSize = true;
    Main.Loaded(); // no effect on the main window itself
    QCOMPARE(Main.geometry(), QRect(40, 50, 700, 500));
    QVERIFY(!(Main.windowState() & Qt::WindowMaximized));

    TKivForm::DesktopWidthOverride = 1024;
    TKivForm Wide;
    Wide.Loaded(); // MainFormSize off: nothing
    QVERIFY(Wide.geometry() != Main.geometry());
    Wide.MainFormSize = true;
    Wide.Loaded();
    QCOMPARE(Wide.geometry(), Main.geometry());
    QVERIFY(!(Wide.windowState() & Qt::WindowMaximized));

    TKivForm::DesktopWidthOverride = 800; // 800 itself counts as narrow
    TKivForm Narrow;
    Narrow.MainFormSize = true;
    Narrow.Loaded();
    QVERIFY(Narrow.windowState() & Qt::WindowMaximized);

    TKivForm::DesktopWidthOverride = 0;
    TKivForm::SetMainForm(nullptr);
}

void TestControls::buttonImages() {
    const TImageList Images = TkivCustomButtonedEdit::LoadButtonImages("DIR0", "DIR1", "DIR2");
    QCOMPARE(Images.size(), 3);
    QImage Previous;
    for (const QIcon& Icon : Images) {
        QVERIFY(!Icon.isNull());
        const QImage I = Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(I.size(), QSize(16, 16));
        QCOMPARE(qAlpha(I.pixel(0, 0)), 0); // the magenta background is transparent
        QCOMPARE(qAlpha(I.pixel(15, 15)), 0);
        QCOMPARE(qAlpha(I.pixel(6, 10)), 255); // the folder is not
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X)
                QVERIFY((I.pixel(X, Y) & 0xFFFFFF) != 0xFF00FF || qAlpha(I.pixel(X, Y)) == 0);
        QVERIFY(I != Previous);
        Previous = I;
    }
    // The disabled image is grey.
    const QRgb Grey = Images[1].pixmap(16, 16).toImage().pixel(6, 10);
    QCOMPARE(qRed(Grey), qGreen(Grey));
    QCOMPARE(qGreen(Grey), qBlue(Grey));
    QVERIFY_THROWS_EXCEPTION(std::exception,
                             TkivCustomButtonedEdit::LoadButtonImages("DIR0", "FEHLT", "DIR2"));
}

void TestControls::browseOptions() {
    TkivDirectoryDlg D;
    QCOMPARE(D.Options(), TBrowseOptions());
    D.SetOptions({bifBrowseIncludeURLS});
    QCOMPARE(D.Options(),
             (TBrowseOptions{bifBrowseIncludeFiles, bifBrowseIncludeURLS, bifUseNewUI}));
    D.SetOptions({bifShareable});
    QCOMPARE(D.Options(), (TBrowseOptions{bifNewDialogStyle, bifShareable}));
    D.SetOptions({bifEditBox});
    QCOMPARE(D.Options(), TBrowseOptions{bifEditBox});
    QCOMPARE((TBrowseOptions{bifNewDialogStyle, bifReturnOnlyFSDirs}).BrowseFlags(), 0x41u);
    QCOMPARE((TBrowseOptions{bifValidate, bifBrowseForComputer}).BrowseFlags(), 0x1020u);

    TkivDirectoryEdit E;
    QCOMPARE(E.Dialog().Options(), (TBrowseOptions{bifNewDialogStyle, bifReturnOnlyFSDirs}));
    QVERIFY(E.Dialog().Caption.isEmpty());
    QVERIFY(E.Dialog().RootDir.isEmpty());
    TkivDirectoryDlg Other;
    Other.Caption = "Wählen";
    Other.RootDir = "/tmp";
    Other.SetOptions({bifStatusText});
    TkivDirectoryDlg* Own = &E.Dialog();
    E.SetDialog(Other);
    QCOMPARE(&E.Dialog(), Own); // the edit keeps its own object
    QCOMPARE(E.Dialog().Caption, QStringLiteral("Wählen"));
    QCOMPARE(E.Dialog().RootDir, QStringLiteral("/tmp"));
    QCOMPARE(E.Dialog().Options(), TBrowseOptions{bifStatusText});
}

void TestControls::buttonFollowsEnabled() {
    QWidget Parent;
    auto* E = new TkivDirectoryEdit(&Parent);
    QVERIFY(E->RightButton());
    QVERIFY(E->actions().contains(E->RightButton()));
    QVERIFY(E->RightButton()->isEnabled());
    E->setEnabled(false);
    QVERIFY(!E->RightButton()->isEnabled());
    E->setEnabled(true);
    QVERIFY(E->RightButton()->isEnabled());
    Parent.setEnabled(false); // disabled through its parent as well
    QVERIFY(!E->RightButton()->isEnabled());
    Parent.setEnabled(true);
    QVERIFY(E->RightButton()->isEnabled());
}

static TkivFolderDialog* Browser(QWidget* W) {
    auto* B = qobject_cast<TkivFolderDialog*>(W);
    if (!B)
        qWarning("no folder browser open");
    return B;
}

void TestControls::browseConfirmCancelSame() {
    QTemporaryDir Dir;
    const QString Sub = Dir.filePath("Unterordner");
    QVERIFY(QDir().mkdir(Sub));
    QWidget Window;
    TkivDirectoryEdit& E = *new TkivDirectoryEdit(&Window);
    E.setText("alt");
    QSignalSpy Changed(&E, &QLineEdit::textChanged);

    // Cancelled: nothing changes.
    WhenOpen([](QWidget* W) {
        auto* B = Browser(W);
        QVERIFY(B);
        QCOMPARE(B->fileMode(), QFileDialog::Directory);
        QVERIFY(B->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(QDir(B->directory()).canonicalPath(), QDir::home().canonicalPath());
        B->reject();
    });
    E.RightButton()->trigger();
    QCOMPARE(E.text(), QStringLiteral("alt"));
    QCOMPARE(Changed.count(), 0);

    // F4 in the edit opens the browser too.
    bool Opened = false;
    WhenOpen([&](QWidget* W) {
        Opened = Browser(W) != nullptr;
        qobject_cast<QDialog*>(W)->reject();
    });
    ShowActive(&Window);
    E.setFocus();
    QTest::keyClick(&E, Qt::Key_F4);
    QVERIFY(Opened);

    // Confirmed: the folder becomes the text.
    WhenOpen([&](QWidget* W) {
        auto* B = Browser(W);
        QVERIFY(B);
        B->setDirectory(Dir.path());
        // The user types the folder's name and confirms.
        B->findChild<QLineEdit*>("fileNameEdit")->setText("Unterordner");
        B->accept();
    });
    E.RightButton()->trigger();
    QCOMPARE(E.text(), Sub);
    QCOMPARE(Changed.count(), 1);

    // The same folder again: no change event.
    WhenOpen([&](QWidget* W) {
        auto* B = Browser(W);
        QVERIFY(B);
        B->setDirectory(Dir.path());
        // The user types the folder's name and confirms.
        B->findChild<QLineEdit*>("fileNameEdit")->setText("Unterordner");
        B->accept();
    });
    E.RightButton()->trigger();
    QCOMPARE(E.text(), Sub);
    QCOMPARE(Changed.count(), 1);
}

void TestControls::browseCannotLeaveRoot() {
    QTemporaryDir Dir;
    const QString Root = Dir.filePath("wurzel");
    QVERIFY(QDir().mkpath(Root + "/innen"));
    TkivDirectoryEdit E;
    E.Dialog().RootDir = Root;
    E.Dialog().Caption = "Ordner wählen";
    bool Checked = false;
    WhenOpen([&](QWidget* W) {
        auto* B = Browser(W);
        QVERIFY(B);
        QCOMPARE(B->windowTitle(), QStringLiteral("Ordner wählen"));
        QCOMPARE(B->directory().absolutePath(), Root);
        // The user goes up with the dialog's own button: he stays in the root.
        auto* Up = B->findChild<QToolButton*>("toParentButton");
        QVERIFY(Up);
        Up->click();
        QTRY_COMPARE(B->directory().absolutePath(), Root);
        // He types a folder outside and confirms it: refused, back in the root.
        auto* Name = B->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(Name);
        Name->setText(Dir.path());
        B->accept();
        QVERIFY(B->isVisible());
        QTRY_COMPARE(B->directory().absolutePath(), Root);
        // A folder inside is taken.
        Name->setText(Root + "/innen");
        B->accept();
        Checked = true;
    });
    E.RightButton()->trigger();
    QVERIFY(Checked);
    QCOMPARE(E.text(), Root + "/innen");

    // A root that does not exist: the browser starts in the home folder, unbounded.
    E.Dialog().RootDir = Dir.filePath("gibt es nicht");
    WhenOpen([&](QWidget* W) {
        auto* B = Browser(W);
        QVERIFY(B);
        QVERIFY(B->RootDir().isEmpty());
        QCOMPARE(QDir(B->directory()).canonicalPath(), QDir::home().canonicalPath());
        B->reject();
    });
    E.RightButton()->trigger();
}

// Writes a desktop entry into Folder/applications.
static void WriteDesktopFile(const QString& Folder, const QString& Name, const QByteArray& Text) {
    QDir().mkpath(Folder + "/applications");
    QFile F(Folder + "/applications/" + Name);
    QVERIFY(F.open(QIODevice::WriteOnly));
    F.write(Text);
}

static QStringList MenuTexts(QMenu* M) {
    QStringList Texts;
    for (QAction* A : M->actions())
        Texts << (A->isSeparator() ? QStringLiteral("-") : A->text());
    return Texts;
}

void TestControls::contextMenuEntries() {
    QTemporaryDir Home, System, Target;
    qputenv("XDG_DATA_HOME", Home.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", System.path().toLocal8Bit());
    WriteDesktopFile(System.path(), "files.desktop",
                     "[Desktop Entry]\nType=Application\nName=Dateien\nName[de]=Dateimanager\n"
                     "Exec=files %U\nMimeType=inode/directory;text/plain;\n");
    WriteDesktopFile(System.path(), "hidden.desktop",
                     "[Desktop Entry]\nType=Application\nName=Versteckt\nNoDisplay=true\n"
                     "Exec=x %f\nMimeType=inode/directory;\n");
    WriteDesktopFile(System.path(), "editor.desktop",
                     "[Desktop Entry]\nType=Application\nName=Editor\nExec=ed %f\n"
                     "MimeType=text/plain;\n");
    WriteDesktopFile(System.path(), "gone.desktop",
                     "[Desktop Entry]\nType=Application\nName=Fehlt\nTryExec=kiv-fehlt-hier\n"
                     "Exec=kiv-fehlt-hier\nMimeType=inode/directory;\n");
    // The user's own entry of the same id wins over the system's.
    WriteDesktopFile(System.path(), "term.desktop",
                     "[Desktop Entry]\nType=Application\nName=System-Shell\nExec=sh\n"
                     "MimeType=inode/directory;\n");
    WriteDesktopFile(Home.path(), "term.desktop",
                     "[Desktop Entry]\nType=Application\nName=Alte Shell\n"
                     "Exec=sh -c \"echo \\\\\"%%\\\\\"\" %F\nMimeType=inode/directory;\n");

    const QList<TFolderApplication> Apps = FolderApplications("inode/directory");
    QCOMPARE(Apps.size(), 2);
    QCOMPARE(Apps[0].Name, QStringLiteral("Alte Shell"));
    // The name in the user's language where the entry has one.
    const bool German = QLocale::system().name().startsWith(QLatin1String("de"));
    QCOMPARE(Apps[1].Name, German ? QStringLiteral("Dateimanager") : QStringLiteral("Dateien"));
    QCOMPARE(ExpandDesktopExec(Apps[0], "/a b"), (QStringList{"sh", "-c", "echo \"%\"", "/a b"}));
    QCOMPARE(ExpandDesktopExec(Apps[1], "/a b"), (QStringList{"files", "file:///a%20b"}));
    TFolderApplication NoCode;
    NoCode.Exec = "nautilus --new-window";
    QCOMPARE(ExpandDesktopExec(NoCode, "/x"), (QStringList{"nautilus", "--new-window", "/x"}));

    // The menu: open, the applications, terminal, copy path; a trailing "/" changes nothing.
    QWidget Owner;
    ShowActive(&Owner);
    for (const QString& P : {Target.path(), Target.path() + "/"}) {
        QStringList Texts;
        WhenOpen([&](QWidget* W) {
            auto* M = qobject_cast<QMenu*>(W);
            QVERIFY(M);
            Texts = MenuTexts(M);
            QTest::keyClick(M, Qt::Key_Escape);
        });
        QVERIFY(!ShowExplorerContextMenu(&Owner, P, QPoint(5, 5))); // dismissed: false
        QCOMPARE(Texts, (QStringList{"Öffnen", "-", "Alte Shell", Apps[1].Name, "-",
                                     "Terminal hier öffnen", "Pfad kopieren"}));
    }
    // No menu at all for a path that does not exist.
    bool Opened = false;
    QPointer<QTimer> Watch = WhenOpen([&](QWidget* W) {
        Opened = true;
        W->close();
    });
    QVERIFY(!ShowExplorerContextMenu(&Owner, Target.filePath("fehlt"), QPoint(5, 5)));
    QVERIFY(!ShowExplorerContextMenu(&Owner, "", QPoint(5, 5)));
    QVERIFY(!Opened);
    delete Watch.data();

    // The menu closes with its window.
    WhenOpen([&](QWidget* W) {
        QVERIFY(qobject_cast<QMenu*>(W));
        Owner.hide();
        QVERIFY(!W->isVisible());
    });
    QVERIFY(!ShowExplorerContextMenu(&Owner, Target.path(), QPoint(5, 5)));
    QVERIFY(!QApplication::activePopupWidget());
    ShowActive(&Owner);

    // "Pfad kopieren".
    WhenOpen([&](QWidget* W) {
        auto* M = qobject_cast<QMenu*>(W);
        QVERIFY(M);
        M->setActiveAction(M->actions().last());
        QTest::keyClick(M, Qt::Key_Return);
    });
    QVERIFY(ShowExplorerContextMenu(&Owner, Target.path() + "/", QPoint(5, 5)));
    QCOMPARE(QGuiApplication::clipboard()->text(), Target.path());
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
}

// Picks the entry Text of the menu that opens next.
static void ChooseInMenu(const QString& Text) {
    WhenOpen([Text](QWidget* W) {
        auto* M = qobject_cast<QMenu*>(W);
        QVERIFY(M);
        for (QAction* A : M->actions())
            if (A->text() == Text)
                M->setActiveAction(A);
        QCOMPARE(M->activeAction() ? M->activeAction()->text() : QString(), Text);
        QTest::keyClick(M, Qt::Key_Return);
    });
}

static QString WaitForFile(const QString& Name) {
    QFile F(Name);
    for (int I = 0; I < 100 && !(QFileInfo(Name).size() > 0); ++I)
        QTest::qWait(50);
    QTest::qWait(50);
    if (!F.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(F.readAll());
}

void TestControls::contextMenuRunsApplication() {
    QTemporaryDir Home, Target;
    const QString Folder = Target.filePath("mit Leerzeichen");
    QVERIFY(QDir().mkdir(Folder));
    const QString Log = Home.filePath("log.txt");
    const QString Script = Home.filePath("record.sh");
    {
        QFile S(Script);
        QVERIFY(S.open(QIODevice::WriteOnly));
        S.write("#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > \"$KIV_LOG.tmp\"\n"
                "mv \"$KIV_LOG.tmp\" \"$KIV_LOG\"\n");
        S.close();
        S.setPermissions(S.permissions() | QFileDevice::ExeOwner);
    }
    qputenv("KIV_LOG", Log.toLocal8Bit());
    qputenv("XDG_DATA_HOME", Home.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", Home.filePath("none").toLocal8Bit());
    WriteDesktopFile(Home.path(), "rec.desktop",
                     "[Desktop Entry]\nType=Application\nName=Aufzeichner\nExec=\"" +
                         Script.toLocal8Bit() + "\" --open %f\nMimeType=inode/directory;\n");
    QWidget Owner;
    ShowActive(&Owner);

    ChooseInMenu("Aufzeichner");
    QVERIFY(ShowExplorerContextMenu(&Owner, Folder + "/", QPoint(1, 1)));
    QString Canon = QDir(Folder).canonicalPath();
    QCOMPARE(WaitForFile(Log), Canon + "\n[--open]\n[" + Folder + "]\n");
    QFile::remove(Log);

    // The terminal is started in the folder.
    qputenv("TERMINAL", Script.toLocal8Bit());
    ChooseInMenu("Terminal hier öffnen");
    QVERIFY(ShowExplorerContextMenu(&Owner, Folder, QPoint(1, 1)));
    QCOMPARE(WaitForFile(Log), Canon + "\n");
    qunsetenv("TERMINAL");
    qunsetenv("KIV_LOG");
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
}

// Nothing to open the folder with, an application that is not installed, no terminal: each
// entry says so instead of doing nothing.
void TestControls::contextMenuSaysWhatCannotStart() {
    TTestPrompter Prompter;
    SetPrompter(&Prompter);
    QTemporaryDir Home, Empty, Target;
    const QByteArray Path = qgetenv("PATH"), Browser = qgetenv("BROWSER");
    qputenv("PATH", Empty.path().toLocal8Bit()); // no xdg-open, no gio, no terminal
    qunsetenv("BROWSER");
    qputenv("TERMINAL", "kiv-kein-terminal");
    qputenv("XDG_DATA_HOME", Home.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", Home.filePath("none").toLocal8Bit());
    WriteDesktopFile(Home.path(), "kaputt.desktop",
                     "[Desktop Entry]\nType=Application\nName=Kaputt\n"
                     "Exec=kiv-gibt-es-nicht %f\nMimeType=inode/directory;\n");
    QWidget Owner;
    ShowActive(&Owner);

    ChooseInMenu("Öffnen");
    ShowExplorerContextMenu(&Owner, Target.path(), QPoint(1, 1));
    const QString Name = QFileInfo(Target.path()).fileName();
    QTRY_COMPARE(Prompter.Infos, QStringList("Der Ordner \"" + Name +
                                             "\" kann nicht geöffnet werden: es ist kein "
                                             "Dateimanager eingerichtet."));
    ChooseInMenu("Kaputt");
    QVERIFY(!ShowExplorerContextMenu(&Owner, Target.path(), QPoint(1, 1)));
    ChooseInMenu("Terminal hier öffnen");
    QVERIFY(!ShowExplorerContextMenu(&Owner, Target.path(), QPoint(1, 1)));
    QCOMPARE(Prompter.Errors,
             QStringList({"\"Kaputt\" lässt sich nicht starten.", NoTerminalText()}));

    qputenv("PATH", Path);
    if (!Browser.isNull())
        qputenv("BROWSER", Browser);
    qunsetenv("TERMINAL");
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
    SetPrompter(nullptr);
}

// One run of the helper, with its first two lines read.
struct THelperRun {
    QProcess* Process;
    QString State, LockFile;
};

static THelperRun StartHelper(const QString& Program, const QStringList& Args,
                              const QString& RuntimeDir) {
    THelperRun R{new QProcess, {}, {}};
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("XDG_RUNTIME_DIR", RuntimeDir);
    R.Process->setProcessEnvironment(Env);
    R.Process->start(Program, Args);
    if (!R.Process->waitForStarted(10000))
        return R;
    // Both lines come in one write; wait until the second one is complete.
    for (int I = 0; I < 200 && R.Process->peek(4096).count('\n') < 2; ++I)
        R.Process->waitForReadyRead(100);
    R.State = QString::fromLocal8Bit(R.Process->readLine()).trimmed();
    R.LockFile = QString::fromLocal8Bit(R.Process->readLine()).trimmed();
    return R;
}

static void EndHelper(THelperRun& R, int Signal = SIGTERM) {
    if (R.Process->state() != QProcess::NotRunning) {
        ::kill(pid_t(R.Process->processId()), Signal);
        R.Process->waitForFinished(10000);
    }
    delete R.Process;
    R.Process = nullptr;
}

void TestControls::singleInstanceTwoProcesses() {
    QTemporaryDir Runtime;
    THelperRun First = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    QCOMPARE(First.State, QStringLiteral("first"));
    QCOMPARE(First.LockFile, Runtime.path() + "/Kelvaro_SoftkivSubversion");
    QVERIFY(QFileInfo(First.LockFile).isFile());

    // The second start ends at once, silently, through its quit request.
    THelperRun Second = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    QCOMPARE(Second.State, QStringLiteral("second"));
    QVERIFY(Second.Process->waitForFinished(10000));
    QCOMPARE(Second.Process->exitCode(), 2);
    QCOMPARE(Second.Process->readAll().trimmed(), QByteArray("quit"));
    QCOMPARE(First.Process->state(), QProcess::Running);
    EndHelper(Second);

    // Another title is another program.
    THelperRun Other = StartHelper(SingleHelper, {"kivAnders"}, Runtime.path());
    QCOMPARE(Other.State, QStringLiteral("first"));
    EndHelper(Other);

    // After the first has ended, a new start runs normally.
    EndHelper(First);
    THelperRun Third = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    QCOMPARE(Third.State, QStringLiteral("first"));
    EndHelper(Third);

    // Without a runtime folder the lock lies in a folder of the user's own inside the temporary
    // folder (mode 0700), never in the shared folder itself, where another user could hold it.
    QTemporaryDir Shared, Cache;
    const QByteArray OldTmp = qgetenv("TMPDIR"), OldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QFile::encodeName(Shared.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(Cache.path()));
    qputenv("XDG_RUNTIME_DIR", "");
    QCoreApplication::setApplicationName("kivTest");
    QWidget Owner;
    const QString Own = Shared.path() + QStringLiteral("/kivSubversion-%1").arg(geteuid());
    {
        TSingleInstance Guard(&Owner);
        QCOMPARE(Guard.LockFilePath(), Own + "/Kelvaro_SoftkivTest");
        struct stat S {};
        QCOMPARE(::lstat(QFile::encodeName(Own).constData(), &S), 0);
        QCOMPARE(S.st_mode & 0777, mode_t(0700));
        QCOMPARE(S.st_uid, geteuid());
        // A folder of ours that others could enter is closed first.
        QVERIFY(::chmod(QFile::encodeName(Own).constData(), 0777) == 0);
        QCOMPARE(Guard.LockFilePath(), Own + "/Kelvaro_SoftkivTest");
        QCOMPARE(::lstat(QFile::encodeName(Own).constData(), &S), 0);
        QCOMPARE(S.st_mode & 0777, mode_t(0700));
    }
    // Someone else's folder, or a link, of that name: the user's own cache folder instead.
    QVERIFY(QDir(Own).removeRecursively());
    QVERIFY(QFile::link(Cache.path(), Own));
    {
        TSingleInstance Guard(&Owner);
        QCOMPARE(Guard.LockFilePath(), Cache.path() + "/kivSubversion/Kelvaro_SoftkivTest");
        Guard.Loaded();
        QVERIFY(Guard.FirstInstance());
    }
    if (geteuid() == 0) {
        QVERIFY(QFile::remove(Own));
        QVERIFY(QDir().mkdir(Own));
        QVERIFY(::chown(QFile::encodeName(Own).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(Own).constData(), 0777) == 0);
        TSingleInstance Guard(&Owner);
        QCOMPARE(Guard.LockFilePath(), Cache.path() + "/kivSubversion/Kelvaro_SoftkivTest");
    }
    qputenv("TMPDIR", OldTmp);
    qputenv("XDG_CACHE_HOME", OldCache);
    if (OldTmp.isEmpty())
        qunsetenv("TMPDIR");
    if (OldCache.isEmpty())
        qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    // An owner that is no window is refused.
    QObject NoWindow;
    TSingleInstance Bad(&NoWindow);
    QVERIFY_THROWS_EXCEPTION(std::exception, Bad.Loaded());
    QCoreApplication::setApplicationName("tst_controls");
}

void TestControls::singleInstanceKilledFirst() {
    // A first instance that crashes (SIGKILL: no clean-up at all) blocks no later start.
    QTemporaryDir Runtime;
    THelperRun First = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    QCOMPARE(First.State, QStringLiteral("first"));
    EndHelper(First, SIGKILL);
    QVERIFY(QFileInfo::exists(Runtime.path() + "/Kelvaro_SoftkivSubversion"));
    THelperRun Next = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    QCOMPARE(Next.State, QStringLiteral("first"));
    EndHelper(Next);

    // Nor does a child that outlives it (a terminal opened from the program): the child does
    // not inherit the lock.
    THelperRun Parent = StartHelper(SingleHelper, {"kivSubversion", "child"}, Runtime.path());
    QCOMPARE(Parent.State, QStringLiteral("first"));
    for (int I = 0; I < 50 && !Parent.Process->canReadLine(); ++I)
        Parent.Process->waitForReadyRead(100);
    const qint64 Child = Parent.Process->readLine().trimmed().toLongLong();
    QVERIFY(Child > 0);
    EndHelper(Parent, SIGKILL);
    QCOMPARE(::kill(pid_t(Child), 0), 0); // still running
    THelperRun After = StartHelper(SingleHelper, {"kivSubversion"}, Runtime.path());
    ::kill(pid_t(Child), SIGKILL);
    QCOMPARE(After.State, QStringLiteral("first"));
    EndHelper(After);
}

void TestControls::singleInstancePerFolder() {
    QTemporaryDir Runtime, Copies;
    const QString A = Copies.filePath("a/"), B = Copies.filePath("b:x/");
    QVERIFY(QDir().mkpath(A) && QDir().mkpath(B));
    QVERIFY(QFile::copy(SingleHelper, A + "helper"));
    QVERIFY(QFile::copy(SingleHelper, B + "helper"));
    THelperRun InA = StartHelper(A + "helper", {"kivSubversion", "dir"}, Runtime.path());
    QCOMPARE(InA.State, QStringLiteral("first"));
    QString Expected = "kiv" + A + "kivSubversion";
    Expected.remove('/');
    QCOMPARE(QFileInfo(InA.LockFile).fileName(), Expected);
    // Another folder runs beside it; the same folder is refused.
    THelperRun InB = StartHelper(B + "helper", {"kivSubversion", "dir"}, Runtime.path());
    QCOMPARE(InB.State, QStringLiteral("first"));
    QVERIFY(!QFileInfo(InB.LockFile).fileName().contains(':'));
    THelperRun AgainA = StartHelper(A + "helper", {"kivSubversion", "dir"}, Runtime.path());
    QCOMPARE(AgainA.State, QStringLiteral("second"));
    QVERIFY(AgainA.Process->waitForFinished(10000));
    EndHelper(AgainA);
    EndHelper(InB);
    EndHelper(InA);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
