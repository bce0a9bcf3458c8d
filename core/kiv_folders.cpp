#include "kiv_folders.h"

#include "kiv_kinds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Resolve(const QString& D, const QString& Base) {
    return QDir::cleanPath(QDir::isAbsolutePath(D) ? D : Base + u'/' + D);
}

} // namespace

QString ProjectBase() {
    return QDir::homePath();
}

QString ProjectFolder(const QString& Directory, const QString& Base) {
    const QString D = TrimBlanksAndControls(Directory);
    if (D.isEmpty())
        return QString();
    if (D.size() != Directory.size()) {
        // Blanks at the ends can be part of a folder's name.
        const QString AsWritten = Resolve(Directory, Base);
        if (QFileInfo(AsWritten).isDir())
            return AsWritten;
    }
    return Resolve(D, Base);
}

QString ProjectFolder(const QString& Directory) {
    return ProjectFolder(Directory, ProjectBase());
}

QString RegisteredKey(const QString& Directory, const QString& Base) {
    const QString F = ProjectFolder(Directory, Base);
    if (F.isEmpty() || F.endsWith(u'/'))
        return F;
    return F + u'/';
}

bool PathsOverlap(const QString& A, const QString& B) {
    if (A.isEmpty() || B.isEmpty())
        return false;
    if (A == B)
        return true;
    // Without building strings: batching compares every folder with its batch's.
    auto Inside = [](const QString& Outer, const QString& Inner) {
        if (!Inner.startsWith(Outer))
            return false;
        return Outer.endsWith(u'/') || (Inner.size() > Outer.size() && Inner.at(Outer.size()) == u'/');
    };
    return Inside(A, B) || Inside(B, A);
}

TFolderState CheckFolder(const QString& Folder) {
    if (Folder.isEmpty())
        return TFolderState::Missing;
    const QByteArray Path = QFile::encodeName(Folder);
    if (Path.size() >= PATH_MAX)
        return TFolderState::TooLong;
    struct stat S;
    if (stat(Path.constData(), &S) != 0) {
        switch (errno) {
        case EACCES:
            return TFolderState::NoAccess;
        case ENAMETOOLONG:
            return TFolderState::TooLong;
        default:
            return TFolderState::Missing;
        }
    }
    if (!S_ISDIR(S.st_mode))
        return TFolderState::NotAFolder;
    // The client starts in the folder and reads it.
    if (access(Path.constData(), R_OK | X_OK) != 0)
        return TFolderState::NoAccess;
    return TFolderState::Ready;
}

QString FolderProblemText(TFolderState State, const QString& Folder) {
    switch (State) {
    case TFolderState::Ready:
        return QString();
    case TFolderState::Missing:
        return QStringLiteral("Verzeichnis nicht gefunden");
    case TFolderState::NotAFolder:
        return QStringLiteral("Kein Verzeichnis: der Pfad nennt eine Datei");
    case TFolderState::NoAccess:
        return QStringLiteral("Kein Zugriff auf das Verzeichnis (fehlende Leserechte)");
    case TFolderState::TooLong:
        return QStringLiteral("Der Pfad ist zu lang für das System (%1 Zeichen, erlaubt sind %2)")
            .arg(QFile::encodeName(Folder).size())
            .arg(PATH_MAX - 1);
    }
    return QString();
}
