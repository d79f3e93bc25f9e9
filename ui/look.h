// Fonts and placement shared by the program's windows.
#pragma once

#include <QFont>

class QWidget;

namespace kronex::ui {

// Arial with the given character height in pixels (11 px is 8 pt at 96 dpi).
QFont arial(int pixelHeight);

// Moves a top-level window so that its frame sits in the middle of its
// screen; call it once the window exists, when the frame is known.
void centreOnScreen(QWidget& window);

// Paints the window background in the button-face colour.
void useButtonFaceBackground(QWidget& window);

} // namespace kronex::ui
