// Puts a unit's own blocks back from a kept record, with the session's own
// read, erase and write commands: each block is read whole first, then
// erased and written exactly as kept.
#pragma once

#include "link_exchange.h"
#include "session_stop.h"
#include "unit_record.h"

namespace kronex {

// Whether the unit whose blocks read `identity` and `top` may take the
// record's blocks, by the rule the session uses: an intact identity only its
// own record, a blank or cut one a record both its blocks fit as a cut
// leaves them.
bool recordFitsUnit(const UnitRecord& record, const UnitBlock& identity, const UnitBlock& top);

// On a link that passed the compatibility check. `stop` says where it
// stopped when false.
bool restoreUnitBlocks(LinkExchange& link, const UnitRecord& record, SessionStop& stop);

} // namespace kronex
