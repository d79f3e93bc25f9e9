#include "link_exchange.h"

namespace kronex {

bool LinkExchange::ENVIA_QUADRO() {
    CommApi& api = port_.api();
    api.PurgeComm(port_.handle(), PURGE_TXCLEAR);
    api.PurgeComm(port_.handle(), PURGE_RXCLEAR);

    status = LINK_OK;
    ++exchanges;
    frameSent = false;
    std::int32_t moved = 0;
    if (!port_.ENVIA_DADOS(&attention, 1, moved))
        status = LINK_WRITE_FAILED;

    if (status == LINK_OK) {
        const std::uint8_t expected = attention ^ 0xFF;
        const std::uint32_t start = api.GetTickCount();
        std::uint32_t elapsed = 0;
        for (;;) {
            const bool came = port_.RECEBE_DADOS(1, reply.data(), moved);
            status = came ? LINK_OK : LINK_SHORT_READ;
            elapsed = elapsedSince(start);
            if (came && reply[0] == expected)
                break;
            // A failed port answers every read at once and never with a
            // byte: waiting out the window would only spin.
            if (elapsed > kReplyWindowMs || port_.failed())
                break;
        }
        // A complement that came in a read ending past the window is too late.
        if (elapsed > kReplyWindowMs)
            status = LINK_TIMEOUT;
    }

    const unsigned length = frame[0];
    if (wholeFrames && status == LINK_OK && length > 0) {
        if (!port_.ENVIA_DADOS(frame.data(), static_cast<std::int32_t>(length), moved))
            status = LINK_WRITE_FAILED;
    }
    for (unsigned i = 0; !wholeFrames && i < length && status == LINK_OK; ++i)
        if (!port_.ENVIA_DADOS(&frame[i], 1, moved))
            status = LINK_WRITE_FAILED;
    frameSent = status == LINK_OK;
    return frameSent;
}

bool LinkExchange::RECEBE_RESPOSTA() {
    status = LINK_OK;
    const std::uint32_t start = port_.api().GetTickCount();
    std::uint32_t elapsed = 0;
    std::int32_t moved = 0;
    do {
        if (port_.RECEBE_DADOS(1, reply.data(), moved)) {
            replyLength = reply[0];
            status = LINK_OK;
        } else {
            status = LINK_SHORT_READ;
        }
        elapsed = elapsedSince(start);
    } while (status != LINK_OK && elapsed <= kReplyWindowMs && !port_.failed());

    if (elapsed > kReplyWindowMs)
        status = LINK_TIMEOUT;
    if (status == LINK_OK && replyLength == 0)
        status = LINK_ZERO_LENGTH;
    if (status == LINK_OK && replyLength > 1) {
        const auto rest = static_cast<std::int32_t>(replyLength - 1);
        if (!port_.RECEBE_DADOS(rest, reply.data(), moved))
            status = LINK_SHORT_READ;
    }
    return status == LINK_OK;
}

} // namespace kronex
