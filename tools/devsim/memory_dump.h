// The unit's memories as files, for comparing byte for byte after a run.
#pragma once

#include "device_model.h"

#include <string>

namespace kronex::devsim {

// Writes dir/target0.bin and dir/target1.bin (65536 bytes each) and dir/data.bin
// (dataExtent() bytes), creating dir if needed; throws std::runtime_error.
void writeDump(const std::string& dir, const DeviceModel& model);

} // namespace kronex::devsim
