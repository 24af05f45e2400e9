#pragma once
#include <QIcon>
#include <QPixmap>

// The program's icon and the About box's logo, drawn here so that the program carries no image
// files: a valve symbol (two triangles meeting at the seat, the actuator above) with a flow arrow.
QIcon ProgramIcon();
// 220 x 71 pixels.
QPixmap ProgramLogo();
