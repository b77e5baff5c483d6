// Our own small pictures: toolbar buttons drawn in the 16 colours of the
// classic palette, the two logos of the About box and the program's icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace varnel {

// Picture of a toolbar button by its object name ("SpeedNew", "SpeedCode",
// ...), square of the given size (16 on the file bar, 18 on the others).
QPixmap ToolPicture(const QString& button, int size);
QPixmap ChipPicture();       // 177 x 49
// The program's icon, every window's: the chip with its "V", as the
// installed scalable icon draws it, at the sizes window frames ask for.
QIcon ProgramIcon();
QPixmap ToolMakerPicture();  // 81 x 49
// The program's picture (the About box's, 65 x 57) centred on a square, as
// the icon every window of the program carries.
QIcon ProgramIcon();

}  // namespace varnel
