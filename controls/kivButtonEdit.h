// A single-line edit with an image button at its right end, and its directory form.
#pragma once

#include <QFileDialog>
#include <QIcon>
#include <QLineEdit>
#include <QList>
#include <QString>

class QAction;

enum TBrowseForFolderOption {
    bifBrowseForComputer,
    bifBrowseForPrinter,
    bifBrowseIncludeFiles,
    bifBrowseIncludeURLS,
    bifDontGoBelowDomain,
    bifEditBox,
    bifNewDialogStyle,
    bifNoNewFolderButton,
    bifNoTranslateTargets,
    bifReturnFSAncestors,
    bifReturnOnlyFSDirs,
    bifShareable,
    bifStatusText,
    bifUAHint,
    bifUseNewUI,
    bifValidate,
};

// A set of TBrowseForFolderOption: bit (1 << option).
class TBrowseOptions {
public:
    TBrowseOptions() = default;
    TBrowseOptions(std::initializer_list<TBrowseForFolderOption> Options);
    bool contains(TBrowseForFolderOption Option) const { return FBits & (1u << Option); }
    void insert(TBrowseForFolderOption Option) { FBits |= (1u << Option); }
    unsigned Bits() const { return FBits; }
    unsigned BrowseFlags() const; // the union of the shell's BIF_ flags
    bool operator==(const TBrowseOptions& Other) const = default;

private:
    unsigned FBits = 0;
};

// The three button images: normal, disabled, hot.
using TImageList = QList<QIcon>;

class TkivDirectoryDlg {
public:
    QString Caption;
    QString RootDir;
    TBrowseOptions Options() const { return FOptions; }
    void SetOptions(TBrowseOptions Value); // IncludeURLS adds IncludeFiles and UseNewUI;
                                           // Shareable adds NewDialogStyle

private:
    TBrowseOptions FOptions;
};

class TkivCustomButtonedEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TkivCustomButtonedEdit(QWidget* Parent = nullptr);
    QAction* RightButton() const { return FButton; }
    // Loads the three 16 by 16 images (":/DIR0" ...), magenta as transparent.
    static TImageList LoadButtonImages(const QString& NormalName, const QString& DisabledName,
                                       const QString& HotName);

protected:
    // Derived constructors call this once: the images and the button.
    void InitButton();
    virtual void ButtonClick();
    virtual void BeforeExecute() {}
    virtual void AfterExecute() {}
    virtual TImageList CreateButtonImages() = 0;
    void changeEvent(QEvent* Event) override;

    TImageList FImages;
    QAction* FButton = nullptr;
};

class TkivDirectoryEdit : public TkivCustomButtonedEdit {
    Q_OBJECT
public:
    explicit TkivDirectoryEdit(QWidget* Parent = nullptr);
    TkivDirectoryDlg& Dialog() { return FDialog; }
    void SetDialog(const TkivDirectoryDlg& Value);

protected:
    void ButtonClick() override; // folder browser; the chosen path becomes the text
    TImageList CreateButtonImages() override;

private:
    TkivDirectoryDlg FDialog;
};

// The folder browser that TkivDirectoryEdit opens: Qt's own (non-native) file dialog in
// directory mode. With an existing RootDir it cannot leave that folder; otherwise it starts in
// the home folder.
class TkivFolderDialog : public QFileDialog {
    Q_OBJECT
public:
    TkivFolderDialog(QWidget* Parent, const TkivDirectoryDlg& Settings);
    QString RootDir() const { return FRoot; } // cleaned, empty when not rooted
    void accept() override;
    QString Chosen() const { return FChosen; } // the confirmed folder, empty if none

private:
    bool Inside(const QString& Path) const;
    void BackToRoot();
    QString FRoot;
    QString FChosen;
};
