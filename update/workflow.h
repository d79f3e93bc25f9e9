// What the start button works with: the window, the link, the release and
// the diagnostic file's place.
#pragma once

#include "dump_file.h"
#include "loaded_catalog.h"
#include "release_table.h"
#include "serial_link.h"
#include "session_stop.h"
#include "window_ops.h"

#include <filesystem>
#include <functional>
#include <optional>
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
    // Where each unit's own blocks are kept while its update runs; empty: no
    // record is kept or looked up.
    std::filesystem::path unitRecords = {};
    // The whole identity block the compatibility check read, when known.
    std::optional<IdentityImage> checkedIdentity = {};
    // Target 0's top block where the check read it too (an identity that may
    // be cut); the session reads it itself otherwise.
    std::optional<IdentityImage> checkedTop = {};
    int port = 0; // COMn the unit is on, for its record
    // kronex-update: no erase of the unit's own blocks unless the record was
    // kept. The window goes on without one.
    bool recordRequired = false;
    class RecordFiles* recordFiles = nullptr; // null: the disk
    // Asked before a record that another user of the PC owns goes into the
    // unit; null (the window): such a record is never used.
    std::function<bool(const struct KeptRecord&)> confirmRecord = {};
    // Where the diagnostic file is written, and where else when dumpFile
    // cannot be; null: the system's files.
    DumpFiles* dumpFiles = nullptr;
    // Told as the session enters each of its steps; null: nobody listens.
    std::function<void(SessionStep)> stepReached = {};
};

} // namespace kronex
