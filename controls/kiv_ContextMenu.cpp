#include "kiv_ContextMenu.h"

#include "kiv_opener.h"
#include "kiv_process.h"
#include "kiv_prompts.h"
#include "kiv_system.h"
#include "kiv_terminal.h"

#include <QClipboard>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMenu>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace {

// The string escapes of a desktop entry's values (\s \n \t \r \\).
QString Unescape(const QString& Value) {
    QString Result;
    Result.reserve(Value.size());
    for (qsizetype I = 0; I < Value.size(); ++I) {
        const QChar C = Value[I];
        if (C == u'\\' && I + 1 < Value.size()) {
            const QChar E = Value[++I];
            if (E == u's')
                Result += u' ';
            else if (E == u'n')
                Result += u'\n';
            else if (E == u't')
                Result += u'\t';
            else if (E == u'r')
                Result += u'\r';
            else if (E == u'\\')
                Result += u'\\';
            else {
                Result += u'\\';
                Result += E;
            }
        } else {
            Result += C;
        }
    }
    return Result;
}

QStringList ListValue(const QString& Value) {
    QStringList Items = Value.split(u';', Qt::SkipEmptyParts);
    for (QString& I : Items)
        I = I.trimmed();
    return Items;
}

// The keys of the group [Desktop Entry]; empty when the file has none.
QHash<QString, QString> ReadDesktopEntry(const QString& FileName) {
    QHash<QString, QString> Keys;
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        return Keys;
    QTextStream In(&File);
    In.setEncoding(QStringConverter::Utf8);
    bool InGroup = false;
    while (!In.atEnd()) {
        const QString Line = In.readLine().trimmed();
        if (Line.isEmpty() || Line.startsWith(u'#'))
            continue;
        if (Line.startsWith(u'[')) {
            InGroup = Line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!InGroup)
            continue;
        const qsizetype Eq = Line.indexOf(u'=');
        if (Eq <= 0)
            continue;
        const QString Key = Line.left(Eq).trimmed();
        if (!Keys.contains(Key))
            Keys.insert(Key, Line.mid(Eq + 1).trimmed());
    }
    return Keys;
}

QString LocalizedValue(const QHash<QString, QString>& Keys, const QString& Key) {
    const QString Locale = QLocale::system().name(); // "de_DE"
    for (const QString& Suffix : {Locale, Locale.section(u'_', 0, 0)}) {
        const auto It = Keys.find(Key + u'[' + Suffix + u']');
        if (!Suffix.isEmpty() && It != Keys.end())
            return Unescape(It.value());
    }
    return Unescape(Keys.value(Key));
}

bool TrueValue(const QString& V) {
    return V == QStringLiteral("true");
}

bool ShownOnThisDesktop(const QHash<QString, QString>& Keys) {
    const QStringList Current =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    const QStringList Only = ListValue(Keys.value(QStringLiteral("OnlyShowIn")));
    const QStringList Not = ListValue(Keys.value(QStringLiteral("NotShowIn")));
    for (const QString& D : Current)
        if (Not.contains(D))
            return false;
    if (Only.isEmpty())
        return true;
    for (const QString& D : Current)
        if (Only.contains(D))
            return true;
    return false;
}

bool Launch(const TFolderApplication& App, const QString& Path) {
    QStringList Command = ExpandDesktopExec(App, Path);
    if (Command.isEmpty())
        return false;
    // An application for the terminal gets one, as the desktop would give it.
    if (App.Terminal)
        return StartInTerminal(Command, Path, false);
    const QString Program = Command.takeFirst();
    return StartDetached(Program, Command, Path);
}

// Closes the menu when the window it belongs to is hidden or closed (for instance when the
// program is asked to end while the menu is open), so the menu's loop does not outlive it.
class TCloseWithWindow : public QObject {
public:
    TCloseWithWindow(QWidget* Window, QMenu* Menu) : QObject(Menu), FMenu(Menu) {
        Window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Hide || Event->type() == QEvent::Close)
            FMenu->close();
        return QObject::eventFilter(Watched, Event);
    }

private:
    QMenu* FMenu;
};

} // namespace

QList<TFolderApplication> FolderApplications(const QString& MimeType) {
    QList<TFolderApplication> Result;
    QSet<QString> Seen; // desktop file ids: the first folder that has one wins
    for (const QString& Dir :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        QDirIterator It(Dir, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        QStringList Files;
        while (It.hasNext())
            Files << It.next();
        Files.sort();
        for (const QString& File : Files) {
            QString Id = File.mid(IncludeDirDelimiter(Dir).size());
            Id.replace(u'/', u'-');
            if (Seen.contains(Id))
                continue;
            Seen.insert(Id);
            const QHash<QString, QString> Keys = ReadDesktopEntry(File);
            if (Keys.value(QStringLiteral("Type")) != QStringLiteral("Application") ||
                TrueValue(Keys.value(QStringLiteral("Hidden"))) ||
                TrueValue(Keys.value(QStringLiteral("NoDisplay"))) || !ShownOnThisDesktop(Keys))
                continue;
            if (!ListValue(Keys.value(QStringLiteral("MimeType"))).contains(MimeType))
                continue;
            const QString TryExec = Unescape(Keys.value(QStringLiteral("TryExec")));
            if (!TryExec.isEmpty() && QStandardPaths::findExecutable(TryExec).isEmpty() &&
                !QFileInfo(TryExec).isExecutable())
                continue;
            TFolderApplication App;
            App.Id = Id;
            App.FileName = File;
            App.Name = LocalizedValue(Keys, QStringLiteral("Name"));
            App.Icon = LocalizedValue(Keys, QStringLiteral("Icon"));
            App.Exec = Unescape(Keys.value(QStringLiteral("Exec")));
            App.Terminal = TrueValue(Keys.value(QStringLiteral("Terminal")));
            if (App.Name.isEmpty() || App.Exec.isEmpty())
                continue;
            Result << App;
        }
    }
    std::stable_sort(Result.begin(), Result.end(),
                     [](const TFolderApplication& A, const TFolderApplication& B) {
                         return A.Name.localeAwareCompare(B.Name) < 0;
                     });
    return Result;
}

QStringList ExpandDesktopExec(const TFolderApplication& App, const QString& Path) {
    QStringList Result;
    bool PathGiven = false;
    for (const QString& Word : SplitCommandLine(App.Exec)) {
        if (Word == QStringLiteral("%f") || Word == QStringLiteral("%F")) {
            Result << Path;
            PathGiven = true;
        } else if (Word == QStringLiteral("%u") || Word == QStringLiteral("%U")) {
            Result << QString::fromUtf8(QUrl::fromLocalFile(Path).toEncoded());
            PathGiven = true;
        } else if (Word == QStringLiteral("%i")) {
            if (!App.Icon.isEmpty())
                Result << QStringLiteral("--icon") << App.Icon;
        } else {
            QString Out;
            for (qsizetype I = 0; I < Word.size(); ++I) {
                if (Word[I] != u'%' || I + 1 >= Word.size()) {
                    Out += Word[I];
                    continue;
                }
                const QChar Code = Word[++I];
                if (Code == u'%')
                    Out += u'%';
                else if (Code == u'c')
                    Out += App.Name;
                else if (Code == u'k')
                    Out += App.FileName;
                else if (Code == u'f' || Code == u'F') {
                    Out += Path;
                    PathGiven = true;
                } else if (Code == u'u' || Code == u'U') {
                    Out += QString::fromUtf8(QUrl::fromLocalFile(Path).toEncoded());
                    PathGiven = true;
                }
                // the deprecated codes (%d %D %n %N %v %m) are dropped
            }
            if (!Out.isEmpty() || Word.isEmpty())
                Result << Out;
        }
    }
    // It claims to open folders but names no place for one: give it the folder at the end.
    if (!PathGiven && !Result.isEmpty())
        Result << Path;
    return Result;
}

bool ShowExplorerContextMenu(QWidget* Owner, const QString& Path, const QPoint& Pos,
                             const QList<QAction*>& Extra) {
    const QString Target = ExcludeDirDelimiter(Path.trimmed());
    const QFileInfo Info(Target);
    if (Target.isEmpty() || !Info.exists())
        return false;
    const QString MimeType = Info.isDir() ? QStringLiteral("inode/directory")
                                          : QMimeDatabase().mimeTypeForFile(Info).name();

    QMenu Menu(Owner);
    QAction* Open = Menu.addAction(QStringLiteral("Öffnen"));
    Menu.setDefaultAction(Open);
    if (!Extra.isEmpty()) {
        Menu.addSeparator();
        Menu.addActions(Extra);
    }
    const QList<TFolderApplication> Apps = FolderApplications(MimeType);
    QHash<QAction*, TFolderApplication> AppOf;
    if (!Apps.isEmpty()) {
        Menu.addSeparator();
        for (const TFolderApplication& App : Apps) {
            QIcon Icon =
                QFileInfo(App.Icon).isAbsolute() ? QIcon(App.Icon) : QIcon::fromTheme(App.Icon);
            AppOf.insert(Menu.addAction(Icon, App.Name), App);
        }
    }
    Menu.addSeparator();
    QAction* Terminal =
        Info.isDir() ? Menu.addAction(QStringLiteral("Terminal hier öffnen")) : nullptr;
    QAction* Copy = Menu.addAction(QStringLiteral("Pfad kopieren"));

    if (Owner)
        new TCloseWithWindow(Owner->window(), &Menu);
    const QPoint Global = Owner ? Owner->mapToGlobal(Pos) : Pos;
    QAction* Chosen = Menu.exec(Global);
    if (!Chosen)
        return false;
    if (Extra.contains(Chosen))
        return true; // the menu has triggered it
    if (Chosen == Open) {
        // Lives until its launcher has answered; says itself when nothing could open it.
        auto* Opener = new TFolderOpener(Owner ? static_cast<QObject*>(Owner->window())
                                               : QCoreApplication::instance());
        QObject::connect(Opener, &TFolderOpener::Finished, Opener, &QObject::deleteLater);
        Opener->Open(Target);
        return true;
    }
    if (Chosen == Terminal) {
        if (StartInTerminal({}, Target))
            return true;
        ShowError(NoTerminalText());
        return false;
    }
    if (Chosen == Copy) {
        QClipboard* Clipboard = QGuiApplication::clipboard();
        if (!Clipboard)
            return false;
        Clipboard->setText(Target);
        return true;
    }
    const auto It = AppOf.find(Chosen);
    if (It == AppOf.end())
        return false;
    if (Launch(It.value(), Target))
        return true;
    ShowError(It->Terminal && FindTerminal().isEmpty()
                  ? NoTerminalText()
                  : QStringLiteral("\"%1\" lässt sich nicht starten.").arg(It->Name));
    return false;
}
