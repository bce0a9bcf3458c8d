// The output memo's writer: lines go in at once, and reach the memo a slice of the event loop
// at a time, so that no amount of output stalls the window; status lines show their columns in
// colour, the program's own notes in red, against the palette as it is.
#pragma once

#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>

class QPlainTextEdit;
class QTextCursor;
class QTimer;

class TOutputView : public QObject {
    Q_OBJECT
public:
    enum class TKind { Plain, Status, Note };
    explicit TOutputView(QPlainTextEdit* Memo);

    // Empties the memo. Follow: the view keeps to the newest line while lines come in (a
    // run); else it stays where the reader is (from the top).
    void Clear(bool Follow = true);
    void Append(const QString& Line, TKind Kind = TKind::Plain);
    void Append(const QStringList& Lines, TKind Kind = TKind::Plain);
    // Lines waiting for their slice.
    int Pending() const { return int(FQueue.size()); }
    // Writes what waits now (tests, and the end of the program).
    void FlushAll();

signals:
    // Everything appended so far is in the memo.
    void Drained();

private:
    void Flush();
    void Write(QTextCursor& C, const QString& Line, TKind Kind);
    QPlainTextEdit* FMemo;
    QTimer* FTimer;
    QQueue<std::pair<QString, TKind>> FQueue;
    bool FFollow = true;
};
