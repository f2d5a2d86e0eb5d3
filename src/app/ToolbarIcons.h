#pragma once
#include <QIcon>

namespace korvane::app {

// The toolbar's icon list, drawn in code (no image files to ship): index n
// is the n-th icon of the list.
QIcon ToolbarIcon(int index);

}  // namespace korvane::app
