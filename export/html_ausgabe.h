#pragma once
// HTML export of the project tree: the dialog asking for folder and file name, and the page.

#include <QDialog>
#include <QString>

class TkivXmlElement;

// Shows the dialog; returns true when the user confirmed with OK.
bool ShowHtmlExportDialog(QString& Directory, QString& FileName);
