// kronex-devsim: a KRONEX unit in update mode on a pseudo-terminal.
#include "com_link.h"
#include "device_model.h"
#include "device_server.h"
#include "memory_dump.h"
#include "options.h"
#include "pseudo_terminal.h"

#include <csignal>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace kronex::devsim;

namespace {

// SIGTERM and SIGINT arrive through a descriptor, so the serving loop ends
// between two bytes and the memories and the link are dealt with in order.
int stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "kronex-devsim: " << parsed.error << "\nTry kronex-devsim --help.\n";
        return 2;
    }
    const Options& o = *parsed.options;
    if (o.help) {
        std::cout << helpText();
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN); // a parent that stops reading our output
    // Timed waits end when asked, not up to 50 us later: pacing runs on them.
    prctl(PR_SET_TIMERSLACK, 1UL);
    const int signals = stopSignals();
    if (signals < 0) {
        std::perror("kronex-devsim: signalfd");
        return 1;
    }

    try {
        DeviceModel model(o.faults);
        if (o.serial)
            model.presetSerial(*o.serial);
        if (o.erasedIdentity)
            model.presetErasedIdentity();
        if (o.topOf || o.updatedBefore)
            model.presetTop(o.topOf, o.updatedBefore);
        std::ofstream transcript;
        if (!o.transcriptFile.empty()) {
            transcript.open(o.transcriptFile, std::ios::trunc);
            if (!transcript)
                throw std::runtime_error("cannot write " + o.transcriptFile);
        }
        PseudoTerminal pty;
        std::optional<ComLink> link;
        if (o.com > 0)
            link.emplace(o.com, pty.slavePath());
        if (o.printPath)
            std::cout << pty.slavePath() << std::endl;

        DeviceServer server(model, pty.master(), o.baud,
                            transcript.is_open() ? &transcript : nullptr);
        server.run(signals, o.stdinControl ? STDIN_FILENO : -1);

        if (!o.dumpDir.empty())
            writeDump(o.dumpDir, model);
    } catch (const std::exception& e) {
        std::cerr << "kronex-devsim: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
