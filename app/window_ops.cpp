#include "window_ops.h"

#include <string>

namespace kronex {

void MainWindowOps::checkBegins() {
    setBusyCursor();
}

void MainWindowOps::checkEnded() {
    restoreCursor();
    pumpEvents();
}

void MainWindowOps::sessionBegins(std::string_view serial) {
    pumpEvents();
    setStatusText("Número de série: " + std::string(serial));
    setStartCaption("Aguarde...");
    pumpEvents();
}

void MainWindowOps::advanced(int units) {
    stepProgress(units);
}

void MainWindowOps::between() {
    pumpEvents();
}

void MainWindowOps::sessionCompleted() {
    stepProgress(progressMax());
    setStatusText("Atualização concluída!");
    pumpEvents();
    SHOW_MSG(MSG_CONCLUIDO);
}

} // namespace kronex
