// The program's icon and the toolbar's button images, drawn in code.
#pragma once

#include <QIcon>

QIcon AppIcon();
// The toolbar image of a command ID (16 x 15 pixels); a null icon for unknown IDs.
QIcon ToolbarIcon(int commandId);
