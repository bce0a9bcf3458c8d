// The tool bar's HTML export command.
//
// Waiting for the HTML export: until it lands the command does nothing. The button is wired
// to it already (fm_main.cpp).
#include "fm_main.h"

// Waits for the HTML export of the registry.
void TfmMain::ToolButton15Click() {}
