#include "panel.h"

#include <QFrame>

namespace kronex::ui {

QFrame* makePanel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameShape(QFrame::Box);
    panel->setFrameShadow(QFrame::Plain);
    panel->setLineWidth(1);
    panel->setGeometry(geometry);
    return panel;
}

} // namespace kronex::ui
