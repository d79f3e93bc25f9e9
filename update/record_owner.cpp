#include "record_owner.h"

namespace kronex {

RecordOwner recordOwner(const std::filesystem::path&) {
    return {};
}

} // namespace kronex
