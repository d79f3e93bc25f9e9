// Arbitrary unit byte streams against one framed exchange.
#include "fake_comm.h"
#include "link_exchange.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    kronex::test::FakeComm comm;
    comm.recordTransfers = false;
    auto& port = comm.port(1);
    // The first byte spaces the unit's bytes out: some arrive past the gaps
    // the link waits for.
    const std::uint64_t gap = data[0] % 160;
    port.arrive(0, std::vector<std::uint8_t>(data + 1, data + size), gap);

    kronex::SerialPort serial(comm);
    kronex::LinkExchange link(serial);
    serial.ABRE_PORTA(1);
    link.attention = 0x87;
    link.frame[0] = 0x04;
    link.frame[1] = 0x44;
    const bool sent = link.ENVIA_QUADRO();
    if (sent != (link.status == kronex::LINK_OK))
        std::abort();
    if (sent) {
        const bool received = link.RECEBE_RESPOSTA();
        if (received && link.replyLength == 0)
            std::abort(); // a zero length is never a reply
    }
    serial.FECHA_PORTA();
    if (comm.openHandles() != 0)
        std::abort();
    return 0;
}
