#include "record_restore.h"

#include "device_commands.h"
#include "record_match.h"

namespace kronex {

namespace {

bool putBack(LinkExchange& link, std::uint16_t address, const UnitBlock& kept) {
    UnitBlock read{};
    return CMD_LE_BLOCO(link, 0, address, read.data()) && link.reply[0] == kAck &&
           CMD_GRAVA_PAGINA(link, 0, 1, address, kept.data());
}

} // namespace

bool recordFitsUnit(const UnitRecord& record, const UnitBlock& identity, const UnitBlock& top) {
    return recordFits(record, identity, &top, identityCut(identity, top));
}

bool restoreUnitBlocks(LinkExchange& link, const UnitRecord& record, SessionStop& stop) {
    stop.step = SessionStep::TopBlock;
    if (!putBack(link, kTopBlockAddress, record.top)) {
        recordLastExchange(link, stop);
        return false;
    }
    stop.step = SessionStep::IdentityBlock;
    if (!putBack(link, kIdentityBlockAddress, record.identity)) {
        recordLastExchange(link, stop);
        return false;
    }
    stop.step = SessionStep::Completed;
    return true;
}

} // namespace kronex
