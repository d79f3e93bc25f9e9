// One unit, start to end, on its own serial link: the port opened, the
// handshake, the identity read with the attention byte (the compatibility
// check), and for an update the session itself.
#pragma once

#include "comm_api.h"
#include "exchange_trace.h"
#include "port_problem.h"
#include "read_back.h"
#include "session_plan.h"
#include "session_stop.h"
#include "unit_records.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace kronex::cli {

enum class Outcome {
    Updated,
    Answered,     // info: the unit passed the check; nothing was written
    Failed,       // the session stopped
    Incompatible, // the unit answers the handshake but not the check
    NoUnit,       // the port opens but no unit answers (a scan: no port had one)
    Held,         // another program has the port open
    Denied,       // this user may not open the port
    Missing,      // no such port, or it would not open
    Skipped,      // --skip-current: the unit already holds this release
    Verified,     // verify: every block the release writes reads back as written
    Differs,      // verify: a block reads back otherwise
    OtherRelease, // verify: the unit holds another release, whole
    Unreadable,   // verify: the unit refused a read, or stopped answering
    Interrupted,  // Ctrl-C
    IdentityLost, // a blank or cut identity that no record kept here fits, or several do
    Restored,     // restore: the unit's own blocks are back
};

// A unit whose update began and did not complete: its record is still open.
struct Incomplete {
    std::string stoppedAt; // the session's step
    std::string since;     // ISO 8601 UTC
};

struct UnitReport {
    int port = 0;
    Outcome outcome = Outcome::NoUnit;
    std::string serial; // "29" and six hexadecimal digits, once read; empty: unknown
    std::optional<std::array<std::uint8_t, 128>> identity;
    // Target 0's top block, read at the check where the identity may be cut
    // (and by restore).
    std::optional<std::array<std::uint8_t, 128>> top;
    // The record kept on this PC that is this unit's, as the check found it.
    std::optional<KeptRecord> kept;
    std::optional<int> releaseBefore, releaseAfter;
    std::optional<SessionStop> stop; // a session that ran and did not complete
    unsigned exchangesDone = 0;
    unsigned exchangesTotal = 0;
    // From the first exchange of the unit's session (of its check, where no
    // session ran) to its last: neither the question nor a wait counts.
    double seconds = 0;
    std::optional<
        std::pair<std::chrono::steady_clock::time_point, std::chrono::steady_clock::time_point>>
        span;
    std::string dumpFile;                   // where the diagnostic file went, once written
    std::string dumpError;                  // why it did not go to its first place
    std::optional<PortProblem> portProblem; // the port would not open
    // The compatibility check: tries made, and how the last failed read ended.
    int checkTries = 0;
    std::optional<SessionStop> checkStop;
    std::uint64_t bytesSent = 0;      // handshakes included
    bool passedOver = false;          // --all: a held port, left out as the scan leaves it
    std::optional<ReadBack> readBack; // verify
    std::optional<Incomplete> incomplete;
    std::string problem; // restore: why the unit was not touched; a diagnostic file written nowhere
    std::string
        problemWords;       // the same in the chosen language (`problem` is English, for the JSON)
    std::string keptBefore; // restore: the record of the unit's blocks as they were
    // A completed update whose record could not be removed: why (the file named).
    std::string recordLeft;
};

// Between the compatibility check and the session every unit waits here,
// its port open, until the run is confirmed or declined: the question comes
// after the survey, and a confirmed unit goes on with the same link.
class Confirmation {
  public:
    // `asked`: the technician answered the question (not --yes).
    void decide(bool go, bool asked = false);
    bool await(); // true: go on with the session
    bool decided();
    // Only a technician's answer vouches for a record another user owns.
    bool technicianAnswered();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<bool> go_;
    bool asked_ = false;
};

// Written by the unit's own thread, read by the progress display.
struct UnitProgress {
    std::atomic<int> port{0};
    std::atomic<unsigned> exchanges{0};
    std::atomic<std::uint64_t> bytes{0};
    // Passed the check and waits for the confirmation; the unit's serial
    // number and recorded release are set before it.
    std::atomic<bool> checked{false};
    std::string serial;
    std::atomic<int> releaseBefore{0}; // -1: unknown (a blank identity)
    // The owner of the record the unit will take, when another user of the PC.
    std::string foreignRecordOwner;
    std::atomic<bool> sessionStarted{false};
    // How the unit ended, set before done: its bar is marked at once.
    std::atomic<Outcome> outcome{Outcome::NoUnit};
    std::atomic<bool> done{false};
};

struct UnitJob {
    const ReleaseTable& release;
    const LoadedCatalog& catalog; // each session works on its own copy
    SessionPlan plan;
    bool update = true; // false: stop after the identity read
    // Where the diagnostic file of the unit with this serial number on COMn goes.
    std::function<std::filesystem::path(const std::string& serial, int port)> dumpFile;
    // Where the units' own blocks are kept while they are updated.
    std::filesystem::path unitRecords = defaultUnitRecordFolder();
    // restore: write these blocks back instead of updating; with restoreLook
    // only read the unit and see whether they are its own.
    const UnitRecord* restore = nullptr;
    bool restoreLook = false;
    Confirmation* confirmation = nullptr; // none: straight on after the check
    bool skipCurrent = false;             // leave out units that hold this release
    bool wait = false;                    // until a unit answers (or Ctrl-C), instead of "no unit"
    // A compatibility check's try that failed: COMn, try k of 11, the read's stop.
    std::function<void(int port, int attempt, const SessionStop& stop)> onFailedTry{};
    // verify: what the release writes, read back once the check has passed.
    const std::vector<WrittenBlock>* readBack = nullptr;
    CommApi* api = nullptr; // the serial calls; none: the platform's
    // Each byte of a request frame its own write, as the window sends;
    // otherwise the frame goes out in one write (the same bytes on the line).
    bool byteWrites = false;
    ExchangeLog* log = nullptr; // --log: every exchange traced here
};

UnitReport runUnit(int port, const UnitJob& job, UnitProgress& progress);

// The window's scan: COM1 to COM16, the first unit that passes the check.
UnitReport scanAndRun(const UnitJob& job, UnitProgress& progress);

enum class Probe { Missing, Held, Silent, Answers, Denied };

// Opens COMn and tries the handshake eleven times, as the scan does; only
// the handshake byte goes out.
Probe probePort(int port);

} // namespace kronex::cli
