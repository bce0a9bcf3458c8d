#include "kiv_XmlObjects.h"

#include "kiv_FileText.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// Exceptions

EkivXmlException::EkivXmlException()
    : EkivError(QStringLiteral("Das XML-Dokument ist fehlerhaft")) {}

EkivXmlException::EkivXmlException(int Line)
    : EkivError(Line > 0 ? QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile %1)").arg(Line)
                         : QStringLiteral("Das XML-Dokument ist fehlerhaft")),
      FLine(Line) {}

EkivXmlException::EkivXmlException(const QString& Message, int Line)
    : EkivError(Message), FLine(Line) {}

EXmlDepthError::EXmlDepthError(int MaxDepth, int Line)
    : EkivXmlException(
          Line > 0 ? QStringLiteral("Die Datei ist in Zeile %2 zu tief verschachtelt (mehr als %1 "
                                    "Ebenen).")
                         .arg(MaxDepth)
                         .arg(Line)
                   : QStringLiteral("Die Datei ist zu tief verschachtelt (mehr als %1 Ebenen).")
                         .arg(MaxDepth),
          Line) {}

EXmlRootError::EXmlRootError(int Line)
    : EkivXmlException(
          Line > 0
              ? QStringLiteral("Die Datei hat in Zeile %1 mehr als ein oberstes Element.").arg(Line)
              : QStringLiteral("Die Datei hat mehr als ein oberstes Element."),
          Line) {}

EXmlAttributeTwice::EXmlAttributeTwice(const QString& First, const QString& Second, int Line)
    : EkivXmlException(
          First == Second
              ? QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile %2): ein Element nennt "
                               "das Attribut »%1« zweimal.")
                    .arg(First)
                    .arg(Line)
              : QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile %3): ein Element nennt "
                               "»%1« und »%2«, für dieses Programm derselbe Name (Groß- und "
                               "Kleinschreibung zählen nicht).")
                    .arg(First, Second)
                    .arg(Line),
          Line) {}

EXmlEncodingError::EXmlEncodingError(int Line)
    : EkivXmlException(QStringLiteral("Das XML-Dokument ist fehlerhaft (Zeile %1): es gibt "
                                      "UTF-8 als Kodierung an, enthält aber Bytes, die kein "
                                      "UTF-8 sind.")
                           .arg(Line),
                       Line) {}

EListError::EListError(int Index)
    : EkivError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(Index)) {}

EAbstractError::EAbstractError() : EkivError(QStringLiteral("Abstrakter Fehler")) {}

EFileError::EFileError(const QString& Message) : EkivError(Message) {}

void RaiseXmlError() {
    throw EkivXmlException();
}

// ---------------------------------------------------------------------------------------------
// TkivXmlElement

namespace {

// Below this many attributes a linear scan is cheaper than keeping an index.
constexpr int IndexThreshold = 16;

QStringView NamePart(const QString& Entry) {
    const qsizetype Eq = Entry.indexOf(QLatin1Char('='));
    return Eq < 0 ? QStringView(Entry) : QStringView(Entry).left(Eq);
}

} // namespace

// A NUL or an ESC written to the file would make it unreadable: no element ever holds one.
QString StorableText(const QString& Text) {
    const QChar* D = Text.constData();
    const qsizetype N = Text.size();
    // A surrogate at I is kept only as half of a pair.
    auto Keep = [&](qsizetype I) {
        const char16_t C = D[I].unicode();
        if (QChar::isHighSurrogate(C))
            return I + 1 < N && D[I + 1].isLowSurrogate();
        if (QChar::isLowSurrogate(C))
            return I > 0 && D[I - 1].isHighSurrogate();
        return IsStorableChar(C);
    };
    qsizetype I = 0;
    while (I < N && Keep(I))
        ++I;
    if (I == N)
        return Text;
    QString Out;
    Out.reserve(N);
    Out.append(D, I);
    for (; I < N; ++I)
        if (Keep(I))
            Out += D[I];
    return Out;
}

struct TkivXmlElement::AttributeIndex {
    QHash<QString, int> FirstOf; // case-folded name -> index of its first entry
};

TkivXmlElement::TkivXmlElement() = default;
TkivXmlElement::~TkivXmlElement() = default;

int TkivXmlElement::ChildCount() const {
    return 0;
}
TkivXmlElement* TkivXmlElement::GetChild(int) const {
    return nullptr;
}
TkivXmlElement* TkivXmlElement::GetParent() const {
    return nullptr;
}
void TkivXmlElement::Change() {}

void TkivXmlElement::Clear() {
    FAttributes.clear();
    FIndex.reset();
    NotifyChange();
}

TkivXmlElement* TkivXmlElement::AddChild(const QString&) {
    throw EAbstractError();
}
void TkivXmlElement::DeleteChild(int) {
    throw EAbstractError();
}

void TkivXmlElement::SetName(const QString& Value) {
    const QString Clean = StorableText(Value);
    if (Clean == FName)
        return;
    FName = Clean;
    NotifyChange();
}

int TkivXmlElement::FindAttribute(const QString& Name) const {
    const int Count = int(FAttributes.size());
    if (Count <= IndexThreshold) {
        for (int I = 0; I < Count; ++I)
            if (NamePart(FAttributes.at(I)).compare(Name, Qt::CaseInsensitive) == 0)
                return I;
        return -1;
    }
    if (!FIndex) {
        FIndex = std::make_unique<AttributeIndex>();
        FIndex->FirstOf.reserve(Count);
        for (int I = 0; I < Count; ++I)
            FIndex->FirstOf.insert(NamePart(FAttributes.at(I)).toString().toCaseFolded(), I);
        // insert() keeps the last; the first entry of a name must win
        for (int I = Count - 1; I >= 0; --I)
            FIndex->FirstOf[NamePart(FAttributes.at(I)).toString().toCaseFolded()] = I;
    }
    return FIndex->FirstOf.value(Name.toCaseFolded(), -1);
}

QString TkivXmlElement::GetAttribute(const QString& Name) const {
    const int I = FindAttribute(Name);
    if (I < 0)
        return QString();
    const QString& Entry = FAttributes.at(I);
    return Entry.mid(Entry.indexOf(QLatin1Char('=')) + 1);
}

bool TkivXmlElement::HasAttribute(const QString& Name) const {
    return !GetAttribute(Name).isEmpty();
}

void TkivXmlElement::SetAttribute(const QString& RawName, const QString& RawValue) {
    const QString Name = StorableText(RawName);
    const QString Value = StorableText(RawValue);
    int I = FindAttribute(Name);
    const QStringView Current =
        I < 0 ? QStringView()
              : QStringView(FAttributes.at(I)).mid(NamePart(FAttributes.at(I)).size() + 1);
    if (Current == QStringView(Value))
        return;
    if (!Value.isEmpty()) {
        QString Entry;
        Entry.reserve(Name.size() + 1 + Value.size());
        Entry += Name;
        Entry += QLatin1Char('=');
        Entry += Value;
        if (I < 0) {
            FAttributes.append(std::move(Entry));
            if (FIndex) {
                const QString Key = NamePart(FAttributes.constLast()).toString().toCaseFolded();
                if (!FIndex->FirstOf.contains(Key))
                    FIndex->FirstOf.insert(Key, int(FAttributes.size()) - 1);
            }
        } else {
            FAttributes[I] = std::move(Entry);
        }
    } else if (I >= 0) {
        FAttributes.removeAt(I);
        FIndex.reset(); // positions behind I moved
    }
    NotifyChange();
    FModified = true;
}

bool TkivXmlElement::GetBoolAttribute(const QString& Name) const {
    return GetAttribute(Name) == QLatin1String("True");
}

void TkivXmlElement::SetBoolAttribute(const QString& Name, bool Value) {
    SetAttribute(Name, Value ? QStringLiteral("True") : QString());
}

int TkivXmlElement::AttributeCount() const {
    return int(FAttributes.size());
}

QString TkivXmlElement::AttributeName(int Index) const {
    if (Index < 0 || Index >= FAttributes.size())
        throw EListError(Index);
    return NamePart(FAttributes.at(Index)).toString();
}

void TkivXmlElement::NotifyChange() {
    if (UpdateCount > 0)
        return;
    Change();
    UpdateCount = 0;
}

// ---------------------------------------------------------------------------------------------
// TkivPlainXmlElement

TkivPlainXmlElement::~TkivPlainXmlElement() {
    DestroyChildren();
}

void TkivPlainXmlElement::DestroyChildren() {
    // Unlink the subtree level by level so that no destructor recurses.
    std::vector<std::unique_ptr<TkivPlainXmlElement>> Work = std::move(FChildren);
    FChildren.clear();
    while (!Work.empty()) {
        std::unique_ptr<TkivPlainXmlElement> E = std::move(Work.back());
        Work.pop_back();
        for (auto& C : E->FChildren)
            Work.push_back(std::move(C));
        E->FChildren.clear();
    }
}

int TkivPlainXmlElement::ChildCount() const {
    return int(FChildren.size());
}

TkivXmlElement* TkivPlainXmlElement::GetChild(int Index) const {
    if (Index < 0 || size_t(Index) >= FChildren.size())
        throw EListError(Index);
    return FChildren[size_t(Index)].get();
}

TkivXmlElement* TkivPlainXmlElement::GetParent() const {
    return FParent;
}

void TkivPlainXmlElement::Clear() {
    DestroyChildren();
    TkivXmlElement::Clear();
}

TkivXmlElement* TkivPlainXmlElement::AddChild(const QString& Name) {
    auto Child = std::make_unique<TkivPlainXmlElement>(this);
    Child->SetName(Name);
    FChildren.push_back(std::move(Child));
    return FChildren.back().get();
}

void TkivPlainXmlElement::DeleteChild(int Index) {
    if (Index < 0 || size_t(Index) >= FChildren.size())
        return;
    std::unique_ptr<TkivPlainXmlElement> Gone = std::move(FChildren[size_t(Index)]);
    FChildren.erase(FChildren.begin() + Index);
}

// ---------------------------------------------------------------------------------------------
// Windows-1252

namespace {

// Code points of the bytes 0x80..0x9F; 0 where Windows-1252 defines no character.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte for a character, or -1 if Windows-1252 cannot hold it.
inline int Cp1252Byte(char16_t C) {
    if (C < 0x80 || (C >= 0xA0 && C <= 0xFF))
        return C;
    for (int I = 0; I < 32; ++I)
        if (Cp1252High[I] == C)
            return 0x80 + I;
    return -1;
}

inline QChar Cp1252Char(unsigned char B) {
    if (B >= 0x80 && B < 0xA0) {
        const char16_t C = Cp1252High[B - 0x80];
        // Undefined bytes stand for the control character of the same number, as Windows
        // reads them.
        return QChar(C ? C : char16_t(B));
    }
    return QChar(char16_t(B));
}

void AppendDecimal(QString& Out, uint Value) {
    char Buf[16];
    int N = 0;
    do {
        Buf[N++] = char('0' + Value % 10);
        Value /= 10;
    } while (Value);
    while (N)
        Out += QLatin1Char(Buf[--N]);
}

} // namespace

QString ReferenceNonWindows1252(const QString& Text) {
    const qsizetype N = Text.size();
    const QChar* D = Text.constData();
    qsizetype I = 0;
    while (I < N && Cp1252Byte(D[I].unicode()) >= 0)
        ++I;
    if (I == N)
        return Text;
    QString Out;
    Out.reserve(N + 16);
    Out.append(D, I);
    for (; I < N; ++I) {
        const char16_t C = D[I].unicode();
        if (Cp1252Byte(C) >= 0) {
            Out += QChar(C);
            continue;
        }
        uint Code = C;
        if (QChar::isHighSurrogate(C) && I + 1 < N && D[I + 1].isLowSurrogate()) {
            Code = QChar::surrogateToUcs4(C, D[I + 1].unicode());
            ++I;
        }
        Out += QLatin1String("&#");
        AppendDecimal(Out, Code);
        Out += QLatin1Char(';');
    }
    return Out;
}

QByteArray EncodeWindows1252(const QString& Text) {
    QByteArray Out(Text.size(), Qt::Uninitialized);
    char* O = Out.data();
    const QChar* D = Text.constData();
    for (qsizetype I = 0, N = Text.size(); I < N; ++I) {
        const int B = Cp1252Byte(D[I].unicode());
        O[I] = B >= 0 ? char(B) : '?';
    }
    return Out;
}

QString DecodeWindows1252(const QByteArray& Bytes) {
    QString Out(Bytes.size(), Qt::Uninitialized);
    QChar* O = Out.data();
    const unsigned char* D = reinterpret_cast<const unsigned char*>(Bytes.constData());
    for (qsizetype I = 0, N = Bytes.size(); I < N; ++I)
        O[I] = Cp1252Char(D[I]);
    return Out;
}

// ---------------------------------------------------------------------------------------------
// Text operations

QString DecodeXmlText(const QString& Text) {
    qsizetype Amp = Text.indexOf(QLatin1Char('&'));
    if (Amp < 0)
        return Text;
    const QChar* D = Text.constData();
    const qsizetype N = Text.size();
    QString Out;
    Out.reserve(N);
    Out.append(D, Amp);
    qsizetype I = Amp;
    auto Matches = [&](qsizetype At, QLatin1String Ref) {
        return N - At >= Ref.size() &&
               QStringView(D + At, Ref.size()).compare(Ref, Qt::CaseInsensitive) == 0;
    };
    while (I < N) {
        const QChar C = D[I];
        if (C != QLatin1Char('&')) {
            Out += C;
            ++I;
            continue;
        }
        static const struct {
            QLatin1String Ref;
            char Char;
        } Entities[] = {{QLatin1String("&quot;"), '"'},
                        {QLatin1String("&amp;"), '&'},
                        {QLatin1String("&apos;"), '\''},
                        {QLatin1String("&lt;"), '<'},
                        {QLatin1String("&gt;"), '>'}};
        bool Done = false;
        for (const auto& E : Entities) {
            if (Matches(I, E.Ref)) {
                Out += QLatin1Char(E.Char);
                I += E.Ref.size();
                Done = true;
                break;
            }
        }
        if (Done)
            continue;
        // Numeric references, which the writer uses for characters Windows-1252 cannot hold.
        if (I + 1 < N && D[I + 1] == QLatin1Char('#')) {
            qsizetype J = I + 2;
            const bool Hex = J < N && (D[J] == QLatin1Char('x') || D[J] == QLatin1Char('X'));
            if (Hex)
                ++J;
            const qsizetype DigitsStart = J;
            uint Code = 0;
            bool TooBig = false;
            while (J < N) {
                const char16_t Ch = D[J].unicode();
                int V;
                if (Ch >= '0' && Ch <= '9')
                    V = Ch - '0';
                else if (Hex && Ch >= 'a' && Ch <= 'f')
                    V = Ch - 'a' + 10;
                else if (Hex && Ch >= 'A' && Ch <= 'F')
                    V = Ch - 'A' + 10;
                else
                    break;
                Code = Code * (Hex ? 16 : 10) + uint(V);
                if (Code > 0x10FFFF) { // keep scanning, stay bounded
                    TooBig = true;
                    Code = 0x110000;
                }
                ++J;
            }
            if (J > DigitsStart && J < N && D[J] == QLatin1Char(';') && !TooBig) {
                if (Code < 0x10000 &&
                    (!IsStorableChar(char16_t(Code)) || QChar::isSurrogate(char16_t(Code)))) {
                    // A NUL, an ESC or half a surrogate pair: dropped, as raw ones are.
                } else if (Code >= 0x10000) {
                    Out += QChar(QChar::highSurrogate(Code));
                    Out += QChar(QChar::lowSurrogate(Code));
                } else {
                    Out += QChar(char16_t(Code));
                }
                I = J + 1;
                continue;
            }
        }
        Out += C;
        ++I;
    }
    return Out;
}

QString EncodeXmlText(const QString& Text) {
    const QChar* D = Text.constData();
    const qsizetype N = Text.size();
    qsizetype I = 0;
    for (; I < N; ++I) {
        const char16_t C = D[I].unicode();
        if (C == '"' || C == '&' || C == '\'' || C == '<' || C == '>' || C < 0x20)
            break;
    }
    if (I == N)
        return Text;
    QString Out;
    Out.reserve(N + 16);
    Out.append(D, I);
    for (; I < N; ++I) {
        const char16_t C = D[I].unicode();
        switch (C) {
        case '"':
            Out += QLatin1String("&quot;");
            break;
        case '&':
            Out += QLatin1String("&amp;");
            break;
        case '\'':
            Out += QLatin1String("&apos;");
            break;
        case '<':
            Out += QLatin1String("&lt;");
            break;
        case '>':
            Out += QLatin1String("&gt;");
            break;
        // The reader turns raw TAB, CR and LF into spaces; as references they come back.
        case '\t':
            Out += QLatin1String("&#9;");
            break;
        case '\n':
            Out += QLatin1String("&#10;");
            break;
        case '\r':
            Out += QLatin1String("&#13;");
            break;
        default:
            if (C >= 0x20) // the other control characters cannot stand in XML at all
                Out += QChar(C);
        }
    }
    return Out;
}

QString MakeXmlName(const QString& Name) {
    if (Name.isEmpty())
        return QStringLiteral("Item");
    QString Out = Name;
    QChar* D = nullptr;
    for (qsizetype I = 0, N = Out.size(); I < N; ++I) {
        switch (Out.at(I).unicode()) {
        case ' ':
        case ',':
        case '.':
        case '/':
        case ':':
        case ';':
        case '\\':
        case 0xC4:
        case 0xD6:
        case 0xDC:
        case 0xE4:
        case 0xF6:
        case 0xFC:
            if (!D)
                D = Out.data();
            D[I] = QLatin1Char('_');
            break;
        default:
            break;
        }
    }
    return Out;
}

// ---------------------------------------------------------------------------------------------
// Reader

namespace {

// Whether a character of the file is dropped before parsing: NUL and the other control
// characters that XML cannot hold (one pasted into a name must not make the file unreadable
// for good).
template <typename Unit> inline bool DroppedUnit(Unit U) {
    return U < 0x20 && U != '\t' && U != '\r' && U != '\n';
}

// The decoded file text as LoadFromStrings would see it after joining the lines with CR LF
// and blanking TAB, CR and LF: every line break (CR LF, CR, LF) becomes two spaces, a TAB
// one, and what DroppedUnit names is dropped. LineStarts gets the position where each line
// after the first begins. Two passes: the exact size first, then the characters.
template <typename Unit, typename ToChar>
QString PrepareFileText(const Unit* D, qsizetype N, ToChar Convert,
                        std::vector<qsizetype>& LineStarts) {
    LineStarts.clear();
    qsizetype Size = 0;
    for (qsizetype I = 0; I < N; ++I) {
        const auto U = D[I];
        if (DroppedUnit(U))
            continue;
        if (U == '\n' && I > 0 && D[I - 1] == '\r')
            continue; // the LF of CR LF: counted with its CR
        Size += (U == '\r' || U == '\n') ? 2 : 1;
    }
    QString Out(Size, Qt::Uninitialized);
    QChar* O = Out.data();
    for (qsizetype I = 0; I < N; ++I) {
        const auto U = D[I];
        if (DroppedUnit(U))
            continue;
        if (U == '\r' || U == '\n') {
            if (U == '\n' && I > 0 && D[I - 1] == '\r')
                continue;
            *O++ = QLatin1Char(' ');
            *O++ = QLatin1Char(' ');
            LineStarts.push_back(O - Out.constData());
        } else if (U == '\t') {
            *O++ = QLatin1Char(' ');
        } else {
            *O++ = Convert(U);
        }
    }
    return Out;
}

// The line of the byte at Pos: line breaks are CR LF, CR and LF, as the reader counts them.
int ByteLine(const unsigned char* B, qsizetype Pos) {
    int Line = 1;
    for (qsizetype I = 0; I < Pos; ++I)
        if (B[I] == '\n' || (B[I] == '\r' && (I + 1 >= Pos || B[I + 1] != '\n')))
            ++Line;
    return Line;
}

// The position of the first byte that is not part of well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF), or -1.
qsizetype FirstInvalidUtf8(const unsigned char* B, qsizetype N) {
    qsizetype I = 0;
    while (I < N) {
        const unsigned char C = B[I];
        if (C < 0x80) {
            ++I;
            continue;
        }
        int More;
        uint Min, Code;
        if (C >= 0xC2 && C <= 0xDF) {
            More = 1, Min = 0x80, Code = C & 0x1F;
        } else if (C >= 0xE0 && C <= 0xEF) {
            More = 2, Min = 0x800, Code = C & 0x0F;
        } else if (C >= 0xF0 && C <= 0xF4) {
            More = 3, Min = 0x10000, Code = C & 0x07;
        } else {
            return I;
        }
        for (int K = 1; K <= More; ++K) {
            if (I + K >= N || (B[I + K] & 0xC0) != 0x80)
                return I;
            Code = (Code << 6) | (B[I + K] & 0x3F);
        }
        if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
            return I;
        I += More + 1;
    }
    return -1;
}

// Whether the XML declaration at the start of the prepared text (after blanks and one comment,
// where the parser looks for it) names UTF-8 as the encoding.
bool DeclaresUtf8(const QString& Text) {
    const QStringView T(Text);
    const qsizetype N = T.size();
    qsizetype P = 0;
    auto Skip = [&] {
        while (P < N && T[P] == QLatin1Char(' '))
            ++P;
    };
    Skip();
    if (T.mid(P).startsWith(QLatin1String("<!--"))) {
        const qsizetype Close = T.indexOf(QLatin1String("-->"), P + 4);
        if (Close < 0)
            return false;
        P = Close + 3;
        Skip();
    }
    if (!T.mid(P).startsWith(QLatin1String("<?xml")) ||
        (P + 5 < N && T[P + 5] != QLatin1Char(' ') && T[P + 5] != QLatin1Char('?')))
        return false;
    const qsizetype End = T.indexOf(QLatin1String("?>"), P);
    if (End < 0)
        return false;
    const QStringView Decl = T.mid(P + 5, End - P - 5);
    qsizetype E = Decl.indexOf(QLatin1String("encoding"));
    if (E < 0)
        return false;
    E += 8;
    auto SkipIn = [&] {
        while (E < Decl.size() && Decl[E] == QLatin1Char(' '))
            ++E;
    };
    SkipIn();
    if (E >= Decl.size() || Decl[E] != QLatin1Char('='))
        return false;
    ++E;
    SkipIn();
    if (E >= Decl.size() || (Decl[E] != QLatin1Char('"') && Decl[E] != QLatin1Char('\'')))
        return false;
    const QChar Quote = Decl[E];
    const qsizetype Close = Decl.indexOf(Quote, E + 1);
    if (Close < 0)
        return false;
    const QStringView Name = Decl.mid(E + 1, Close - E - 1).trimmed();
    return Name.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0 ||
           Name.compare(QLatin1String("UTF8"), Qt::CaseInsensitive) == 0;
}

// The first occurrence of a pattern in a text that only ever loses occurrences (blanking
// with spaces, which the patterns do not contain): the search resumes where the last one
// stood, so repeated "first occurrence in the whole text" searches stay linear.
class FirstOccurrence {
public:
    FirstOccurrence(const QString& Text, QLatin1String Pattern) : FText(Text), FPattern(Pattern) {}
    // The first occurrence anywhere, or -1.
    qsizetype Find() {
        const qsizetype F = FText.indexOf(FPattern, FFrom);
        FFrom = F < 0 ? FText.size() : F;
        return F;
    }
    // Whether the first occurrence starts at P; looks no further than P needs.
    bool IsFirstAt(qsizetype P) {
        const qsizetype Stop = std::min(P + FPattern.size(), FText.size());
        if (Stop <= FFrom)
            return false;
        const qsizetype F = QStringView(FText).mid(FFrom, Stop - FFrom).indexOf(FPattern);
        if (F < 0) {
            FFrom = std::max(FFrom, Stop - FPattern.size() + 1);
            return false;
        }
        FFrom += F;
        return FFrom == P;
    }

private:
    const QString& FText;
    QLatin1String FPattern;
    qsizetype FFrom = 0; // no occurrence starts before this position
};

} // namespace

void TCustomXmlReader::LoadFromFile(const QString& FileName) {
    LoadFromBytes(ReadFileBounded(FileName));
}

void TCustomXmlReader::LoadFromBytes(const QByteArray& Data) {
    const auto* B = reinterpret_cast<const unsigned char*>(Data.constData());
    const qsizetype N = Data.size();
    auto Same = [](char16_t C) { return QChar(C); };
    // UTF-8 that is none is refused with its line rather than read with characters replaced.
    auto FromUtf8 = [&](qsizetype Skip) {
        const qsizetype Bad = FirstInvalidUtf8(B + Skip, N - Skip);
        if (Bad >= 0) {
            ++FLoadNumber; // a new document, and it holds nothing
            throw EXmlEncodingError(ByteLine(B + Skip, Bad));
        }
        const QString U = QString::fromUtf8(Data.constData() + Skip, N - Skip);
        return PrepareFileText(reinterpret_cast<const char16_t*>(U.constData()), U.size(), Same,
                               FLineStarts);
    };
    QString Text;
    if (N >= 3 && B[0] == 0xEF && B[1] == 0xBB && B[2] == 0xBF) {
        Text = FromUtf8(3);
    } else if (N >= 2 && ((B[0] == 0xFF && B[1] == 0xFE) || (B[0] == 0xFE && B[1] == 0xFF))) {
        const bool Little = B[0] == 0xFF;
        const qsizetype Units = (N - 2) / 2;
        std::vector<char16_t> U(static_cast<size_t>(Units));
        for (qsizetype I = 0; I < Units; ++I) {
            const unsigned A = B[2 + 2 * I], Z = B[3 + 2 * I];
            U[size_t(I)] = char16_t(Little ? (A | (Z << 8)) : ((A << 8) | Z));
        }
        Text = PrepareFileText(U.data(), Units, Same, FLineStarts);
    } else {
        // Windows-1252, the files this program writes, unless the declaration names UTF-8.
        Text = PrepareFileText(
            B, N, [](unsigned char C) { return Cp1252Char(C); }, FLineStarts);
        if (DeclaresUtf8(Text))
            Text = FromUtf8(0);
    }
    // Every line is followed by CR LF when the lines are joined; the trailing blanks this adds
    // cannot change the parse, so they are left out.
    Parse(Text);
}

void TCustomXmlReader::LoadFromStrings(const QStringList& Lines) {
    QString Text;
    qsizetype Size = 0;
    for (const QString& L : Lines)
        Size += L.size() + 2;
    Text.reserve(Size);
    for (const QString& L : Lines) {
        Text += L;
        Text += QLatin1String("\r\n");
    }
    FLineStarts.clear();
    QChar* D = Text.data();
    qsizetype W = 0;
    for (qsizetype I = 0, N = Text.size(); I < N; ++I) {
        const char16_t U = D[I].unicode();
        if (DroppedUnit(U))
            continue;
        if (U == '\t' || U == '\n' || U == '\r') {
            D[W++] = QLatin1Char(' ');
            if (U == '\n' || (U == '\r' && (I + 1 >= N || D[I + 1] != QLatin1Char('\n'))))
                FLineStarts.push_back(W);
        } else {
            D[W++] = D[I];
        }
    }
    Text.truncate(W);
    Parse(Text);
}

int TCustomXmlReader::LineAt(qsizetype Pos) const {
    return int(std::upper_bound(FLineStarts.begin(), FLineStarts.end(), Pos) -
               FLineStarts.begin()) +
           1;
}

void TCustomXmlReader::Parse(QString& Text) {
    ++FLoadNumber;
    // Positions are 0-based here; Lim is one past the last character that is not a space.
    const qsizetype Len = Text.size();
    const QChar* D = Text.constData();
    qsizetype Lim = Len;
    while (Lim > 1 && D[Lim - 1] == QLatin1Char(' '))
        --Lim;
    qsizetype Pos = 0;
    // The prolog compares with the last non-space position as its end.
    auto SkipPrologSpaces = [&] {
        while (Pos < Lim - 1 && D[Pos] == QLatin1Char(' '))
            ++Pos;
    };
    SkipPrologSpaces();

    std::vector<TkivXmlElement*> Stack;
    TkivXmlElement* Root = nullptr;
    // Every refusal names the line where the reader stopped.
    auto Bad = [&](qsizetype At) { throw EkivXmlException(LineAt(At)); };
    auto Pop = [&] {
        if (Stack.empty())
            Bad(Pos);
        TkivXmlElement* E = Stack.back();
        Stack.pop_back();
        return E;
    };

    try {
        // Leading comment.
        if (Pos + 8 < Lim && D[Pos] == QLatin1Char('<') &&
            QStringView(D + Pos, 4) == QLatin1String("<!--")) {
            const qsizetype Close = Text.indexOf(QLatin1String("-->"), Pos + 4);
            if (Close < 0)
                Bad(Pos);
            Pos = Close + 3;
            SkipPrologSpaces();
        }
        // Declarations and other "<?xml" instructions.
        bool DeclarationSeen = false;
        {
            FirstOccurrence Decl(Text, QLatin1String("<?xml"));
            FirstOccurrence EndPi(Text, QLatin1String("?>"));
            while (Decl.IsFirstAt(Pos)) {
                const qsizetype Start = Pos;
                DeclarationSeen = true;
                const qsizetype Q = EndPi.Find();
                if (Q < 0)
                    Bad(Pos);
                Pos = Q + 2;
                if (Q + 2 > Start) {
                    QChar* W = Text.data(); // detached already: the text is ours
                    D = W;
                    std::fill(W + Start, W + Q + 2, QLatin1Char(' '));
                }
                SkipPrologSpaces();
            }
        }
        if (!DeclarationSeen)
            Bad(Pos);

        D = Text.constData();
        auto ReadUpTo = [&](auto Stop) {
            const qsizetype From = Pos;
            while (Pos < Lim && !Stop(D[Pos].unicode()))
                ++Pos;
            return QStringView(D + From, Pos - From);
        };
        auto LookAheadUpTo = [&](auto Stop) {
            qsizetype P = Pos;
            while (P < Lim && !Stop(D[P].unicode()))
                ++P;
            return QStringView(D + Pos, P - Pos);
        };
        auto IsSpaceOrGt = [](char16_t C) { return C == ' ' || C == '>'; };
        auto IsGt = [](char16_t C) { return C == '>'; };
        auto IsLt = [](char16_t C) { return C == '<'; };

        // Name and value are gathered in place; the common case is one plain run each.
        QVarLengthArray<QChar, 128> AttrName, AttrValue;
        // The attribute names of the element at hand; folded for a fast look-up when many.
        QVarLengthArray<QString, IndexThreshold> Seen;
        QHash<QString, QString> SeenFolded;
        while (Pos < Lim) {
            const char16_t C = D[Pos].unicode();
            if (C == ' ') {
                ++Pos;
            } else if (C == '>') {
                if (Pos > 0 && D[Pos - 1] == QLatin1Char('/'))
                    Pop();
                ++Pos;
            } else if (C == '<') {
                const QStringView Tag = ReadUpTo(IsSpaceOrGt);
                if (Tag.startsWith(QLatin1String("</"))) {
                    TkivXmlElement* E = Pop();
                    const QString& N = E->Name();
                    if (Tag.size() != N.size() + 2 || Tag.mid(2) != QStringView(N))
                        Bad(Pos);
                    continue;
                }
                QStringView NameView = Tag.mid(1);
                const bool SelfClosed = NameView.endsWith(QLatin1Char('/'));
                if (SelfClosed)
                    NameView.chop(1);
                const QString Name = NameView.toString();

                // Text element: <Name>text</Name> becomes an attribute of the enclosing
                // element. A self-closed tag has no text and no end tag of its own.
                if (!SelfClosed) {
                    const QStringView Rest = LookAheadUpTo(IsGt);
                    if (std::all_of(Rest.begin(), Rest.end(),
                                    [](QChar Ch) { return Ch.unicode() <= 32; })) {
                        const qsizetype Saved = Pos;
                        Pos += Rest.size();
                        if (Pos < Lim)
                            ++Pos;
                        const QStringView TextPart = ReadUpTo(IsLt);
                        const QStringView Close = ReadUpTo(IsGt);
                        if (Close.size() == Name.size() + 2 &&
                            Close.startsWith(QLatin1String("</")) &&
                            Close.mid(2) == QStringView(Name)) {
                            if (Stack.empty())
                                Bad(Pos);
                            if (Stack.back()->HasAttribute(Name))
                                throw EXmlAttributeTwice(Name, Name, LineAt(Saved));
                            Stack.back()->SetAttribute(Name, TextPart.toString());
                            ++Pos;
                            continue;
                        }
                        Pos = Saved;
                    }
                }

                const qsizetype TagStart = Pos - Tag.size();
                if (Stack.empty() && Root && FSingleRoot)
                    throw EXmlRootError(LineAt(TagStart));
                if (FMaxDepth > 0 && Stack.size() >= size_t(FMaxDepth))
                    throw EXmlDepthError(FMaxDepth, LineAt(TagStart));
                TkivXmlElement* Parent = Stack.empty() ? nullptr : Stack.back();
                TkivXmlElement* E = CreateElement(Parent, Name);
                if (!Root)
                    Root = E;
                E->SetName(Name);
                Stack.push_back(E);

                // Attributes, up to the '>' that the main loop then handles. A value is quoted
                // with " or ' as in XML; anything that would drop a value silently (no
                // quotes, no value, no name, no closing quote) makes the document unreadable.
                // A name without '=' (such as the '/' of "/>") carries nothing and is dropped.
                const QStringView Attrs = ReadUpTo(IsGt);
                const qsizetype AttrsStart = Pos - Attrs.size();
                AttrName.clear();
                AttrValue.clear();
                Seen.clear();
                SeenFolded.clear();
                enum { InName, AfterName, AfterEquals, InValue } State = InName;
                char16_t Quote = 0;
                qsizetype NameStart = 0;
                for (qsizetype At = 0; At < Attrs.size(); ++At) {
                    const QChar Ch = Attrs[At];
                    const char16_t U = Ch.unicode();
                    switch (State) {
                    case InValue:
                        if (U == Quote) {
                            const QString AName(AttrName.constData(), AttrName.size());
                            // A name given twice, also in another letter case: one value
                            // would be lost without a word.
                            if (Seen.size() < IndexThreshold) {
                                for (const QString& Other : Seen)
                                    if (Other.compare(AName, Qt::CaseInsensitive) == 0)
                                        throw EXmlAttributeTwice(Other, AName,
                                                                 LineAt(AttrsStart + NameStart));
                                Seen.append(AName);
                                if (Seen.size() == IndexThreshold)
                                    for (const QString& S : Seen)
                                        SeenFolded.insert(S.toCaseFolded(), S);
                            } else {
                                const QString Key = AName.toCaseFolded();
                                if (const auto F = SeenFolded.constFind(Key);
                                    F != SeenFolded.constEnd())
                                    throw EXmlAttributeTwice(*F, AName,
                                                             LineAt(AttrsStart + NameStart));
                                SeenFolded.insert(Key, AName);
                            }
                            E->SetAttribute(AName, DecodeXmlText(QString(AttrValue.constData(),
                                                                         AttrValue.size())));
                            AttrName.clear();
                            AttrValue.clear();
                            State = InName;
                        } else {
                            AttrValue.append(Ch);
                        }
                        break;
                    case AfterEquals:
                        if (U == '"' || U == '\'') {
                            Quote = U;
                            State = InValue;
                        } else if (U != ' ') {
                            Bad(Pos); // a value without quotes
                        }
                        break;
                    case InName:
                    case AfterName:
                        if (U == '=') {
                            if (AttrName.isEmpty())
                                Bad(Pos); // a value without a name
                            State = AfterEquals;
                        } else if (U == '"' || U == '\'') {
                            Bad(Pos); // a value without "Name="
                        } else if (U == ' ') {
                            if (!AttrName.isEmpty())
                                State = AfterName;
                        } else {
                            if (State == AfterName) { // the name before had no value
                                AttrName.clear();
                                State = InName;
                            }
                            if (AttrName.isEmpty())
                                NameStart = At;
                            AttrName.append(Ch);
                        }
                        break;
                    }
                }
                if (State == AfterEquals || State == InValue)
                    Bad(Pos); // "Name=" without a value, or no closing quote
            } else {
                Bad(Pos);
            }
        }
        if (!Stack.empty())
            Bad(Pos);
    } catch (...) {
        if (Root)
            Root->Clear();
        throw;
    }
}

TkivXmlElement* TPlainXmlReader::CreateElement(TkivXmlElement* Parent, const QString& Name) {
    if (Parent)
        return Parent->AddChild(Name);
    if (FRootLoad != LoadNumber()) { // a new document: forget the last one
        FRoot.reset();
        FOthers.clear();
        FRootLoad = LoadNumber();
    }
    auto E = std::make_unique<TkivPlainXmlElement>();
    E->SetName(Name);
    TkivPlainXmlElement* Raw = E.get();
    if (!FRoot)
        FRoot = std::move(E);
    else
        FOthers.push_back(std::move(E));
    return Raw;
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

void AppendStartOrLeaf(QString& Line, TkivXmlElement* E, int Indent, bool Leaf) {
    int Spaces = 0;
    while (Spaces < Indent)
        Spaces += 2;
    Line.reserve(Spaces + 64);
    Line.fill(QLatin1Char(' '), Spaces);
    Line += QLatin1Char('<');
    Line += MakeXmlName(E->Name());
    const int N = E->AttributeCount();
    // Names that differ only where MakeXmlName blanks them ("a.b", "a_b") would be written
    // twice, and the reader refuses that: as reading always did, the last one is kept.
    QVarLengthArray<QString, 8> Names, Written;
    QVarLengthArray<bool, 8> Skip;
    for (int I = 0; I < N; ++I) {
        Names.append(E->AttributeName(I));
        Written.append(MakeXmlName(Names.at(I)));
        Skip.append(false);
    }
    if (N > IndexThreshold) {
        QSet<QString> Later;
        for (int I = N - 1; I >= 0; --I) {
            const QString Key = Written.at(I).toCaseFolded();
            Skip[I] = Later.contains(Key);
            Later.insert(Key);
        }
    } else {
        for (int I = 0; I < N; ++I)
            for (int J = I + 1; J < N && !Skip[I]; ++J)
                Skip[I] = Written.at(I).compare(Written.at(J), Qt::CaseInsensitive) == 0;
    }
    for (int I = 0; I < N; ++I) {
        if (Skip[I])
            continue;
        Line += QLatin1Char(' ');
        Line += Written.at(I);
        Line += QLatin1String("=\"");
        Line += ReferenceNonWindows1252(EncodeXmlText(E->GetAttribute(Names.at(I))));
        Line += QLatin1Char('"');
    }
    Line += Leaf ? QLatin1String("/>") : QLatin1String(">");
}

} // namespace

void TCustomXmlWriter::WriteElement(TkivXmlElement* Element, QStringList& Lines, int Indent) {
    if (!Element)
        return;
    // Depth-first, pre-order, with an explicit stack: trees of any depth.
    struct Frame {
        TkivXmlElement* E;
        int Next;
        int Count;
        int Indent;
    };
    std::vector<Frame> Stack;
    auto Open = [&](TkivXmlElement* E, int In) {
        const int Count = E->ChildCount();
        QString Line;
        AppendStartOrLeaf(Line, E, In, Count <= 0);
        Lines.append(std::move(Line));
        if (Count > 0)
            Stack.push_back({E, 0, Count, In});
    };
    Open(Element, Indent);
    while (!Stack.empty()) {
        Frame& F = Stack.back();
        if (F.Next < F.Count) {
            TkivXmlElement* Child = F.E->GetChild(F.Next++);
            const int In = F.Indent + 2;
            if (Child)
                Open(Child, In); // may reallocate Stack: F is not used after this
            continue;
        }
        int Spaces = 0;
        while (Spaces < F.Indent)
            Spaces += 2;
        QString Line;
        Line.reserve(Spaces + F.E->Name().size() + 3);
        Line.fill(QLatin1Char(' '), Spaces);
        Line += QLatin1String("</");
        Line += MakeXmlName(F.E->Name());
        Line += QLatin1Char('>');
        Lines.append(std::move(Line));
        Stack.pop_back();
    }
}

QStringList TCustomXmlWriter::DocumentLines(const QString& StyleSheet, const QString& Comment) {
    QStringList Lines;
    if (!Comment.isEmpty())
        Lines.append(
            QStringLiteral("<!--%1-->").arg(ReferenceNonWindows1252(EncodeXmlText(Comment))));
    Lines.append(QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"));
    if (!StyleSheet.isEmpty())
        Lines.append(
            QStringLiteral("<?xml-stylesheet type=\"text/xsl\" href=\"%1\"?>").arg(StyleSheet));
    WriteElement(GetRootElement(), Lines, 0);
    return Lines;
}

void TCustomXmlWriter::SaveToFile(const QString& FileName, const QString& StyleSheet,
                                  const QString& Comment) {
    // Every character outside Windows-1252 is a reference by now, so the text converts whole.
    WriteWindows1252File(FileName, DocumentLines(StyleSheet, Comment));
}
