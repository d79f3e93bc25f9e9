#include "detection.h"

#include "device_commands.h"
#include "handshake.h"
#include "update_session.h"

namespace kronex {

bool SINCRONIZA(SerialPort& port) {
    // Nothing read leaves 0xBC in the buffer, so a silent port fails the try.
    std::uint8_t buffer = kHandshake;
    std::int32_t moved = 0;
    port.ENVIA_DADOS(&buffer, 1, moved);
    port.RECEBE_DADOS(1, &buffer, moved);
    return buffer == kHandshakeAnswer;
}

int CART_V2(MainWindowOps& window, LinkExchange& link, std::string& serial,
            std::optional<IdentityImage>* block) {
    window.setBusyCursor();
    link.attention = kAttentionByte;
    IdentityImage bytes{};
    const bool read = LE_IDENTIFICACAO(link, serial, bytes.data());
    if (block)
        *block = read ? std::optional<IdentityImage>(bytes) : std::nullopt;
    window.restoreCursor();
    window.pumpEvents();
    return read ? 0 : 1;
}

void sbATUClick(Workflow& w) {
    MainWindowOps& window = w.window;
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

    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (!port.ABRE_PORTA(n))
            continue;
        for (int attempt = 0; attempt < kTriesPerPort; ++attempt) {
            if (!SINCRONIZA(port))
                continue;
            if (CART_V2(window, w.link.exchange, w.serialNumber, &w.checkedIdentity) == 0) {
                w.port = n;
                ATUALIZA(w);
                window.requestTermination();
                port.FECHA_PORTA();
                return;
            }
            window.SHOW_MSG(MSG_VERSAO);
        }
        port.FECHA_PORTA();
    }

    window.SHOW_MSG(MSG_PORTA);
    window.restoreCursor();
    window.setStartEnabled(true);
    window.setStartCaption("Iniciar");
    port.FECHA_PORTA();
}

} // namespace kronex
