#include "start_click.h"

namespace kronex {

void sbATUClick(MainWindowOps& window) {
    window.setBusyCursor();
    window.stepProgress(-window.progressMax());
    window.setStartEnabled(false);
    if (!window.SHOW_MSG(MSG_INICIAR)) {
        window.restoreCursor();
        window.setStartEnabled(true);
        return;
    }
    window.pumpEvents();

    // No port gave a compatible unit: report it and wait for another try.
    window.SHOW_MSG(MSG_PORTA);
    window.restoreCursor();
    window.setStartEnabled(true);
    window.setStartCaption("Iniciar");
}

} // namespace kronex
