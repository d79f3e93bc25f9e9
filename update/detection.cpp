#include "detection.h"

#include "device_commands.h"
#include "handshake.h"

namespace kronex {

namespace {

bool stopped(const StopAsked& stop) {
    return stop && stop();
}

} // namespace

bool SINCRONIZA(SerialPort& port) {
    // Nothing read leaves 0xBC in the buffer, so a silent port fails the try.
    std::uint8_t buffer = kHandshake;
    std::int32_t moved = 0;
    port.ENVIA_DADOS(&buffer, 1, moved);
    port.RECEBE_DADOS(1, &buffer, moved);
    return buffer == kHandshakeAnswer;
}

int CART_V2(SessionObserver& observer, LinkExchange& link, std::string& serial,
            std::optional<IdentityImage>* block) {
    observer.checkBegins();
    link.attention = kAttentionByte;
    IdentityImage bytes{};
    const bool read = LE_IDENTIFICACAO(link, serial, bytes.data());
    if (block)
        *block = read ? std::optional<IdentityImage>(bytes) : std::nullopt;
    observer.checkEnded();
    return read ? 0 : 1;
}

bool tryHandshakes(SerialPort& port, const std::function<bool(int attempt)>& answered,
                   const StopAsked& stop) {
    for (int attempt = 0; attempt < kTriesPerPort && !stopped(stop); ++attempt)
        if (SINCRONIZA(port) && answered(attempt))
            return true;
    return false;
}

int scanPorts(SerialPort& port, int first, int last, const std::function<bool(int n)>& visit,
              const StopAsked& stop) {
    for (int n = first; n <= last && !stopped(stop); ++n) {
        if (!port.ABRE_PORTA(n))
            continue;
        if (visit(n))
            return n;
        port.FECHA_PORTA();
    }
    return 0;
}

} // namespace kronex
