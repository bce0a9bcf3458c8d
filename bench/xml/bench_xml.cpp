// Registry of N projects in 100 groups: our reader and writer timed against libxml2's parse
// and save of the same file in the same run. Our save is atomic and synced (QSaveFile), so
// libxml2's save is timed both plain and followed by fdatasync.
// Usage: bench_xml [projects...] (default 10000 20000). Prints the median of seven runs.
#include "kiv_XmlObjects.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

std::unique_ptr<TkivPlainXmlElement> MakeRegistry(int Projects) {
    auto Root = std::make_unique<TkivPlainXmlElement>();
    Root->SetName(QStringLiteral("SubVersion"));
    Root->SetAttribute(QStringLiteral("Beschreibung"),
                       QStringLiteral("Alle Subversionsprojekte verwalten"));
    Root->SetBoolAttribute(QStringLiteral("Kurz"), true);
    Root->SetAttribute(QStringLiteral("HTML_Export"), QStringLiteral("/home/benutzer/Dokumente/"));
    constexpr int Groups = 100;
    std::vector<TkivXmlElement*> G;
    for (int I = 0; I < Groups; ++I) {
        G.push_back(Root->AddChild(QStringLiteral("ProjektGruppe")));
        G.back()->SetAttribute(QStringLiteral("Name"),
                               QStringLiteral("Gruppe %1 für Kunden & Co").arg(I));
    }
    for (int I = 0; I < Projects; ++I) {
        const int Gi = I % Groups;
        auto* P = G[size_t(Gi)]->AddChild(QStringLiteral("Projekt"));
        P->SetAttribute(QStringLiteral("Name"),
                        QStringLiteral("Projekt %1 Übersicht").arg(I, 5, 10, QLatin1Char('0')));
        P->SetAttribute(
            QStringLiteral("Verzeichnis"),
            QStringLiteral("/home/benutzer/Projekte/gruppe-%1/projekt-%2/trunk/").arg(Gi).arg(I));
    }
    return Root;
}

double MedianMs(int Runs, const std::function<void()>& F) {
    std::vector<double> T;
    for (int I = 0; I < Runs; ++I) {
        QElapsedTimer Clock;
        Clock.start();
        F();
        T.push_back(double(Clock.nsecsElapsed()) / 1e6);
    }
    std::sort(T.begin(), T.end());
    return T[T.size() / 2];
}

void Run(int Projects, const QString& DirPath) {
    const QString File = DirPath + QStringLiteral("/registry-%1.xml").arg(Projects);
    const QByteArray FileName = QFile::encodeName(File);
    auto Tree = MakeRegistry(Projects);
    TElementXmlWriter(Tree.get()).SaveToFile(File);
    const qint64 Size = QFile(File).size();
    constexpr int Runs = 7;

    const double OurRead = MedianMs(Runs, [&] {
        TPlainXmlReader R;
        R.LoadFromFile(File);
        if (!R.Root() || R.Root()->ChildCount() != 100)
            std::abort();
    });
    const double TheirRead = MedianMs(Runs, [&] {
        xmlDocPtr Doc = xmlReadFile(FileName.constData(), nullptr, XML_PARSE_NONET);
        if (!Doc)
            std::abort();
        xmlFreeDoc(Doc);
    });

    TPlainXmlReader R;
    R.LoadFromFile(File);
    const QString OurOut = DirPath + QStringLiteral("/ours.xml");
    const double OurWrite = MedianMs(Runs, [&] { TElementXmlWriter(R.Root()).SaveToFile(OurOut); });
    const double OurText = MedianMs(Runs, [&] {
        const QStringList Lines = TElementXmlWriter(R.Root()).DocumentLines();
        if (EncodeWindows1252(Lines.join(QLatin1String("\r\n"))).isEmpty())
            std::abort();
    });
    xmlDocPtr Doc = xmlReadFile(FileName.constData(), nullptr, XML_PARSE_NONET);
    const QByteArray TheirOut = QFile::encodeName(DirPath + QStringLiteral("/theirs.xml"));
    const double TheirWrite = MedianMs(Runs, [&] {
        if (xmlSaveFile(TheirOut.constData(), Doc) < 0)
            std::abort();
    });
    // The same save made durable, as ours is (QSaveFile syncs the data before the rename).
    const double TheirDurable = MedianMs(Runs, [&] {
        if (xmlSaveFile(TheirOut.constData(), Doc) < 0)
            std::abort();
        const int Fd = ::open(TheirOut.constData(), O_RDWR);
        if (Fd < 0 || ::fdatasync(Fd) != 0)
            std::abort();
        ::close(Fd);
    });
    xmlFreeDoc(Doc);

    std::printf("%6d projects, %8lld bytes\n", Projects, static_cast<long long>(Size));
    std::printf("  read : ours %8.2f ms   libxml2 parse %8.2f ms   ratio %.2f\n", OurRead,
                TheirRead, OurRead / TheirRead);
    std::printf("  write: ours %8.2f ms   libxml2 save  %8.2f ms   ratio %.2f\n", OurWrite,
                TheirWrite, OurWrite / TheirWrite);
    std::printf("         with fdatasync on both sides: libxml2 %.2f ms, ratio %.2f;"
                " our text alone (no file) %.2f ms\n",
                TheirDurable, OurWrite / TheirDurable, OurText);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir Dir;
    std::vector<int> Sizes;
    for (int I = 1; I < argc; ++I)
        Sizes.push_back(std::atoi(argv[I]));
    if (Sizes.empty())
        Sizes = {10000, 20000};
    for (int N : Sizes)
        Run(N, Dir.path());
    xmlCleanupParser();
    return 0;
}
