// What a node of the registry tree carries for the window besides its element.
#pragma once

#include <Qt>

// The state of the node's last run (int of TSvnState); absent before any run.
inline constexpr int NodeStateRole = Qt::UserRole + 42;
