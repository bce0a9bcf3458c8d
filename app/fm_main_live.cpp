// The window's side of the live copies and the server monitor: every registered copy watched
// (following the registry as it changes), the monitor's interval on the tool bar and on the
// registry's root, its news as a desktop notification and in the tray.
#include "fm_main.h"
#include "kiv_folders.h"
#include "kiv_live.h"
#include "kiv_monitor.h"
#include "kiv_notify.h"
#include "kiv_registry.h"
#include "kiv_registrydoc.h"
#include "kiv_statusbar.h"
#include "kiv_taskcontrol.h"
#include "kiv_tray.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>

namespace {

// The notification's text under its summary: the projects with news, the first few by name.
QString NewsBody(const QStringList& News) {
    constexpr int Named = 5;
    QString Body = News.mid(0, Named).join(QStringLiteral(", "));
    if (News.size() > Named)
        Body += QStringLiteral(" und %1 weitere").arg(News.size() - Named);
    return QStringLiteral("Neu: ") + Body;
}

} // namespace

void TfmMain::InitLive() {
    // The monitor's interval: on the main tool bar, at its right end, reached with Alt+W.
    auto* Spacer = new QWidget(ToolBar1);
    Spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ToolBar1->addWidget(Spacer);
    auto* Box = new QWidget(ToolBar1);
    auto* Row = new QHBoxLayout(Box);
    Row->setContentsMargins(0, 0, 4, 0);
    Row->setSpacing(4);
    lblServerMinuten = new QLabel(QStringLiteral("Server-Über&wachung:"), Box);
    edServerMinuten = new QSpinBox(Box);
    edServerMinuten->setObjectName(QStringLiteral("edServerMinuten"));
    edServerMinuten->setRange(0, MaxMonitorMinutes);
    edServerMinuten->setSpecialValueText(QStringLiteral("aus"));
    edServerMinuten->setPrefix(QStringLiteral("alle "));
    edServerMinuten->setSuffix(QStringLiteral(" Min."));
    edServerMinuten->setAccelerated(true);
    edServerMinuten->setMaximumHeight(22);
    const QString Tip = QStringLiteral(
        "Alle so viele Minuten fragt das Programm im Hintergrund den Server nach neuen "
        "Revisionen aller Projekte (aus: nie). Neue Revisionen meldet eine Benachrichtigung; "
        "das Symbol im Infobereich zählt die Projekte, die nicht aktuell sind. (Alt+W)");
    edServerMinuten->setToolTip(Tip);
    lblServerMinuten->setToolTip(Tip);
    lblServerMinuten->setBuddy(edServerMinuten);
    Row->addWidget(lblServerMinuten);
    Row->addWidget(edServerMinuten);
    ToolBar1->addWidget(Box);

    Tray = new TkivTray(this, this);
    Notifier = new TkivNotifier(this);
    connect(Notifier, &TkivNotifier::ShowRequested, this, [this] { TkivTray::ShowWindow(this); });
    connect(Notifier, &TkivNotifier::Failed, this,
            [this](const QString& Message) { StatusBar1->ShowMessage(Message); });

    // The registry's projects, a moment after the tree changed (a drop moves many rows).
    FLiveLater = new QTimer(this);
    FLiveLater->setSingleShot(true);
    FLiveLater->setInterval(300);
    connect(FLiveLater, &QTimer::timeout, this, [this] { UpdateLiveProjects(); });
    QAbstractItemModel* Model = lvDir->model();
    for (auto Signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(Model, Signal, FLiveLater, qOverload<>(&QTimer::start));
    connect(Model, &QAbstractItemModel::rowsMoved, FLiveLater, qOverload<>(&QTimer::start));
    connect(Model, &QAbstractItemModel::modelReset, FLiveLater, qOverload<>(&QTimer::start));
    connect(Model, &QAbstractItemModel::dataChanged, FLiveLater, qOverload<>(&QTimer::start));

    // The spin box is written to the root a moment after the last step, not at every one.
    FMonitorLater = new QTimer(this);
    FMonitorLater->setSingleShot(true);
    FMonitorLater->setInterval(700);
    connect(FMonitorLater, &QTimer::timeout, this,
            [this] { Guarded([this] { edServerMinutenChange(); }); });
    connect(edServerMinuten, &QSpinBox::valueChanged, FMonitorLater, qOverload<>(&QTimer::start));

    // The tray counts the projects behind; updates and tests that asked the server change that.
    FTrayLater = new QTimer(this);
    FTrayLater->setSingleShot(true);
    FTrayLater->setInterval(500);
    connect(FTrayLater, &QTimer::timeout, this, [this] {
        // Only the monitor's tray counts: without it nothing is shown.
        if (Tasks && (Tasks->Monitor()->On() || Tray->Count() > 0))
            Tray->SetCount(int(Tasks->Monitor()->BehindProjects().size()));
    });
    connect(Tasks->Store(), &TStateStore::Changed, FTrayLater, qOverload<>(&QTimer::start));
    connect(Tasks->Store(), &TStateStore::Reloaded, FTrayLater, qOverload<>(&QTimer::start));

    connect(Tasks->Live(), &TLiveCopies::Problem, this,
            [this](const QString& Message) { StatusBar1->ShowMessage(Message); });
    TServerMonitor* Monitor = Tasks->Monitor();
    connect(Monitor, &TServerMonitor::RunFinished, this,
            [this](const QStringList& News, int Behind) {
                Tray->SetCount(Behind);
                // One notification for a run that found revisions not known before; its
                // count is that of the projects it names (the tray counts all behind).
                if (!News.isEmpty())
                    Notifier->Notify(NewRevisionsText(int(News.size())), NewsBody(News));
            });
}

void TfmMain::LiveRegistryLoaded() {
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    const int Minutes = MonitorMinutes(Root);
    {
        const QSignalBlocker Quiet(edServerMinuten);
        edServerMinuten->setValue(Minutes);
    }
    UpdateLiveProjects();
    Tasks->Monitor()->SetInterval(Minutes);
    Tray->SetMonitorOn(Minutes > 0);
    Tray->SetCount(int(Tasks->Monitor()->BehindProjects().size()));
}

void TfmMain::UpdateLiveProjects() {
    FLiveLater->stop();
    if (!Tasks || !Registry->Loaded())
        return;
    TkivXmlElement* Root = lvDir->XMLItems()->RootElement();
    std::vector<TSvnProject> All;
    CollectProjects(Root, QString(), ProjectBase(), All);
    Tasks->SetProjects(std::move(All), JobCount(Root), TimeoutSeconds(Root));
}

void TfmMain::edServerMinutenChange() {
    FMonitorLater->stop();
    const int Minutes = edServerMinuten->value();
    if (TkivXmlElement* Root = lvDir->XMLItems()->RootElement())
        Root->SetAttribute(QString::fromLatin1(MonitorAttribute),
                           Minutes > 0 ? QString::number(Minutes) : QString());
    if (!Tasks || Tasks->Monitor()->Interval() == Minutes)
        return;
    UpdateLiveProjects();
    Tasks->Monitor()->SetInterval(Minutes);
    Tray->SetMonitorOn(Minutes > 0);
    StatusBar1->ShowMessage(
        Minutes == 1  ? QStringLiteral("Der Server wird jede Minute nach neuen Revisionen gefragt.")
        : Minutes > 1 ? QStringLiteral("Der Server wird alle %1 Minuten nach neuen Revisionen "
                                       "gefragt.")
                            .arg(Minutes)
                      : QStringLiteral("Die Server-Überwachung ist aus."));
}
