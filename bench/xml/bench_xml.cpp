// Registry of N projects in 100 groups: our reader and writer timed against libxml2's parse
// and save of the same file in the same run. Our save is atomic and synced (QSaveFile), so
// libxml2's save is timed both plain and followed by fdatasync.
// Usage: bench_xml [projects...] (default 10000 20000). Prints the median of eleven runs, ours and
// libxml2's taken in turn.
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

// Medians of A and B, measured in turn so that a busy machine slows both alike.
std::pair<double, double> MedianMs(int Runs, const std::function<void()>& A,
                                   const std::function<void()>& B) {
    std::vector<double> Ta, Tb;
    auto Time = [](const std::function<void()>& F) {
        QElapsedTimer Clock;
        Clock.start();
        F();
        return double(Clock.nsecsElapsed()) / 1e6;
    };
    for (int I = 0; I < Runs; ++I) {
        Ta.push_back(Time(A));
        Tb.push_back(Time(B));
    }
    std::sort(Ta.begin(), Ta.end());
    std::sort(Tb.begin(), Tb.end());
    return {Ta[Ta.size() / 2], Tb[Tb.size() / 2]};
}

void Run(int Projects, const QString& DirPath) {
    const QString File = DirPath + QStringLiteral("/registry-%1.xml").arg(Projects);
    const QByteArray FileName = QFile::encodeName(File);
    auto Tree = MakeRegistry(Projects);
    TElementXmlWriter(Tree.get()).SaveToFile(File);
    const qint64 Size = QFile(File).size();
    constexpr int Runs = 11;

    const auto [OurRead, TheirRead] = MedianMs(
        Runs,
        [&] {
            TPlainXmlReader R;
            R.LoadFromFile(File);
            if (!R.Root() || R.Root()->ChildCount() != 100)
                std::abort();
        },
        [&] {
            xmlDocPtr Doc = xmlReadFile(FileName.constData(), nullptr, XML_PARSE_NONET);
            if (!Doc)
                std::abort();
            xmlFreeDoc(Doc);
        });

    TPlainXmlReader R;
    R.LoadFromFile(File);
    xmlDocPtr Doc = xmlReadFile(FileName.constData(), nullptr, XML_PARSE_NONET);
    const QString OurOut = DirPath + QStringLiteral("/ours.xml");
    const QByteArray TheirOut = QFile::encodeName(DirPath + QStringLiteral("/theirs.xml"));
    auto OurSave = [&] { TElementXmlWriter(R.Root()).SaveToFile(OurOut); };
    const auto [OurWrite, TheirWrite] = MedianMs(Runs, OurSave, [&] {
        if (xmlSaveFile(TheirOut.constData(), Doc) < 0)
            std::abort();
    });
    // The same save made durable, as ours is (QSaveFile syncs the data before the rename).
    const auto [OurWrite2, TheirDurable] = MedianMs(Runs, OurSave, [&] {
        if (xmlSaveFile(TheirOut.constData(), Doc) < 0)
            std::abort();
        const int Fd = ::open(TheirOut.constData(), O_RDWR);
        if (Fd < 0 || ::fdatasync(Fd) != 0)
            std::abort();
        ::close(Fd);
    });
    const auto [OurText, Unused] = MedianMs(
        Runs,
        [&] {
            const QStringList Lines = TElementXmlWriter(R.Root()).DocumentLines();
            if (EncodeWindows1252(Lines.join(QLatin1String("\r\n"))).isEmpty())
                std::abort();
        },
        [] {});
    xmlFreeDoc(Doc);

    std::printf("%6d projects, %8lld bytes\n", Projects, static_cast<long long>(Size));
    std::printf("  read : ours %8.2f ms   libxml2 parse %8.2f ms   ratio %.2f\n", OurRead,
                TheirRead, OurRead / TheirRead);
    std::printf("  write: ours %8.2f ms   libxml2 save  %8.2f ms   ratio %.2f\n", OurWrite,
                TheirWrite, OurWrite / TheirWrite);
    std::printf("         with fdatasync on both sides: libxml2 %.2f ms, ratio %.2f;"
                " our text alone (no file) %.2f ms\n",
                TheirDurable, OurWrite2 / TheirDurable, OurText);
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
