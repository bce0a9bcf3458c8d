#include "fm_main.h"

#include "fm_addgruppe.h"
#include "kiv_appcore.h"
#include "kiv_busy.h"
#include "kiv_nodestate.h"
#include "kiv_output.h"
#include "kiv_taskcontrol.h"
#include "kiv_folderlist.h"
#include "kiv_registrydoc.h"
#include "kiv_statusbar.h"
#include "kiv_treefilter.h"
#include "kiv_windowstate.h"

#include "kiv_ContextMenu.h"
#include "kiv_FileText.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_opener.h"
#include "kiv_registry.h"
#include "kiv_terminal.h"
#include "kiv_prompts.h"
#include "kiv_single.h"
#include "kiv_system.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

TElementKind GetElementKind(TXMLTreeNode* Node) {
    if (!Node || !Node->XMLElement())
        return ekProject;
    return ElementKindOf(Node->XMLElement()->Name());
}

namespace {
// Keeps the busy indicator in the middle of the memo when the memo changes its size.
class TCentreOnParent : public QObject {
public:
    TCentreOnParent(QWidget* Child, QWidget* Parent) : QObject(Child), FChild(Child) {
        Parent->installEventFilter(this);
    }
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Resize || Event->type() == QEvent::Show) {
            auto* P = static_cast<QWidget*>(Watched);
            FChild->move((P->width() - FChild->width()) / 2, (P->height() - FChild->height()) / 2);
        }
        return false;
    }

private:
    QWidget* FChild;
};

// Levels from the root (1) down to Node.
int NodeDepth(const QTreeWidgetItem* Node) {
    int D = 0;
    for (; Node; Node = Node->parent())
        ++D;
    return D;
}

// Levels of Node's subtree, Node included.
int SubtreeHeight(const QTreeWidgetItem* Node) {
    int Height = 0;
    std::vector<std::pair<const QTreeWidgetItem*, int>> Pending{{Node, 1}};
    while (!Pending.empty()) {
        auto [I, D] = Pending.back();
        Pending.pop_back();
        Height = std::max(Height, D);
        for (int c = 0; c < I->childCount(); ++c)
            Pending.push_back({I->child(c), D + 1});
    }
    return Height;
}

// A registry nested deeper than the reader accepts could be written but never read again.
void CheckRoomBelow(const QTreeWidgetItem* Parent, int Levels = 1) {
    if (NodeDepth(Parent) + Levels > RegistryMaxDepth)
        throw EInputError(QStringLiteral("Die Projektliste kann nicht tiefer als %1 Ebenen "
                                         "verschachtelt werden.")
                              .arg(RegistryMaxDepth));
}

QFrame* MakeSeparator(int Width, QWidget* Parent) {
    auto* F = new QFrame(Parent);
    F->setFixedWidth(Width);
    F->setFrameShape(QFrame::NoFrame);
    auto* L = new QHBoxLayout(F);
    L->setContentsMargins(0, 3, 0, 3);
    auto* Line = new QFrame(F);
    Line->setFrameShape(QFrame::VLine);
    Line->setFrameShadow(QFrame::Sunken);
    L->addWidget(Line, 0, Qt::AlignHCenter);
    return F;
}
} // namespace

TfmMain::TfmMain(QWidget* Parent) : TKivForm(Parent) {
    InitAppResources();
    CreateImages();
    CreateComponents();
    Registry = new TRegistryDocument(lvDir, this);
    KivFormCreate();
    OnAfterCreate = [this](QObject*) { Guarded([this] { KivFormAfterCreate(); }); };
    Loaded();
    InitTasks();
    InitLive();
    InitChanges();
}

TfmMain::~TfmMain() {
    // Tests and a program end without a close still write what was read; nothing may pass.
    try {
        FinishRun();
    } catch (...) {
    }
    // The tree's nodes draw from the window's look, which goes before the tree does.
    lvDir->disconnect(this);
    lvDir->OnCreateNodeClass = nullptr;
    lvDir->DeleteAllNodes();
    lvDir->OnChangeXML = nullptr;
    lvDir->OnEditing = nullptr;
    lvDir->OnEdited = nullptr;
    lvDir->OnDragOverXML = nullptr;
    lvDir->OnGetImageIndex = nullptr;
    lvDir->OnDeletion = nullptr;
}

void TfmMain::CreateImages() {
    static const char* const Names[8] = {"door",       "newproject", "search", "folder",
                                         "folderopen", "book",       "delete", "globe"};
    ImageList1.clear();
    for (const char* N : Names)
        ImageList1.append(QIcon(QStringLiteral(":/app/%1.png").arg(QLatin1String(N))));
}

void TfmMain::CreateComponents() {
    setWindowTitle(QStringLiteral("Verwaltung von Subversion"));
    setSizeGripEnabled(false);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(0, 0, 0, 0);
    Main->setSpacing(0);

    // Main tool bar.
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setFixedHeight(26);
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setStyleSheet(
        QStringLiteral("QToolBar#ToolBar1 { border: none; border-bottom: 1px solid palette(mid);"
                       " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 palette(light),"
                       " stop:1 palette(window)); spacing: 1px; padding: 0 2px; }"));
    auto MakeButton = [this](QToolBar* Bar, int Image, const QString& Hint) {
        auto* B = new QToolButton(Bar);
        B->setAutoRaise(true);
        B->setIcon(ImageList1.value(Image));
        B->setToolTip(Hint);
        B->setStatusTip(Hint);
        B->setAccessibleName(Hint);
        B->setFocusPolicy(Qt::NoFocus);
        Bar->addWidget(B);
        return B;
    };
    ToolButton1 = MakeButton(ToolBar1, 0, QStringLiteral("Programmende"));
    ToolButton2 = MakeSeparator(50, ToolBar1);
    ToolBar1->addWidget(ToolButton2);
    ToolButton11 = MakeButton(ToolBar1, 3, QStringLiteral("Neue Gruppe hinzufügen"));
    ToolButton4 = MakeButton(ToolBar1, 1, QStringLiteral("Neues Projekt hinzufügen"));
    ToolButton5 = MakeSeparator(8, ToolBar1);
    ToolBar1->addWidget(ToolButton5);
    ToolButton13 = MakeButton(ToolBar1, 6, QStringLiteral("Eintrag löschen"));
    ToolButton12 = MakeSeparator(8, ToolBar1);
    ToolBar1->addWidget(ToolButton12);
    btnAutoSuchen =
        MakeButton(ToolBar1, 2, QStringLiteral("Automatisch nach SVN-Projekten suchen"));
    ToolButton14 = MakeSeparator(8, ToolBar1);
    ToolBar1->addWidget(ToolButton14);
    ToolButton15 = MakeButton(ToolBar1, 7, QStringLiteral("Projekte als HTML ausgeben"));
    Main->addWidget(ToolBar1);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setHandleWidth(3);
    Main->addWidget(Splitter1, 1);

    // The registry tree.
    lvDir = new TkivXMLTreeView(Splitter1);
    lvDir->setObjectName(QStringLiteral("lvDir"));
    lvDir->setHeaderHidden(true);
    lvDir->setRootIsDecorated(false);
    lvDir->setIndentation(19);
    // Every row has the same height: a change to one node (a run marks thousands) then costs
    // the view no walk over the rows above it.
    lvDir->setUniformRowHeights(true);
    lvDir->setIconSize(QSize(16, 16));
    lvDir->setDragEnabled(true);
    lvDir->setAcceptDrops(true);
    lvDir->setDropIndicatorShown(true);
    lvDir->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDir->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    lvDir->setContextMenuPolicy(Qt::CustomContextMenu);
    {
        // The selection stays visible when the tree has no focus.
        QPalette Pal = lvDir->palette();
        Pal.setColor(QPalette::Inactive, QPalette::Highlight,
                     Pal.color(QPalette::Active, QPalette::Highlight));
        Pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     Pal.color(QPalette::Active, QPalette::HighlightedText));
        lvDir->setPalette(Pal);
    }
    lvDir->SetImages(ImageList1);
    lvDir->SetSortByText(true);
    // The registry's reading rules: one document element, a depth the tree can show.
    lvDir->SetMaxDepth(RegistryMaxDepth);
    lvDir->SetSingleRoot(true);
    lvDir->setMinimumWidth(80);
    TreeFilter = new TTreeFilter(lvDir, Splitter1);
    Splitter1->addWidget(TreeFilter);

    // The right-hand side.
    pnl1 = new QWidget(Splitter1);
    auto* Right = new QVBoxLayout(pnl1);
    Right->setContentsMargins(4, 4, 4, 4);
    Right->setSpacing(4);
    auto* DirRow = new QHBoxLayout;
    DirRow->setSpacing(4);
    lbl1 = new QLabel(QStringLiteral("Verzeichnis"), pnl1);
    edVerzeichnis = new QLineEdit(pnl1);
    edVerzeichnis->setReadOnly(true);
    edVerzeichnis->setFocusPolicy(Qt::ClickFocus); // no tab stop
    edVerzeichnis->setMinimumWidth(120);
    lbl1->setBuddy(edVerzeichnis);
    btnOpenVerzeichnis = new QToolButton(pnl1);
    btnOpenVerzeichnis->setAutoRaise(true);
    btnOpenVerzeichnis->setFixedSize(23, 22);
    {
        QIcon Glyph;
        Glyph.addFile(QStringLiteral(":/app/openfolder.png"), QSize(), QIcon::Normal);
        Glyph.addFile(QStringLiteral(":/app/openfolder_disabled.png"), QSize(), QIcon::Disabled);
        btnOpenVerzeichnis->setIcon(Glyph);
    }
    btnOpenVerzeichnis->setToolTip(QStringLiteral("Verzeichnis öffnen"));
    btnOpenVerzeichnis->setEnabled(false);
    DirRow->addWidget(lbl1);
    DirRow->addWidget(edVerzeichnis, 1);
    DirRow->addWidget(btnOpenVerzeichnis);
    Right->addLayout(DirRow);

    pag1 = new QTabWidget(pnl1);
    pag1->setDocumentMode(false);
    Right->addWidget(pag1, 1);

    tab1 = new QWidget;
    auto* TasksLayout = new QVBoxLayout(tab1);
    TasksLayout->setContentsMargins(2, 2, 2, 2);
    TasksLayout->setSpacing(2);
    ToolBar2 = new QToolBar(tab1);
    ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
    ToolBar2->setFixedHeight(29);
    ToolBar2->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ToolBar2->setStyleSheet(
        QStringLiteral("QToolBar#ToolBar2 { border: none; background: transparent; spacing: 2px;"
                       " padding-left: 5px; }"));
    ToolButton8 = new QToolButton(ToolBar2);
    ToolButton8->setText(QStringLiteral("Testen auf Änderungen"));
    ToolButton8->setToolTip(QStringLiteral("Sind in der lokalen Version Anderungen vorhanden ?"));
    ToolButton8->setMinimumSize(125, 27);
    ToolButton8->setMaximumHeight(27);
    ToolButton8->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ToolBar2->addWidget(ToolButton8);
    PopupMenu1 = new QMenu(this);
    Ausfhren1 = PopupMenu1->addAction(QStringLiteral("Ausführen"));
    inDOSBoxausfhren1 = PopupMenu1->addAction(QStringLiteral("in DOS-Box ausführen "));
    ToolButton7 = new QToolButton(ToolBar2);
    ToolButton7->setText(QStringLiteral("Aktualisieren"));
    ToolButton7->setMenu(PopupMenu1);
    ToolButton7->setPopupMode(QToolButton::MenuButtonPopup);
    ToolButton7->setMinimumSize(125, 27);
    ToolButton7->setMaximumHeight(27);
    ToolButton7->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ToolBar2->addWidget(ToolButton7);
    Panel1 = new QWidget(ToolBar2);
    auto* PanelLayout = new QHBoxLayout(Panel1);
    PanelLayout->setContentsMargins(10, 0, 0, 0);
    PanelLayout->setSpacing(12);
    cbKurz = new QCheckBox(QStringLiteral("kurze Anzeige"), Panel1);
    PanelLayout->addWidget(cbKurz);
    // Beside the short display, and kept on the root like it. The panel is as wide as its two
    // check boxes need, so the tool bar keeps room for the task buttons' captions.
    cbServer = new QCheckBox(QStringLiteral("mit Server"), Panel1);
    cbServer->setObjectName(QStringLiteral("cbServer"));
    cbServer->setToolTip(QStringLiteral("Testen auf Änderungen fragt auch den Server und zeigt "
                                        "veraltete Arbeitskopien (svn status -u)"));
    PanelLayout->addWidget(cbServer);
    ToolBar2->addWidget(Panel1);
    // The task buttons are never squeezed below their captions.
    for (QToolButton* B : {ToolButton8, ToolButton7})
        B->setMinimumWidth(std::max(125, B->sizeHint().width()));
    TasksLayout->addWidget(ToolBar2);
    mmExec = new QPlainTextEdit(tab1);
    mmExec->setReadOnly(true);
    mmExec->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmExec->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmExec->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    TasksLayout->addWidget(mmExec, 1);
    avi = new TBusyIndicator(mmExec);
    new TCentreOnParent(avi, mmExec);
    avi->hide();
    pag1->addTab(tab1, QStringLiteral("Aufgaben"));

    tab2 = new QWidget;
    auto* ShellLayout = new QVBoxLayout(tab2);
    ShellLayout->setContentsMargins(2, 2, 2, 2);
    lvShell = new QTreeView(tab2);
    lvShell->setRootIsDecorated(false);
    lvShell->setItemsExpandable(false);
    lvShell->setSortingEnabled(true);
    lvShell->setUniformRowHeights(true);
    lvShell->setAlternatingRowColors(false);
    ShellLayout->addWidget(lvShell);
    pag1->addTab(tab2, QStringLiteral("Verzeichnis"));
    pag1->setCurrentIndex(0);

    Splitter1->addWidget(pnl1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({185, 751 - 185 - 3});
    StatusBar1 = new TkivStatusBar(this);
    Main->addWidget(StatusBar1);

    SingleInstance1 = new TSingleInstance(this);
    SingleInstance1->Loaded();

    // Event bindings.
    auto Bind = [this](QToolButton* B, void (TfmMain::*Handler)()) {
        connect(B, &QToolButton::clicked, this,
                [this, Handler] { Guarded([&] { (this->*Handler)(); }); });
    };
    Bind(ToolButton1, &TfmMain::ToolButton1Click);
    Bind(ToolButton11, &TfmMain::ToolButton11Click);
    Bind(ToolButton4, &TfmMain::ToolButton4Click);
    Bind(ToolButton13, &TfmMain::ToolButton13Click);
    Bind(ToolButton15, &TfmMain::ToolButton15Click);
    Bind(btnAutoSuchen, &TfmMain::btnAutoSuchenClick);
    Bind(ToolButton8, &TfmMain::ToolButton8Click);
    Bind(ToolButton7, &TfmMain::ToolButton7Click);
    Bind(btnOpenVerzeichnis, &TfmMain::btnOpenVerzeichnisClick);
    connect(Ausfhren1, &QAction::triggered, this,
            [this] { Guarded([this] { ToolButton7Click(); }); });
    connect(inDOSBoxausfhren1, &QAction::triggered, this,
            [this] { Guarded([this] { inDOSBoxausfhren1Click(); }); });
    connect(cbKurz, &QCheckBox::clicked, this, [this] { Guarded([this] { cbKurzClick(); }); });
    connect(cbServer, &QCheckBox::clicked, this, [this] { Guarded([this] { cbServerClick(); }); });
    connect(edVerzeichnis, &QLineEdit::textChanged, this,
            [this] { Guarded([this] { edVerzeichnisChange(); }); });

    lvDir->OnChangeXML = [this](TkivXMLTreeView* S, TXMLTreeNode* N) { lvDirChangeXML(S, N); };
    lvDir->OnEditing = [this](TkivXMLTreeView* S, TXMLTreeNode* N, bool& A) {
        lvDirEditing(S, N, A);
    };
    lvDir->OnEdited = [this](TkivXMLTreeView* S, TXMLTreeNode* N, QString& T) {
        lvDirEdited(S, N, T);
    };
    lvDir->OnDragOverXML = [this](TkivXMLTreeView* S, TXMLTreeNode* D, TXMLTreeNode* O, bool& A) {
        lvDirDragOverXML(S, D, O, A);
    };
    lvDir->OnGetImageIndex = [this](TkivXMLTreeView* S, TXMLTreeNode* N, int& I) {
        lvDirGetImageIndex(S, N, I);
    };
    // The selection may reach the tree as a new current item or as a new selection; either
    // way the handler looks at the tree's own answer.
    auto SelectionChanged = [this] { Guarded([this] { lvDirChange(lvDir, lvDir->Selected()); }); };
    connect(lvDir, &QTreeWidget::currentItemChanged, this, SelectionChanged);
    connect(lvDir, &QTreeWidget::itemSelectionChanged, this, SelectionChanged);
    connect(lvDir, &QWidget::customContextMenuRequested, this, [this](const QPoint& Pos) {
        Guarded([&] {
            bool Handled = false;
            lvDirContextPopup(Pos, Handled);
        });
    });
    // Keyboard access to the tree commands.
    auto* DelKey = new QShortcut(QKeySequence::Delete, lvDir);
    DelKey->setContext(Qt::WidgetShortcut);
    connect(DelKey, &QShortcut::activated, this,
            [this] { Guarded([this] { ToolButton13Click(); }); });
    auto* InsKey = new QShortcut(QKeySequence(Qt::Key_Insert), lvDir);
    InsKey->setContext(Qt::WidgetShortcut);
    connect(InsKey, &QShortcut::activated, this,
            [this] { Guarded([this] { ToolButton4Click(); }); });
    auto* QuitKey = new QShortcut(QKeySequence::Quit, this);
    connect(QuitKey, &QShortcut::activated, this,
            [this] { Guarded([this] { ToolButton1Click(); }); });
    // The tasks from anywhere in the window; a key does nothing while its button is off.
    auto Key = [this](const QKeySequence& Sequence, QToolButton* Button, void (TfmMain::*Handler)()) {
        auto* K = new QShortcut(Sequence, this);
        connect(K, &QShortcut::activated, this, [this, Button, Handler] {
            if (Button->isEnabled())
                Guarded([&] { (this->*Handler)(); });
        });
    };
    Key(QKeySequence(Qt::Key_F5), ToolButton8, &TfmMain::ToolButton8Click);
    Key(QKeySequence(Qt::CTRL | Qt::Key_U), ToolButton7, &TfmMain::ToolButton7Click);
    Key(QKeySequence(Qt::CTRL | Qt::Key_G), ToolButton11, &TfmMain::ToolButton11Click);
    // Each key named in its button's tip.
    auto Tip = [](QToolButton* B, const QString& Keys) {
        B->setToolTip(B->toolTip() + QStringLiteral(" (") + Keys + u')');
    };
    Tip(ToolButton1, QStringLiteral("Strg+Q"));
    Tip(ToolButton11, QStringLiteral("Strg+G"));
    Tip(ToolButton4, QStringLiteral("Einfg"));
    Tip(ToolButton13, QStringLiteral("Entf"));
    Tip(ToolButton8, QStringLiteral("F5"));
    Tip(ToolButton7, QStringLiteral("Strg+U"));
    FolderOpener = new TFolderOpener(this);
    connect(lvShell, &QTreeView::activated, this, [this](const QModelIndex& Index) {
        if (lvShellModel)
            Guarded([&] { FolderOpener->Open(lvShellModel->filePath(Index)); });
    });
    connect(StatusBar1, &TkivStatusBar::OpenRequested, FolderOpener, &TFolderOpener::Open);

    // Return in the tree stays in the tree: as Tab it would put the focus into the filter box,
    // where Einfg and Entf do nothing.
    OnTestReturn = [this](QObject*, bool& ReplaceReturn) {
        QWidget* Focus = focusWidget();
        ReplaceReturn = !Focus || (Focus != lvDir && !lvDir->isAncestorOf(Focus));
    };

    WindowState = new TWindowState(this, Splitter1, pag1, lvDir);
    WindowState->ApplyGeometry();
    lvDir->setFocus();
}

void TfmMain::KivFormCreate() {
    setWindowTitle(QStringLiteral("%1 (Version %2)")
                       .arg(QStringLiteral("Verwaltung von Subversion"),
                            GetFileVersionString(QCoreApplication::applicationFilePath())));
}

QString TfmMain::RegistryFileName() const {
    return TRegistryDocument::FileName();
}

bool TfmMain::RegistryLoaded() const {
    return Registry->Loaded();
}

void TfmMain::KivFormAfterCreate() {
    // A second instance quits before it gets here; should its queued quit come late, it
    // still neither reads nor (see KivFormDestroy) writes the registry.
    if (!SingleInstance1->FirstInstance())
        return;
    Registry->Load();
    lvDir->expandAll();
    lvDir->SetSelected(lvDir->XMLItems()->TopNode(0));
    lvDirChange(lvDir, lvDir->Selected());
    const bool Kurz = lvDir->XMLItems()->RootElement()->GetBoolAttribute(QStringLiteral("Kurz"));
    if (cbKurz->isChecked() != Kurz) {
        cbKurz->setChecked(Kurz);
        cbKurzClick();
    }
    cbServer->setChecked(
        lvDir->XMLItems()->RootElement()->GetBoolAttribute(QStringLiteral("MitServer")));
    WindowState->RestoreView();
    LiveRegistryLoaded();
}

void TfmMain::KivFormDestroy() {
    if (!SingleInstance1->FirstInstance())
        return;
    ApplyLearntUrls();
    Registry->Save(FClosingUnattended);
}

void TfmMain::FinishRun(bool Unattended) {
    if (FFinished)
        return;
    FFinished = true;
    FClosingUnattended = FClosingUnattended || Unattended;
    // Pages not written yet are said so before their jobs end with the rest.
    StopExports(FClosingUnattended);
    try {
        StopBackgroundWork();
    } catch (const std::exception& E) {
        if (FClosingUnattended)
            TRegistryDocument::ReportUnattended(ExceptionText(E));
        else
            HandleException(E);
    }
    if (SingleInstance1->FirstInstance())
        WindowState->Save(Registry->Loaded());
    KivFormDestroy();
}

void TfmMain::SaveRegistryNow() {
    if (FFinished || !SingleInstance1->FirstInstance())
        return;
    ApplyLearntUrls();
    Registry->Save(true);
}

void TfmMain::done(int Result) {
    if (!FFinished && Tasks && Tasks->Busy()) {
        // Work still runs: the user says whether to cancel it, and the window closes when it
        // has ended. Asked again meanwhile, it skips what can be skipped.
        if (!FCloseWhenIdle && !FClosingUnattended &&
            !AskYesNo(QStringLiteral("Es läuft noch etwas: %1.\n\nAbbrechen und das Programm "
                                     "beenden?")
                          .arg(Tasks->WaitingFor()),
                      true))
            return;
        FCloseWhenIdle = true;
        Tasks->Cancel();
        ShowClosingWait();
        if (Tasks->Busy())
            return;
    }
    // The main window closes only once; what follows is the end of the program.
    if (!FFinished)
        Guarded([this] { FinishRun(); });
    TKivForm::done(Result);
}

void TfmMain::changeEvent(QEvent* Event) {
    TKivForm::changeEvent(Event);
    // The tree's colours are chosen against the palette: a new one (dark mode) chooses anew.
    if (Event->type() == QEvent::PaletteChange && TreeLook) {
        TreeLook->SetPalette(lvDir->palette());
        lvDir->viewport()->update();
    }
}

void TfmMain::keyPressEvent(QKeyEvent* Event) {
    // A dialog closes on Escape; the main window does not.
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        Event->accept();
        return;
    }
    TKivForm::keyPressEvent(Event);
}

void TfmMain::RequestClose() {
    FClosingUnattended = true;
    // Background work is cancelled first, so that the search offers no further dialog while
    // the open ones are being closed; the window then closes when it has ended, or after a
    // while in any case (nobody may be there to wait for).
    if (Tasks && Tasks->Busy()) {
        Tasks->Cancel();
        FCloseWhenIdle = true;
        QTimer::singleShot(30000, this, [this] {
            if (!FFinished) {
                StopExports(true);
                StopBackgroundWork();
                close();
            }
        });
    }
    // Open menus, dialogs and message boxes end first (as cancelled), so that their callers
    // return before the window writes the registry.
    if (QWidget* Popup = QApplication::activePopupWidget()) {
        Popup->close();
        QTimer::singleShot(10, this, [this] { RequestClose(); });
        return;
    }
    if (QWidget* Modal = QApplication::activeModalWidget(); Modal && Modal != this) {
        if (auto* Dialog = qobject_cast<QDialog*>(Modal))
            Dialog->done(QDialog::Rejected);
        else
            Modal->close();
        QTimer::singleShot(10, this, [this] { RequestClose(); });
        return;
    }
    close();
}

void TfmMain::ToolButton1Click() {
    close();
}

TXMLTreeNode* TfmMain::ContainerNode() const {
    TXMLTreeNode* Node = lvDir->Selected();
    while (Node && GetElementKind(Node) == ekProject)
        Node = Node->ParentNode();
    return Node;
}

void TfmMain::ToolButton11Click() {
    QString Name;
    if (!InputQuery(QStringLiteral("Neue Gruppe"), QStringLiteral("Name"), Name))
        return;
    Name = EnteredText(Name);
    TXMLTreeNode* Parent = ContainerNode();
    if (!Parent)
        return;
    CheckRoomBelow(Parent);
    TXMLTreeNode* Node = lvDir->AddChild(Parent, Name);
    Node->XMLElement()->SetName(ElementNames[ekGroup]);
    Node->XMLElement()->SetAttribute(QStringLiteral("Name"), Name);
    lvDir->scrollToItem(Node);
}

void TfmMain::ToolButton4Click() {
    TXMLTreeNode* Parent = ContainerNode();
    if (!Parent)
        return;
    CheckRoomBelow(Parent);
    LearnUrlOf(ShowNewEntryDialog(Parent, QString()));
}

void TfmMain::ToolButton13Click() {
    TXMLTreeNode* Node = lvDir->Selected();
    if (!Node || Node == lvDir->XMLItems()->TopNode(0))
        return;
    if (!AskYesNo(QStringLiteral("Eintrag %1 löschen").arg(Node->Text()), true))
        return;
    TXMLTreeNode* Next = nullptr;
    if (QTreeWidgetItem* Parent = Node->parent()) {
        const int Index = Parent->indexOfChild(Node);
        Next = Index > 0 ? static_cast<TXMLTreeNode*>(Parent->child(Index - 1))
                         : static_cast<TXMLTreeNode*>(Parent);
    } else {
        const int Index = lvDir->indexOfTopLevelItem(Node);
        Next = Index > 0 ? static_cast<TXMLTreeNode*>(lvDir->topLevelItem(Index - 1)) : nullptr;
    }
    if (Next)
        lvDir->SetSelected(Next);
    lvDir->DeleteNode(Node);
}

void TfmMain::lvDirChangeXML(TkivXMLTreeView* Sender, TXMLTreeNode* Node) {
    if (!Node || !Node->XMLElement())
        return;
    Registry->ElementChanged();
    if (Node->XMLElement() == Sender->XMLItems()->RootElement())
        Node->SetText(QStringLiteral("Projekte"));
    else
        Node->SetText(Node->XMLElement()->GetAttribute(QStringLiteral("NAME")));
}

void TfmMain::lvDirChange(TkivXMLTreeView* Sender, TXMLTreeNode* Node) {
    Q_UNUSED(Sender);
    if (!Node || !Node->XMLElement())
        return;
    const QString Stored = Node->XMLElement()->GetAttribute(QStringLiteral("Verzeichnis"));
    edVerzeichnis->setText(Stored);
    ShowStoredOutput(Node);
    if (Stored.isEmpty())
        return;
    const QString Dir = ProjectFolder(Stored);
    if (!DirExists(Dir)) {
        // A missing folder lists nothing (rather than the last folder or the file system).
        lvShell->setModel(nullptr);
        return;
    }
    if (!lvShellModel) {
        lvShellModel = new TFolderListModel(this);
        // Names beginning with "." (".svn") are this system's hidden entries: not listed.
        lvShellModel->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    if (lvShell->model() != lvShellModel) {
        lvShell->setModel(lvShellModel);
        lvShell->header()->resizeSection(0, 220);
        lvShell->sortByColumn(0, Qt::AscendingOrder);
    }
    lvShell->setRootIndex(lvShellModel->setRootPath(Dir));
    QDir::setCurrent(Dir);
}

void TfmMain::lvDirEditing(TkivXMLTreeView* Sender, TXMLTreeNode* Node, bool& AllowEdit) {
    AllowEdit = Node && Node != Sender->XMLItems()->TopNode(0);
}

void TfmMain::lvDirEdited(TkivXMLTreeView* Sender, TXMLTreeNode* Node, QString& S) {
    Q_UNUSED(Sender);
    if (!Node || !Node->XMLElement())
        return;
    S = EnteredText(S);
    if (!S.trimmed().isEmpty())
        Node->XMLElement()->SetAttribute(QStringLiteral("Name"), S);
    else
        S = Node->XMLElement()->GetAttribute(QStringLiteral("Name")); // blanks store nothing
}

void TfmMain::lvDirDragOverXML(TkivXMLTreeView* Sender, TXMLTreeNode* Selected, TXMLTreeNode* Over,
                               bool& Accept) {
    Q_UNUSED(Sender);
    Accept = Over && Over->XMLElement() && Over->XMLElement()->Name() != ElementNames[ekProject] &&
             (!Selected || NodeDepth(Over) + SubtreeHeight(Selected) <= RegistryMaxDepth);
}

void TfmMain::lvDirGetImageIndex(TkivXMLTreeView* Sender, TXMLTreeNode* Node, int& ImageIndex) {
    Q_UNUSED(Sender);
    if (GetElementKind(Node) == ekProject)
        ImageIndex = 5;
    else
        ImageIndex = Node->isExpanded() ? 4 : 3;
}

void TfmMain::lvDirContextPopup(const QPoint& MousePos, bool& Handled) {
    TXMLTreeNode* Node = lvDir->Selected();
    Handled = Node != nullptr;
    if (!Handled)
        return;
    const bool Busy = Tasks && Tasks->Running();
    auto Add = [&](QMenu& Menu, const QString& Text, QToolButton* Like, auto Handler) {
        QAction* A = Menu.addAction(Text);
        A->setEnabled(!Like || Like->isEnabled());
        connect(A, &QAction::triggered, this, [this, Handler] { Guarded([&] { (this->*Handler)(); }); });
        return A;
    };
    if (edVerzeichnis->text().isEmpty()) {
        // A group or the root: the tree's commands.
        QMenu Menu(lvDir);
        Add(Menu, QStringLiteral("Neue Gruppe hinzufügen"), ToolButton11, &TfmMain::ToolButton11Click);
        Add(Menu, QStringLiteral("Neues Projekt hinzufügen"), ToolButton4, &TfmMain::ToolButton4Click);
        Add(Menu, QStringLiteral("Eintrag löschen"), nullptr, &TfmMain::ToolButton13Click)
            ->setEnabled(Node != lvDir->XMLItems()->TopNode(0));
        Menu.addSeparator();
        Add(Menu, ToolButton8->text(), ToolButton8, &TfmMain::ToolButton8Click)->setEnabled(!Busy);
        Add(Menu, ToolButton7->text(), ToolButton7, &TfmMain::ToolButton7Click)->setEnabled(!Busy);
        Add(Menu, QStringLiteral("Fehlende Arbeitskopien auschecken"), nullptr,
            &TfmMain::CheckoutMissingClick)
            ->setEnabled(!Busy);
        Menu.addSeparator();
        Add(Menu, QStringLiteral("Aus .repos-Datei importieren …"), nullptr,
            &TfmMain::ImportReposClick)
            ->setEnabled(!Busy);
        Add(Menu, QStringLiteral("Als .repos-Datei exportieren …"), nullptr,
            &TfmMain::ExportReposClick);
        Menu.exec(lvDir->viewport()->mapToGlobal(MousePos));
        return;
    }
    // A project: the folder's menu, and the client's commands in a terminal that waits for
    // Enter, so their output can be read.
    const QString Folder = ProjectFolder(edVerzeichnis->text());
    QList<QAction*> Extra;
    auto InTerminal = [this, Folder, Node](const QString& Text, const QStringList& Command) {
        auto* A = new QAction(Text, this);
        TTerminalRequest Request;
        Request.Command = Command;
        Request.Dir = Folder;
        Request.Title = QStringLiteral("%1 - %2 (kivSubversion)").arg(Node->Text(), Text);
        Request.Hold = TTerminalHold::Always;
        connect(A, &QAction::triggered, this, [Request] {
            if (!StartInTerminal(Request))
                ShowError(NoTerminalText());
        });
        return A;
    };
    // A copy that is gone comes back from its URL.
    auto* Checkout = new QAction(QStringLiteral("Fehlende Arbeitskopien auschecken"), this);
    Checkout->setEnabled(!Busy && (CheckFolder(Folder) == TFolderState::Missing ||
                                   QDir(Folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                        QDir::Hidden | QDir::System)));
    connect(Checkout, &QAction::triggered, this,
            [this] { Guarded([this] { CheckoutMissingClick(); }); });
    // The copy's changes and log in a window of the program; the same in a terminal for those
    // who want the client's own words.
    auto InWindow = [this, Node](const QString& Text, bool Log, const QKeySequence& Key = {}) {
        auto* A = new QAction(Text, this);
        A->setShortcut(Key); // named in the menu; the window's own key does the work
        A->setShortcutContext(Qt::WidgetShortcut);
        connect(A, &QAction::triggered, this,
                [this, Node, Log] { Guarded([&] { ShowChanges(Node, Log); }); });
        return A;
    };
    auto* Line = new QAction(this);
    Line->setSeparator(true);
    Extra << Checkout
          << InWindow(QStringLiteral("Änderungen …"), false, QKeySequence(Qt::CTRL | Qt::Key_E))
          << InWindow(QStringLiteral("Log anzeigen"), true) << Line
          << InTerminal(QStringLiteral("Log im Terminal anzeigen"),
                        {QStringLiteral("svn"), QStringLiteral("log")})
          << InTerminal(QStringLiteral("Unterschiede im Terminal anzeigen"),
                        {QStringLiteral("svn"), QStringLiteral("diff")})
          << InTerminal(QStringLiteral("Aufräumen"),
                        {QStringLiteral("svn"), QStringLiteral("cleanup")});
    if (QFileInfo::exists(Folder)) {
        ShowExplorerContextMenu(lvDir->viewport(), Folder, MousePos, Extra);
    } else {
        // The folder is gone: nothing of it to offer, but the copy can come back.
        QMenu Menu(lvDir);
        Menu.addAction(Checkout);
        Add(Menu, QStringLiteral("Eintrag löschen"), nullptr, &TfmMain::ToolButton13Click);
        Menu.exec(lvDir->viewport()->mapToGlobal(MousePos));
    }
    qDeleteAll(Extra);
}

void TfmMain::cbServerClick() {
    if (TkivXmlElement* Root = lvDir->XMLItems()->RootElement())
        Root->SetBoolAttribute(QStringLiteral("MitServer"), cbServer->isChecked());
}

void TfmMain::cbKurzClick() {
    if (TkivXmlElement* Root = lvDir->XMLItems()->RootElement())
        Root->SetBoolAttribute(QStringLiteral("Kurz"), cbKurz->isChecked());
    if (FMemoShowsStored)
        ShowStoredOutput(lvDir->Selected());
}

const TStoredState* TfmMain::NodeState(const TXMLTreeNode* Node) const {
    return TreeLook ? TreeLook->StateOf(Node) : nullptr;
}

void TfmMain::edVerzeichnisChange() {
    const QString Dir = ProjectFolder(edVerzeichnis->text());
    btnOpenVerzeichnis->setEnabled(!Dir.isEmpty() && DirExists(Dir));
}

void TfmMain::btnOpenVerzeichnisClick() {
    FolderOpener->Open(ProjectFolder(edVerzeichnis->text()));
}

void TfmMain::StartBusy() {
    if (FBusyCount++ == 0) {
        avi->show();
        avi->raise();
        avi->Play();
    }
}

void TfmMain::StopBusy() {
    if (FBusyCount == 0)
        return;
    if (--FBusyCount == 0) {
        avi->Stop();
        avi->hide();
    }
}
