// How a node of the tree shows the state of its last run: colour and weight, and a tooltip that
// names the task, the time and the state. Colours follow the palette, dark ones too.
#pragma once

#include "svn_output.h"

#include <QColor>
#include <QDateTime>
#include <QPalette>
#include <QString>

struct TNodeLook {
    QColor Foreground; // invalid: the palette's text colour
    bool Bold = false;
    bool Italic = false;
};

// The look of a state against the palette's base: each colour is moved in lightness until it
// stands out from the base by a contrast ratio of at least 4.5 to 1.
TNodeLook LookOf(TSvnState State, const QPalette& Palette);
// "Testen auf Änderungen um 14:03: lokale Änderungen" (with the number of files an update
// changed, and "veraltet" beside local changes).
QString NodeToolTip(TSvnTask Task, TSvnState State, const TSvnVerdict& Verdict,
                    const QDateTime& When);
// The colours and what they mean, as rich text for a tooltip.
QString LegendHtml(const QPalette& Palette);
// The colour's hue, lighter or darker until it stands out from Base by at least 4.5 to 1.
QColor ReadableOn(const QColor& Colour, const QColor& Base);
// The contrast ratio of two colours (1 to 21), as the web's accessibility rules define it.
double ContrastRatio(const QColor& A, const QColor& B);
