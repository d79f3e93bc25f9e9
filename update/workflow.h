// What the start button works with: the window, the link, the release and
// the diagnostic file's place.
#pragma once

#include "dump_file.h"
#include "loaded_catalog.h"
#include "release_table.h"
#include "serial_link.h"
#include "window_ops.h"

#include <filesystem>
#include <string>

namespace kronex {

struct Workflow {
    MainWindowOps& window;
    SerialLink& link;
    const ReleaseTable& release;
    LoadedCatalog& catalog; // its cursor moves on as the session reads
    std::filesystem::path dumpFile;
    // "29" and six hexadecimal digits, read by the compatibility check.
    std::string serialNumber;
    // Where the diagnostic file is written, and where else when dumpFile
    // cannot be.
    DumpFiles& dumpFiles = systemDumpFiles();
};

} // namespace kronex
