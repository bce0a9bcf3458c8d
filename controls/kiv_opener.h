// Opening a file or folder with the desktop's program for it, and saying so when nothing can.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// Every way the program opens something goes through here: the directory field's button, the
// folder list, the exported page, the context menu. Failures are shown with ShowInfo, naming
// what could not be opened.
class TFolderOpener : public QObject {
    Q_OBJECT
public:
    explicit TFolderOpener(QObject* Parent = nullptr);
    void Open(const QString& Path);

    // The launcher, given the path as its last argument; its exit code tells whether
    // something could open it. Empty: xdg-open, else "gio open", looked up when opening; with
    // neither installed the toolkit's desktop services are asked.
    QStringList Command;

signals:
    void Failed(const QString& Message); // after the message was shown (for tests)
    void Finished();                     // the launcher is done, whatever it answered

private:
    void Fail(const QString& Message);
};
