// The folder list on the page "Verzeichnis": German columns, sizes and dates whatever the
// system's locale, the icon theme's file icons, and opening an entry with a visible failure.
#pragma once

#include <QFileSystemModel>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

// Column texts as the list shows them; sorting still uses the real sizes and times.
QString GermanFileSize(qint64 Bytes);
QString GermanFileTime(const QDateTime& Time);
// "Ordner", "TXT-Datei", "Datei", "Verknüpfung".
QString GermanFileType(const QFileInfo& Info);

class TFolderListModel : public QFileSystemModel {
    Q_OBJECT
public:
    explicit TFolderListModel(QObject* Parent = nullptr);
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;

private:
    QIcon IconFor(const QModelIndex& Index) const;
    mutable QHash<QString, QIcon> FIcons; // by icon name: one lookup per kind of file
};

// Opens a file of the list with the desktop's program for it. Failures are shown with
// ShowInfo, naming the file.
class TFolderOpener : public QObject {
    Q_OBJECT
public:
    explicit TFolderOpener(QObject* Parent = nullptr);
    void Open(const QString& Path);

    // The launcher for files, given the path as its last argument; its exit code tells
    // whether something could open the file. Default: xdg-open, else "gio open"; empty when
    // neither is installed (the toolkit's desktop services are asked then).
    QStringList Command;

signals:
    void Failed(const QString& Message); // after the message was shown (for tests)

private:
    void Fail(const QString& Message);
};
