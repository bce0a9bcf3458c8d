#include "fm_changes.h"

#include "kiv_changesmodel.h"
#include "kiv_diffview.h"
#include "kiv_nodestate.h"
#include "kiv_taskcontrol.h"
#include "kiv_windowstate.h"

#include "kiv_prompts.h"
#include "svn_store.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString KeyMessages = QStringLiteral("Aenderungen/Nachrichten");
const QString KeyDrafts = QStringLiteral("Aenderungen/Entwuerfe");
const QString KeySize = QStringLiteral("Aenderungen/Groesse");
const QString KeySplitter = QStringLiteral("Aenderungen/Teiler");
const QString KeyLogSplitter = QStringLiteral("Aenderungen/LogTeiler");

// Lines kept of each kind of run: a status of many items, a change's report, a log.
constexpr int StatusLines = TfmChanges::MaxItems + 1000;
constexpr int ReportLines = 20000;
constexpr int LogLines = 200000;

bool Written(QSettings& S, QString* Error) {
    S.sync();
    if (S.status() == QSettings::NoError)
        return true;
    if (Error)
        *Error = QStringLiteral("Die Einstellungen konnten nicht in „%1“ geschrieben werden.")
                     .arg(S.fileName());
    return false;
}

// A run that did its work: the client ran to its end and said nothing went wrong.
bool RanWell(const TSvnOutcome& O) {
    switch (O.State) {
    case TSvnState::NotRun:
    case TSvnState::Missing:
    case TSvnState::NoAccess:
    case TSvnState::TooLong:
    case TSvnState::NoClient:
    case TSvnState::TimedOut:
    case TSvnState::Cancelled:
    case TSvnState::NotWorkingCopy:
        return false;
    default:
        return O.ExitCode == 0 && !O.Verdict.ErrorLine;
    }
}

// Why a run failed, in German: the program's own note where it has one, else the client's
// error line.
QString Reason(const TSvnOutcome& O) {
    if (!O.Notes.isEmpty())
        return O.Notes.join(u' ');
    for (const QString& L : O.Lines)
        if (L.startsWith(QLatin1String("svn: E")))
            return QStringLiteral("svn meldet: %1").arg(L.mid(5));
    if (!O.Lines.isEmpty())
        return QStringLiteral("svn meldet: %1").arg(O.Lines.last());
    return QStringLiteral("svn endete mit dem Code %1.").arg(O.ExitCode);
}

QString Plural(int N, const char* One, const char* Many) {
    return N == 1 ? QString::fromUtf8(One)
                  : QString::fromUtf8(Many).arg(QLocale(QLocale::German).toString(N));
}

QPushButton* MakeButton(const QString& Text, QWidget* Parent) {
    auto* B = new QPushButton(Text, Parent);
    B->setAutoDefault(false); // Return belongs to the message and the list
    return B;
}

} // namespace

QStringList LastCommitMessages() {
    const QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    return S.value(KeyMessages).toStringList().mid(0, LastMessagesKept);
}

bool RememberCommitMessage(const QString& Message, QString* Error) {
    QStringList Messages = LastCommitMessages();
    Messages.removeAll(Message);
    Messages.prepend(Message);
    QDir().mkpath(QFileInfo(TWindowState::FileName()).path());
    QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    S.setValue(KeyMessages, Messages.mid(0, LastMessagesKept));
    return Written(S, Error);
}

QString CommitDraft(const QString& Folder) {
    QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    const int N = S.beginReadArray(KeyDrafts);
    QString Text;
    for (int i = 0; i < N && Text.isEmpty(); ++i) {
        S.setArrayIndex(i);
        if (S.value(QStringLiteral("Ordner")).toString() == Folder)
            Text = S.value(QStringLiteral("Text")).toString();
    }
    S.endArray();
    return Text;
}

bool SaveCommitDraft(const QString& Folder, const QString& Message, QString* Error) {
    QDir().mkpath(QFileInfo(TWindowState::FileName()).path());
    QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    QList<std::pair<QString, QString>> Drafts;
    const int N = S.beginReadArray(KeyDrafts);
    for (int i = 0; i < N; ++i) {
        S.setArrayIndex(i);
        const QString F = S.value(QStringLiteral("Ordner")).toString();
        if (F != Folder)
            Drafts.append({F, S.value(QStringLiteral("Text")).toString()});
    }
    S.endArray();
    if (!Message.trimmed().isEmpty())
        Drafts.prepend({Folder, Message});
    S.remove(KeyDrafts);
    S.beginWriteArray(KeyDrafts, int(Drafts.size()));
    for (int i = 0; i < Drafts.size(); ++i) {
        S.setArrayIndex(i);
        S.setValue(QStringLiteral("Ordner"), Drafts.at(i).first);
        S.setValue(QStringLiteral("Text"), Drafts.at(i).second);
    }
    S.endArray();
    return Written(S, Error);
}

TfmChanges::TfmChanges(TTaskController* Tasks, const TSvnProject& Project,
                       const TSvnRunOptions& Base, QWidget* Parent)
    : TKivForm(Parent), FTasks(Tasks), FProject(Project), FBase(Base) {
    ActivReturn = false; // Return is a new line in the message
    setModal(false);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    const QString Name = !Project.TreePath.isEmpty() ? Project.TreePath
                         : !Project.Name.isEmpty()   ? Project.Name
                                                     : Project.Folder;
    setWindowTitle(QStringLiteral("Änderungen – %1").arg(Name));
    FDiffLater = new QTimer(this);
    FDiffLater->setSingleShot(true);
    FDiffLater->setInterval(120); // arrow keys through the list start no client per row
    connect(FDiffLater, &QTimer::timeout, this, [this] { ShowDiffOfCurrent(); });
    CreateComponents();
    Loaded();
    ShowStored();
    ReadStatus();
}

TfmChanges::~TfmChanges() {
    SaveDraft();
    // What was only being read is of no use any more; a change goes on to its end.
    for (const QPointer<TSvnRun>& Run : {FStatusRun, FDiffRun, FLogRun, FPathsRun})
        if (Run)
            FTasks->CancelRun(Run);
}

void TfmChanges::CreateComponents() {
    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(6, 6, 6, 6);
    pag1 = new QTabWidget(this);
    Main->addWidget(pag1, 1);

    // The page of the changes.
    tabAenderungen = new QWidget;
    auto* Page = new QVBoxLayout(tabAenderungen);
    Page->setContentsMargins(4, 4, 4, 4);
    auto* Top = new QHBoxLayout;
    lblAnzahl = new QLabel(tabAenderungen);
    cbUnversioniert =
        new QCheckBox(QStringLiteral("&Nicht versionierte Dateien zeigen"), tabAenderungen);
    btnNeuLesen = MakeButton(QStringLiteral("Neu &lesen"), tabAenderungen);
    btnNeuLesen->setToolTip(QStringLiteral("Den Zustand der Arbeitskopie neu lesen (F5)"));
    Top->addWidget(lblAnzahl, 1);
    Top->addWidget(cbUnversioniert);
    Top->addWidget(btnNeuLesen);
    Page->addLayout(Top);

    Splitter1 = new QSplitter(Qt::Vertical, tabAenderungen);
    Splitter1->setChildrenCollapsible(false);
    lvAenderungen = new QTreeView(Splitter1);
    lvAenderungen->setObjectName(QStringLiteral("lvAenderungen"));
    Model = new TChangesModel(this);
    Model->SetPalette(palette());
    lvAenderungen->setModel(Model);
    lvAenderungen->setRootIsDecorated(false);
    lvAenderungen->setItemsExpandable(false);
    // Rows of one height: ten thousand of them cost the view nothing to lay out.
    lvAenderungen->setUniformRowHeights(true);
    lvAenderungen->setAllColumnsShowFocus(true);
    lvAenderungen->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvAenderungen->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvAenderungen->setContextMenuPolicy(Qt::CustomContextMenu);
    lvAenderungen->setSortingEnabled(true);
    lvAenderungen->sortByColumn(TChangesModel::ColPath, Qt::AscendingOrder);
    lvAenderungen->header()->setSectionResizeMode(QHeaderView::Interactive);
    lvAenderungen->header()->setStretchLastSection(true);
    lvAenderungen->header()->resizeSection(TChangesModel::ColStatus,
                                           fontMetrics().horizontalAdvance(u'M') * 12 + 24);
    lvAenderungen->header()->resizeSection(TChangesModel::ColPath, 380);
    lvAenderungen->installEventFilter(this);
    lvAenderungen->setAccessibleName(QStringLiteral("Geänderte Dateien"));

    pagUnten = new QTabWidget(Splitter1);
    mmUnterschiede = new TDiffView(pagUnten);
    mmUnterschiede->setObjectName(QStringLiteral("mmUnterschiede"));
    pagUnten->addTab(mmUnterschiede, QStringLiteral("&Unterschiede"));
    mmAusgabe = new QPlainTextEdit(pagUnten);
    mmAusgabe->setReadOnly(true);
    mmAusgabe->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmAusgabe->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pagUnten->addTab(mmAusgabe, QStringLiteral("&Ausgabe von svn"));

    auto* MessagePanel = new QWidget(Splitter1);
    auto* Msg = new QVBoxLayout(MessagePanel);
    Msg->setContentsMargins(0, 4, 0, 0);
    auto* MsgTop = new QHBoxLayout;
    lblNachricht = new QLabel(QStringLiteral("Nac&hricht:"), MessagePanel);
    cmbNachrichten = new QComboBox(MessagePanel);
    cmbNachrichten->setObjectName(QStringLiteral("cmbNachrichten"));
    cmbNachrichten->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbNachrichten->setMinimumContentsLength(30);
    cmbNachrichten->setToolTip(QStringLiteral("Eine der letzten Nachrichten übernehmen"));
    MsgTop->addWidget(lblNachricht);
    MsgTop->addStretch(1);
    MsgTop->addWidget(cmbNachrichten);
    Msg->addLayout(MsgTop);
    mmNachricht = new QPlainTextEdit(MessagePanel);
    mmNachricht->setObjectName(QStringLiteral("mmNachricht"));
    mmNachricht->setTabChangesFocus(true);
    mmNachricht->setPlaceholderText(
        QStringLiteral("Was wurde geändert, und warum? (Strg+Eingabe überträgt)"));
    lblNachricht->setBuddy(mmNachricht);
    Msg->addWidget(mmNachricht, 1);
    auto* Buttons = new QHBoxLayout;
    btnUebertragen = MakeButton(QStringLiteral("Ü&bertragen"), MessagePanel);
    btnUebertragen->setToolTip(
        QStringLiteral("Die angekreuzten Dateien mit der Nachricht übertragen (Strg+Eingabe)"));
    btnRueckgaengig = MakeButton(QStringLiteral("&Rückgängig machen …"), MessagePanel);
    btnRueckgaengig->setToolTip(
        QStringLiteral("Die Änderungen an den angekreuzten Dateien verwerfen"));
    btnLoesen = MakeButton(QStringLiteral("&Konflikt lösen"), MessagePanel);
    PopupLoesen = new QMenu(btnLoesen);
    actMeine = PopupLoesen->addAction(QStringLiteral("Mit &meiner Fassung (mine-full)"));
    actIhre = PopupLoesen->addAction(QStringLiteral("Mit &ihrer Fassung (theirs-full)"));
    actWieJetzt = PopupLoesen->addAction(QStringLiteral("&Wie die Datei jetzt ist (working)"));
    btnLoesen->setMenu(PopupLoesen);
    btnLoesen->setToolTip(QStringLiteral("Den Konflikt der gewählten Datei lösen"));
    Buttons->addWidget(btnUebertragen);
    Buttons->addWidget(btnRueckgaengig);
    Buttons->addWidget(btnLoesen);
    Buttons->addStretch(1);
    Msg->addLayout(Buttons);
    Splitter1->addWidget(lvAenderungen);
    Splitter1->addWidget(pagUnten);
    Splitter1->addWidget(MessagePanel);
    Splitter1->setStretchFactor(0, 3);
    Splitter1->setStretchFactor(1, 4);
    Splitter1->setStretchFactor(2, 1);
    Page->addWidget(Splitter1, 1);
    pag1->addTab(tabAenderungen, QStringLiteral("Än&derungen"));

    // The page of the log.
    tabLog = new QWidget;
    auto* LogPage = new QVBoxLayout(tabLog);
    LogPage->setContentsMargins(4, 4, 4, 4);
    auto* LogTop = new QHBoxLayout;
    auto* LogHint =
        new QLabel(QStringLiteral("Die letzten %1 Einträge des Logs").arg(LogEntries), tabLog);
    btnLogNeuLesen = MakeButton(QStringLiteral("Neu l&esen"), tabLog);
    LogTop->addWidget(LogHint, 1);
    LogTop->addWidget(btnLogNeuLesen);
    LogPage->addLayout(LogTop);
    auto* LogSplitter = new QSplitter(Qt::Vertical, tabLog);
    LogSplitter->setObjectName(QStringLiteral("LogTeiler"));
    LogSplitter->setChildrenCollapsible(false);
    lvLog = new QTreeWidget(LogSplitter);
    lvLog->setObjectName(QStringLiteral("lvLog"));
    lvLog->setHeaderLabels({QStringLiteral("Revision"), QStringLiteral("Autor"),
                            QStringLiteral("Datum"), QStringLiteral("Nachricht")});
    lvLog->setRootIsDecorated(false);
    lvLog->setUniformRowHeights(true);
    lvLog->setAllColumnsShowFocus(true);
    lvLog->header()->resizeSection(0, 80);
    lvLog->header()->resizeSection(1, 110);
    lvLog->header()->resizeSection(2, 130);
    mmLogNachricht = new QPlainTextEdit(LogSplitter);
    mmLogNachricht->setReadOnly(true);
    lvLogPfade = new QTreeWidget(LogSplitter);
    lvLogPfade->setObjectName(QStringLiteral("lvLogPfade"));
    lvLogPfade->setHeaderLabels(
        {QStringLiteral("Aktion"), QStringLiteral("Pfad"), QStringLiteral("Kopiert von")});
    lvLogPfade->setRootIsDecorated(false);
    lvLogPfade->setUniformRowHeights(true);
    lvLogPfade->header()->resizeSection(0, 60);
    lvLogPfade->header()->resizeSection(1, 380);
    LogSplitter->setStretchFactor(0, 3);
    LogSplitter->setStretchFactor(1, 1);
    LogSplitter->setStretchFactor(2, 2);
    LogPage->addWidget(LogSplitter, 1);
    pag1->addTab(tabLog, QStringLiteral("L&og"));

    auto* Bottom = new QHBoxLayout;
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnAbbrechen = MakeButton(QStringLiteral("Abbrechen"), this);
    btnAbbrechen->setToolTip(QStringLiteral("svn unterbrechen; ein zweites Mal beendet es sofort"));
    btnAbbrechen->hide();
    btnSchliessen = MakeButton(QStringLiteral("Schließen"), this);
    btnSchliessen->setToolTip(QStringLiteral("Das Fenster schließen (Esc)"));
    Bottom->addWidget(lblStatus, 1);
    Bottom->addWidget(btnAbbrechen, 0, Qt::AlignBottom);
    Bottom->addWidget(btnSchliessen, 0, Qt::AlignBottom);
    Main->addLayout(Bottom);

    // Remembered between starts: the size and the parts' shares.
    const QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    const QSize Size = S.value(KeySize).toSize();
    resize(Size.isValid() ? Size : QSize(860, 680));
    const QVariantList Parts = S.value(KeySplitter).toList();
    if (Parts.size() == Splitter1->count()) {
        QList<int> Sizes;
        for (const QVariant& V : Parts)
            Sizes << std::max(20, V.toInt());
        Splitter1->setSizes(Sizes);
    } else {
        Splitter1->setSizes({230, 280, 130});
    }
    const QVariantList LogParts = S.value(KeyLogSplitter).toList();
    if (LogParts.size() == LogSplitter->count()) {
        QList<int> Sizes;
        for (const QVariant& V : LogParts)
            Sizes << std::max(20, V.toInt());
        LogSplitter->setSizes(Sizes);
    }

    FillMessages();
    mmNachricht->setPlainText(CommitDraft(FProject.Folder));

    // Bindings.
    connect(btnNeuLesen, &QPushButton::clicked, this, [this] { btnNeuLesenClick(); });
    connect(btnUebertragen, &QPushButton::clicked, this, [this] { btnUebertragenClick(); });
    connect(btnRueckgaengig, &QPushButton::clicked, this, [this] { btnRueckgaengigClick(); });
    connect(actMeine, &QAction::triggered, this, [this] { Resolve(QStringLiteral("mine-full")); });
    connect(actIhre, &QAction::triggered, this, [this] { Resolve(QStringLiteral("theirs-full")); });
    connect(actWieJetzt, &QAction::triggered, this, [this] { Resolve(QStringLiteral("working")); });
    connect(btnSchliessen, &QPushButton::clicked, this, [this] { reject(); });
    connect(btnAbbrechen, &QPushButton::clicked, this, [this] { btnAbbrechenClick(); });
    connect(btnLogNeuLesen, &QPushButton::clicked, this, [this] { btnLogNeuLesenClick(); });
    connect(cbUnversioniert, &QCheckBox::toggled, Model, &TChangesModel::SetShowUnversioned);
    connect(Model, &TChangesModel::CheckedChanged, this, [this] {
        UpdateCounts();
        UpdateButtons();
    });
    connect(Model, &TChangesModel::Filled, this, [this] {
        // The item shown before, again; else the first one.
        int Row = FDiffPath.isEmpty() ? -1 : Model->RowOf(FDiffPath);
        if (Row < 0 && Model->rowCount() > 0 && !lvAenderungen->currentIndex().isValid())
            Row = 0;
        if (Row >= 0) {
            const QModelIndex I = Model->index(Row, TChangesModel::ColPath);
            FRestoring = true;
            lvAenderungen->selectionModel()->setCurrentIndex(
                I, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            FRestoring = false;
            lvAenderungen->scrollTo(I);
        }
        FDiffPath.clear(); // shown anew: the file may have changed with the copy
        SelectionChanged();
        UpdateCounts();
        UpdateButtons();
    });
    connect(lvAenderungen->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        // A file the user picks shows its difference; the list filled anew after a change
        // leaves the client's report in view.
        if (!FRestoring)
            FShowOutput = false;
        SelectionChanged();
    });
    connect(lvAenderungen->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateButtons(); });
    connect(lvAenderungen, &QWidget::customContextMenuRequested, this, [this](const QPoint& Pos) {
        QMenu Menu(this);
        QAction* All = Menu.addAction(QStringLiteral("Alle ankreuzen"));
        QAction* None = Menu.addAction(QStringLiteral("Keine ankreuzen"));
        QAction* Mark = Menu.addAction(QStringLiteral("Gewählte ankreuzen/abwählen (Leertaste)"));
        Menu.addSeparator();
        Menu.addAction(actMeine);
        Menu.addAction(actIhre);
        Menu.addAction(actWieJetzt);
        QAction* Chosen = Menu.exec(lvAenderungen->viewport()->mapToGlobal(Pos));
        if (Chosen == All)
            Model->SetAllChecked(true);
        else if (Chosen == None)
            Model->SetAllChecked(false);
        else if (Chosen == Mark)
            Model->ToggleChecked(SelectedRows());
    });
    connect(cmbNachrichten, &QComboBox::activated, this, [this](int Index) {
        if (Index <= 0)
            return;
        mmNachricht->setPlainText(cmbNachrichten->itemData(Index).toString());
        cmbNachrichten->setCurrentIndex(0);
        mmNachricht->setFocus();
        mmNachricht->moveCursor(QTextCursor::End);
    });
    connect(pag1, &QTabWidget::currentChanged, this, [this](int Page) {
        if (pag1->widget(Page) == tabLog && !FLogRead)
            ReadLog();
    });
    connect(lvLog, &QTreeWidget::currentItemChanged, this, [this] { LogEntryChanged(); });

    // Keys: Strg+Eingabe commits from anywhere in the window, F5 reads again.
    for (const QKeySequence& K :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* Commit = new QShortcut(K, this);
        connect(Commit, &QShortcut::activated, this, [this] {
            if (btnUebertragen->isEnabled())
                btnUebertragenClick();
        });
    }
    auto* Again = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(Again, &QShortcut::activated, this, [this] {
        if (pag1->currentWidget() == tabLog)
            btnLogNeuLesenClick();
        else
            btnNeuLesenClick();
    });
    lvAenderungen->setFocus();
    UpdateButtons();
}

void TfmChanges::FillMessages() {
    cmbNachrichten->clear();
    cmbNachrichten->addItem(QStringLiteral("Letzte Nachrichten …"));
    for (const QString& M : LastCommitMessages()) {
        QString First = M.section(u'\n', 0, 0).trimmed();
        if (First.size() > 80)
            First = First.left(80) + QStringLiteral(" …");
        if (M.contains(u'\n'))
            First += QStringLiteral(" …");
        cmbNachrichten->addItem(First, M);
        cmbNachrichten->setItemData(cmbNachrichten->count() - 1, M, Qt::ToolTipRole);
    }
    cmbNachrichten->setEnabled(cmbNachrichten->count() > 1);
}

TSvnRunOptions TfmChanges::Options(TSvnTask Task) const {
    TSvnRunOptions O;
    O.Program = FBase.Program;
    O.TimeoutSeconds = FBase.TimeoutSeconds;
    O.Jobs = 1;
    O.KeepLines = ReportLines;
    // What tells the copy's state goes into the store, so the tree follows.
    if (TaskCommand(Task) == u"status" || TaskRow(Task).ChangesCopy)
        O.Store = FTasks ? FTasks->Store() : nullptr;
    return O;
}

TSvnRun* TfmChanges::Start(TSvnTask Task, TSvnRunOptions Options,
                           std::function<void(const TSvnOutcome&)> Done) {
    if (!FTasks)
        return nullptr;
    TSvnRun* Run = FTasks->StartCopyRun(FProject, Task, std::move(Options));
    if (TaskRow(Task).ChangesCopy)
        FChangeRun = Run;
    connect(Run, &TSvnRun::ProjectDone, this, [Done](int, const TSvnOutcome& O) { Done(O); });
    connect(Run, &TSvnRun::Finished, this, [this] { UpdateButtons(); });
    if (!Run->Running()) {
        // Another client works on the copy (the main window's run): said until this one starts.
        ++FWaiting;
        connect(FTasks, &TTaskController::CopyRunStarted, Run, [this, Run](TSvnRun* Started) {
            if (Started != Run)
                return;
            --FWaiting;
            UpdateCounts();
        });
        UpdateCounts();
    }
    return Run;
}

bool TfmChanges::Working() const {
    return FStatusRun || FDiffRun || FLogRun || FPathsRun || FChanging;
}

void TfmChanges::ShowStored() {
    // At once what the last status found; the new one replaces it when it comes.
    const TStoredState* S = FTasks ? FTasks->Store()->Find(FProject.Folder) : nullptr;
    if (!S || TaskCommand(S->Task) != u"status")
        return;
    Model->SetItems(ParseChanges(S->Lines));
}

void TfmChanges::btnNeuLesenClick() {
    ReadStatus();
}

void TfmChanges::ReadStatus(bool Remote) {
    if (FStatusRun) {
        FStatusAgain = true; // after the one that runs: the copy may have changed since
        return;
    }
    const TSvnTask Task = Remote ? TSvnTask::StatusRemote : TSvnTask::Status;
    TSvnRunOptions O = Options(Task);
    O.KeepLines = StatusLines;
    FStatusRun = Start(Task, O, [this, Remote](const TSvnOutcome& Out) {
        FStatusRun = nullptr;
        if (Remote && !RanWell(Out) && Out.State != TSvnState::NotRun) {
            ReadStatus(false); // the server did not answer: the copy's own view at least
            return;
        }
        ShowStatus(Out);
        if (FStatusAgain) {
            FStatusAgain = false;
            ReadStatus();
        }
    });
    UpdateCounts();
    UpdateButtons();
}

void TfmChanges::ShowStatus(const TSvnOutcome& O) {
    if (O.State == TSvnState::NotRun) {
        UpdateCounts();
        return;
    }
    QList<TChangeItem> Items = ParseChanges(O.Lines);
    if (Items.isEmpty() && IsFailure(O.State) && O.State != TSvnState::Conflict) {
        // No status at all: the folder, the client or the copy is at fault.
        SetStatusText(QStringLiteral("Der Zustand der Arbeitskopie konnte nicht gelesen werden: "
                                     "%1")
                          .arg(Reason(O)),
                      true);
        mmAusgabe->appendPlainText(QStringLiteral("*** svn status"));
        mmAusgabe->appendPlainText((O.Lines + O.Notes).join(u'\n'));
    }
    Model->SetItems(std::move(Items));
    if (O.Omitted > 0)
        SetStatusText(QStringLiteral("svn nennt %1 weitere geänderte Einträge; die Liste zeigt "
                                     "die ersten %2.")
                          .arg(QLocale(QLocale::German).toString(O.Omitted),
                               QLocale(QLocale::German).toString(O.Lines.size())),
                      true);
    UpdateCounts();
}

void TfmChanges::UpdateCounts() {
    if (FWaiting > 0) {
        lblAnzahl->setText(QStringLiteral("Wartet, bis svn im Hauptfenster mit dieser "
                                          "Arbeitskopie fertig ist …"));
        return;
    }
    if (FStatusRun && Model->ItemCount() == 0) {
        lblAnzahl->setText(QStringLiteral("Liest den Zustand der Arbeitskopie …"));
        return;
    }
    const int Shown = Model->rowCount();
    const int Hidden = Model->ShowUnversioned() ? 0 : Model->UnversionedCount();
    QString Text = Model->ItemCount() == 0
                       ? QStringLiteral("Keine Änderungen.")
                       : Plural(Model->Filling() ? Model->ItemCount() - Hidden : Shown,
                                "1 geänderter Eintrag", "%1 geänderte Einträge") +
                             QStringLiteral(", ") +
                             Plural(Model->CheckedCount(), "1 angekreuzt", "%1 angekreuzt");
    if (Hidden > 0)
        Text += QStringLiteral(" (") +
                Plural(Hidden, "1 nicht versionierter ausgeblendet",
                       "%1 nicht versionierte ausgeblendet") +
                u')';
    lblAnzahl->setText(Text);
}

void TfmChanges::UpdateButtons() {
    const bool Free = !FChanging && FTasks;
    const bool Any = Model->CheckedCount() > 0;
    btnUebertragen->setEnabled(Free && Any);
    btnRueckgaengig->setEnabled(Free && Any);
    bool Conflict = false, OnlyTree = false;
    for (int R : SelectedRows()) {
        const TChangeItem& I = Model->Item(R);
        if (I.Conflicted()) {
            Conflict = true;
            OnlyTree = OnlyTree || I.TreeConflictOnly();
        }
    }
    btnLoesen->setEnabled(Free && Conflict);
    actMeine->setEnabled(Free && Conflict && !OnlyTree);
    actIhre->setEnabled(Free && Conflict && !OnlyTree);
    actWieJetzt->setEnabled(Free && Conflict);
    btnNeuLesen->setEnabled(bool(FTasks));
    btnAbbrechen->setVisible(FChanging);
}

void TfmChanges::btnAbbrechenClick() {
    if (!FChangeRun)
        return;
    SetStatusText(FChangeRun->Cancelling()
                      ? QStringLiteral("svn wird beendet …")
                      : QStringLiteral("svn wird unterbrochen; die Arbeitskopie wird danach "
                                       "geprüft …"));
    if (FTasks)
        FTasks->CancelRun(FChangeRun);
}

QList<int> TfmChanges::SelectedRows() const {
    QList<int> Rows;
    for (const QModelIndex& I : lvAenderungen->selectionModel()->selectedRows())
        Rows << I.row();
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TfmChanges::SelectionChanged() {
    UpdateButtons();
    FDiffLater->start();
}

void TfmChanges::ShowDiffOfCurrent() {
    const QModelIndex Current = lvAenderungen->currentIndex();
    if (!Current.isValid()) {
        FDiffPath.clear();
        mmUnterschiede->ShowText(Model->rowCount() == 0 ? QString()
                                                        : QStringLiteral("Keine Datei gewählt."));
        return;
    }
    const TChangeItem I = Model->Item(Current.row());
    if (I.Path == FDiffPath)
        return;
    if (FDiffRun)
        FTasks->CancelRun(FDiffRun);
    FDiffRun = nullptr;
    FDiffPath = I.Path;
    if (!FShowOutput && !FChanging)
        pagUnten->setCurrentWidget(mmUnterschiede);
    if (I.Unversioned()) {
        mmUnterschiede->ShowText(QStringLiteral("„%1“ ist nicht versioniert: svn kennt die Datei "
                                                "noch nicht. Angekreuzt wird sie beim Übertragen "
                                                "zuerst hinzugefügt.")
                                     .arg(I.Path));
        return;
    }
    if (I.Columns.at(0) == u'!') {
        mmUnterschiede->ShowText(QStringLiteral("„%1“ fehlt auf der Platte, ohne dass svn es "
                                                "gelöscht hat.")
                                     .arg(I.Path));
        return;
    }
    mmUnterschiede->ShowText(QStringLiteral("Die Unterschiede werden gelesen …"));
    TSvnRunOptions O = Options(TSvnTask::Diff);
    O.KeepLines = MaxDiffLines;
    O.Arguments = {QStringLiteral("--depth"), QStringLiteral("empty")};
    O.Targets = {I.Path};
    const QString Path = I.Path;
    FDiffRun = Start(TSvnTask::Diff, O, [this, Path](const TSvnOutcome& Out) {
        if (Path != FDiffPath || Out.State == TSvnState::NotRun)
            return;
        FDiffRun = nullptr;
        if (!RanWell(Out))
            mmUnterschiede->ShowText(QStringLiteral("Die Unterschiede konnten nicht gelesen "
                                                    "werden: %1")
                                         .arg(Reason(Out)));
        else
            mmUnterschiede->ShowDiff(Out.Lines, Out.Omitted);
    });
}

bool TfmChanges::Report(const QString& Title, const TSvnOutcome& O) {
    mmAusgabe->appendPlainText(QStringLiteral("*** ") + Title);
    if (!O.Lines.isEmpty())
        mmAusgabe->appendPlainText(O.Lines.join(u'\n'));
    if (O.Omitted > 0)
        mmAusgabe->appendPlainText(OmittedText(O.Omitted));
    if (!O.Notes.isEmpty())
        mmAusgabe->appendPlainText(O.Notes.join(u'\n'));
    pagUnten->setCurrentWidget(mmAusgabe);
    FShowOutput = true;
    const bool Ok = RanWell(O);
    if (!Ok)
        SetStatusText(QStringLiteral("%1 fehlgeschlagen. %2").arg(Title, Reason(O)), true);
    return Ok;
}

void TfmChanges::SetStatusText(const QString& Text, bool Problem) {
    lblStatus->setText(Text);
    QPalette P = palette();
    if (Problem)
        P.setColor(QPalette::WindowText,
                   ReadableOn(QColor(0xc0, 0, 0), palette().color(QPalette::Window)));
    lblStatus->setPalette(P);
    lblStatus->setProperty("problem", Problem);
}

void TfmChanges::btnUebertragenClick() {
    if (FChanging || !FTasks)
        return;
    const QList<TChangeItem> Chosen = Model->CheckedItems();
    if (Chosen.isEmpty()) {
        ShowInfo(QStringLiteral("Keine Datei zum Übertragen angekreuzt."));
        return;
    }
    const QString Message = mmNachricht->toPlainText();
    if (Message.trimmed().isEmpty() &&
        !AskYesNo(QStringLiteral("Die Nachricht ist leer. Trotzdem ohne Nachricht übertragen?"),
                  true)) {
        mmNachricht->setFocus();
        return;
    }
    // Kept before the client runs: whatever becomes of the commit, the message is not lost.
    QString Error;
    if (!Message.trimmed().isEmpty() && !RememberCommitMessage(Message, &Error))
        SetStatusText(Error, true);
    else
        SetStatusText(QString());
    SaveDraft();
    FillMessages();
    QStringList Unversioned;
    for (const TChangeItem& I : Chosen)
        if (I.Unversioned())
            Unversioned << I.Path;
    FChanging = true;
    UpdateButtons();
    mmAusgabe->clear();
    if (Unversioned.isEmpty()) {
        Commit(Chosen, Message, {});
        return;
    }
    TSvnRunOptions O = Options(TSvnTask::Add);
    O.Targets = Unversioned;
    SetStatusText(QStringLiteral("Fügt %1 hinzu …")
                      .arg(Plural(int(Unversioned.size()), "1 Datei", "%1 Dateien")));
    Start(TSvnTask::Add, O, [this, Chosen, Message](const TSvnOutcome& Out) {
        if (!Report(TaskTitle(TSvnTask::Add), Out)) {
            Changed();
            return;
        }
        Commit(Chosen, Message, AddedPaths(Out.Lines));
    });
}

void TfmChanges::Commit(const QList<TChangeItem>& Chosen, const QString& Message,
                        QStringList Added) {
    // Each item alone ("--depth empty"): an unchecked change inside a checked folder stays; a
    // new folder's files come in through what the add reported.
    QStringList Targets;
    for (const TChangeItem& I : Chosen)
        if (I.Versioned())
            Targets << I.Path;
    for (const QString& A : Added)
        if (!Targets.contains(A))
            Targets << A;
    TSvnRunOptions O = Options(TSvnTask::Commit);
    O.Arguments = {QStringLiteral("-m"), Message, QStringLiteral("--depth"),
                   QStringLiteral("empty")};
    O.Targets = Targets;
    SetStatusText(QStringLiteral("Überträgt %1 …")
                      .arg(Plural(int(Targets.size()), "1 Eintrag", "%1 Einträge")));
    Start(TSvnTask::Commit, O, [this](const TSvnOutcome& Out) {
        if (Report(TaskTitle(TSvnTask::Commit), Out)) {
            mmNachricht->clear();
            QString Error;
            if (!SaveCommitDraft(FProject.Folder, QString(), &Error))
                SetStatusText(Error, true);
            else
                SetStatusText(
                    Out.Verdict.Revision >= 0
                        ? QStringLiteral("Übertragen: Revision %1.").arg(Out.Verdict.Revision)
                        : QStringLiteral("Übertragen."));
        } else {
            mmNachricht->setFocus();
        }
        // Refused for items the server has newer: the server is asked too, so that the list
        // marks them and the tree keeps the copy "veraltet".
        Changed(Out.Verdict.OutOfDateRefused);
    });
}

void TfmChanges::btnRueckgaengigClick() {
    if (FChanging || !FTasks)
        return;
    const QList<TChangeItem> Chosen = Model->CheckedItems();
    const TRevertPlan Plan = PlanRevert(Chosen, [this](const QString& Path) {
        return QFileInfo(FProject.Folder + u'/' + Path).isDir();
    });
    int Versioned = 0;
    for (const TChangeItem& I : Chosen)
        Versioned += I.Versioned();
    if (Versioned == 0) {
        ShowInfo(Chosen.isEmpty()
                     ? QStringLiteral("Keine Datei angekreuzt.")
                     : QStringLiteral("Nicht versionierte Dateien kennt svn nicht: »Rückgängig "
                                      "machen« lässt sie, wie sie sind."));
        return;
    }
    const QString Question =
        Versioned == 1
            ? QStringLiteral("Die Änderungen an 1 Datei gehen verloren:\n%1\n\nRückgängig machen?")
                  .arg(Plan.Whole.isEmpty() ? Plan.Alone.value(0) : Plan.Whole.value(0))
            : QStringLiteral("Die Änderungen an %1 Dateien gehen verloren.\n\nRückgängig machen?")
                  .arg(QLocale(QLocale::German).toString(Versioned));
    if (!AskYesNo(Question, true))
        return;
    FChanging = true;
    UpdateButtons();
    mmAusgabe->clear();
    SetStatusText(QStringLiteral("Macht die Änderungen rückgängig …"));
    RevertGroup(Plan.Whole, Plan.Alone);
}

void TfmChanges::RevertGroup(QStringList Whole, QStringList Alone) {
    // A folder added or deleted with everything in it first, then each other item alone.
    const bool First = !Whole.isEmpty();
    TSvnRunOptions O = Options(TSvnTask::Revert);
    O.Arguments = {QStringLiteral("--depth"),
                   First ? QStringLiteral("infinity") : QStringLiteral("empty")};
    O.Targets = First ? Whole : Alone;
    Start(TSvnTask::Revert, O, [this, First, Alone](const TSvnOutcome& Out) {
        if (!Report(TaskTitle(TSvnTask::Revert), Out)) {
            Changed();
            return;
        }
        if (First && !Alone.isEmpty()) {
            RevertGroup({}, Alone);
            return;
        }
        SetStatusText(QStringLiteral("Die Änderungen sind rückgängig gemacht."));
        Changed();
    });
}

void TfmChanges::Resolve(const QString& Accept) {
    if (FChanging || !FTasks)
        return;
    QStringList Paths;
    bool OnlyTree = false;
    for (int R : SelectedRows()) {
        const TChangeItem& I = Model->Item(R);
        if (!I.Conflicted())
            continue;
        Paths << I.Path;
        OnlyTree = OnlyTree || I.TreeConflictOnly();
    }
    if (Paths.isEmpty()) {
        ShowInfo(QStringLiteral("Die gewählte Datei steht nicht im Konflikt."));
        return;
    }
    if (OnlyTree && Accept != u"working") {
        ShowInfo(QStringLiteral("Einen Baumkonflikt löst svn nur so, wie die Dateien jetzt sind "
                                "(»Wie die Datei jetzt ist«)."));
        return;
    }
    FChanging = true;
    UpdateButtons();
    mmAusgabe->clear();
    TSvnRunOptions O = Options(TSvnTask::Resolve);
    O.Arguments = {QStringLiteral("--accept"), Accept};
    O.Targets = Paths;
    SetStatusText(QStringLiteral("Löst den Konflikt …"));
    Start(TSvnTask::Resolve, O, [this](const TSvnOutcome& Out) {
        if (Report(TaskTitle(TSvnTask::Resolve), Out))
            SetStatusText(QStringLiteral("Der Konflikt ist gelöst."));
        Changed();
    });
}

void TfmChanges::Changed(bool AskServer) {
    FChanging = false;
    UpdateButtons();
    if (FCloseWhenDone) {
        // The window was closed while the copy changed: now it goes.
        SaveDraft();
        deleteLater();
        return;
    }
    ReadStatus(AskServer);
}

void TfmChanges::ShowLogPage() {
    pag1->setCurrentWidget(tabLog);
    if (!FLogRead)
        ReadLog();
    lvLog->setFocus();
}

void TfmChanges::btnLogNeuLesenClick() {
    FLogPaths.clear();
    ReadLog();
}

void TfmChanges::ReadLog() {
    if (FLogRun)
        return;
    FLogRead = true;
    TSvnRunOptions O = Options(TSvnTask::Log);
    O.KeepLines = LogLines;
    // From the repository's newest revision down: the copy's own commits show before an
    // update.
    O.Arguments = {QStringLiteral("-r"), QStringLiteral("HEAD:0"), QStringLiteral("-l"),
                   QString::number(LogEntries)};
    lvLog->clear();
    lvLogPfade->clear();
    mmLogNachricht->setPlainText(QStringLiteral("Das Log wird gelesen …"));
    FLogRun = Start(TSvnTask::Log, O, [this](const TSvnOutcome& Out) {
        FLogRun = nullptr;
        if (Out.State == TSvnState::NotRun)
            return;
        bool Complete = true;
        FLog = ParseLogXml(Out.Lines, &Complete);
        if (!RanWell(Out) && FLog.isEmpty()) {
            mmLogNachricht->setPlainText(
                QStringLiteral("Das Log konnte nicht gelesen werden: %1\n\n%2")
                    .arg(Reason(Out), Out.Lines.join(u'\n')));
            FLogRead = false; // tried again when the page is next shown
            return;
        }
        const QLocale German(QLocale::German);
        QList<QTreeWidgetItem*> Rows;
        for (int i = 0; i < FLog.size(); ++i) {
            const TLogEntry& E = FLog.at(i);
            auto* Row = new QTreeWidgetItem;
            Row->setText(0, QString::number(E.Revision));
            Row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
            Row->setText(1, E.Author.isEmpty() ? QStringLiteral("(ohne Autor)") : E.Author);
            Row->setText(2, E.Date.isValid() ? German.toString(E.Date.toLocalTime(),
                                                               QStringLiteral("dd.MM.yyyy HH:mm"))
                                             : QString());
            Row->setText(3, E.Message.section(u'\n', 0, 0));
            Row->setToolTip(3, E.Message);
            Row->setData(0, Qt::UserRole, i);
            Rows << Row;
        }
        lvLog->addTopLevelItems(Rows);
        mmLogNachricht->clear();
        if (!Complete)
            mmLogNachricht->setPlainText(QStringLiteral("Das Log war länger, als hier gelesen "
                                                        "wird; die ersten Einträge stehen "
                                                        "oben."));
        if (!Rows.isEmpty())
            lvLog->setCurrentItem(Rows.first());
    });
}

void TfmChanges::LogEntryChanged() {
    QTreeWidgetItem* Row = lvLog->currentItem();
    lvLogPfade->clear();
    if (!Row)
        return;
    const TLogEntry& E = FLog.value(Row->data(0, Qt::UserRole).toInt());
    mmLogNachricht->setPlainText(E.Message);
    const qint64 Rev = E.Revision;
    auto Fill = [this](const QList<TLogPath>& Paths) {
        QList<QTreeWidgetItem*> Items;
        for (const TLogPath& P : Paths) {
            auto* I = new QTreeWidgetItem;
            I->setText(0, QString(P.Action));
            I->setText(1, P.Path);
            if (!P.CopyFrom.isEmpty())
                I->setText(2, QStringLiteral("%1@%2").arg(P.CopyFrom).arg(P.CopyRevision));
            Items << I;
        }
        lvLogPfade->addTopLevelItems(Items);
    };
    const auto Known = FLogPaths.constFind(Rev);
    if (Known != FLogPaths.constEnd()) {
        Fill(*Known);
        return;
    }
    if (FPathsRun)
        FTasks->CancelRun(FPathsRun);
    TSvnRunOptions O = Options(TSvnTask::Log);
    O.KeepLines = LogLines;
    O.Arguments = {QStringLiteral("-v"), QStringLiteral("-r"), QString::number(Rev)};
    FPathsRun = Start(TSvnTask::Log, O, [this, Rev, Fill](const TSvnOutcome& Out) {
        if (Out.State == TSvnState::NotRun)
            return;
        FPathsRun = nullptr;
        bool Complete = true;
        const QList<TLogEntry> Entries = ParseLogXml(Out.Lines, &Complete);
        if (Entries.isEmpty())
            return;
        FLogPaths.insert(Rev, Entries.first().Paths);
        QTreeWidgetItem* Row = lvLog->currentItem();
        if (Row && FLog.value(Row->data(0, Qt::UserRole).toInt()).Revision == Rev) {
            Fill(Entries.first().Paths);
            if (!Complete)
                lvLogPfade->addTopLevelItem(new QTreeWidgetItem(
                    {QString(), QStringLiteral("… weitere Pfade sind hier nicht aufgeführt")}));
        }
    });
}

void TfmChanges::SaveDraft() {
    if (!mmNachricht)
        return;
    const QString Text = mmNachricht->toPlainText();
    if (Text == CommitDraft(FProject.Folder))
        return;
    QString Error;
    if (!SaveCommitDraft(FProject.Folder, Text, &Error) && isVisible())
        SetStatusText(Error, true);
}

bool TfmChanges::eventFilter(QObject* Watched, QEvent* Event) {
    // Space checks or unchecks every selected row, not only the current one.
    if (Watched == lvAenderungen && Event->type() == QEvent::KeyPress) {
        auto* K = static_cast<QKeyEvent*>(Event);
        if (K->key() == Qt::Key_Space && K->modifiers() == Qt::NoModifier) {
            Model->ToggleChecked(SelectedRows());
            return true;
        }
    }
    return TKivForm::eventFilter(Watched, Event);
}

void TfmChanges::changeEvent(QEvent* Event) {
    TKivForm::changeEvent(Event);
    if (Event->type() == QEvent::PaletteChange && Model)
        Model->SetPalette(palette());
}

void TfmChanges::done(int Result) {
    if (FChanging && !FCloseWhenDone) {
        // The copy is being changed: the window goes when the client is done with it.
        if (!AskYesNo(QStringLiteral("svn arbeitet noch an dieser Arbeitskopie.\n\nAbbrechen und "
                                     "das Fenster schließen?"),
                      true))
            return;
        FCloseWhenDone = true;
        if (FChangeRun)
            FTasks->CancelRun(FChangeRun);
    }
    // A message not committed is kept for the next opening; where it cannot be, the user
    // says whether to let it go.
    const QString Text = mmNachricht->toPlainText();
    QString Error;
    if (Text != CommitDraft(FProject.Folder) && !SaveCommitDraft(FProject.Folder, Text, &Error) &&
        !FCloseWhenDone &&
        !AskYesNo(QStringLiteral("%1\n\nDie Nachricht kann nicht aufbewahrt werden. Trotzdem "
                                 "schließen? Die Nachricht geht dann verloren.")
                      .arg(Error),
                  true))
        return;
    QSettings S(TWindowState::FileName(), QSettings::IniFormat);
    S.setValue(KeySize, isMaximized() ? normalGeometry().size() : size());
    QVariantList Parts;
    for (int Size : Splitter1->sizes())
        Parts << Size;
    S.setValue(KeySplitter, Parts);
    if (auto* LogSplitter = findChild<QSplitter*>(QStringLiteral("LogTeiler"))) {
        QVariantList LogParts;
        for (int Size : LogSplitter->sizes())
            LogParts << Size;
        S.setValue(KeyLogSplitter, LogParts);
    }
    S.sync(); // a size not kept costs the next opening its size, nothing more
    TKivForm::done(Result);
    if (!FCloseWhenDone)
        deleteLater();
}
