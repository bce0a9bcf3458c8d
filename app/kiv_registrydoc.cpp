#include "kiv_registrydoc.h"

#include "kiv_XMLTreeView.h"

#include "kiv_FileText.h"
#include "kiv_errors.h"
#include "kiv_kinds.h"
#include "kiv_prompts.h"
#include "kiv_registry.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <syslog.h>

namespace {

QByteArray Hash(const QByteArray& Bytes) {
    return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256);
}

QString TimeStamp() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

} // namespace

TRegistryDocument::TRegistryDocument(TkivXMLTreeView* Tree, QObject* Parent)
    : QObject(Parent), FTree(Tree) {
    // Adding, deleting and moving nodes; a moved node leaves one place and enters another.
    QAbstractItemModel* Model = Tree->model();
    connect(Model, &QAbstractItemModel::rowsInserted, this, [this] { TreeChanged(); });
    connect(Model, &QAbstractItemModel::rowsRemoved, this, [this] { TreeChanged(); });
    connect(Model, &QAbstractItemModel::rowsMoved, this, [this] { TreeChanged(); });
}

QString TRegistryDocument::FileName() {
    return RegistryFilePath();
}

void TRegistryDocument::TreeChanged() {
    if (FLoaded && !FLoading)
        FChanged = true;
}

void TRegistryDocument::ElementChanged() {
    TreeChanged();
}

void TRegistryDocument::Load() {
    const QString File = FileName();
    FLoading = true;
    struct Done {
        bool& Flag;
        ~Done() { Flag = false; }
    } Clear{FLoading};
    // Refused before it is opened: what would block, exhaust the memory or be replaced.
    bool Missing = false;
    const QString Problem = RegistryFileProblem(File, &Missing);
    if (!Missing && !Problem.isEmpty())
        throw ERegistryError(QStringLiteral("Die Projektliste \"%1\" kann nicht gelesen werden: "
                                            "%2.\n\nSie bleibt, wie sie ist; Änderungen in "
                                            "diesem Lauf werden nicht gespeichert.")
                                 .arg(File, Problem));
    FReadExisted = false;
    FReadHash.clear();
    if (!Missing) {
        try {
            const QByteArray Data = ReadFileBounded(File);
            FTree->LoadFromBytes(Data);
            FReadExisted = true;
            FReadHash = Hash(Data);
        } catch (const std::exception& E) {
            // What the reader left is not the registry: show nothing of it, and never write
            // it over the file.
            FTree->DeleteAllNodes();
            throw ERegistryError(QStringLiteral("Die Projektliste \"%1\" konnte nicht gelesen "
                                                "werden:\n%2\n\nDie Datei bleibt unverändert; "
                                                "Änderungen in diesem Lauf werden nicht "
                                                "gespeichert.")
                                     .arg(File, ExceptionText(E)));
        }
    }
    if (FTree->XMLItems()->TopCount() == 0) {
        TXMLTreeNode* Root = FTree->AddChild(nullptr, QStringLiteral("Projekte"));
        Root->XMLElement()->SetName(ElementNames[ekRoot]);
        Root->XMLElement()->SetAttribute(QStringLiteral("Beschreibung"),
                                         QStringLiteral("Alle Subversionsprojekte verwalten"));
    }
    FLoaded = true;
    FChanged = false;
    // Better now than after an hour of changes: the file cannot be written at the end.
    QString Reason;
    if (!CanReplaceFile(File, &Reason))
        ShowError(QStringLiteral("Die Projektliste \"%1\" kann nicht gespeichert werden: %2.\n\n"
                                 "Änderungen in diesem Lauf gehen beim Beenden verloren, solange "
                                 "das nicht behoben ist.")
                      .arg(File, Reason));
    const QStringList Settings = RootSettingProblems(FTree->XMLItems()->RootElement());
    if (!Settings.isEmpty())
        ShowError(Settings.join(u'\n'));
}

void TRegistryDocument::Save(bool Unattended) {
    if (!FLoaded || !FTree)
        return;
    const QString File = FileName();
    QByteArray Ours;
    try {
        Ours = Windows1252FileText(TTreeViewWriter(FTree).DocumentLines());
    } catch (const std::exception& E) {
        Tell(QStringLiteral("Die Projektliste \"%1\" kann nicht gespeichert werden: %2")
                 .arg(File, ExceptionText(E)),
             true, Unattended);
        return;
    }
    QString Kept;             // the outside version, kept beside the file
    QString OursKept;         // the window's version, where the file could not take it
    QString WriteError;       // why the file was not written
    QString KeepError;        // why the outside version could not be kept
    QString LostError;        // why the window's changes could not be kept either
    bool OutsideLeft = false; // changed from outside, and left as it is
    {
        // Other windows on this registry (other logins, other runtime folders) save in turn.
        TFolderLock Lock(QFileInfo(File).absolutePath());
        bool Missing = false;
        const QString Problem = FileTypeProblem(File, &Missing);
        QByteArray Now;
        bool NowRead = false;
        if (!Missing && Problem.isEmpty()) {
            try {
                Now = ReadFileBounded(File);
                NowRead = true;
            } catch (const std::exception& E) {
                KeepError = ExceptionText(E);
            }
        } else if (!Missing) {
            KeepError = Problem;
        }
        const bool Outside = Missing ? FReadExisted : !NowRead || Hash(Now) != FReadHash;
        bool Write = true;
        if (Outside && !Missing && Problem.isEmpty() && !FChanged) {
            // A newer file, and nothing here to add to it: it stays.
            Write = false;
        } else if (Outside && NowRead) {
            try {
                Kept = WriteNewFile(File + QStringLiteral(".extern-") + TimeStamp(), Now);
            } catch (const std::exception& E) {
                KeepError = ExceptionText(E);
                Write = false; // what cannot be kept is not replaced
                OutsideLeft = true;
            }
        } else if (Outside && !Missing && FChanged) {
            // Something there that cannot be read (a FIFO, a file too large or unreadable, a
            // link that leads nowhere): neither replaced nor lost; the window's version goes
            // beside it.
            Write = false;
            OutsideLeft = true;
        }
        if (Write) {
            try {
                WriteFileAtomically(File, Ours);
                FReadExisted = true;
                FReadHash = Hash(Ours);
                FChanged = false;
            } catch (const std::exception& E) {
                WriteError = ExceptionText(E);
            }
        }
        const bool Unsaved = FChanged && (!Write || !WriteError.isEmpty());
        if (Unsaved) {
            const QString Name =
                QFileInfo(File).fileName() + QStringLiteral(".fenster-") + TimeStamp();
            for (const QString& Folder : {QFileInfo(File).absolutePath(), QDir::homePath()}) {
                try {
                    OursKept = WriteNewFile(Folder + u'/' + Name, Ours);
                    FChanged = false;
                    break;
                } catch (const std::exception& E) {
                    LostError = ExceptionText(E);
                }
            }
        }
    }

    // What happened, once the other windows may go on.
    if (!Kept.isEmpty() && WriteError.isEmpty())
        Tell(QStringLiteral("Die Projektliste wurde außerhalb des Programms geändert. Diese "
                            "Fassung liegt jetzt in \"%1\"; gespeichert ist die des Programms.")
                 .arg(Kept),
             false, Unattended);
    QStringList Lines;
    if (!WriteError.isEmpty()) {
        Lines << WriteError;
        if (!Kept.isEmpty())
            Lines << QStringLiteral("Die Fassung von außerhalb liegt auch in \"%1\".").arg(Kept);
    }
    if (OutsideLeft)
        Lines << QStringLiteral("Die Projektliste \"%1\" wurde außerhalb des Programms geändert "
                                "und kann nicht beiseitegelegt werden (%2); sie bleibt, wie sie "
                                "ist.")
                     .arg(File, KeepError);
    if (!OursKept.isEmpty())
        Lines << QStringLiteral("Die Änderungen dieses Laufs liegen in \"%1\".").arg(OursKept);
    else if (!LostError.isEmpty())
        Lines << QStringLiteral("Die Änderungen dieses Laufs können auch nicht beiseitegelegt "
                                "werden (%1) und gehen verloren.")
                     .arg(LostError);
    if (!Lines.isEmpty())
        Tell(Lines.join(QStringLiteral("\n\n")), true, Unattended);
}

void TRegistryDocument::Tell(const QString& Message, bool Error, bool Unattended) {
    if (Unattended)
        ReportUnattended(Message);
    else if (Error)
        ShowError(Message);
    else
        ShowInfo(Message);
}

void TRegistryDocument::ReportUnattended(const QString& Message) {
    const QByteArray Text = Message.toUtf8();
    std::fprintf(stderr, "kivSubversion: %s\n", Text.constData());
    openlog("kivSubversion", LOG_PID, LOG_USER);
    syslog(LOG_ERR, "%s", Text.constData());
    closelog();
}
