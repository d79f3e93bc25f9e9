// A whole update as the program runs it, on this platform's own serial calls
// and without a window: the start button pressed once, OK at the first
// message. The ports are set up beforehand as COM1 a line where nothing
// answers, COM2 missing and a unit in update mode (kronex-devsim) on COM3.
//
//   kronex-e2e-update [--trace]
//
// Prints what the window shows, every serial call that failed (every call
// with --trace) and how far the update got, then checks what the serial
// calls did against what they must do on that scene. Exit code 0 when every
// check holds. What the unit received is checked on its side (kronex-e2e-check).
#include "detection.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "fake_window.h"
#include "loaded_catalog.h"
#include "start_button.h"
#include "tracing_comm.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace kronex;

namespace {

constexpr const char* kSilentPort = "\\\\.\\COM1";
constexpr const char* kMissingPort = "\\\\.\\COM2";
constexpr const char* kUnitPort = "\\\\.\\COM3";
constexpr DWORD kErrorTimeout = 1460; // ERROR_TIMEOUT
constexpr std::size_t kListed = 20;   // lines of each list printed in full

// The recording window, also telling what it is shown as it happens.
class ConsoleWindow : public test::FakeWindow {
  public:
    void setStatusText(std::string_view text) override {
        FakeWindow::setStatusText(text);
        std::printf("status: %s (bar %d of %d)\n", status.c_str(), position, maximum);
        std::fflush(stdout);
    }
    bool SHOW_MSG(MessageCode code) override {
        const bool ok = FakeWindow::SHOW_MSG(code);
        std::printf("message %u: %s\n", code, ok ? "OK" : "Cancelar");
        std::fflush(stdout);
        return ok;
    }
};

bool check(bool holds, const std::string& what) {
    std::printf("%s: %s\n", holds ? "ok    " : "FAILED", what.c_str());
    return holds;
}

// A probe on the silent line ends by the read time-outs: nothing arrived,
// about 100 ms after it started. A platform may report that end as a
// completed read of 0 bytes or as ERROR_TIMEOUT.
bool isReadTimeout(const test::TracingComm::ShortRead& r) {
    return r.port == kSilentPort && r.asked == 1 && r.got == 0 && r.milliseconds >= 90 &&
           r.milliseconds <= 1000 && (r.error == 0 || r.error == kErrorTimeout);
}

// Failures the scene calls for: everything on the missing port, and the
// read time-outs on the silent one.
bool isExpectedFailure(const test::TracingComm::Failure& f) {
    return f.port == kMissingPort ||
           (f.port == kSilentPort && f.call == "GetOverlappedResult" && f.error == kErrorTimeout);
}

} // namespace

int main(int argc, char** argv) {
    const bool everyCall = argc > 1 && std::strcmp(argv[1], "--trace") == 0;

    auto loaded = loadCatalog(embeddedRelease());
    auto* catalog = std::get_if<LoadedCatalog>(&loaded);
    if (!catalog) {
        std::fprintf(stderr, "the embedded release does not load\n");
        return 1;
    }
    test::TracingComm comm(systemCommApi(), stdout, everyCall);
    SerialLink link(comm);
    ConsoleWindow window;
    window.maximum = catalog->progressMax;
    Workflow workflow{window, link, embeddedRelease(), *catalog, dumpFilePath(), {}};
    const DWORD start = comm.GetTickCount();
    sbATUClick(window, workflow);
    const DWORD tenths = (comm.GetTickCount() - start) / 100;

    std::printf("\nserial calls made:");
    for (const auto& [call, count] : comm.calls)
        std::printf(" %s %d", call.c_str(), count);
    std::printf("\nreads that ended short: %zu\n", comm.shortReads.size());
    for (std::size_t i = 0; i < comm.shortReads.size() && i < kListed; ++i) {
        const auto& r = comm.shortReads[i];
        std::printf("  %s: %lu of %lu bytes after %lu ms, GetOverlappedResult %s %lu\n",
                    r.port.c_str(), static_cast<unsigned long>(r.got),
                    static_cast<unsigned long>(r.asked), static_cast<unsigned long>(r.milliseconds),
                    r.error ? "error" : "true,", static_cast<unsigned long>(r.error));
    }
    if (comm.shortReads.size() > kListed)
        std::printf("  and %zu more\n", comm.shortReads.size() - kListed);
    std::printf("diagnostic file: %s\n", workflow.dumpFile.string().c_str());
    std::printf("bar %d of %d, status \"%s\", serial number %s, %lu.%lu s\n\n", window.position,
                window.maximum, window.status.c_str(), workflow.serialNumber.c_str(),
                static_cast<unsigned long>(tenths / 10), static_cast<unsigned long>(tenths % 10));

    bool ok = check(window.shown == std::vector<MessageCode>{MSG_INICIAR, MSG_CONCLUIDO},
                    "messages 0 and 7 only");
    ok = check(window.position == window.maximum && window.status == "Atualização concluída!",
               "the bar full and the status \"Atualização concluída!\"") &&
         ok;
    ok = check(comm.opened == std::vector<std::string>{kSilentPort, kMissingPort, kUnitPort},
               "COM1, COM2 and COM3 tried, in this order") &&
         ok;
    std::size_t timeouts = 0;
    for (const auto& r : comm.shortReads)
        timeouts += isReadTimeout(r);
    ok = check(timeouts == 11 && comm.shortReads.size() == 11,
               "eleven handshake reads on COM1 ended by the read time-outs after 90 to "
               "1000 ms, and no other read ended short") &&
         ok;
    std::size_t unexpected = 0;
    for (const auto& f : comm.failures)
        if (!isExpectedFailure(f) && ++unexpected <= kListed)
            std::printf("         unexpected: %s(%s) error %lu\n", f.call.c_str(), f.port.c_str(),
                        static_cast<unsigned long>(f.error));
    if (unexpected > kListed)
        std::printf("         and %zu more\n", unexpected - kListed);
    ok = check(unexpected == 0,
               "no serial call failed but on the missing COM2 and the time-outs on COM1") &&
         ok;
    std::printf("update: %s\n", ok ? "completed as it must" : "NOT as it must be");
    return ok ? 0 : 1;
}
