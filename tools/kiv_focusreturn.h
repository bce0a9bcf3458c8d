// The keyboard focus after a dialog: back on the widget that had it when the dialog opened.
#pragma once

// Installs, once per application, the watch over every modal window (message boxes, input
// boxes, the program's dialogs, the toolkit's file dialog): when one closes, its owner window
// is activated again and the widget that had the focus before gets it back. Left to the window
// manager, some give the window back without its focus widget, some give it back not at all,
// and the toolkit then puts the focus on the first field of the window (the tree's filter box).
void KeepFocusAcrossDialogs();
