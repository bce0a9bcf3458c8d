// How a node of the tree shows the state of its project: colour and weight, and a tooltip that
// names the task, the time and the state, all read from the state store when the node is
// drawn. Colours follow the palette, dark ones too.
#pragma once

#include "kiv_XMLTreeView.h"
#include "svn_store.h"

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
// stands out from the base by a contrast ratio of at least 4.5 to 1. A state that was not
// found in this session (Stale) is drawn fainter, never bold.
TNodeLook LookOf(TSvnState State, const QPalette& Palette, bool Stale = false);
// "Testen auf Änderungen um 14:03: lokale Änderungen" (with the number of files an update
// changed, the revision it reached, and "veraltet" beside local changes); a state from an
// earlier session names its day and says that it has not been checked since. What the server
// was last found to have follows (ServerToolTip).
QString NodeToolTip(const TStoredState& State, bool Fresh, const QDateTime& Now);
// The tooltip's lines for what the server was found to have: "Server um 14:05: 3 neue
// Revisionen" and the newest log entries (revision, author, the message's first line), or
// what kept the server from answering.
QString ServerToolTip(const TServerNews& News, const QDateTime& Now);
// The colours and what they mean, as rich text for a tooltip.
QString LegendHtml(const QPalette& Palette);
// The colour's hue, lighter or darker until it stands out from Base by at least Ratio to 1.
QColor ReadableOn(const QColor& Colour, const QColor& Base, double Ratio = 4.5);
// The contrast ratio of two colours (1 to 21), as the web's accessibility rules define it.
double ContrastRatio(const QColor& A, const QColor& B);

// The role under which a tree node gives its project's state (int of TSvnState); invalid for
// groups and for projects never checked.
inline constexpr int NodeStateRole = Qt::UserRole + 42;

// What every node of one tree draws from: the store, and the looks for the palette in use.
class TTreeLook {
public:
    explicit TTreeLook(const TStateStore* Store) : FStore(Store) {}
    // After the palette changed.
    void SetPalette(const QPalette& Palette);
    // The stored state of a project node; null for groups and never-checked projects.
    const TStoredState* StateOf(const TXMLTreeNode* Node) const;
    QVariant Data(const TXMLTreeNode* Node, int Role) const;

private:
    const TStateStore* FStore;
    QFont FFont;
    QList<TNodeLook> FLooks, FStaleLooks; // one per state
};

// A node of the registry tree whose colour, font and tooltip come from the store.
class TStateNode : public TXMLTreeNode {
public:
    TStateNode(TXMLTreeNodes* Owner, const TTreeLook* Look) : TXMLTreeNode(Owner), FLook(Look) {}
    QVariant data(int Column, int Role) const override;

private:
    const TTreeLook* FLook;
};
