// The main window's panels: a flat single-pixel border and no bevel.
#pragma once

#include <QRect>

class QFrame;
class QWidget;

namespace kronex::ui {

QFrame* makePanel(QWidget* parent, const char* name, const QRect& geometry);

} // namespace kronex::ui
