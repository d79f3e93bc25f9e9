#include "look.h"

#include <QPalette>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace kronex::ui {

QFont arial(int pixelHeight) {
    QFont font(QStringLiteral("Arial"));
    // Metric-compatible substitutes stand in where Arial itself is missing.
    font.setStyleHint(QFont::Helvetica);
    font.setPixelSize(pixelHeight);
    return font;
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void useButtonFaceBackground(QWidget& window) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
}

} // namespace kronex::ui
