// Arbitrary unit byte streams against each device command.
#include "device_commands.h"
#include "fake_comm.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kronex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const unsigned which = data[0] % 9;
    // A hexadecimal text for the text routines, then the unit's bytes.
    const std::size_t textLength = std::min<std::size_t>(data[1] * 3u, size - 2);
    const std::string text(reinterpret_cast<const char*>(data + 2), textLength);
    const std::uint8_t* stream = data + 2 + textLength;
    const std::size_t streamSize = size - 2 - textLength;

    test::FakeComm comm;
    comm.recordTransfers = false;
    comm.port(1).arrive(0, std::vector<std::uint8_t>(stream, stream + streamSize), which * 7);
    SerialPort serial(comm);
    LinkExchange link(serial);
    serial.ABRE_PORTA(1);
    link.attention = 0x87;

    std::array<std::uint8_t, 512> block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i);
    std::string serialNumber = "stale";
    const int target = data[1] & 1;
    switch (which) {
    case 0:
        CMD_EXECUTA(link, target);
        break;
    case 1:
        CMD_APAGA(link, target, 0x4000);
        break;
    case 2: {
        std::array<std::uint8_t, 128> out;
        out.fill(0x5A);
        if (CMD_LE_BLOCO(link, target, 0xFF80, out.data()) && link.replyLength != 0x82)
            std::abort(); // a read answers true only for a complete reply
        break;
    }
    case 3:
        CMD_GRAVA_PAGINA(link, target, 1, 0xFF80, block.data());
        break;
    case 4:
        CMD_GRAVA_PAGINA(link, target, 4, 0x4000, block.data());
        break;
    case 5:
        CMD_GRAVA_MEMORIA(link, data[1] * 257, block.data());
        break;
    case 6:
        if (LE_IDENTIFICACAO(link, serialNumber)
                ? serialNumber.size() != 8 || serialNumber.compare(0, 2, "29") != 0
                : !serialNumber.empty())
            std::abort();
        break;
    case 7:
        GRAVA_PAGINA_HEX(link, target, 0x2200, text);
        break;
    case 8: {
        const auto before = comm.port(1).sent.size();
        if (GRAVA_MEMORIA_HEX(link, 3, text) && text.size() > 512)
            std::abort();
        if (text.size() > 512 && comm.port(1).sent.size() != before)
            std::abort(); // an overlong text sends nothing
        break;
    }
    }
    serial.FECHA_PORTA();
    if (comm.openHandles() != 0)
        std::abort();
    return 0;
}
