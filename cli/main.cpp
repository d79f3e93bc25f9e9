// kronex-update: the command-line updater for the repair bench.
#include "commands.h"
#include "interrupt.h"

#include <CLI/CLI.hpp>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace kronex::cli;

namespace {

#ifdef _WIN32
// The console as this program needs it, and as it was afterwards. The program
// writes UTF-8 ("versão"), which a console shows right only with its output
// code page set so; the progress bars turn on virtual-terminal processing
// (progress_view.cpp). Both belong to the console, not to this process, so
// cmd.exe or PowerShell gets its own back at the end.
class ConsoleSettings {
  public:
    ConsoleSettings() {
        if (codePage_ != 0)
            SetConsoleOutputCP(CP_UTF8);
        for (Output& o : outputs_)
            o.saved = o.handle != INVALID_HANDLE_VALUE && GetConsoleMode(o.handle, &o.mode);
    }
    ~ConsoleSettings() {
        if (codePage_ != 0)
            SetConsoleOutputCP(codePage_);
        for (const Output& o : outputs_)
            if (o.saved)
                SetConsoleMode(o.handle, o.mode);
    }
    ConsoleSettings(const ConsoleSettings&) = delete;
    ConsoleSettings& operator=(const ConsoleSettings&) = delete;

  private:
    struct Output {
        HANDLE handle;
        DWORD mode = 0;
        bool saved = false;
    };
    const UINT codePage_ = GetConsoleOutputCP(); // 0: no console
    Output outputs_[2] = {{GetStdHandle(STD_OUTPUT_HANDLE)}, {GetStdHandle(STD_ERROR_HANDLE)}};
};
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    const ConsoleSettings console;
#endif
    CLI::App app{"kronex-update: writes the firmware release compiled into this program into "
                 "KRONEX units in update mode, over COM1 to COM16.\n\n"
                 "Exit status: 0 every unit updated (or ports/info succeeded), 1 at least one "
                 "unit failed (or the confirmation was declined), 2 no unit found, 64 bad usage, "
                 "130 interrupted (Ctrl-C).",
                 "kronex-update"};
    app.require_subcommand(1);
    Options o;
    app.add_flag("--json", o.json, "one JSON document on standard output instead of text");

    auto* ports = app.add_subcommand(
        "ports", "COM1 to COM16: what each resolves to, whether it opens or another program "
                 "holds it, and whether a unit in update mode answers the handshake (only the "
                 "handshake byte is sent)");
    auto* info = app.add_subcommand(
        "info", "the unit's serial number, the release and erase addresses its identity block "
                "records, the compatibility check, and what this program would install; "
                "changes nothing in the unit");
    info->add_option("--port", o.ports, "the unit's port (1-16); without it, the window's scan")
        ->check(CLI::Range(1, 16))
        ->expected(1);
    auto* update = app.add_subcommand(
        "update", "the update session, as the window runs it, on one unit or several at once");
    update
        ->add_option("--port", o.ports,
                     "a unit's port (1-16); give it once per unit to update several at once; "
                     "without it, the window's scan takes the first unit it finds")
        ->check(CLI::Range(1, 16));
    auto* all = update->add_flag("--all", o.all, "every port where a unit answers the handshake");
    all->excludes(update->get_option("--port"));
    update->add_flag("--yes,-y", o.yes, "do not ask for confirmation");
    update->add_option("--dump-dir", o.dumpDir,
                       "where several units' diagnostic files go, one each named with the "
                       "serial number (default: the root of drive C:)");
    auto* restore = app.add_subcommand(
        "restore", "writes a unit's own blocks (identity and top block) back from the record an "
                   "unfinished update kept, perhaps on another PC; run the update again after it");
    restore->add_option("--record", o.record, "the record file (unit-*.record)")->required();
    restore->add_option("--port", o.ports, "the unit's port (1-16); without it, the window's scan")
        ->check(CLI::Range(1, 16))
        ->expected(1);
    restore->add_flag("--yes,-y", o.yes, "do not ask for confirmation");
    for (auto* sub : {ports, info, update, restore})
        sub->add_flag("--json", o.json, "one JSON document on standard output instead of text");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }

    const int status = *ports     ? portsCommand(o)
                       : *info    ? infoCommand(o)
                       : *restore ? restoreCommand(o)
                                  : updateCommand(o);
    // Its sessions have stopped and the results are out: a closing console
    // may now end the process.
    commandFinished();
    return status;
}
