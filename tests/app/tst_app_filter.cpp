// The filter box above the registry tree, in the real window: what it shows and hides, how it
// follows changes of the tree, its keys, and that the tasks do not see it.
#include "kiv_test_folders.h"
#include "kiv_test_prompter.h"
#include "fm_main.h"
#include "kiv_nodestate.h"
#include "kiv_treefilter.h"
#include "kiv_windowstate.h"

#include "kiv_prompts.h"
#include "svn_output.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTest>
#include <QToolButton>
#include <QTreeWidgetItemIterator>

#include <memory>

namespace {
const char* const Registry =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
    "<SubVersion Beschreibung=\"x\">\r\n"
    "  <ProjektGruppe Name=\"Kunden\">\r\n"
    "    <Projekt Name=\"Alpha\" Verzeichnis=\"/nix/src/alpha\"/>\r\n"
    "    <Projekt Name=\"Beta\" Verzeichnis=\"/nix/src/kunde-beta\"/>\r\n"
    "    <ProjektGruppe Name=\"Intern\">\r\n"
    "      <Projekt Name=\"Gamma\" Verzeichnis=\"/nix/src/gamma\"/>\r\n"
    "    </ProjektGruppe>\r\n"
    "  </ProjektGruppe>\r\n"
    "  <ProjektGruppe Name=\"Werkzeuge\">\r\n"
    "    <Projekt Name=\"Delta\" Verzeichnis=\"/nix/opt/delta\"/>\r\n"
    "  </ProjektGruppe>\r\n"
    "  <Projekt Name=\"Epsilon\" Verzeichnis=\"/nix/src/eps\"/>\r\n"
    "</SubVersion>\r\n";
} // namespace

class TestAppFilter : public QObject {
    Q_OBJECT
    TTestFolders FFolders;
    TTestPrompter FPrompter;
    std::unique_ptr<TfmMain> W;

    TXMLTreeNode* Node(const QString& Caption) {
        for (QTreeWidgetItemIterator It(W->lvDir); *It; ++It)
            if ((*It)->text(0) == Caption)
                return static_cast<TXMLTreeNode*>(*It);
        return nullptr;
    }
    // What a user sees: the nodes shown, in tree order, whatever is scrolled or collapsed.
    QStringList Shown() {
        QStringList R;
        for (QTreeWidgetItemIterator It(W->lvDir); *It; ++It) {
            bool Visible = true;
            for (QTreeWidgetItem* I = *It; I; I = I->parent())
                Visible = Visible && !I->isHidden();
            if (Visible)
                R << (*It)->text(0);
        }
        return R;
    }
    void Mark(const QString& Caption, TSvnState State) {
        Node(Caption)->setData(0, NodeStateRole, int(State));
    }
    TXMLTreeNode* AddNode(TXMLTreeNode* Parent, const QString& Element, const QString& Name,
                          const QString& Dir = QString()) {
        TXMLTreeNode* N = W->lvDir->AddChild(Parent, Name);
        N->XMLElement()->SetName(Element);
        N->XMLElement()->SetAttribute("Name", Name);
        if (!Dir.isEmpty())
            N->XMLElement()->SetAttribute("Verzeichnis", Dir);
        return N;
    }
    const QStringList All = {"Projekte", "Epsilon", "Kunden", "Alpha",    "Beta",
                             "Intern",   "Gamma",   "Werkzeuge", "Delta"};

private slots:
    void initTestCase() {
        QVERIFY(FFolders.Apply());
        SetPrompter(&FPrompter);
    }
    void init() {
        W.reset();
        FPrompter.Reset();
        ForgetStoredStates();
        QFile::remove(TWindowState::FileName());
        const QString File =
            FFolders.Data.path() + "/KelvaroSoft/Subversion/SubVersionVerzeichnisse.xml";
        QDir().mkpath(QFileInfo(File).path());
        QFile F(File);
        QVERIFY(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write(Registry);
        F.close();
        W = std::make_unique<TfmMain>();
        W->show();
        QTRY_VERIFY(W->RegistryLoaded());
        QCOMPARE(Shown(), All);
    }
    void cleanup() {
        if (W)
            W->close();
        W.reset();
    }
    void cleanupTestCase() { SetPrompter(nullptr); }

    void narrowsToNamesAndFolders_data() {
        QTest::addColumn<QString>("Text");
        QTest::addColumn<QStringList>("Expected");
        QTest::newRow("project, any case") << "ALP" << QStringList{"Projekte", "Kunden", "Alpha"};
        QTest::newRow("group with its subtree")
            << "kunden" << QStringList{"Projekte", "Kunden", "Alpha", "Beta", "Intern", "Gamma"};
        QTest::newRow("nested group") << "Intern" << QStringList{"Projekte", "Kunden", "Intern",
                                                                 "Gamma"};
        QTest::newRow("folder") << "/opt/" << QStringList{"Projekte", "Werkzeuge", "Delta"};
        QTest::newRow("folder and name") << "a"
                                         << QStringList{"Projekte", "Kunden",    "Alpha",
                                                        "Beta",     "Intern",    "Gamma",
                                                        "Werkzeuge", "Delta"};
        QTest::newRow("nothing") << "zz" << QStringList{"Projekte"};
    }
    void narrowsToNamesAndFolders() {
        QFETCH(QString, Text);
        QFETCH(QStringList, Expected);
        Node("Intern")->setExpanded(false);
        W->TreeFilter->edFilter->setText(Text);
        QCOMPARE(Shown(), Expected);
        // A match inside a collapsed group is opened up to.
        if (Expected.contains("Gamma"))
            QVERIFY(Node("Intern")->isExpanded());
        W->TreeFilter->edFilter->clear();
        QCOMPARE(Shown(), All);
    }

    // Clearing brings back every node and the expand state from before the filter, however
    // the filter opened the tree.
    void clearingRestoresTheTree() {
        Node("Kunden")->setExpanded(false);
        Node("Werkzeuge")->setExpanded(false);
        W->TreeFilter->edFilter->setText("gam");
        QVERIFY(Node("Kunden")->isExpanded());
        W->TreeFilter->edFilter->setText("delt");
        QVERIFY(Node("Werkzeuge")->isExpanded());
        QCOMPARE(Shown(), QStringList({"Projekte", "Werkzeuge", "Delta"}));
        W->TreeFilter->edFilter->clear();
        QCOMPARE(Shown(), All);
        QVERIFY(!Node("Kunden")->isExpanded());
        QVERIFY(!Node("Werkzeuge")->isExpanded());
        QVERIFY(Node("Intern")->isExpanded());
        QVERIFY(Node("Projekte")->isExpanded());
    }

    void attentionAloneAndCombined() {
        Mark("Beta", TSvnState::Changes);
        Mark("Gamma", TSvnState::Clean);
        Mark("Delta", TSvnState::Updated);
        Mark("Epsilon", TSvnState::Missing);
        W->TreeFilter->btnHandlungsbedarf->setChecked(true);
        QCOMPARE(Shown(), QStringList({"Projekte", "Epsilon", "Kunden", "Beta"}));
        // A matching group shows only what needs a look.
        W->TreeFilter->edFilter->setText("kunden");
        QCOMPARE(Shown(), QStringList({"Projekte", "Kunden", "Beta"}));
        // Marks of a run arrive while the filter is on.
        Mark("Gamma", TSvnState::Conflict);
        Mark("Beta", TSvnState::Clean);
        QTRY_COMPARE(Shown(), QStringList({"Projekte", "Kunden", "Intern", "Gamma"}));
        W->TreeFilter->edFilter->clear();
        QCOMPARE(Shown(), QStringList({"Projekte", "Epsilon", "Kunden", "Intern", "Gamma"}));
        W->TreeFilter->btnHandlungsbedarf->setChecked(false);
        QCOMPARE(Shown(), All);
    }

    void nodesAddedRenamedOrDeletedFollow() {
        W->TreeFilter->edFilter->setText("alp");
        QCOMPARE(Shown(), QStringList({"Projekte", "Kunden", "Alpha"}));
        TXMLTreeNode* Horn = AddNode(Node("Werkzeuge"), "Projekt", "Alphorn", "/nix/horn");
        AddNode(Node("Projekte"), "ProjektGruppe", "Zeta");
        QTRY_COMPARE(Shown(), QStringList({"Projekte", "Kunden", "Alpha", "Werkzeuge", "Alphorn"}));
        Node("Epsilon")->XMLElement()->SetAttribute("Name", "Alpaka");
        Node("Alpha")->XMLElement()->SetAttribute("Name", "Omega");
        Node("Omega")->XMLElement()->SetAttribute("Verzeichnis", "/nix/src/omega");
        QTRY_COMPARE(Shown(), QStringList({"Projekte", "Alpaka", "Werkzeuge", "Alphorn"}));
        // A folder set after the caption counts too.
        Node("Delta")->XMLElement()->SetAttribute("Verzeichnis", "/nix/alpen");
        QTRY_COMPARE(Shown(), QStringList({"Projekte", "Alpaka", "Werkzeuge", "Alphorn", "Delta"}));
        W->lvDir->DeleteNode(Horn);
        Node("Delta")->XMLElement()->SetAttribute("Verzeichnis", "/nix/opt/delta");
        QTRY_COMPARE(Shown(), QStringList({"Projekte", "Alpaka"}));
        W->TreeFilter->edFilter->clear();
        QCOMPARE(Shown().size(), All.size() + 1); // Zeta
    }

    // Ctrl+F reaches the box from anywhere; Esc there clears it and is taken from the window's
    // own Escape (cancel) only while there is text to clear.
    void keys() {
        W->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(W.get()));
        W->lvDir->setFocus();
        QTest::keyClick(W->lvDir, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(W->TreeFilter->edFilter->hasFocus());
        QTest::keyClicks(W->TreeFilter->edFilter, "beta");
        QCOMPARE(Shown(), QStringList({"Projekte", "Kunden", "Beta"}));

        QShortcut* Cancel = nullptr;
        for (QShortcut* S : W->findChildren<QShortcut*>())
            if (S->key() == QKeySequence(Qt::Key_Escape))
                Cancel = S;
        QVERIFY(Cancel);
        Cancel->setEnabled(true); // as during a run
        int Cancels = 0;
        connect(Cancel, &QShortcut::activated, this, [&] { ++Cancels; });
        QTest::keyClick(W->TreeFilter->edFilter, Qt::Key_Escape);
        QCOMPARE(W->TreeFilter->edFilter->text(), QString());
        QCOMPARE(Shown(), All);
        QCOMPARE(Cancels, 0);
        QTest::keyClick(W->TreeFilter->edFilter, Qt::Key_Escape);
        QCOMPARE(Cancels, 1);
        Cancel->setEnabled(false);
        QVERIFY(W->isVisible()); // Escape never closes the main window
        QTest::keyClick(W->TreeFilter->edFilter, Qt::Key_Down);
        QVERIFY(W->lvDir->hasFocus());
    }

    // A task on a group runs every project below it, shown or not.
    void tasksSeeTheWholeTree() {
        W->TreeFilter->edFilter->setText("alpha");
        W->lvDir->SetSelected(Node("Kunden"));
        W->ToolButton8Click();
        QTRY_VERIFY(W->mmExec->toPlainText().contains("*** Ende"));
        const QString Memo = W->mmExec->toPlainText();
        for (const char* Dir : {"/nix/src/alpha", "/nix/src/kunde-beta", "/nix/src/gamma"})
            QVERIFY2(Memo.contains(QStringLiteral("--> ") + Dir), qPrintable(Memo));
        QVERIFY(!Memo.contains("/nix/opt/delta"));
        // The run's marks came in under the filter and changed nothing it shows.
        QCOMPARE(Shown(), QStringList({"Projekte", "Kunden", "Alpha"}));
    }
};

QTEST_MAIN(TestAppFilter)
#include "tst_app_filter.moc"
