// The Subversion tasks of the "Aufgaben" page and the automatic search.
//
// Waiting for the task engine: until it lands these handlers do nothing. The buttons are
// wired to them already (fm_main.cpp), so the engine only has to fill in the bodies.
#include "fm_main.h"

// Waits for the task engine: "svn status" over the selected node.
void TfmMain::ToolButton8Click() {}

// Waits for the task engine: "svn update" over the selected node.
void TfmMain::ToolButton7Click() {}

// Waits for the task engine: "svn update" in a terminal window.
void TfmMain::inDOSBoxausfhren1Click() {}

// Waits for the task engine: the run over every project below the selected node.
void TfmMain::RunSvnTask(const QString& SubCommand, const QString& Title, bool Console) {
    Q_UNUSED(SubCommand);
    Q_UNUSED(Title);
    Q_UNUSED(Console);
}

// Waits for the automatic search for working copies.
void TfmMain::btnAutoSuchenClick() {}

// Waits for the task engine: creates FTasks (called at the end of the constructor).
void TfmMain::InitTasks() {}

// Waits for the task engine: ends running jobs before the registry is written at close.
void TfmMain::StopBackgroundWork() {}
