#include "kiv_folderlist.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStandardPaths>

namespace {

// Without a desktop (no theme named, or one without file icons) the list would show the
// style's two generic icons; an installed theme does better.
void EnsureIconTheme() {
    static bool Done = false;
    if (Done)
        return;
    Done = true;
    if (!QIcon::fromTheme(QStringLiteral("folder")).isNull())
        return;
    QStringList Paths = QIcon::themeSearchPaths();
    const QStringList Installed = QStandardPaths::locateAll(
        QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory);
    for (const QString& Dir : Installed)
        if (!Paths.contains(Dir))
            Paths << Dir;
    QIcon::setThemeSearchPaths(Paths);
    const QString Desktop = QIcon::themeName();
    const QStringList Candidates = {Desktop,
                                    QStringLiteral("default"),
                                    QStringLiteral("Adwaita"),
                                    QStringLiteral("breeze"),
                                    QStringLiteral("oxygen"),
                                    QStringLiteral("Tango"),
                                    QStringLiteral("gnome")};
    for (const QString& Name : Candidates) {
        if (Name.isEmpty())
            continue;
        QIcon::setThemeName(Name);
        if (!QIcon::fromTheme(QStringLiteral("folder")).isNull())
            return;
    }
    QIcon::setThemeName(Desktop);
}

// The model's worker thread asks this for every entry: the type column shows and sorts by
// what it answers. Icons come from the model's data() on the GUI thread instead, where the
// icon loader is at home.
class TFolderIconProvider : public QFileIconProvider {
public:
    QIcon icon(IconType Type) const override { return QFileIconProvider::icon(Type); }
    QIcon icon(const QFileInfo&) const override { return QIcon(); }
    QString type(const QFileInfo& Info) const override { return GermanFileType(Info); }
};

TFolderIconProvider* Provider() {
    static TFolderIconProvider P;
    return &P;
}

const QLocale& German() {
    static const QLocale L(QLocale::German, QLocale::Germany);
    return L;
}

} // namespace

QString GermanFileSize(qint64 Bytes) {
    if (Bytes < 1024)
        return Bytes == 1 ? QStringLiteral("1 Byte") : QStringLiteral("%1 Bytes").arg(Bytes);
    static const char* const Units[] = {"KB", "MB", "GB", "TB", "PB"};
    double Value = Bytes / 1024.0;
    int Unit = 0;
    // 1023,96 KB would show as "1.024,0 KB"; it is 1,0 MB.
    while (Value >= 1023.95 && Unit < 4) {
        Value /= 1024.0;
        ++Unit;
    }
    return German().toString(Value, 'f', 1) + u' ' + QLatin1String(Units[Unit]);
}

QString GermanFileTime(const QDateTime& Time) {
    if (!Time.isValid())
        return QString();
    return German().toString(Time.toLocalTime(), QStringLiteral("dd.MM.yyyy HH:mm"));
}

QString GermanFileType(const QFileInfo& Info) {
    if (Info.isSymLink() && !Info.exists())
        return QStringLiteral("Verknüpfung");
    if (Info.isDir())
        return QStringLiteral("Ordner");
    const QString Suffix = Info.suffix();
    if (Suffix.isEmpty())
        return QStringLiteral("Datei");
    return Suffix.toUpper() + QStringLiteral("-Datei");
}

TFolderListModel::TFolderListModel(QObject* Parent) : QFileSystemModel(Parent) {
    EnsureIconTheme();
    setIconProvider(Provider());
}

QIcon TFolderListModel::IconFor(const QModelIndex& Index) const {
    QStringList Names;
    QString Key;
    const bool Dir = isDir(Index);
    if (Dir) {
        Key = QStringLiteral("inode/directory");
        Names = {QStringLiteral("folder")};
    } else {
        // By the name only: the GUI thread reads no file contents.
        static const QMimeDatabase Mime;
        const QMimeType Type = Mime.mimeTypeForFile(fileName(Index), QMimeDatabase::MatchExtension);
        Key = Type.name();
        Names = {Type.iconName(), Type.genericIconName(), QStringLiteral("text-x-generic")};
    }
    auto It = FIcons.constFind(Key);
    if (It != FIcons.constEnd())
        return *It;
    QIcon Icon;
    for (const QString& Name : Names)
        if (!Name.isEmpty() && QIcon::hasThemeIcon(Name)) {
            Icon = QIcon::fromTheme(Name);
            break;
        }
    if (Icon.isNull())
        Icon = Provider()->icon(Dir ? QFileIconProvider::Folder : QFileIconProvider::File);
    FIcons.insert(Key, Icon);
    return Icon;
}

QVariant TFolderListModel::data(const QModelIndex& Index, int Role) const {
    if (Index.isValid()) {
        if (Index.column() == 0 && Role == Qt::DecorationRole)
            return IconFor(Index);
        if (Role == Qt::DisplayRole) {
            switch (Index.column()) {
            case 1:
                return isDir(Index) ? QString() : GermanFileSize(size(Index));
            case 3:
                return GermanFileTime(lastModified(Index));
            default:
                break;
            }
        }
    }
    return QFileSystemModel::data(Index, Role);
}

QVariant TFolderListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole) {
        switch (Section) {
        case 0:
            return QStringLiteral("Name");
        case 1:
            return QStringLiteral("Größe");
        case 2:
            return QStringLiteral("Typ");
        case 3:
            return QStringLiteral("Änderungsdatum");
        default:
            break;
        }
    }
    return QFileSystemModel::headerData(Section, Orientation, Role);
}
