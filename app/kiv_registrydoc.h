// kiv_registrydoc: the registry file of the window. Where it lies, what was read from it,
// whether the window has changed anything since, the copies kept beside it, and the save at the
// end with what it has to say. The tree view stays the only copy of the registry in memory.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class TkivXMLTreeView;

class TRegistryDocument : public QObject {
    Q_OBJECT
public:
    // Watches Tree for additions, deletions and moves; element changes (renaming, the root's
    // settings, a new entry's attributes) come from the window's change event, ElementChanged.
    explicit TRegistryDocument(TkivXMLTreeView* Tree, QObject* Parent = nullptr);

    // The registry's full path, computed anew at every call.
    static QString FileName();

    // Reads the registry into the tree, or gives the tree a fresh root when there is no file.
    // Raises ERegistryError when it cannot be read, before anything is opened where that can
    // be told (a link that leads nowhere or in a circle, a FIFO, a device, a file too large),
    // else after reading (a broken file, with its line): the tree is then empty, the file stays
    // as it is, and nothing will be written. What does not stop the start (the file cannot be
    // saved, a setting out of range) is shown in a message box.
    void Load();
    bool Loaded() const { return FLoaded; }

    // Whether the window has changed the registry since it was read or last saved.
    bool Changed() const { return FChanged; }
    // The tree's change event: an element of the tree changed its name or an attribute.
    void ElementChanged();

    // Writes the tree to the registry, taking turns with other programs that save it:
    // - a file that is as it was read (or still absent) is replaced by the tree, as every run
    //   always did;
    // - a file changed from outside is left alone when the window changed nothing; when it
    //   did, that version is first kept beside it in a new file "<name>.extern-<time>" (counting
    //   up "-2", "-3", ... when the name is taken), then replaced;
    // - whatever cannot be replaced or kept, the window's changes go to a new file
    //   "<name>.fenster-<time>" beside it, else in the home folder: they are never lost without
    //   a word.
    // Every outcome worth a word is said: in a message box, or when Unattended (a signal, the
    // session's end) on standard error and in the system log. Raises nothing.
    void Save(bool Unattended);

    // Standard error and the system log, for when nobody may be there to answer a message box.
    static void ReportUnattended(const QString& Message);

private:
    void TreeChanged();
    // Says Message in a box (as an error or an information) or, unattended, on standard error.
    static void Tell(const QString& Message, bool Error, bool Unattended);

    QPointer<TkivXMLTreeView> FTree;
    bool FLoaded = false;
    bool FLoading = false;
    bool FChanged = false;
    // The file as last read or written: whether it existed and its bytes' hash.
    bool FReadExisted = false;
    QByteArray FReadHash;
};
