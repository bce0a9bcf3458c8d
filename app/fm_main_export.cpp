// The tool bar's HTML export command.
#include "fm_main.h"

#include "html_ausgabe.h"
#include "kiv_prompts.h"
#include "kiv_registrydoc.h"
#include "kiv_statusbar.h"
#include "kiv_taskcontrol.h"

// The page is written in the background; the busy indicator runs until it is done, and the
// window stays usable meanwhile. The status bar names the file written and opens it.
void TfmMain::ToolButton15Click() {
    if (!Tasks || FCloseWhenIdle)
        return;
    THtmlExportJob* Job = ExportProjectsAsHtml(lvDir->XMLItems()->RootElement(), Tasks);
    if (!Job)
        return;
    StatusBar1->ShowMessage(QStringLiteral("HTML-Seite wird geschrieben: %1").arg(Job->FileName()));
    Tasks->AddExport(Job);
}

void TfmMain::StopExports(bool Unattended) {
    // A page not yet written is not left to vanish without a word.
    for (THtmlExportJob* Job : findChildren<THtmlExportJob*>()) {
        const QString Message = Job->Abandon();
        if (Message.isEmpty())
            continue;
        if (Unattended)
            TRegistryDocument::ReportUnattended(Message);
        else
            ShowError(Message);
    }
}
