#include "kiv_diffview.h"

#include "kiv_nodestate.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLocale>
#include <QSyntaxHighlighter>
#include <QTextBlock>

namespace {

// The hue over the base: a light ground on a light base, a dark one on a dark base.
QColor Tint(const QColor& Base, const QColor& Hue, double Amount) {
    return QColor::fromRgbF(float(Base.redF() * (1 - Amount) + Hue.redF() * Amount),
                            float(Base.greenF() * (1 - Amount) + Hue.greenF() * Amount),
                            float(Base.blueF() * (1 - Amount) + Hue.blueF() * Amount));
}

} // namespace

TDiffColours DiffColours(const QPalette& Palette) {
    const QColor Base = Palette.color(QPalette::Base);
    const QColor Text = Palette.color(QPalette::Text);
    const QColor Red(0xd0, 0x20, 0x20), Green(0x20, 0xa0, 0x40), Blue(0x1f, 0x4e, 0xb4),
        Grey(0x70, 0x70, 0x70), Purple(0x90, 0x30, 0xa0);
    TDiffColours C;
    C.RemovedBack = Tint(Base, Red, 0.16);
    C.AddedBack = Tint(Base, Green, 0.16);
    C.RemovedText = ReadableOn(Text, C.RemovedBack);
    C.AddedText = ReadableOn(Text, C.AddedBack);
    C.HunkText = ReadableOn(Purple, Base);
    C.HeaderText = ReadableOn(Blue, Base);
    C.NoteText = ReadableOn(Grey, Base);
    return C;
}

class TDiffHighlighter : public QSyntaxHighlighter {
public:
    explicit TDiffHighlighter(TDiffView* View)
        : QSyntaxHighlighter(View->document()), FView(View) {}

protected:
    void highlightBlock(const QString& Text) override {
        const TDiffColours& C = FView->FColours;
        QTextCharFormat F;
        switch (FView->Kind(currentBlock().blockNumber())) {
        case TDiffLine::Removed:
            F.setBackground(C.RemovedBack);
            F.setForeground(C.RemovedText);
            break;
        case TDiffLine::Added:
            F.setBackground(C.AddedBack);
            F.setForeground(C.AddedText);
            break;
        case TDiffLine::Hunk:
            F.setForeground(C.HunkText);
            break;
        case TDiffLine::Header:
            F.setForeground(C.HeaderText);
            F.setFontWeight(QFont::Bold);
            break;
        case TDiffLine::Note:
            F.setForeground(C.NoteText);
            F.setFontItalic(true);
            break;
        case TDiffLine::Context:
            return;
        }
        setFormat(0, int(Text.size()), F);
    }

private:
    TDiffView* FView;
};

TDiffView::TDiffView(QWidget* Parent) : QPlainTextEdit(Parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The client aligns its headings with tabs of eight columns, as a terminal shows them.
    setTabStopDistance(fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 8);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FColours = DiffColours(palette());
    FHighlighter = new TDiffHighlighter(this);
}

TDiffLine TDiffView::Kind(int Line) const {
    return Line >= 0 && Line < int(FKinds.size()) ? FKinds[size_t(Line)] : TDiffLine::Context;
}

void TDiffView::ShowDiff(const QStringList& Lines, qint64 Omitted) {
    const QLocale German(QLocale::German);
    TDiffReader Reader;
    std::vector<TDiffLine> Kinds;
    QStringList Shown;
    Kinds.reserve(size_t(Lines.size()) + 2);
    for (const QString& L : Lines) {
        Kinds.push_back(Reader.Add(L));
        Shown << (L.size() > MaxLineChars
                      ? L.left(MaxLineChars) + QStringLiteral(" … (Zeile gekürzt)")
                      : L);
    }
    QStringList Head;
    if (Reader.Binary())
        Head << QStringLiteral("Binärdatei: svn zeigt ihre Unterschiede nicht an.");
    if (Omitted > 0)
        Head << QStringLiteral("Sehr große Änderung: nur die ersten %1 Zeilen werden gezeigt, "
                               "%2 weitere nicht.")
                    .arg(German.toString(Lines.size()), German.toString(Omitted));
    if (Lines.isEmpty() && Omitted == 0)
        Head << QStringLiteral("Keine Unterschiede.");
    std::vector<TDiffLine> All(size_t(Head.size()), TDiffLine::Note);
    All.insert(All.end(), Kinds.begin(), Kinds.end());
    if (Omitted > 0) {
        Shown << QStringLiteral("… %1 weitere Zeilen der Unterschiede sind hier nicht aufgeführt.")
                     .arg(German.toString(Omitted));
        All.push_back(TDiffLine::Note);
    }
    FKinds = std::move(All);
    setPlainText((Head + Shown).join(u'\n'));
}

void TDiffView::ShowText(const QString& Text) {
    FKinds.assign(size_t(Text.count(u'\n') + 1), TDiffLine::Note);
    setPlainText(Text);
}

void TDiffView::changeEvent(QEvent* Event) {
    QPlainTextEdit::changeEvent(Event);
    if (Event->type() == QEvent::PaletteChange) {
        FColours = DiffColours(palette());
        FHighlighter->rehighlight();
    }
}
