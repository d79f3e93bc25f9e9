// What a whole update of a release must leave in a fresh unit and which
// commands it must send, worked out directly from the release's entries.
#pragma once

#include "device_model.h"
#include "release_fixture.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kronex::test {

struct ExpectedUpdate {
    devsim::DeviceModel::Memory target0;
    devsim::DeviceModel::Memory target1;
    std::vector<std::uint8_t> data; // from position 0
    std::array<std::uint8_t, 128> identity;
    std::vector<std::string> commands; // the unit's transcript without handshakes
};

// `fresh` gives the unit's memories before the update.
ExpectedUpdate expectedUpdate(const ReleaseEntries& release, const devsim::DeviceModel& fresh);

// The update of the sample release into a fresh unit, worked out once.
const ExpectedUpdate& expectedSampleUpdate();

// The exchange (from 1) that carries the n-th `command` of a clean update of
// the sample release; 0 when it has no such command.
int exchangeOf(const std::string& command, int n = 1);

// The transcript without the handshake lines.
std::vector<std::string> commandsOf(const devsim::DeviceModel& unit);

} // namespace kronex::test
