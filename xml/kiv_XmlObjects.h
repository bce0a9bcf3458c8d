// kiv_XmlObjects: the element model of the registry files, their reader and their writer.
// Links QtCore only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "kiv_error.h"

#include <memory>
#include <stdexcept>
#include <vector>

// The reader's format error: "Das XML-Dokument ist fehlerhaft", with " (Zeile N)" when the
// reader knows the line. The subclasses below name what is wrong; whoever catches this catches
// them too.
class EkivXmlException : public EkivError {
public:
    EkivXmlException();
    explicit EkivXmlException(int Line);
    // The line of the file where the reader stopped; 0 when not known.
    int Line() const { return FLine; }

protected:
    EkivXmlException(const QString& Message, int Line);

private:
    int FLine = 0;
};

// Nesting deeper than the reader's limit:
// "Die Datei ist in Zeile %d zu tief verschachtelt (mehr als %d Ebenen)."
class EXmlDepthError : public EkivXmlException {
public:
    explicit EXmlDepthError(int MaxDepth, int Line = 0);
};

// A second top-level element where only one is allowed:
// "Die Datei hat in Zeile %d mehr als ein oberstes Element."
class EXmlRootError : public EkivXmlException {
public:
    explicit EXmlRootError(int Line = 0);
};

// An element that names one attribute twice, also in another letter case (the names' rule):
// one of the values would be lost without a word.
class EXmlAttributeTwice : public EkivXmlException {
public:
    EXmlAttributeTwice(const QString& First, const QString& Second, int Line);
};

// A file that declares UTF-8 and holds bytes that are no UTF-8.
class EXmlEncodingError : public EkivXmlException {
public:
    explicit EXmlEncodingError(int Line);
};

// A list index out of range: "Listenindex überschreitet das Maximum (%d)".
class EListError : public EkivError {
public:
    explicit EListError(int Index);
};

// A call of an operation that a derived class must supply: "Abstrakter Fehler".
class EAbstractError : public EkivError {
public:
    EAbstractError();
};

// Raised by file reading and writing: the file layer's message, e.g.
// "Datei kann nicht geöffnet werden: <path> (<reason>)".
class EFileError : public EkivError {
public:
    explicit EFileError(const QString& Message);
};

[[noreturn]] void RaiseXmlError();

// An element: a tag name and an ordered list of attributes whose names match without regard
// to case. Children and parent come from a derived class.
class TkivXmlElement {
public:
    TkivXmlElement();
    virtual ~TkivXmlElement();
    TkivXmlElement(const TkivXmlElement&) = delete;
    TkivXmlElement& operator=(const TkivXmlElement&) = delete;

    // The seven virtual operations, in this order.
    virtual int ChildCount() const;
    virtual TkivXmlElement* GetChild(int Index) const;
    virtual TkivXmlElement* GetParent() const;
    virtual void Change();
    virtual void Clear();
    virtual TkivXmlElement* AddChild(const QString& Name); // base: EAbstractError
    virtual void DeleteChild(int Index);                   // base: EAbstractError

    const QString& Name() const { return FName; }
    void SetName(const QString& Value); // what StorableText drops is dropped

    QString GetAttribute(const QString& Name) const;
    bool HasAttribute(const QString& Name) const;
    // What StorableText drops (NUL, ESC, ...) is dropped from name and value before anything
    // is compared.
    void SetAttribute(const QString& Name, const QString& Value);
    bool GetBoolAttribute(const QString& Name) const;
    void SetBoolAttribute(const QString& Name, bool Value);
    int AttributeCount() const;
    QString AttributeName(int Index) const; // EListError outside 0..AttributeCount()-1

    int UpdateCount = 0; // change notification gate; nothing in this library raises it
    bool Modified() const { return FModified; }

protected:
    void NotifyChange();

private:
    int FindAttribute(const QString& Name) const;
    QStringList FAttributes; // "Name=Value", in the order first set
    QString FName;
    bool FModified = false;
    // Name lookup for elements with many attributes, so a hostile file with millions of
    // attributes on one element cannot make reading quadratic; built on demand.
    struct AttributeIndex;
    mutable std::unique_ptr<AttributeIndex> FIndex;
};

// An element that owns its children: for code without a tree view (the command-line tool,
// tests, benchmarks).
class TkivPlainXmlElement : public TkivXmlElement {
public:
    TkivPlainXmlElement() = default;
    explicit TkivPlainXmlElement(TkivPlainXmlElement* Parent) : FParent(Parent) {}
    ~TkivPlainXmlElement() override; // iterative: a tree 100,000 levels deep must not overflow
    int ChildCount() const override;
    TkivXmlElement* GetChild(int Index) const override; // EListError outside the children
    TkivXmlElement* GetParent() const override;
    void Clear() override; // attributes and children
    TkivXmlElement* AddChild(const QString& Name) override;
    void DeleteChild(int Index) override;

private:
    void DestroyChildren();
    TkivPlainXmlElement* FParent = nullptr;
    std::vector<std::unique_ptr<TkivPlainXmlElement>> FChildren;
};

// The nesting depth that readers of the registry accept. Deeper files are refused: nothing
// that shows or walks the tree has to cope with more.
constexpr int RegistryMaxDepth = 1000;

// Whether a character can stand in a registry file: all but the control characters other than
// TAB, LF and CR (XML cannot hold them, not even as references) and the non-characters U+FFFE
// and U+FFFF.
inline bool IsStorableChar(char16_t C) {
    return C >= 0x20 ? C < 0xFFFE : (C == u'\t' || C == u'\n' || C == u'\r');
}
// Text without what a registry file cannot hold: the characters IsStorableChar refuses and
// halves of surrogate pairs standing alone. Whatever enters an element passes through here, so
// such a character is dropped like a NUL wherever it comes from.
QString StorableText(const QString& Text);

// Builds elements from XML text through CreateElement. NUL and the other control characters
// that XML cannot hold (all below the space but TAB, LF and CR) are dropped wherever they stand,
// raw or as references.
class TCustomXmlReader {
public:
    virtual ~TCustomXmlReader() = default;
    virtual TkivXmlElement* CreateElement(TkivXmlElement* Parent, const QString& Name) = 0;

    // Reads the file through ReadFileBounded: only a regular file of a sane size, never
    // blocking. EFileError, EkivXmlException.
    void LoadFromFile(const QString& FileName);
    void LoadFromStrings(const QStringList& Lines); // EkivXmlException
    // The bytes of a file, decoded as LoadFromFile decodes them: by its byte-order mark, else in
    // UTF-8 when its declaration names UTF-8 (EXmlEncodingError when the bytes are none), else
    // in Windows-1252. EkivXmlException.
    void LoadFromBytes(const QByteArray& Data);

    // The deepest nesting read, the document element being level 1; 0 or less: no limit.
    // A deeper element raises EXmlDepthError before it is created.
    int MaxDepth() const { return FMaxDepth; }
    void SetMaxDepth(int Value) { FMaxDepth = Value; }
    // With this on, a second top-level element raises EXmlRootError instead of being read.
    bool SingleRoot() const { return FSingleRoot; }
    void SetSingleRoot(bool Value) { FSingleRoot = Value; }

protected:
    // Counts the parses begun, so a derived reader can tell a new document from a further
    // top-level element of the same one.
    int LoadNumber() const { return FLoadNumber; }

private:
    void Parse(QString& Text);
    int LineAt(qsizetype Pos) const;
    std::vector<qsizetype> FLineStarts; // where lines 2, 3, ... begin in the parsed text
    int FLoadNumber = 0;
    int FMaxDepth = 0;
    bool FSingleRoot = false;
};

// Reads a document into a plain element tree; Root() holds the document element.
class TPlainXmlReader : public TCustomXmlReader {
public:
    TkivXmlElement* CreateElement(TkivXmlElement* Parent, const QString& Name) override;
    // Null when the last document held no element.
    TkivPlainXmlElement* Root() const { return FRootLoad == LoadNumber() ? FRoot.get() : nullptr; }
    std::unique_ptr<TkivPlainXmlElement> TakeRoot() {
        return FRootLoad == LoadNumber() ? std::move(FRoot) : nullptr;
    }
    // Further top-level elements after the first, in document order.
    const std::vector<std::unique_ptr<TkivPlainXmlElement>>& OtherTopLevel() const {
        return FOthers;
    }

private:
    std::unique_ptr<TkivPlainXmlElement> FRoot;
    std::vector<std::unique_ptr<TkivPlainXmlElement>> FOthers;
    int FRootLoad = 0; // the parse that made FRoot
};

// The five entity references and numeric references; a reference to a character that
// IsStorableChar refuses ("&#0;", "&#27;") is dropped like a raw NUL.
QString DecodeXmlText(const QString& Text);

// Formats an element tree as XML text, written in Windows-1252 with CR LF line ends.
class TCustomXmlWriter {
public:
    virtual ~TCustomXmlWriter() = default;
    virtual TkivXmlElement* GetRootElement() = 0;

    // Replaces FileName atomically; EFileError on failure, the old file left as it was.
    void SaveToFile(const QString& FileName, const QString& StyleSheet = QString(),
                    const QString& Comment = QString());
    void WriteElement(TkivXmlElement* Element, QStringList& Lines, int Indent);
    // The document's lines as SaveToFile would write them (without line ends).
    QStringList DocumentLines(const QString& StyleSheet = QString(),
                              const QString& Comment = QString());
};

// Writes a given element as the document root.
class TElementXmlWriter : public TCustomXmlWriter {
public:
    explicit TElementXmlWriter(TkivXmlElement* Root) : FRoot(Root) {}
    TkivXmlElement* GetRootElement() override { return FRoot; }

private:
    TkivXmlElement* FRoot;
};

// Markup characters as entity references, TAB, LF and CR as "&#9;", "&#10;", "&#13;" so that
// a value reads back as it was; what StorableText drops is dropped.
QString EncodeXmlText(const QString& Text);
QString MakeXmlName(const QString& Name);

// Windows-1252, the code page of the files the system writes (the registry, the HTML page).
// Each character that Windows-1252 cannot hold becomes a decimal reference "&#NNNN;" (the
// code point, surrogate pairs joined), so nothing typed is lost.
QString ReferenceNonWindows1252(const QString& Text);
QByteArray EncodeWindows1252(const QString& Text); // plain conversion of representable text
QString DecodeWindows1252(const QByteArray& Bytes);
