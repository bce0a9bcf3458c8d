// The tool bar's HTML export command.
#include "fm_main.h"

#include "html_ausgabe.h"

// The page is written in the background; the busy indicator runs until it is done, and the
// window stays usable meanwhile.
void TfmMain::ToolButton15Click() {
    ExportProjectsAsHtml(
        lvDir->XMLItems()->RootElement(), this, [this] { StartBusy(); }, [this] { StopBusy(); });
}
