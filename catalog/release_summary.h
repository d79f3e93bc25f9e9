// What a release holds, in plain text for people shipping it: the release
// notes and the release script's last words read it.
#pragma once

#include "loaded_catalog.h"

#include <string>

namespace kronex {

// Lines "release: N", "caption: ...", "date: ...", then "modules: COUNT"
// and "makers: COUNT", each followed by its entries indented by two spaces
// (empty module lines left out).
std::string releaseSummary(const LoadedCatalog& catalog);

} // namespace kronex
