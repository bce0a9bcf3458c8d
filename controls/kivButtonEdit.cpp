#include "kivButtonEdit.h"

#include "kiv_errors.h"

#include "kiv_system.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <stdexcept>

static void InitControlResources() {
    // The library is linked statically: its resources must be registered by hand, once.
    static const bool Done = [] {
        Q_INIT_RESOURCE(controls);
        return true;
    }();
    (void)Done;
}

// ---------------------------------------------------------------------------------------------
// TBrowseOptions

TBrowseOptions::TBrowseOptions(std::initializer_list<TBrowseForFolderOption> Options) {
    for (TBrowseForFolderOption O : Options)
        insert(O);
}

unsigned TBrowseOptions::BrowseFlags() const {
    // The shell's BIF_ value of each option, in the enumeration's order.
    static constexpr unsigned Flags[] = {0x1000, 0x2000, 0x4000, 0x80,   0x2, 0x10,  0x40, 0x200,
                                         0x400,  0x8,    0x1,    0x8000, 0x4, 0x100, 0x50, 0x20};
    unsigned Result = 0;
    for (unsigned I = 0; I < sizeof Flags / sizeof Flags[0]; ++I)
        if (FBits & (1u << I))
            Result |= Flags[I];
    return Result;
}

void TkivDirectoryDlg::SetOptions(TBrowseOptions Value) {
    if (Value.contains(bifBrowseIncludeURLS)) {
        Value.insert(bifUseNewUI);
        Value.insert(bifBrowseIncludeFiles);
    }
    if (Value.contains(bifShareable))
        Value.insert(bifNewDialogStyle);
    FOptions = Value;
}

// ---------------------------------------------------------------------------------------------
// TkivCustomButtonedEdit

TkivCustomButtonedEdit::TkivCustomButtonedEdit(QWidget* Parent) : QLineEdit(Parent) {}

void TkivCustomButtonedEdit::InitButton() {
    if (FButton)
        return;
    FImages = CreateButtonImages();
    // One icon with the three states: the edit's button paints the disabled image while
    // disabled and the hot one while pressed or under the mouse.
    QIcon Icon;
    const QSize Size(16, 16);
    if (FImages.size() > 0)
        Icon.addPixmap(FImages[0].pixmap(Size), QIcon::Normal);
    if (FImages.size() > 1)
        Icon.addPixmap(FImages[1].pixmap(Size), QIcon::Disabled);
    if (FImages.size() > 2)
        Icon.addPixmap(FImages[2].pixmap(Size), QIcon::Active);
    FButton = addAction(Icon, QLineEdit::TrailingPosition);
    FButton->setEnabled(isEnabled());
    // Reachable from the keyboard as well: F4 while the edit has the focus.
    FButton->setShortcut(Qt::Key_F4);
    FButton->setShortcutContext(Qt::WidgetShortcut);
    FButton->setToolTip(QStringLiteral("Auswählen … (F4)"));
    connect(FButton, &QAction::triggered, this, [this] { ButtonClick(); });
}

TImageList TkivCustomButtonedEdit::LoadButtonImages(const QString& NormalName,
                                                    const QString& DisabledName,
                                                    const QString& HotName) {
    InitControlResources();
    TImageList Result;
    for (const QString& Name : {NormalName, DisabledName, HotName}) {
        const QString Path =
            Name.startsWith(u':') || Name.startsWith(u'/') ? Name : QStringLiteral(":/") + Name;
        QImage Image(Path);
        if (Image.isNull())
            throw EProgramError(QStringLiteral("Das Bild \"%1\" fehlt.").arg(Name));
        Image = Image.convertToFormat(QImage::Format_ARGB32);
        // Magenta is the transparent colour.
        for (int Y = 0; Y < Image.height(); ++Y) {
            QRgb* Line = reinterpret_cast<QRgb*>(Image.scanLine(Y));
            for (int X = 0; X < Image.width(); ++X)
                if ((Line[X] & 0xFFFFFF) == 0xFF00FF)
                    Line[X] = qRgba(0, 0, 0, 0);
        }
        Result << QIcon(QPixmap::fromImage(Image));
    }
    return Result;
}

void TkivCustomButtonedEdit::ButtonClick() {}

void TkivCustomButtonedEdit::changeEvent(QEvent* Event) {
    QLineEdit::changeEvent(Event);
    if (Event->type() == QEvent::EnabledChange && FButton)
        FButton->setEnabled(isEnabled());
}

// ---------------------------------------------------------------------------------------------
// TkivDirectoryEdit

TkivDirectoryEdit::TkivDirectoryEdit(QWidget* Parent) : TkivCustomButtonedEdit(Parent) {
    InitButton();
    FDialog.SetOptions({bifNewDialogStyle, bifReturnOnlyFSDirs});
}

TImageList TkivDirectoryEdit::CreateButtonImages() {
    return LoadButtonImages(QStringLiteral("DIR0"), QStringLiteral("DIR1"), QStringLiteral("DIR2"));
}

void TkivDirectoryEdit::SetDialog(const TkivDirectoryDlg& Value) {
    FDialog.Caption = Value.Caption;
    FDialog.RootDir = Value.RootDir;
    FDialog.SetOptions(Value.Options());
}

TkivFolderDialog::TkivFolderDialog(QWidget* Parent, const TkivDirectoryDlg& Settings)
    : QFileDialog(Parent) {
    setWindowTitle(Settings.Caption.isEmpty() ? QStringLiteral("Ordner suchen") : Settings.Caption);
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    const TBrowseOptions Options = Settings.Options();
    setOption(QFileDialog::ShowDirsOnly, !Options.contains(bifBrowseIncludeFiles));
    setOption(QFileDialog::ReadOnly, Options.contains(bifNoNewFolderButton));
    // What the dialog confirms; read after exec, when its own selection may be gone.
    connect(this, &QFileDialog::fileSelected, this, [this](const QString& F) { FChosen = F; });
    if (DirExists(Settings.RootDir)) {
        FRoot = QDir::cleanPath(QDir(Settings.RootDir).absolutePath());
        setDirectory(FRoot);
        setSidebarUrls({QUrl::fromLocalFile(FRoot)});
        setHistory({});
        // The browser is rooted here: whatever way the user leaves the folder, back he goes,
        // once the dialog has finished its own navigation.
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString& Dir) {
            if (!Inside(Dir))
                QMetaObject::invokeMethod(this, &TkivFolderDialog::BackToRoot,
                                          Qt::QueuedConnection);
        });
    } else {
        setDirectory(QDir::homePath());
    }
}

bool TkivFolderDialog::Inside(const QString& Path) const {
    if (FRoot.isEmpty())
        return true;
    const QString P = QDir::cleanPath(QDir(Path).absolutePath());
    return P == FRoot || P.startsWith(IncludeDirDelimiter(FRoot));
}

void TkivFolderDialog::BackToRoot() {
    setDirectory(FRoot);
    // What was selected outside must not be confirmed later.
    for (QAbstractItemView* View : findChildren<QAbstractItemView*>())
        if (View->selectionModel())
            View->selectionModel()->clearSelection();
}

void TkivFolderDialog::accept() {
    const QStringList Files = selectedFiles();
    if (std::any_of(Files.begin(), Files.end(), [this](const QString& F) { return !Inside(F); })) {
        BackToRoot();
        return;
    }
    QFileDialog::accept();
}

void TkivDirectoryEdit::ButtonClick() {
    TkivFolderDialog Browser(window(), FDialog);
    if (Browser.exec() != QDialog::Accepted)
        return;
    const QString Chosen = Browser.Chosen();
    if (Chosen.isEmpty())
        return;
    if (Chosen != text())
        setText(Chosen);
}
