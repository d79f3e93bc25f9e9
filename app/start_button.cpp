#include "start_button.h"

#include "detection.h"
#include "update_session.h"

namespace kronex {

void sbATUClick(MainWindowOps& window, Workflow& w) {
    SerialPort& port = w.link.port;
    window.setBusyCursor();
    window.stepProgress(-window.progressMax());
    window.setStartEnabled(false);
    if (!window.SHOW_MSG(MSG_INICIAR)) {
        window.restoreCursor();
        window.setStartEnabled(true);
        return;
    }
    window.pumpEvents();

    const auto compatible = [&](int n) {
        return tryHandshakes(port, [&](int) {
            if (CART_V2(window, w.link.exchange, w.serialNumber, &w.checkedIdentity) == 0) {
                w.port = n;
                ATUALIZA(w);
                return true;
            }
            window.SHOW_MSG(MSG_VERSAO);
            return false;
        });
    };
    if (scanPorts(port, kFirstPort, kLastPort, compatible) != 0) {
        window.requestTermination();
        port.FECHA_PORTA();
        return;
    }

    window.SHOW_MSG(MSG_PORTA);
    window.restoreCursor();
    window.setStartEnabled(true);
    window.setStartCaption("Iniciar");
    port.FECHA_PORTA();
}

} // namespace kronex
