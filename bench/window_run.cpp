// kronex-bench-window: the program's own start-up (toolkit, title, main
// window, message dialog, show, first activation that loads the release),
// timed on whatever Qt platform the environment names.
//
//   kronex-bench-window startup   stops once the window is shown and loaded
//   kronex-bench-window update    then presses "Iniciar", answers every
//                                 message OK and runs the whole update
//   kronex-bench-window bare      a window with one line of text instead,
//                                 shown and active: what any Qt Widgets
//                                 program that shows text pays to start
//
// Prints its figures as "name value" lines; times are CLOCK_MONOTONIC
// readings, so the parent can measure from before it started this process.
#include "app_title.h"
#include "counting_comm.h"
#include "process_stats.h"
#include "serial_link.h"
#include "uATU.h"
#include "uMSG.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string_view>

using kronex::bench::monotonicNs;

namespace {

// Closes the message dialog with OK as soon as it is up.
class AnswerOk : public QObject {
  public:
    explicit AnswerOk(TfmMSG& dialog) : dialog_(dialog) { dialog_.installEventFilter(this); }
    int answered = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show) {
            ++answered;
            QTimer::singleShot(0, &dialog_, [this] { dialog_.accept(); });
        }
        return false;
    }

  private:
    TfmMSG& dialog_;
};

// Runs the event loop, as QApplication::exec would, until `done` holds;
// false if it does not within 10 s.
template <class Done> bool runEventsUntil(Done done) {
    const std::int64_t deadline = monotonicNs() + 10'000'000'000;
    QTimer wake; // keeps the blocking wait below from outliving the deadline
    wake.start(100);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done())
            return true;
        if (monotonicNs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

int bareStartup(std::int64_t mainAt, int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kronex::kApplicationTitle));
    const std::int64_t appAt = monotonicNs();
    QWidget window;
    window.resize(640, 480);
    QLabel text(QString::fromUtf8(kronex::kApplicationTitle), &window); // loads the fonts
    window.show();
    window.activateWindow();
    if (!runEventsUntil([&] { return window.isVisible() && window.isActiveWindow(); })) {
        std::fprintf(stderr, "kronex-bench-window: the window was not shown and activated\n");
        return 1;
    }
    const std::int64_t loadedAt = monotonicNs();
    std::printf("main_at_ns %lld\n", static_cast<long long>(mainAt));
    std::printf("app_at_ns %lld\n", static_cast<long long>(appAt));
    std::printf("loaded_at_ns %lld\n", static_cast<long long>(loadedAt));
    std::printf("loaded_peak_kb %ld\n", kronex::bench::peakResidentKb());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::int64_t mainAt = monotonicNs();
    const std::string_view mode = argc == 2 ? argv[1] : "";
    if (mode != "startup" && mode != "update" && mode != "bare") {
        std::fprintf(stderr, "usage: kronex-bench-window startup|update|bare\n");
        return 2;
    }
    if (mode == "bare")
        return bareStartup(mainAt, argc, argv);

    // As app/main.cpp does it.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kronex::kApplicationTitle));
    const std::int64_t appAt = monotonicNs();
    kronex::bench::CountingComm comm(kronex::systemCommApi());
    kronex::SerialLink link(comm);
    TfmATU fmATU(link);
    TfmMSG fmMSG;
    fmATU.setMessageDialog(&fmMSG);
    fmATU.show();
    fmATU.activateWindow();
    if (!runEventsUntil([&] { return fmATU.release() != nullptr && fmATU.isVisible(); })) {
        std::fprintf(stderr, "kronex-bench-window: the window was not shown and loaded\n");
        return 1;
    }
    const std::int64_t loadedAt = monotonicNs();
    std::printf("main_at_ns %lld\n", static_cast<long long>(mainAt));
    std::printf("app_at_ns %lld\n", static_cast<long long>(appAt));
    std::printf("loaded_at_ns %lld\n", static_cast<long long>(loadedAt));
    std::printf("loaded_peak_kb %ld\n", kronex::bench::peakResidentKb());
    if (mode != "update")
        return 0;

    AnswerOk answers(fmMSG);
    const kronex::bench::CpuTime cpu0 = kronex::bench::cpuNow();
    const std::int64_t t0 = monotonicNs();
    fmATU.sbATU->click(); // the whole run happens inside the click
    const std::int64_t t1 = monotonicNs();
    const kronex::bench::CpuTime cpu1 = kronex::bench::cpuNow();
    std::printf("wall_ns %lld\n", static_cast<long long>(t1 - t0));
    std::printf("user_ns %lld\n", static_cast<long long>(cpu1.userNs - cpu0.userNs));
    std::printf("system_ns %lld\n", static_cast<long long>(cpu1.systemNs - cpu0.systemNs));
    std::printf("peak_kb %ld\n", kronex::bench::peakResidentKb());
    std::printf("bytes_out %llu\n", static_cast<unsigned long long>(comm.counts.bytesOut));
    std::printf("bytes_in %llu\n", static_cast<unsigned long long>(comm.counts.bytesIn));
    std::printf("exchanges %llu\n", static_cast<unsigned long long>(comm.counts.exchanges));
    std::printf("messages %d\n", answers.answered);
    std::printf("outcome %s\n",
                fmATU.terminationRequested() && fmATU.pbAND->value() == fmATU.pbAND->maximum()
                    ? "completed"
                    : "failed");
    return 0;
}
