// Loading a large registry into a sorted tree whose change handler sets the captions, as the
// main window does, and saving it again. Run: QT_QPA_PLATFORM=offscreen bench_xmltree
#include "kiv_XMLTreeView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static QString MakeRegistry(const QString& Path, int Projects, int Groups) {
    QByteArray Text = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                      "<SubVersion Beschreibung=\"Alle Subversionsprojekte verwalten\">\r\n";
    const int PerGroup = Projects / Groups;
    for (int g = 0; g < Groups; ++g) {
        Text += "  <ProjektGruppe Name=\"Gruppe " + QByteArray::number((g * 37) % Groups) + "\">\r\n";
        for (int p = 0; p < PerGroup; ++p) {
            const QByteArray N = QByteArray::number((p * 7919) % PerGroup);
            Text += "    <Projekt Name=\"Projekt " + N + "\" Verzeichnis=\"/home/anna/src/g" +
                    QByteArray::number(g) + "/p" + N + "\"/>\r\n";
        }
        Text += "  </ProjektGruppe>\r\n";
    }
    Text += "</SubVersion>\r\n";
    QFile F(Path);
    F.open(QIODevice::WriteOnly);
    F.write(Text);
    return Path;
}

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QTemporaryDir Dir;
    for (int Projects : {10000, 20000}) {
        const QString In = MakeRegistry(Dir.filePath("in.xml"), Projects, 100);
        double BestLoad = 1e9, BestSave = 1e9;
        for (int Round = 0; Round < 5; ++Round) {
            TkivXMLTreeView Tree;
            Tree.SetSortByText(true);
            Tree.OnChangeXML = [](TkivXMLTreeView* S, TXMLTreeNode* N) {
                N->SetText(N->XMLElement() == S->XMLItems()->RootElement()
                               ? QStringLiteral("Projekte")
                               : N->XMLElement()->GetAttribute(QStringLiteral("NAME")));
            };
            Tree.show();
            QElapsedTimer T;
            T.start();
            Tree.LoadFromFile(In);
            BestLoad = std::min(BestLoad, T.nsecsElapsed() / 1e6);
            T.restart();
            Tree.SaveToFile(Dir.filePath("out.xml"));
            BestSave = std::min(BestSave, T.nsecsElapsed() / 1e6);
        }
        std::printf("%d projects in 100 groups: load %.1f ms, save %.1f ms (best of 5)\n",
                    Projects, BestLoad, BestSave);
    }
    return 0;
}
