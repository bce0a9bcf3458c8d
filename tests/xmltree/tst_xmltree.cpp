#include "kiv_XMLTreeView.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <typeinfo>

namespace {

// A tree set up as the main window sets it up: sorted, captions from "Name".
struct Fixture {
    TkivXMLTreeView Tree;
    QAbstractItemModelTester Tester{Tree.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest};
    QList<TXMLTreeNode*> Changes;
    Fixture() {
        Tree.SetSortByText(true);
        Tree.OnChangeXML = [this](TkivXMLTreeView* S, TXMLTreeNode* N) {
            Changes.append(N);
            N->SetText(N->XMLElement() == S->XMLItems()->RootElement()
                           ? QStringLiteral("Projekte")
                           : N->XMLElement()->GetAttribute(QStringLiteral("NAME")));
        };
        Tree.resize(300, 400);
        Tree.show();
    }
    TXMLTreeNode* Add(TXMLTreeNode* Parent, const QString& Kind, const QString& Name) {
        TkivXmlElement* E =
            Parent ? Parent->XMLElement()->AddChild(Kind) : Tree.XMLItems()->RootElement();
        if (!Parent) {
            TXMLTreeNode* Root = Tree.AddChild(nullptr, Kind);
            Root->XMLElement()->SetName(Kind);
            return Root;
        }
        E->SetAttribute(QStringLiteral("Name"), Name);
        return static_cast<TNodeXMLElement*>(E)->Node();
    }
    QStringList Captions(TXMLTreeNode* Parent) const {
        QStringList L;
        for (int i = 0; i < Parent->childCount(); ++i)
            L << Parent->child(i)->text(0);
        return L;
    }
};

QString WriteFile(const QTemporaryDir& Dir, const QString& Name, const QByteArray& Text) {
    const QString Path = Dir.filePath(Name);
    QFile F(Path);
    F.open(QIODevice::WriteOnly);
    F.write(Text);
    return Path;
}

QByteArray ReadFile(const QString& Path) {
    QFile F(Path);
    F.open(QIODevice::ReadOnly);
    return F.readAll();
}

const QByteArray Decl = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

// A registry nested Levels deep (the root and Levels - 1 groups below it), as the writer
// writes it.
QByteArray NestedRegistry(int Levels) {
    TkivPlainXmlElement Root;
    Root.SetName(QStringLiteral("SubVersion"));
    TkivXmlElement* E = &Root;
    for (int I = 1; I < Levels; ++I) {
        E = E->AddChild(QStringLiteral("ProjektGruppe"));
        E->SetAttribute(QStringLiteral("Name"), QStringLiteral("G%1").arg(I));
    }
    QByteArray B;
    for (const QString& L : TElementXmlWriter(&Root).DocumentLines())
        B += L.toLatin1() + "\r\n";
    return B;
}

int Depth(const QTreeWidgetItem* Top) {
    int Levels = 0;
    for (const QTreeWidgetItem* I = Top; I; I = I->childCount() ? I->child(0) : nullptr)
        ++Levels;
    return Levels;
}

} // namespace

class TestXmlTree : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void elementsFollowTheTree() {
        Fixture F;
        TXMLTreeNode* Root = F.Add(nullptr, "SubVersion", {});
        F.Changes.clear();
        TkivXmlElement* G = Root->XMLElement()->AddChild(QStringLiteral("ProjektGruppe"));
        auto* GNode = static_cast<TNodeXMLElement*>(G)->Node();
        // The name change of the new element is reported before any attribute is set.
        QCOMPARE(F.Changes.size(), 1);
        QCOMPARE(GNode->text(0), QString()); // handler: no "Name" yet
        G->SetAttribute("Name", "Kunden");
        QCOMPARE(F.Changes.size(), 2);
        G->SetAttribute("Name", "Kunden");
        QCOMPARE(F.Changes.size(), 2);
        QCOMPARE(GNode->text(0), QStringLiteral("Kunden"));

        TkivXmlElement* P = G->AddChild(QStringLiteral("Projekt"));
        QCOMPARE(P->GetParent(), G);
        QCOMPARE(G->GetParent(), Root->XMLElement());
        QCOMPARE(Root->XMLElement()->GetParent(), nullptr);
        QCOMPARE(Root->XMLElement()->ChildCount(), 1);
        QCOMPARE(Root->XMLElement()->GetChild(0), G);
        try {
            Root->XMLElement()->GetChild(1);
            QFAIL("no error for index 1");
        } catch (const ETreeViewError& E) {
            QCOMPARE(E.Message(), QStringLiteral("Listenindex überschreitet das Maximum (1)"));
        }
        // A second top-level node reports the document root as its parent.
        TXMLTreeNode* Other = F.Tree.AddChild(nullptr, "X");
        QCOMPARE(Other->XMLElement()->GetParent(), Root->XMLElement());
        F.Tree.DeleteNode(Other);

        G->DeleteChild(5); // no such child: nothing
        QCOMPARE(G->ChildCount(), 1);
        G->Clear(); // deletes the group's node with its project
        QCOMPARE(Root->childCount(), 0);
    }

    void detachedRoot() {
        Fixture F;
        QVERIFY(F.Tree.ShowXMLRoot());
        QCOMPARE(F.Tree.XMLItems()->RootElement(), nullptr);
        F.Tree.AddChild(nullptr, "A");
        F.Tree.SetShowXMLRoot(false);
        QCOMPARE(F.Tree.topLevelItemCount(), 0); // toggling deletes every node
        TkivXmlElement* Root = F.Tree.XMLItems()->RootElement();
        QVERIFY(Root);
        F.Changes.clear();
        Root->SetAttribute("Kurz", "True"); // the detached root raises no event
        QVERIFY(F.Changes.isEmpty());
        TkivXmlElement* Top = Root->AddChild("Projekt");
        QCOMPARE(Root->ChildCount(), 1);
        QCOMPARE(Root->GetChild(0), Top);
        QCOMPARE(Top->GetParent(), Root);

        QTemporaryDir Dir;
        const QString Path = WriteFile(
            Dir, "r.xml",
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<SubVersion Beschreibung=\"d\">"
            "\r\n  <Projekt Name=\"b\"/>\r\n  <Projekt Name=\"a\"/>\r\n</SubVersion>\r\n");
        F.Tree.LoadFromFile(Path);
        QCOMPARE(F.Tree.XMLItems()->RootElement(), Root); // the same object survives
        QCOMPARE(Root->GetAttribute("Beschreibung"), QStringLiteral("d"));
        QCOMPARE(Root->GetAttribute("Kurz"), QString());
        QCOMPARE(F.Tree.topLevelItemCount(), 2);
        QCOMPARE(F.Tree.topLevelItem(0)->text(0), QStringLiteral("a"));
        F.Tree.SetShowXMLRoot(true);
        QCOMPARE(F.Tree.topLevelItemCount(), 0);
        QVERIFY(!F.Tree.XMLItems()->DetachedRoot());
    }

    void sortsByCaption() {
        Fixture F;
        TXMLTreeNode* Root = F.Add(nullptr, "SubVersion", {});
        for (const char* N : {"b", "B", "a", "Zeta", "Älpha"})
            F.Add(Root, "Projekt", N);
        // Locale collation without regard to case, also under the C locale.
        QCOMPARE(F.Captions(Root), (QStringList{"a", "Älpha", "B", "b", "Zeta"}));
        TXMLTreeNode* Zeta = Root->ChildNode(4);
        Zeta->XMLElement()->SetAttribute("Name", "0");
        QCOMPARE(F.Captions(Root).first(), QStringLiteral("0"));
    }

    void dragAndDrop() {
        Fixture F;
        TXMLTreeNode* Root = F.Add(nullptr, "SubVersion", {});
        TXMLTreeNode* G1 = F.Add(Root, "ProjektGruppe", "G1");
        TXMLTreeNode* G2 = F.Add(Root, "ProjektGruppe", "G2");
        TXMLTreeNode* P1 = F.Add(G1, "Projekt", "p1");
        TXMLTreeNode* Sub = F.Add(G1, "ProjektGruppe", "sub");
        F.Add(G2, "Projekt", "z");
        F.Tree.expandAll();
        QVERIFY(QTest::qWaitForWindowExposed(&F.Tree));
        int Asked = 0;
        auto Drag = [&](TXMLTreeNode* Over, bool Drop) {
            const QPoint Pos = F.Tree.visualItemRect(Over).center();
            std::unique_ptr<QMimeData> Data(F.Tree.DragData());
            QDragEnterEvent Enter(Pos, Qt::MoveAction | Qt::CopyAction, Data.get(), Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(F.Tree.viewport(), &Enter);
            QDragMoveEvent Move(Pos, Qt::MoveAction | Qt::CopyAction, Data.get(), Qt::LeftButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(F.Tree.viewport(), &Move);
            if (!Drop)
                return Move.isAccepted();
            QDropEvent DropEv(QPointF(Pos), Qt::MoveAction | Qt::CopyAction, Data.get(),
                              Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(F.Tree.viewport(), &DropEv);
            return Move.isAccepted();
        };
        F.Tree.SetSelected(G1);
        QVERIFY(!Drag(G2, false)); // no handler: nothing accepted
        F.Tree.OnDragOverXML = [&](TkivXMLTreeView*, TXMLTreeNode*, TXMLTreeNode* Over,
                                   bool& Accept) {
            ++Asked;
            Accept = Over->XMLElement()->Name() != QStringLiteral("Projekt");
        };
        QVERIFY(!Drag(G1, false)); // over itself: the handler is not asked
        QCOMPARE(Asked, 0);
        QVERIFY(!Drag(P1, false)); // onto a project: refused by the handler
        QCOMPARE(Asked, 1);

        // A drop onto its own descendant changes nothing.
        Drag(Sub, true);
        QCOMPARE(G1->parent(), Root);
        QCOMPARE(Sub->parent(), G1);

        F.Changes.clear();
        F.Tree.collapseItem(G2);
        QVERIFY(Drag(G2, true));
        QCOMPARE(G1->parent(), G2);
        QCOMPARE(G1->XMLElement()->GetParent(), G2->XMLElement());
        // Sorted in among its new siblings, as every other change of the tree is.
        QCOMPARE(F.Captions(G2), (QStringList{"G1", "z"}));
        QCOMPARE(G2->XMLElement()->GetChild(0), G1->XMLElement());
        QCOMPARE(G1->childCount(), 2);
        QVERIFY(G1->isExpanded());
        QVERIFY(G2->isExpanded());
        QVERIFY(F.Changes.isEmpty());
        QCOMPARE(F.Tree.Selected(), G1);
        QCOMPARE(G1->XMLElement()->GetAttribute("Name"), QStringLiteral("G1"));
        // Only the moved node is selected: the row it left, now another node's, is not.
        QCOMPARE(F.Tree.selectedItems(), QList<QTreeWidgetItem*>{G1});

        // A project dropped between groups lands in caption order too, and again only it is
        // selected afterwards.
        TXMLTreeNode* Z = G2->ChildNode(1);
        F.Tree.SetSelected(Z);
        QVERIFY(Drag(Root, true));
        QCOMPARE(F.Captions(Root), (QStringList{"G2", "z"}));
        QCOMPARE(F.Tree.selectedItems(), QList<QTreeWidgetItem*>{Z});
        F.Tree.SetSelected(P1);
        QVERIFY(Drag(Root, true));
        QCOMPARE(F.Captions(Root), (QStringList{"G2", "p1", "z"}));
        QCOMPARE(F.Captions(G1), QStringList{"sub"});
        QCOMPARE(F.Tree.selectedItems(), QList<QTreeWidgetItem*>{P1});

        // Setting a caption to its own text sorts nothing; a real change sorts the siblings.
        F.Tree.SetSortByText(false);
        TXMLTreeNode* Y = F.Add(G2, "Projekt", "y");
        F.Add(G2, "Projekt", "x");
        F.Tree.SetSortByText(true);
        QCOMPARE(F.Captions(G2), (QStringList{"G1", "y", "x"}));
        Y->SetText(QStringLiteral("y"));
        QCOMPARE(F.Captions(G2), (QStringList{"G1", "y", "x"}));
        Y->XMLElement()->SetAttribute("Name", "yy");
        QCOMPARE(F.Captions(G2), (QStringList{"G1", "x", "yy"}));
    }

    void editsInPlace() {
        Fixture F;
        TXMLTreeNode* Root = F.Add(nullptr, "SubVersion", {});
        TXMLTreeNode* P = F.Add(Root, "Projekt", "alt");
        F.Tree.OnEditing = [&](TkivXMLTreeView*, TXMLTreeNode* N, bool& Allow) {
            Allow = N != Root;
        };
        F.Tree.OnEdited = [&](TkivXMLTreeView*, TXMLTreeNode* N, QString& S) {
            if (S.trimmed().isEmpty())
                S = N->XMLElement()->GetAttribute("Name");
            else
                N->XMLElement()->SetAttribute("Name", S);
        };
        auto Edit = [&](TXMLTreeNode* N, const QString& Text) {
            F.Tree.editItem(N);
            auto* Editor = F.Tree.viewport()->findChild<QLineEdit*>();
            if (!Editor)
                return false;
            Editor->setText(Text);
            QTest::keyClick(Editor, Qt::Key_Return);
            QCoreApplication::processEvents();
            return true;
        };
        QVERIFY(!Edit(Root, "x"));
        QCOMPARE(Root->text(0), QStringLiteral("Projekte"));
        QVERIFY(Edit(P, "Neu"));
        QCOMPARE(P->XMLElement()->GetAttribute("Name"), QStringLiteral("Neu"));
        QCOMPARE(P->text(0), QStringLiteral("Neu"));
        QVERIFY(Edit(P, "   "));
        QCOMPARE(P->XMLElement()->GetAttribute("Name"), QStringLiteral("Neu"));
        QCOMPARE(P->text(0), QStringLiteral("Neu"));

        // Tab and Shift+Tab finish the edit where it is: no editor opens on a neighbour.
        TXMLTreeNode* Q = F.Add(Root, "Projekt", "nachbar");
        QVERIFY(QTest::qWaitForWindowActive(&F.Tree));
        auto OpenEditor = [&]() -> QLineEdit* {
            for (QLineEdit* E : F.Tree.viewport()->findChildren<QLineEdit*>())
                if (E->isVisible())
                    return E;
            return nullptr;
        };
        for (Qt::Key Key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            F.Tree.setFocus();
            F.Tree.SetSelected(P);
            F.Tree.editItem(P);
            QLineEdit* Editor = OpenEditor();
            QVERIFY(Editor);
            Editor->setText(Key == Qt::Key_Tab ? "Mit Tab" : "Rückwärts");
            QTest::keyClick(Editor, Key,
                            Key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
            QTest::qWait(20);
            QVERIFY(!OpenEditor());
            QCOMPARE(P->XMLElement()->GetAttribute("Name"),
                     Key == Qt::Key_Tab ? QStringLiteral("Mit Tab") : QStringLiteral("Rückwärts"));
            QCOMPARE(Q->XMLElement()->GetAttribute("Name"), QStringLiteral("nachbar"));
            QCOMPARE(F.Tree.Selected(), P);
            QVERIFY(F.Tree.hasFocus());
        }
    }

    void imagesFollowState() {
        Fixture F;
        F.Tree.SetImages({QIcon(), QIcon()});
        int Asked = 0;
        F.Tree.OnGetImageIndex = [&](TkivXMLTreeView*, TXMLTreeNode* N, int& I) {
            ++Asked;
            I = N->isExpanded() ? 1 : 0;
        };
        TXMLTreeNode* Root = F.Add(nullptr, "SubVersion", {});
        F.Add(Root, "Projekt", "p");
        Asked = 0;
        Root->data(0, Qt::DecorationRole);
        QCOMPARE(Asked, 1);
    }

    void loadsAndSaves() {
        Fixture F;
        QTemporaryDir Dir;
        TXMLTreeNode* Old = F.Add(nullptr, "SubVersion", {});
        F.Add(Old, "Projekt", "weg");
        const QByteArray Text =
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
            "<SubVersion Beschreibung=\"Alle\">\r\n"
            "  <Projekt Name=\"c\" Verzeichnis=\"/w/c\"/>\r\n"
            "  <ProjektGruppe Name=\"G\">\r\n"
            "    <Projekt Name=\"y\" Verzeichnis=\"/w/y\"/>\r\n"
            "    <Projekt Name=\"x\" Verzeichnis=\"/w/x\"/>\r\n"
            "  </ProjektGruppe>\r\n"
            "  <Projekt Name=\"a &amp; b\" Verzeichnis=\"/w/a\"/>\r\n"
            "</SubVersion>\r\n";
        F.Tree.LoadFromFile(WriteFile(Dir, "in.xml", Text));
        QCOMPARE(F.Tree.topLevelItemCount(), 1);
        TXMLTreeNode* Root = F.Tree.XMLItems()->TopNode(0);
        QCOMPARE(Root->text(0), QStringLiteral("Projekte"));
        QCOMPARE(F.Captions(Root), (QStringList{"a & b", "c", "G"}));
        QVERIFY(F.Tree.updatesEnabled());

        const QString Out = Dir.filePath("out.xml");
        F.Tree.SaveToFile(Out);
        QCOMPARE(ReadFile(Out),
                 QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                            "<SubVersion Beschreibung=\"Alle\">\r\n"
                            "  <Projekt Name=\"a &amp; b\" Verzeichnis=\"/w/a\"/>\r\n"
                            "  <Projekt Name=\"c\" Verzeichnis=\"/w/c\"/>\r\n"
                            "  <ProjektGruppe Name=\"G\">\r\n"
                            "    <Projekt Name=\"x\" Verzeichnis=\"/w/x\"/>\r\n"
                            "    <Projekt Name=\"y\" Verzeichnis=\"/w/y\"/>\r\n"
                            "  </ProjektGruppe>\r\n"
                            "</SubVersion>\r\n"));

        // Only the root node is the document, also when another one sorts before it.
        const QByteArray Saved = ReadFile(Out);
        TXMLTreeNode* Extra = F.Tree.AddChild(nullptr, "Extra");
        Extra->XMLElement()->SetName("Projekt");
        Extra->XMLElement()->SetAttribute("Name", "Alt");
        QCOMPARE(F.Tree.XMLItems()->TopNode(0), Extra);
        F.Tree.SaveToFile(Out);
        QCOMPARE(ReadFile(Out), Saved);

        // Malformed XML leaves no nodes, and the tree paints again.
        QVERIFY_THROWS_EXCEPTION(EkivXmlException,
                                 F.Tree.LoadFromFile(WriteFile(
                                     Dir, "bad.xml",
                                     "<?xml version=\"1.0\"?>\r\n<SubVersion>\r\n<Projekt>\r\n")));
        QCOMPARE(F.Tree.topLevelItemCount(), 0);
        QVERIFY(F.Tree.updatesEnabled());

        // An empty tree writes the declaration alone.
        F.Tree.SaveToFile(Out);
        QCOMPARE(ReadFile(Out), QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"));
        QVERIFY_THROWS_EXCEPTION(EFileError, F.Tree.LoadFromFile(Dir.filePath("none.xml")));
    }

    void failedLoadLeavesNoNodes_data() {
        QTest::addColumn<QByteArray>("Text"); // empty: no such file
        QTest::addColumn<bool>("ShowRoot");
        QTest::addColumn<bool>("SingleRoot");
        QTest::addColumn<QString>("Error");
        const QByteArray Second = Decl + "<A/>\r\n<B><C/>\r\n";
        const QByteArray TwoRoots = Decl +
                                    "<SubVersion>\r\n  <Projekt Name=\"p\"/>\r\n</SubVersion>\r\n"
                                    "<Projekt Name=\"Alt\" Verzeichnis=\"/tmp\"/>\r\n";
        const QByteArray Quote = Decl + "<SubVersion>\r\n  <Projekt Name=\"p\" V=\"x/>\r\n"
                                        "</SubVersion>\r\n";
        for (bool Show : {true, false}) {
            const char* Mode = Show ? "shown root: " : "detached root: ";
            auto Row = [&](const char* Tag, const QByteArray& Text, const char* Error,
                           bool Single = true) {
                QTest::newRow(qPrintable(QString::fromLatin1(Mode) + QLatin1String(Tag)))
                    << Text << Show << Single << QString::fromLatin1(Error);
            };
            Row("unclosed second top-level element", Second, typeid(EkivXmlException).name(),
                false);
            Row("second top-level element refused", Second, typeid(EXmlRootError).name());
            Row("two roots", TwoRoots, typeid(EXmlRootError).name());
            Row("unterminated quote", Quote, typeid(EkivXmlException).name());
            Row("1001 levels", NestedRegistry(1001), typeid(EXmlDepthError).name());
            Row("no file", QByteArray(), typeid(EFileError).name());
        }
    }

    void failedLoadLeavesNoNodes() {
        QFETCH(QByteArray, Text);
        QFETCH(bool, ShowRoot);
        QFETCH(bool, SingleRoot);
        QFETCH(QString, Error);
        Fixture F;
        F.Tree.SetShowXMLRoot(ShowRoot);
        F.Tree.SetMaxDepth(RegistryMaxDepth);
        F.Tree.SetSingleRoot(SingleRoot);
        QTemporaryDir Dir;
        const QString Good =
            WriteFile(Dir, "good.xml",
                      Decl + "<SubVersion Kurz=\"True\">\r\n  <Projekt Name=\"p\"/>"
                             "\r\n</SubVersion>\r\n");
        F.Tree.LoadFromFile(Good);
        QVERIFY(F.Tree.topLevelItemCount() > 0);
        const QString Path =
            Text.isEmpty() ? Dir.filePath("none.xml") : WriteFile(Dir, "bad.xml", Text);
        try {
            F.Tree.LoadFromFile(Path);
            QFAIL("the file was read");
        } catch (const EkivError& E) {
            QCOMPARE(QString::fromLatin1(typeid(E).name()), Error);
        }
        QCOMPARE(F.Tree.topLevelItemCount(), 0);
        QVERIFY(F.Tree.updatesEnabled());
        if (ShowRoot)
            QCOMPARE(F.Tree.XMLItems()->RootElement(), nullptr);
        // The tree works as before.
        F.Tree.LoadFromFile(Good);
        QCOMPARE(F.Tree.XMLItems()->RootElement()->GetBoolAttribute("Kurz"), true);
    }

    void rootStaysTheRoot() {
        Fixture F;
        QTemporaryDir Dir;
        // A second top-level element whose caption sorts first.
        const QByteArray Registry = Decl + "<SubVersion Kurz=\"True\">\r\n"
                                           "  <Projekt Name=\"p\" Verzeichnis=\"/w/p\"/>\r\n"
                                           "</SubVersion>\r\n";
        F.Tree.LoadFromFile(WriteFile(
            Dir, "two.xml", Registry + "<Projekt Name=\"Alt\" Verzeichnis=\"/tmp\"/>\r\n"));
        QCOMPARE(F.Tree.topLevelItemCount(), 2);
        TXMLTreeNode* Alt = F.Tree.XMLItems()->TopNode(0);
        QCOMPARE(Alt->text(0), QStringLiteral("Alt"));
        TkivXmlElement* Root = F.Tree.XMLItems()->RootElement();
        QCOMPARE(Root->Name(), QStringLiteral("SubVersion"));
        QCOMPARE(F.Tree.XMLItems()->RootNode(), F.Tree.XMLItems()->TopNode(1));
        QCOMPARE(Alt->XMLElement()->GetParent(), Root);
        const QString Out = Dir.filePath("out.xml");
        F.Tree.SaveToFile(Out);
        QCOMPARE(ReadFile(Out), Registry);

        // Captions that change and sort again leave it alone.
        Alt->XMLElement()->SetAttribute("Name", "Zzz");
        QCOMPARE(F.Tree.XMLItems()->TopNode(1), Alt);
        Alt->XMLElement()->SetAttribute("Name", "Aaa");
        QCOMPARE(F.Tree.XMLItems()->RootElement(), Root);

        // When the root goes, the first top-level node left is the root.
        F.Tree.DeleteNode(F.Tree.XMLItems()->RootNode());
        QCOMPARE(F.Tree.XMLItems()->RootElement(), Alt->XMLElement());
        QCOMPARE(Alt->XMLElement()->GetParent(), nullptr);

        // On an emptied tree the first node the program adds is the root.
        F.Tree.DeleteAllNodes();
        QCOMPARE(F.Tree.XMLItems()->RootElement(), nullptr);
        TXMLTreeNode* New = F.Add(nullptr, "SubVersion", {});
        TXMLTreeNode* Other = F.Tree.AddChild(nullptr, "Other");
        Other->XMLElement()->SetAttribute("Name", "0");
        QCOMPARE(F.Tree.XMLItems()->TopNode(0), Other);
        QCOMPARE(F.Tree.XMLItems()->RootElement(), New->XMLElement());
        QCOMPARE(New->text(0), QStringLiteral("Projekte"));
        delete New; // also when a node is deleted past the tree's own operations
        QCOMPARE(F.Tree.XMLItems()->RootNode(), Other);
    }

    void deepTrees() {
        // As deep as the registry may be: it loads, opens, saves and goes away.
        QTemporaryDir Dir;
        const QByteArray Text = NestedRegistry(RegistryMaxDepth);
        const QString In = WriteFile(Dir, "deep.xml", Text);
        {
            TkivXMLTreeView Tree;
            Tree.SetSortByText(true);
            Tree.SetMaxDepth(RegistryMaxDepth);
            Tree.SetSingleRoot(true);
            Tree.LoadFromFile(In);
            QCOMPARE(Depth(Tree.topLevelItem(0)), RegistryMaxDepth);
            Tree.resize(200, 200);
            Tree.show();
            Tree.expandAll();
            QCoreApplication::processEvents();
            const QString Out = Dir.filePath("out.xml");
            Tree.SaveToFile(Out);
            QCOMPARE(ReadFile(Out), Text);
            Tree.DeleteNode(Tree.XMLItems()->TopNode(0)->ChildNode(0));
            QCOMPARE(Depth(Tree.topLevelItem(0)), 1);
            Tree.LoadFromFile(In);
            Tree.expandAll();
            Tree.DeleteAllNodes();
            QCOMPARE(Tree.topLevelItemCount(), 0);
            Tree.LoadFromFile(In);
        } // destroyed holding the deep tree

        // Deleting never recurses: a subtree far deeper than any file, taken apart on a
        // thread whose stack holds only a few hundred frames.
        TkivXMLTreeView Tree;
        TXMLTreeNode* Top = Tree.CreateNode();
        TXMLTreeNode* Leaf = Top;
        for (int I = 0; I < 20000; ++I) {
            TXMLTreeNode* Child = Tree.CreateNode();
            Leaf->addChild(Child);
            Leaf = Child;
        }
        bool Done = false;
        std::unique_ptr<QThread> Worker(QThread::create([&] {
            delete Top;
            Done = true;
        }));
        Worker->setStackSize(128 * 1024);
        Worker->start();
        QVERIFY(Worker->wait(60000));
        QVERIFY(Done);
    }
};

QTEST_MAIN(TestXmlTree)
#include "tst_xmltree.moc"
