// The difference of one file as a coloured unified diff: removed lines on a red ground, added
// ones on a green one, the hunks' headings apart; the colours are taken against the palette
// in use (a dark one too) and chosen anew when it changes. It shows at most what it is given
// (a bounded run) and says what was left out; a binary file is said to be one.
#pragma once

#include "svn_changes.h"

#include <QColor>
#include <QPalette>
#include <QPlainTextEdit>

#include <vector>

class QSyntaxHighlighter;

struct TDiffColours {
    QColor RemovedBack, RemovedText;
    QColor AddedBack, AddedText;
    QColor HunkText, HeaderText, NoteText;
};
// The colours for a palette: the grounds a tint of its base, each text readable on its ground
// (a contrast of at least 4.5 to 1).
TDiffColours DiffColours(const QPalette& Palette);

class TDiffView : public QPlainTextEdit {
    Q_OBJECT
public:
    // Lines longer than this are cut (a minified file may have one of megabytes).
    static constexpr int MaxLineChars = 2000;

    explicit TDiffView(QWidget* Parent = nullptr);
    // The client's lines; Omitted: lines of the diff the run did not keep.
    void ShowDiff(const QStringList& Lines, qint64 Omitted);
    // A text instead of a diff ("Keine Unterschiede", why there is none).
    void ShowText(const QString& Text);
    // What each line of the view is (for the colours).
    TDiffLine Kind(int Line) const;
    const TDiffColours& Colours() const { return FColours; }

protected:
    void changeEvent(QEvent* Event) override;

private:
    friend class TDiffHighlighter;
    std::vector<TDiffLine> FKinds;
    TDiffColours FColours;
    QSyntaxHighlighter* FHighlighter;
};
