// kronex-update: the command-line updater for the repair bench.
#include "comm_api.h"
#include "commands.h"
#include "embedded_release.h"
#include "interrupt.h"
#include "loaded_catalog.h"
#include "messages.h"
#include "port_argument.h"
#include "report.h"
#include "usage.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace kronex;
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

std::vector<int> portNumbers(const std::vector<std::string>& texts) {
    std::vector<int> ports;
    for (const auto& t : texts)
        ports.push_back(*parsePortArgument(t));
    return ports;
}

// The command named on the line, for a document about a line that failed.
std::string commandIn(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* c : {"ports", "info", "update", "verify", "restore"})
            if (std::strcmp(argv[i], c) == 0)
                return c;
    return {};
}

bool jsonAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0)
            return true;
    return false;
}

int usage(bool json, const std::string& command, const std::string& message) {
    if (json)
        std::cout << usageJson(command, message).dump(2) << "\n";
    std::cerr << "kronex-update: " << message << "\n";
    return kExitUsage;
}

// The last resort: a fault of the program's own (an exception nothing
// caught) ends it with one line, one JSON document under --json, and a
// status of its own, never with an abort.
bool gJson = false;
std::string gCommand;

int internalError(const std::string& what) {
    const char* text = N_("internal error, the command ended: {1}; run it again, and report it to "
                          "support if it comes back");
    if (gJson) {
        const EnglishTexts english;
        const nlohmann::json j = {
            {"command", gCommand.empty() ? nlohmann::json(nullptr) : nlohmann::json(gCommand)},
            {"error", "internal"},
            {"message", fill(tr(text), {printable(what)})}};
        std::cout << j.dump(2) << "\n" << std::flush;
    }
    std::cerr << "kronex-update: " << fill(tr(text), {printable(what)}) << "\n" << std::flush;
    return kExitInternal;
}

// An exception that leaves a thread ends the process here.
[[noreturn]] void onTerminate() {
    std::string what = "unknown fault";
    if (const auto e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            what = x.what();
        } catch (...) {
        }
    }
    internalError(what);
    std::_Exit(kExitInternal);
}

int run(int argc, char** argv);

} // namespace

int main(int argc, char** argv) {
    gJson = jsonAsked(argc, argv);
    gCommand = commandIn(argc, argv);
    std::set_terminate(onTerminate);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return internalError(e.what());
    } catch (...) {
        return internalError("unknown fault");
    }
}

namespace {

std::string versionText() {
    const auto loaded = loadCatalog(embeddedRelease());
    const auto& r = std::get<LoadedCatalog>(loaded);
    return fill(
        tr("kronex-update {1}, carrying release {2} \"{3}\" ({4})"),
        {KRONEX_UPDATE_VERSION, std::to_string(r.releaseNumber), r.releaseCaption, r.releaseDate});
}

nlohmann::json versionJson() {
    const auto loaded = loadCatalog(embeddedRelease());
    const auto& r = std::get<LoadedCatalog>(loaded);
    return {
        {"command", "version"},
        {"version", KRONEX_UPDATE_VERSION},
        {"release",
         {{"number", r.releaseNumber}, {"caption", r.releaseCaption}, {"date", r.releaseDate}}}};
}

int run(int argc, char** argv) {
#ifdef _WIN32
    const ConsoleSettings console;
#endif
    const bool json = jsonAsked(argc, argv);
    std::string lang;
    // The language first, so that --help comes in it too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc)
            lang = argv[i + 1];
        else if (std::strncmp(argv[i], "--lang=", 7) == 0)
            lang = argv[i] + 7;
    }
    if (!chooseLanguage(lang)) {
        chooseLanguage(""); // said in the system's language
        std::optional<EnglishTexts> english;
        if (json)
            english.emplace();
        return usage(json, commandIn(argc, argv),
                     fill(tr("--lang: pt_BR or en, not {1}"), {printable(lang)}));
    }

    CLI::App app{
        tr("kronex-update: writes the firmware release compiled into this program into "
           "KRONEX units in update mode.\n\n"
           "Exit status: 0 every unit updated (ports, info: succeeded; verify: every block "
           "matches; --loop: every unit it took), 1 at least one unit failed or did not pass "
           "the compatibility check, or a named port could not be used or had no unit "
           "answering, 2 the search of COM1 to COM16 found no unit, 3 the confirmation was "
           "declined (nothing written), 64 bad usage (also: no terminal to confirm on without "
           "--yes, --dump-dir not a writable folder, --log not writable, --record not a unit "
           "record), 70 internal error, 74 the run went well but --log lost lines, 130 "
           "interrupted (Ctrl-C; --loop: only when it cut an update short)."),
        "kronex-update"};
    // Before any option or command is added: each takes these from here.
    app.formatter(helpFormatter());
    app.option_defaults()->group(tr("Options"));
    app.require_subcommand(0, 1);
    app.set_help_flag("-h,--help", tr("this help, then nothing else"));
    Options o;
    bool version = false;
    std::vector<std::string> portTexts;
    std::string infoPort;
    BadValue bad;
    const CLI::Validator port = portNumber(bad);
    app.add_flag("--version", version, tr("the program's version and the release it carries"));

    auto* ports = app.add_subcommand(
        "ports", tr("COM1 to COM16: what each resolves to, whether it opens or another program "
                    "holds it, and whether a unit in update mode answers the handshake (only the "
                    "handshake byte is sent)"));
    auto* info = app.add_subcommand(
        "info", tr("the unit's serial number, the release and erase addresses its identity block "
                   "records, the compatibility check, and what this program would install; "
                   "changes nothing in the unit"));
    info->add_option("--port", infoPort,
                     tr("the unit's port, 1 to 256 (12, COM12 or com12); without it, COM1 to "
                        "COM16 are searched"))
        ->type_name(tr("PORT"))
        ->check(port);
    auto* verify = app.add_subcommand(
        "verify", tr("reads back every block of program memory an update writes and compares it "
                     "with this program's release, allowing for the bytes that are the unit's "
                     "own; names each block that differs; writes nothing"));
    std::string verifyPort;
    verify
        ->add_option("--port", verifyPort,
                     tr("the unit's port, 1 to 256 (12, COM12 or com12); without it, COM1 to "
                        "COM16 are searched"))
        ->type_name(tr("PORT"))
        ->check(port);
    auto* update = app.add_subcommand(
        "update", tr("the update session, as the window runs it, on one unit or several at once; "
                     "asks before writing, once every unit has been found"));
    update
        ->add_option("--port", portTexts,
                     tr("a unit's port, 1 to 256 (12, COM12 or com12); once per unit to update "
                        "several at once; without it, COM1 to COM16 are searched and the first "
                        "unit found is updated"))
        ->type_name(tr("PORT"))
        ->check(port);
    auto* all = update->add_flag(
        "--all", o.all, tr("every port from COM1 to COM16 where a unit answers the handshake"));
    all->excludes(update->get_option("--port"));
    auto* yes = update->add_flag("--yes,-y", o.yes, tr("do not ask for confirmation"));
    update->add_flag("--wait", o.wait,
                     tr("wait for the units to come up in update mode instead of failing with "
                        "\"no unit\" (Ctrl-C ends the wait)"));
    update
        ->add_flag("--loop", o.loop,
                   tr("keep going: update each unit as it is switched on, on the named ports or "
                      "the first free one of COM1 to COM16, until Ctrl-C; its progress, then a "
                      "numbered line per unit (a JSON line with --json) and one summary at the "
                      "end; a unit that failed is taken again once switched off and on; needs "
                      "--yes"))
        ->needs(yes)
        ->excludes(all);
    update->add_flag("--skip-current", o.skipCurrent,
                     tr("leave out units that already hold this release"));
    update
        ->add_option("--dump-dir", o.dumpDir,
                     tr("where the diagnostic files go, one each named with the serial number "
                        "when several units are updated (default: the root of drive C:); "
                        "checked before anything is sent"))
        ->type_name(tr("FOLDER"))
        ->check(notAnOption("--dump-dir", bad));
    auto* restore = app.add_subcommand(
        "restore", tr("writes a unit's own blocks (identity and top block) back from the record "
                      "an unfinished update kept, perhaps on another PC; run the update again "
                      "after it"));
    restore->add_option("--record", o.record, tr("the record file (unit-*.record)"))
        ->type_name(tr("FILE"))
        ->required();
    std::string restorePort;
    restore
        ->add_option("--port", restorePort,
                     tr("the unit's port, 1 to 256 (12, COM12 or com12); without it, COM1 to "
                        "COM16 are searched"))
        ->type_name(tr("PORT"))
        ->check(port);
    restore->add_flag("--yes,-y", o.yes, tr("do not ask for confirmation"));
    std::vector<CLI::Option*> logOptions;
    for (auto* sub : {info, update, verify})
        logOptions.push_back(
            sub->add_option("--log", o.logFile,
                            tr("add a line per exchange with the unit to this file (time, port, "
                               "command, address, reply status), for support"))
                ->type_name(tr("FILE"))
                ->check(notAnOption("--log", bad)));
    for (auto* sub : {info, update, verify, restore})
        sub->add_flag("--byte-writes", o.byteWrites,
                      tr("send each byte of a request to the port as a write of its own, as the "
                         "window does, instead of the whole request in one write (the same bytes "
                         "on the line; through a USB adapter, minutes instead of seconds)"));
    for (auto* sub : {ports, info, update, verify, restore}) {
        sub->add_flag("--json", o.json, tr("one JSON document on standard output instead of text"));
        sub->add_flag("--quiet,-q", o.quiet,
                      sub == ports    ? tr("print only one line: how many units answer, and on "
                                              "which ports")
                      : sub == info   ? tr("print only one line: the unit, the release it records "
                                             "and what this program would install")
                      : sub == verify ? tr("print only one line: the unit and whether every block "
                                           "matches")
                                      : tr("print only the closing summary"));
        sub->add_option("--lang", lang, tr("pt_BR or en (default: the system's language)"));
    }
    app.add_flag("--json", o.json, tr("one JSON document on standard output instead of text"));
    app.add_option("--lang", lang, tr("pt_BR or en (default: the system's language)"));
    // A command's help flag is made before it takes the group's name.
    for (auto* sub : {ports, info, update, verify, restore}) {
        sub->group(tr("Subcommands"));
        sub->get_help_ptr()->group(tr("Options"));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) { // --help, of the program or of a command
            std::cout << app.help();
            return kExitOk;
        }
        // The JSON record's message stays English.
        std::optional<EnglishTexts> english;
        if (json)
            english.emplace();
        return usage(json, commandIn(argc, argv),
                     refusalText(e, app, std::vector<std::string>(argv + 1, argv + argc), bad));
    }
    if (version) {
        if (json)
            std::cout << versionJson().dump(2) << "\n";
        else
            std::cout << versionText() << "\n";
        return kExitOk;
    }
    // The JSON record's message stays English.
    std::optional<EnglishTexts> english;
    if (json)
        english.emplace();
    // An empty value names nothing: refused rather than taken as no option at all.
    if (*update && update->count("--dump-dir") > 0 && o.dumpDir.empty())
        return usage(json, "update", tr("--dump-dir needs a folder, not an empty text"));
    for (const CLI::Option* log : logOptions)
        if (log->count() > 0 && o.logFile.empty())
            return usage(json, commandIn(argc, argv),
                         tr("--log needs a file name, not an empty text"));
    if (*update && !o.dumpDir.empty())
        if (const std::string problem = dumpDirProblem(o.dumpDir); !problem.empty())
            return usage(json, "update", problem);

    if (!o.logFile.empty())
        if (const std::string problem = logFileProblem(o.logFile); !problem.empty())
            return usage(json, commandIn(argc, argv), problem);

    english.reset();
    const auto run = [&] {
        if (*ports)
            return portsCommand(o);
        if (*info) {
            if (!infoPort.empty())
                o.ports = {*parsePortArgument(infoPort)};
            return infoCommand(o);
        }
        if (*restore) {
            if (!restorePort.empty())
                o.ports = {*parsePortArgument(restorePort)};
            return restoreCommand(o);
        }
        if (*verify) {
            if (!verifyPort.empty())
                o.ports = {*parsePortArgument(verifyPort)};
            return verifyCommand(o);
        }
        o.ports = portNumbers(portTexts);
        return updateCommand(o);
    };
    if (*ports || *info || *verify || *update || *restore) {
        // A USB adapter's driver at its lowest latency while a unit is worked on.
        askLowLatency(!*ports);
        const int status = run();
        // Its sessions have stopped and the results are out: a closing console
        // may now end the process.
        commandFinished();
        return status;
    }
    return usage(
        json, "",
        tr("a command is needed: ports, info, update, verify or restore (--help lists them)"));
}

} // namespace
