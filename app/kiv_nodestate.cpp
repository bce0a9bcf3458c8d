#include "kiv_nodestate.h"

#include "kiv_folders.h"
#include "kiv_kinds.h"

#include <QBrush>
#include <QFont>
#include <QLocale>
#include <QTreeWidget>

#include <cmath>

namespace {

double Channel(double C) {
    return C <= 0.03928 ? C / 12.92 : std::pow((C + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& C) {
    return 0.2126 * Channel(C.redF()) + 0.7152 * Channel(C.greenF()) + 0.0722 * Channel(C.blueF());
}

// The colour's hue and saturation, made lighter or darker until it can be read on Base.
QColor Readable(QColor C, const QColor& Base, double Ratio = 4.5) {
    const bool DarkBase = Luminance(Base) < 0.5;
    float H, S, L, A;
    C.getHslF(&H, &S, &L, &A);
    for (int I = 0; I < 40 && ContrastRatio(C, Base) < Ratio; ++I) {
        L = DarkBase ? std::min(1.0f, L + 0.025f) : std::max(0.0f, L - 0.025f);
        C.setHslF(H, S, L, A);
    }
    return C;
}

QColor BaseColour(TStateLook K) {
    switch (K) {
    case TStateLook::Good:
        return QColor(0x1a, 0x7f, 0x37);
    case TStateLook::Changed:
        return QColor(0x1f, 0x4e, 0xb4);
    case TStateLook::Behind:
        return QColor(0x9a, 0x4d, 0x00);
    case TStateLook::Conflict:
        return QColor(0xb0, 0x00, 0x70);
    case TStateLook::Error:
        return QColor(0xc0, 0x00, 0x00);
    case TStateLook::Missing:
    case TStateLook::Neutral:
        return QColor(0x70, 0x70, 0x70);
    }
    return QColor();
}

} // namespace

QColor ReadableOn(const QColor& Colour, const QColor& Base, double Ratio) {
    return Readable(Colour, Base, Ratio);
}

double ContrastRatio(const QColor& A, const QColor& B) {
    const double LA = Luminance(A), LB = Luminance(B);
    return (std::max(LA, LB) + 0.05) / (std::min(LA, LB) + 0.05);
}

TNodeLook LookOf(TSvnState State, const QPalette& Palette, bool Stale) {
    const TStateLook K = StateRow(State).Look;
    const QColor Base = Palette.color(QPalette::Base);
    TNodeLook L;
    QColor C = BaseColour(K);
    if (Stale) {
        // Halfway to the background, but still readable.
        C = QColor((C.red() + Base.red()) / 2, (C.green() + Base.green()) / 2,
                   (C.blue() + Base.blue()) / 2);
        L.Foreground = Readable(C, Base, 3.0);
    } else {
        L.Foreground = Readable(C, Base);
        L.Bold = K == TStateLook::Changed || K == TStateLook::Behind ||
                 K == TStateLook::Conflict || K == TStateLook::Error;
    }
    L.Italic = K == TStateLook::Missing;
    return L;
}

QString ServerToolTip(const TServerNews& N, const QDateTime& Now) {
    const QLocale German(QLocale::German);
    const QDateTime When = N.Time.toLocalTime();
    QString Tip = QStringLiteral("Server ");
    if (When.date() != Now.date())
        Tip += QStringLiteral("am %1 ").arg(
            German.toString(When.date(), QStringLiteral("dd.MM.yyyy")));
    Tip += QStringLiteral("um %1: ").arg(German.toString(When.time(), QStringLiteral("HH:mm")));
    if (!N.Behind()) {
        Tip += N.State == TSvnState::Clean ? QStringLiteral("keine neuen Revisionen")
                                           : StateText(N.State);
        if (!N.Notes.isEmpty())
            Tip += u'\n' + N.Notes.first();
        return Tip;
    }
    if (N.NewRevisions < 0)
        Tip += QStringLiteral("neue Revisionen");
    else if (N.More)
        Tip += QStringLiteral("%1 oder mehr neue Revisionen").arg(German.toString(N.NewRevisions));
    else
        Tip += N.NewRevisions == 1
                   ? QStringLiteral("1 neue Revision")
                   : QStringLiteral("%1 neue Revisionen").arg(German.toString(N.NewRevisions));
    // The newest first, each on a line: revision, author, the message's first line.
    constexpr int Shown = 8;
    for (int i = 0; i < N.Log.size() && i < Shown; ++i) {
        const TLogEntry& E = N.Log.at(i);
        QString Line = QStringLiteral("\n  r%1 %2")
                           .arg(E.Revision)
                           .arg(E.Author.isEmpty() ? QStringLiteral("(ohne Autor)") : E.Author);
        if (!E.Message.isEmpty())
            Line += QStringLiteral(": ") + E.Message.left(100);
        Tip += Line;
    }
    if (N.Log.size() > Shown)
        Tip += QStringLiteral("\n  … und %1 weitere").arg(German.toString(N.Log.size() - Shown));
    return Tip;
}

QString NodeToolTip(const TStoredState& S, bool Fresh, const QDateTime& Now) {
    // What the server said, unless the state above is that very answer.
    const bool Later = S.Server.Known() && (S.Server.Time != S.Time || !S.Server.Log.isEmpty());
    const QString Server = Later ? u'\n' + ServerToolTip(S.Server, Now) : QString();
    const QLocale German(QLocale::German);
    QString What = StateText(S.State);
    if (S.Task == TSvnTask::Update && S.RevisionChanged && S.Revision >= 0)
        What += QStringLiteral(", auf Revision %1").arg(S.Revision);
    if (S.State == TSvnState::Updated && S.Files > 0)
        What += S.Files == 1 ? QStringLiteral(" (1 Datei)")
                             : QStringLiteral(" (%1 Dateien)").arg(German.toString(S.Files));
    else if (S.State == TSvnState::OutOfDate && S.HasChanges)
        What += QStringLiteral(", mit lokalen Änderungen");
    if (S.Switched)
        What += QStringLiteral("; Teile umgeschaltet (svn switch)");
    const QDateTime When = S.Time.toLocalTime();
    const QString Time = German.toString(When.time(), QStringLiteral("HH:mm"));
    if (!Fresh || When.date() != Now.date()) {
        const QString Day = German.toString(When.date(), QStringLiteral("dd.MM.yyyy"));
        QString Tip = QStringLiteral("%1 am %2 um %3: %4").arg(TaskTitle(S.Task), Day, Time, What);
        if (!Fresh)
            Tip += QStringLiteral("\nStand aus einem früheren Programmlauf, seitdem nicht "
                                  "geprüft");
        return Tip + Server;
    }
    return QStringLiteral("%1 um %2: %3").arg(TaskTitle(S.Task), Time, What) + Server;
}

void TTreeLook::SetPalette(const QPalette& Palette) {
    FLooks.clear();
    FStaleLooks.clear();
    for (const TStateRow& R : StateRows()) {
        FLooks << LookOf(R.State, Palette);
        FStaleLooks << LookOf(R.State, Palette, true);
    }
}

const TStoredState* TTreeLook::StateOf(const TXMLTreeNode* Node) const {
    const TkivXmlElement* E = Node ? Node->XMLElement() : nullptr;
    if (!E || !FStore || ElementKindOf(E->Name()) != ekProject)
        return nullptr;
    return FStore->Find(ProjectFolder(E->GetAttribute(QStringLiteral("Verzeichnis"))));
}

QVariant TTreeLook::Data(const TXMLTreeNode* Node, int Role) const {
    if (Role != Qt::ForegroundRole && Role != Qt::FontRole && Role != Qt::ToolTipRole &&
        Role != NodeStateRole)
        return QVariant();
    const TStoredState* S = StateOf(Node);
    if (!S)
        return QVariant();
    const bool Fresh = FStore->Fresh(*S);
    if (Role == NodeStateRole)
        return int(S->Shown());
    if (Role == Qt::ToolTipRole)
        return NodeToolTip(*S, Fresh, QDateTime::currentDateTime());
    const int I = int(S->Shown());
    if (I >= FLooks.size())
        return QVariant();
    const TNodeLook& L = Fresh ? FLooks.at(I) : FStaleLooks.at(I);
    if (Role == Qt::ForegroundRole)
        return L.Foreground.isValid() ? QVariant(QBrush(L.Foreground)) : QVariant();
    if (!L.Bold && !L.Italic)
        return QVariant();
    QFont F = Node->treeWidget() ? Node->treeWidget()->font() : QFont();
    F.setBold(L.Bold);
    F.setItalic(L.Italic);
    return F;
}

QVariant TStateNode::data(int Column, int Role) const {
    if (Column == 0) {
        const QVariant V = FLook->Data(this, Role);
        if (V.isValid())
            return V;
    }
    return TXMLTreeNode::data(Column, Role);
}

QString LegendHtml(const QPalette& Palette) {
    struct {
        TSvnState State;
        const char* Text;
    } const Rows[] = {
        {TSvnState::Clean, "keine Änderungen, bereits aktuell"},
        {TSvnState::Changes, "lokale Änderungen, aktualisiert"},
        {TSvnState::OutOfDate, "veraltet: der Server ist weiter"},
        {TSvnState::Conflict, "Konflikt"},
        {TSvnState::Error, "Fehler, kein Arbeitsverzeichnis, Zeitlimit, Anmeldung nötig"},
        {TSvnState::Missing, "Verzeichnis fehlt"},
        {TSvnState::NoServer, "Server nicht erreichbar"},
    };
    QString Html = QStringLiteral("<b>Farben im Baum</b> (nach dem letzten Lauf):<table>");
    for (const auto& R : Rows) {
        const TNodeLook L = LookOf(R.State, Palette);
        QString Sample = QStringLiteral("Projekt");
        if (L.Bold)
            Sample = QStringLiteral("<b>%1</b>").arg(Sample);
        if (L.Italic)
            Sample = QStringLiteral("<i>%1</i>").arg(Sample);
        Html += QStringLiteral("<tr><td style=\"color:%1\">%2</td><td>%3</td></tr>")
                    .arg(L.Foreground.name(), Sample, QString::fromUtf8(R.Text));
    }
    return Html + QStringLiteral("</table>");
}
