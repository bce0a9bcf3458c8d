// The main window's status bar: a run's progress and its cancel button, the summary after it,
// the search's progress, the file an export wrote with a way to open it, and the legend of
// the tree's colours.
#pragma once

#include "svn_tables.h"

#include <QStatusBar>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

class TkivStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TkivStatusBar(QWidget* Parent = nullptr);
    QPushButton* CancelButton() const { return FCancel; }
    QLabel* MessageLabel() const { return FMessage; }

    void ShowProgress(int Done, int Total);    // "12 von 400 Projekten", with the cancel button
    void ShowSearch(int Folders, int Found);   // during the search, with the cancel button
    void ShowMessage(const QString& Text);     // the run or search has ended
    void ShowWritten(const QString& FileName); // an export: the file, and a link to open it
    void SetCancelVisible(bool Visible);
    void UpdateLegend();                       // after the palette changed

signals:
    void CancelClicked();
    void OpenRequested(const QString& Path); // the written file's link was clicked

protected:
    void changeEvent(QEvent* Event) override;

private:
    QLabel* FMessage;
    QProgressBar* FProgress;
    QPushButton* FCancel;
    QLabel* FLegend;
};
