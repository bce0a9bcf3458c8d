// The folder list on the page "Verzeichnis": German columns, sizes and dates whatever the
// system's locale, and the icon theme's file icons.
#pragma once

#include <QFileSystemModel>
#include <QHash>
#include <QIcon>
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
