#include "kiv_nodestate.h"

#include <QLocale>

#include <cmath>

namespace {

double Channel(double C) {
    return C <= 0.03928 ? C / 12.92 : std::pow((C + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& C) {
    return 0.2126 * Channel(C.redF()) + 0.7152 * Channel(C.greenF()) + 0.0722 * Channel(C.blueF());
}

// The colour's hue and saturation, made lighter or darker until it can be read on Base.
QColor Readable(QColor C, const QColor& Base) {
    const bool DarkBase = Luminance(Base) < 0.5;
    float H, S, L, A;
    C.getHslF(&H, &S, &L, &A);
    for (int I = 0; I < 40 && ContrastRatio(C, Base) < 4.5; ++I) {
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

QColor ReadableOn(const QColor& Colour, const QColor& Base) {
    return Readable(Colour, Base);
}

double ContrastRatio(const QColor& A, const QColor& B) {
    const double LA = Luminance(A), LB = Luminance(B);
    return (std::max(LA, LB) + 0.05) / (std::min(LA, LB) + 0.05);
}

TNodeLook LookOf(TSvnState State, const QPalette& Palette) {
    const TStateLook K = StateRow(State).Look;
    TNodeLook L;
    L.Foreground = Readable(BaseColour(K), Palette.color(QPalette::Base));
    L.Bold = K == TStateLook::Changed || K == TStateLook::Behind || K == TStateLook::Conflict ||
             K == TStateLook::Error;
    L.Italic = K == TStateLook::Missing;
    return L;
}

QString NodeToolTip(TSvnTask Task, TSvnState State, const TSvnVerdict& Verdict,
                    const QDateTime& When) {
    QString What = StateText(State);
    if (State == TSvnState::Updated && Verdict.Files > 0)
        What += Verdict.Files == 1 ? QStringLiteral(" (1 Datei)")
                                   : QStringLiteral(" (%1 Dateien)").arg(Verdict.Files);
    else if (State == TSvnState::OutOfDate && Verdict.HasChanges)
        What += QStringLiteral(", mit lokalen Änderungen");
    const QLocale German(QLocale::German);
    const QString Time = When.date() == QDate::currentDate()
                             ? German.toString(When.time(), QStringLiteral("HH:mm"))
                             : German.toString(When, QStringLiteral("dd.MM.yyyy HH:mm"));
    return QStringLiteral("%1 um %2: %3").arg(TaskTitle(Task), Time, What);
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
        {TSvnState::Error, "Fehler, kein Arbeitsverzeichnis, Zeitlimit"},
        {TSvnState::Missing, "Verzeichnis fehlt"},
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
