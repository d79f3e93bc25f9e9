#pragma once

#include "loaded_catalog.h"
#include "window_ops.h"

namespace kronex {

// Header texts, module list and progress range from the loaded release.
void showRelease(const LoadedCatalog& release, MainWindowOps& window);

} // namespace kronex
