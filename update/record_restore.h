// Puts a unit's own blocks back from a kept record, with the session's own
// read, erase and write commands: each block is read whole first, then
// erased and written exactly as kept.
#pragma once

#include "link_exchange.h"
#include "session_stop.h"
#include "unit_record.h"

namespace kronex {

// Whether the unit whose identity block reads `identity` may take the
// record's blocks: its identity is blank, or cut on its way from or to the
// record's, or is the record's.
bool recordFitsUnit(const UnitRecord& record, const UnitBlock& identity);

// On a link that passed the compatibility check. `stop` says where it
// stopped when false.
bool restoreUnitBlocks(LinkExchange& link, const UnitRecord& record, SessionStop& stop);

} // namespace kronex
