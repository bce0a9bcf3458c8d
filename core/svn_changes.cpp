#include "svn_changes.h"

#include "svn_output.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace {

// The letters each status column may hold; a line with any other is no item.
const char* const ColumnLetters[7] = {" ADMRCXI?!~", " MC", " L", " +", " SX", " KOTB", " C"};

// What a letter in a column means, in the order the words are joined.
struct TLetterRow {
    int Column;
    char Letter;
    const char* Text; // German, UTF-8
};
const TLetterRow Letters[] = {
    {0, 'M', "geändert"},
    {0, 'A', "hinzugefügt"},
    {0, 'D', "gelöscht"},
    {0, 'R', "ersetzt"},
    {0, 'C', "Konflikt"},
    {0, '?', "nicht versioniert"},
    {0, '!', "fehlt"},
    {0, '~', "durch eine andere Art ersetzt"},
    {1, 'M', "Eigenschaften geändert"},
    {1, 'C', "Konflikt in den Eigenschaften"},
    {3, '+', "mit Historie"},
    {6, 'C', "Baumkonflikt"},
    {2, 'L', "gesperrt"},
    {4, 'S', "umgeschaltet"},
};

bool ValidColumns(const QString& C) {
    for (int i = 0; i < 7; ++i)
        if (!QLatin1String(ColumnLetters[i]).contains(C.at(i)))
            return false;
    return true;
}

// The number of lines a side of a hunk has: "12,3" gives 3, "12" gives 1.
qint64 SideLength(const QString& Range) {
    const qsizetype Comma = Range.indexOf(u',');
    if (Comma < 0)
        return 1;
    bool Ok = false;
    const qint64 N = Range.mid(Comma + 1).toLongLong(&Ok);
    return Ok ? N : 0;
}

// Whether P is Folder or lies inside it.
bool Inside(const QString& P, const QString& Folder) {
    return Folder == u"." || P == Folder || P.startsWith(Folder + u'/');
}

} // namespace

bool TChangeItem::Conflicted() const {
    return Columns.at(0) == u'C' || Columns.at(1) == u'C' || Columns.at(6) == u'C';
}

bool TChangeItem::TreeConflictOnly() const {
    return Columns.at(6) == u'C' && Columns.at(0) != u'C' && Columns.at(1) != u'C';
}

bool TChangeItem::CheckedAtFirst() const {
    if (Conflicted())
        return false;
    return QStringLiteral("MADR").contains(Columns.at(0)) || Columns.at(1) == u'M';
}

QList<TChangeItem> ParseChanges(const QStringList& Lines) {
    QList<TChangeItem> Items;
    for (const QString& L : Lines) {
        TStatusItem It;
        if (!ParseStatusLine(L, &It) || !ValidColumns(It.Columns) || It.Path.isEmpty())
            continue;
        const QString& C = It.Columns;
        // An external's folder ("X") and ignored items are nothing to commit; a line with
        // nothing in the first two columns and no tree conflict changes nothing.
        if (C.at(0) == u'X' || C.at(0) == u'I')
            continue;
        if (C.at(0) == u' ' && C.at(1) == u' ' && C.at(6) != u'C')
            continue;
        Items.append({C, It.Path});
    }
    return Items;
}

QString ChangeText(const TChangeItem& Item) {
    QStringList Words;
    for (const TLetterRow& R : Letters)
        if (Item.Columns.at(R.Column) == QLatin1Char(R.Letter))
            Words << QString::fromUtf8(R.Text);
    return Words.join(QStringLiteral(", "));
}

QStringList AddedPaths(const QStringList& Lines) {
    QStringList Paths;
    for (const QString& L : Lines) {
        if (L.size() <= 10 || !L.startsWith(QLatin1String("A ")))
            continue;
        const QStringView Mark = QStringView(L).mid(1, 9);
        if (Mark == QLatin1String("         ") || Mark == QLatin1String("  (bin)  "))
            Paths << L.mid(10);
    }
    return Paths;
}

QStringList TargetArguments(const QStringList& Targets, bool Peg) {
    QStringList Args{QStringLiteral("--")};
    for (const QString& T : Targets)
        Args << (Peg && T.contains(u'@') ? T + u'@' : T);
    return Args;
}

TRevertPlan PlanRevert(const QList<TChangeItem>& Chosen,
                       const std::function<bool(const QString&)>& IsFolder) {
    TRevertPlan Plan;
    for (const TChangeItem& I : Chosen) {
        if (!I.Versioned())
            continue;
        const QChar C = I.Columns.at(0);
        // A deleted item is gone from the disk: whatever it was, all of it comes back.
        if (C == u'D' || (C == u'A' && IsFolder(I.Path)))
            Plan.Whole << I.Path;
    }
    auto Covered = [&](const QString& P, const QString* Self) {
        for (const QString& W : std::as_const(Plan.Whole))
            if (&W != Self && Inside(P, W))
                return true;
        return false;
    };
    QStringList Whole;
    for (const QString& W : std::as_const(Plan.Whole))
        if (!Covered(W, &W))
            Whole << W;
    for (const TChangeItem& I : Chosen)
        if (I.Versioned() && !Plan.Whole.contains(I.Path) && !Covered(I.Path, nullptr))
            Plan.Alone << I.Path;
    Plan.Whole = Whole;
    return Plan;
}

TDiffLine TDiffReader::Add(const QString& L) {
    if (FOld > 0 || FNew > 0) {
        // Inside a hunk each line is what its first character says, whatever follows.
        const QChar C = L.isEmpty() ? QChar(u' ') : L.at(0);
        if (C == u'-' && FOld > 0) {
            --FOld;
            ++FRemoved;
            return TDiffLine::Removed;
        }
        if (C == u'+' && FNew > 0) {
            --FNew;
            ++FAdded;
            return TDiffLine::Added;
        }
        if (C == u' ' && FOld > 0 && FNew > 0) {
            --FOld;
            --FNew;
            return TDiffLine::Context;
        }
        if (C == u'\\')
            return TDiffLine::Note;
        FOld = FNew = 0; // the hunk said fewer lines than came: what follows is read afresh
    }
    if (L.startsWith(QLatin1String("\\ ")))
        return TDiffLine::Note;
    // "@@ -3,7 +3,8 @@" for a file, "## -0,0 +1 ##" for a property.
    for (const QLatin1String Mark : {QLatin1String("@@ "), QLatin1String("## ")}) {
        if (!L.startsWith(Mark))
            continue;
        const QStringList Parts = L.mid(3).split(u' ', Qt::SkipEmptyParts);
        if (Parts.size() >= 2 && Parts.at(0).startsWith(u'-') && Parts.at(1).startsWith(u'+')) {
            FOld = SideLength(Parts.at(0).mid(1));
            FNew = SideLength(Parts.at(1).mid(1));
            ++FHunks;
            return TDiffLine::Hunk;
        }
    }
    if (L == QLatin1String("Cannot display: file marked as a binary type.")) {
        FBinary = true;
        return TDiffLine::Note;
    }
    if (L.startsWith(QLatin1String("svn:mime-type = ")))
        return TDiffLine::Note;
    return TDiffLine::Header;
}

bool DiffIsBinary(const QStringList& Lines) {
    TDiffReader R;
    for (const QString& L : Lines)
        R.Add(L);
    return R.Binary();
}

QList<TLogEntry> ParseLogXml(const QStringList& Lines, bool* Complete) {
    QList<TLogEntry> Entries;
    QXmlStreamReader X(Lines.join(u'\n'));
    TLogEntry Entry;
    bool InEntry = false;
    while (!X.atEnd()) {
        X.readNext();
        if (X.isStartElement()) {
            const QStringView Name = X.name();
            if (Name == u"logentry") {
                Entry = TLogEntry();
                Entry.Revision = X.attributes().value(QLatin1String("revision")).toLongLong();
                InEntry = true;
            } else if (InEntry && Name == u"author") {
                Entry.Author = X.readElementText();
            } else if (InEntry && Name == u"date") {
                Entry.Date = QDateTime::fromString(X.readElementText(), Qt::ISODateWithMs);
                Entry.Date.setTimeSpec(Qt::UTC);
            } else if (InEntry && Name == u"msg") {
                Entry.Message = X.readElementText();
            } else if (InEntry && Name == u"path") {
                TLogPath P;
                const QXmlStreamAttributes A = X.attributes();
                P.Action = A.value(QLatin1String("action")).isEmpty()
                               ? QChar(u'?')
                               : A.value(QLatin1String("action")).at(0);
                P.CopyFrom = A.value(QLatin1String("copyfrom-path")).toString();
                if (A.hasAttribute(QLatin1String("copyfrom-rev")))
                    P.CopyRevision = A.value(QLatin1String("copyfrom-rev")).toLongLong();
                P.Path = X.readElementText();
                Entry.Paths << P;
            }
        } else if (X.isEndElement() && X.name() == u"logentry" && InEntry) {
            Entries << Entry;
            InEntry = false;
        }
    }
    if (Complete)
        *Complete = !X.hasError();
    return Entries;
}
