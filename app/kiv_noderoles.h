// What a node of the registry tree carries for the window besides its element.
#pragma once

#include <Qt>

// The state of the node's last run (int of TSvnState); absent before any run.
inline constexpr int NodeStateRole = Qt::UserRole + 42;
// The task of that run (int of TSvnTask) and when it ended (QDateTime).
inline constexpr int NodeTaskRole = Qt::UserRole + 43;
inline constexpr int NodeTimeRole = Qt::UserRole + 44;
