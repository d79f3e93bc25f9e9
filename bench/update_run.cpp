// kronex-bench-update: one press of the start button, as the program runs it
// (the workflow, the serial link and this platform's serial calls), with a
// window that costs nothing and answers every message OK. Whatever the ports
// of XDG_STATE_HOME's device namespace hold: a unit for a whole update,
// silent terminals for a scan. Prints its figures as "name value" lines.
//
//   kronex-bench-update [--record FILE] [--usb-adapter LATENCY_MS [--usb-frame-us N]]
//                       [--kronex-update [--units N]]
//
// --record writes what went over the line, in order, for kronex-bench-replay.
// --usb-adapter puts the model of a USB serial adapter (usb_adapter_comm.h)
// under the counter: its latency tick, and its frame (1000 us at full speed).
// --kronex-update runs kronex-update's session instead (its request frames
// written whole), on COM3 or on COM3 to COM3+N-1 at once, each unit in its
// own thread behind its own adapter model, as kronex-update runs them; the
// counter then stays out and only the wall time, the writes and the outcome
// are printed.
#include "counting_comm.h"
#include "detection.h"
#include "dump_file.h"
#include "embedded_release.h"
#include "headless_window.h"
#include "process_stats.h"
#include "session_plan.h"
#include "start_button.h"
#include "unit_run.h"
#include "usb_adapter_comm.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string_view>
#include <thread>
#include <variant>

using namespace kronex;

namespace {

// kronex-update's sessions on `units` units at once: COM3 onwards.
int kronexUpdateRun(const LoadedCatalog& catalog, int units, std::int64_t latencyMs,
                    std::int64_t frameUs) {
    bench::SteadyAdapterClock clock;
    std::deque<bench::UsbAdapterComm> adapters;
    std::deque<cli::UnitJob> jobs;
    std::deque<cli::UnitProgress> progress;
    std::vector<cli::UnitReport> reports(static_cast<std::size_t>(units));
    const auto dump = [](const std::string& serial, int port) {
        return dumpFilePath().parent_path() /
               ("TEXTO2-" + serial + "-COM" + std::to_string(port) + ".TXT");
    };
    for (int i = 0; i < units; ++i) {
        cli::UnitJob& job = jobs.emplace_back(cli::UnitJob{
            embeddedRelease(), catalog, planSession(embeddedRelease(), catalog), true, dump});
        if (latencyMs > 0 && frameUs > 0)
            job.api = &adapters.emplace_back(systemCommApi(),
                                             bench::UsbAdapter{frameUs, latencyMs * 1000}, clock);
        progress.emplace_back();
    }
    const std::int64_t t0 = bench::monotonicNs();
    std::vector<std::thread> threads;
    for (int i = 0; i < units; ++i)
        threads.emplace_back([&, i] {
            const auto n = static_cast<std::size_t>(i);
            reports[n] = cli::runUnit(3 + i, jobs[n], progress[n]);
        });
    for (auto& t : threads)
        t.join();
    const std::int64_t t1 = bench::monotonicNs();
    std::uint64_t writes = 0;
    std::int64_t lateUs = 0;
    for (const auto& a : adapters) {
        writes += a.writes();
        lateUs += a.lateUs();
    }
    bool all = true;
    for (const auto& r : reports)
        all = all && r.outcome == cli::Outcome::Updated;
    std::printf("wall_ns %lld\n", static_cast<long long>(t1 - t0));
    std::printf("usb_writes %llu\n", static_cast<unsigned long long>(writes));
    std::printf("usb_late_ns %lld\n", static_cast<long long>(lateUs * 1000));
    std::printf("outcome %s\n", all ? "completed" : "failed");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* recordFile = nullptr;
    std::int64_t usbLatencyMs = 0; // 0: no adapter
    std::int64_t usbFrameUs = 1000;
    bool kronexUpdate = false;
    int units = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--record" && hasValue) {
            recordFile = argv[++i];
        } else if (a == "--usb-adapter" && hasValue) {
            usbLatencyMs = std::atoll(argv[++i]);
        } else if (a == "--usb-frame-us" && hasValue) {
            usbFrameUs = std::atoll(argv[++i]);
        } else if (a == "--kronex-update") {
            kronexUpdate = true;
        } else if (a == "--units" && hasValue && std::atoi(argv[i + 1]) > 0) {
            units = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: kronex-bench-update [--record FILE] "
                                 "[--usb-adapter LATENCY_MS [--usb-frame-us N]] "
                                 "[--kronex-update [--units N]]\n");
            return 2;
        }
    }

    auto loaded = loadCatalog(embeddedRelease());
    auto* catalog = std::get_if<LoadedCatalog>(&loaded);
    if (catalog == nullptr) {
        std::fprintf(stderr, "kronex-bench-update: the embedded release does not load\n");
        return 1;
    }
    if (kronexUpdate)
        return kronexUpdateRun(*catalog, units, usbLatencyMs, usbFrameUs);
    // The counter sees the calls as the program does, the adapter's delays included.
    bench::SteadyAdapterClock clock;
    std::unique_ptr<bench::UsbAdapterComm> usb;
    if (usbLatencyMs > 0 && usbFrameUs > 0)
        usb = std::make_unique<bench::UsbAdapterComm>(
            systemCommApi(), bench::UsbAdapter{usbFrameUs, usbLatencyMs * 1000}, clock);
    bench::CountingComm comm(usb ? static_cast<CommApi&>(*usb) : systemCommApi());
    comm.recording = recordFile != nullptr;
    SerialLink link(comm);
    bench::HeadlessWindow window;
    window.setProgressMax(catalog->progressMax);
    Workflow workflow{window, link, embeddedRelease(), *catalog, dumpFilePath(), {}};

    // What a clean update sends, worked out before the clock starts: a run
    // that sends anything else is not the update being measured.
    const SessionPlan plan = planSession(embeddedRelease(), *catalog);

    const long loadedPeakKb = bench::peakResidentKb();
    const bench::CpuTime cpu0 = bench::cpuNow();
    const std::int64_t t0 = bench::monotonicNs();
    sbATUClick(window, workflow);
    const std::int64_t t1 = bench::monotonicNs();
    const bench::CpuTime cpu1 = bench::cpuNow();
    comm.finish();

    const bench::LineCounts& c = comm.counts;
    std::printf("wall_ns %lld\n", static_cast<long long>(t1 - t0));
    std::printf("user_ns %lld\n", static_cast<long long>(cpu1.userNs - cpu0.userNs));
    std::printf("system_ns %lld\n", static_cast<long long>(cpu1.systemNs - cpu0.systemNs));
    std::printf("loaded_peak_kb %ld\n", loadedPeakKb);
    std::printf("peak_kb %ld\n", bench::peakResidentKb());
    std::printf("bytes_out %llu\n", static_cast<unsigned long long>(c.bytesOut));
    std::printf("bytes_in %llu\n", static_cast<unsigned long long>(c.bytesIn));
    std::printf("writes %llu\n", static_cast<unsigned long long>(c.writes));
    std::printf("reads %llu\n", static_cast<unsigned long long>(c.reads));
    std::printf("exchanges %llu\n", static_cast<unsigned long long>(c.exchanges));
    std::printf("plan_exchanges %u\n", plan.exchanges);
    std::printf("silent_reads %llu\n", static_cast<unsigned long long>(c.silentReads));
    std::printf("short_reads %llu\n", static_cast<unsigned long long>(c.shortReads));
    std::printf("to_complement_ns %lld\n", static_cast<long long>(c.toComplementNs));
    std::printf("to_reply_ns %lld\n", static_cast<long long>(c.toReplyNs));
    std::printf("frame_reply_bytes %llu\n", static_cast<unsigned long long>(c.frameAndReplyBytes));
    std::printf("between_ns %lld\n", static_cast<long long>(c.betweenNs));
    std::printf("between_bytes %llu\n", static_cast<unsigned long long>(c.betweenBytes));
    std::printf("slept_ns %lld\n", static_cast<long long>(c.sleptNs));
    std::printf("usb_late_ns %lld\n", static_cast<long long>(usb ? usb->lateUs() * 1000 : 0));
    std::printf("position %d\n", window.position);
    std::printf("maximum %d\n", window.progressMax());
    const bool completed = !window.shown.empty() && window.shown.back() == MSG_CONCLUIDO;
    const bool nothingFound = !window.shown.empty() && window.shown.back() == MSG_PORTA;
    std::printf("outcome %s\n", completed ? "completed" : nothingFound ? "no-unit" : "failed");
    if (recordFile != nullptr) {
        std::FILE* f = std::fopen(recordFile, "w");
        if (f == nullptr ||
            std::fwrite(comm.record.data(), 1, comm.record.size(), f) != comm.record.size()) {
            std::fprintf(stderr, "kronex-bench-update: cannot write %s\n", recordFile);
            return 1;
        }
        std::fclose(f);
    }
    return 0;
}
