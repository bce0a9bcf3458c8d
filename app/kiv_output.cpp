#include "kiv_output.h"

#include "kiv_nodestate.h"
#include "svn_output.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace {

// Lines the memo holds at most; the oldest go first. Each project's own lines are bounded
// already; this bounds a run over very many of them.
constexpr int MaxBlocks = 400000;

// svn's status letters, coloured so the few lines that need a look stand out.
QColor LetterColour(QChar C) {
    switch (C.unicode()) {
    case 'M':
    case 'R':
        return QColor(0x1f, 0x4e, 0xb4);
    case 'A':
    case 'U':
    case 'G':
        return QColor(0x1a, 0x7f, 0x37);
    case 'D':
    case '!':
    case '~':
    case 'L':
        return QColor(0xb0, 0x3a, 0x00);
    case 'C':
        return QColor(0xc0, 0x00, 0x00);
    case '?':
        return QColor(0x80, 0x80, 0x80);
    default:
        return QColor();
    }
}

} // namespace

TOutputView::TOutputView(QPlainTextEdit* Memo) : QObject(Memo), FMemo(Memo) {
    FMemo->setMaximumBlockCount(MaxBlocks);
    // Read-only: an undo history would only keep a copy of every line ever written.
    FMemo->setUndoRedoEnabled(false);
    FTimer = new QTimer(this);
    FTimer->setInterval(0);
    connect(FTimer, &QTimer::timeout, this, &TOutputView::Flush);
}

void TOutputView::Clear(bool Follow) {
    FFollow = Follow;
    FQueue.clear();
    FTimer->stop();
    FMemo->clear();
}

void TOutputView::Append(const QString& Line, TKind Kind) {
    FQueue.enqueue({Line, Kind});
    if (!FTimer->isActive())
        FTimer->start();
}

void TOutputView::Append(const QStringList& Lines, TKind Kind) {
    for (const QString& L : Lines)
        FQueue.enqueue({L, Kind});
    if (!FQueue.isEmpty() && !FTimer->isActive())
        FTimer->start();
}

void TOutputView::FlushAll() {
    QTextCursor C(FMemo->document());
    C.movePosition(QTextCursor::End);
    C.beginEditBlock();
    while (!FQueue.isEmpty()) {
        const auto [Line, Kind] = FQueue.dequeue();
        Write(C, Line, Kind);
    }
    C.endEditBlock();
    FTimer->stop();
    emit Drained();
}

void TOutputView::Flush() {
    // A slice of about 8 ms, then the window's other events.
    QElapsedTimer Slice;
    Slice.start();
    QScrollBar* Bar = FMemo->verticalScrollBar();
    const bool AtEnd = FFollow && Bar->value() == Bar->maximum();
    // Lines in edits of a few dozen: the document is laid out once per edit, not per line, and
    // the time that takes is inside the slice.
    constexpr int LinesPerEdit = 64;
    QTextCursor C(FMemo->document());
    C.movePosition(QTextCursor::End); // and stays there: every line goes in at it
    while (!FQueue.isEmpty() && Slice.elapsed() < 8) {
        C.beginEditBlock();
        for (int i = 0; i < LinesPerEdit && !FQueue.isEmpty(); ++i) {
            const auto [Line, Kind] = FQueue.dequeue();
            Write(C, Line, Kind);
        }
        C.endEditBlock();
    }
    if (AtEnd)
        Bar->setValue(Bar->maximum());
    if (FQueue.isEmpty()) {
        FTimer->stop();
        emit Drained();
    }
}

void TOutputView::Write(QTextCursor& C, const QString& Line, TKind Kind) {
    const QColor Base = FMemo->palette().color(QPalette::Base);
    QTextDocument* Doc = FMemo->document();
    if (Doc->blockCount() > 1 || !Doc->firstBlock().text().isEmpty())
        C.insertBlock();
    const QTextCharFormat Plain;
    TStatusItem Item;
    if (Kind == TKind::Status && ParseStatusLine(Line, &Item)) {
        // The status columns in colour, the rest plain: the text stays exactly the line.
        for (int i = 0; i < Item.Columns.size(); ++i) {
            QTextCharFormat F;
            const QColor Colour = LetterColour(Item.Columns.at(i));
            if (Colour.isValid()) {
                F.setForeground(ReadableOn(Colour, Base));
                F.setFontWeight(QFont::Bold);
            }
            C.insertText(Item.Columns.mid(i, 1), F);
        }
        C.insertText(Line.mid(Item.Columns.size()), Plain);
    } else if (Kind == TKind::Note) {
        QTextCharFormat F;
        F.setForeground(ReadableOn(QColor(0xc0, 0x00, 0x00), Base));
        C.insertText(Line, F);
    } else {
        C.insertText(Line, Plain);
    }
}
