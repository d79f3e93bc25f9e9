// The start button's whole workflow on the virtual clock: detection, the
// compatibility check and the update session against simulated units.
#include "dump_file.h"
#include "embedded_release.h"
#include "expected_update.h"
#include "record_lock.h"
#include "record_match.h"
#include "release_file.h"
#include "session_plan.h"
#include "workflow_rig.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>

using namespace kronex;
using kronex::test::commandsOf;
using kronex::test::ExpectedUpdate;
using kronex::test::ReleaseEntries;
using kronex::test::WorkflowRig;
using Codes = std::vector<MessageCode>;

namespace {

const ExpectedUpdate& expected() {
    return kronex::test::expectedSampleUpdate();
}

// The exchange of a clean update's n-th `command`; a missing one fails the test.
int exchangeOf(const std::string& command, int n = 1) {
    const int k = kronex::test::exchangeOf(command, n);
    if (k == 0)
        ADD_FAILURE() << "no " << command;
    return k;
}

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> portsOpened(const test::FakeComm& comm) {
    std::vector<std::string> names;
    for (const auto& c : comm.callsNamed("CreateFileA"))
        names.push_back(c.port);
    return names;
}

// The session ended at a failure: no message, the program ends, the port is
// closed and the diagnostic file is not written.
void expectEndedWithoutSuccess(WorkflowRig& rig) {
    EXPECT_EQ(rig.window.shown, Codes{MSG_INICIAR});
    EXPECT_TRUE(rig.window.terminationRequested);
    EXPECT_EQ(rig.comm.openHandles(), 0);
    EXPECT_FALSE(std::filesystem::exists(rig.dumpFile));
    EXPECT_EQ(rig.window.startCaption, "Aguarde...");
    EXPECT_EQ(rig.window.status, "Número de série: 290A1BC2");
    EXPECT_LT(rig.window.position, rig.window.maximum);
}

// The unit holds what a whole update of the release must leave, and the
// diagnostic file is its identity block. A unit whose identity read cut has
// its top block read before anything else is decided.
void expectUpdated(const devsim::DeviceModel& unit, const WorkflowRig& rig, const ExpectedUpdate& e,
                   bool identityCut = false) {
    auto commands = e.commands;
    if (identityCut)
        commands.insert(commands.begin() + 1, "READ t0 FF80");
    EXPECT_EQ(commandsOf(unit), commands);
    EXPECT_TRUE(unit.program(0) == e.target0);
    EXPECT_TRUE(unit.program(1) == e.target1);
    ASSERT_EQ(unit.dataExtent(), e.data.size());
    for (std::uint32_t i = 0; i < e.data.size(); ++i)
        ASSERT_EQ(unit.dataByte(i), e.data[i]) << "data position " << i;
    EXPECT_EQ(fileText(rig.dumpFile), dumpText(e.identity) + "\r\n");
}

} // namespace

TEST(Workflow, UpdatesTheUnitOnTheFirstPortThatAnswers) {
    WorkflowRig rig;
    rig.silentPortOn(1);
    auto& unit = rig.unitOn(3); // COM2 does not exist
    rig.click();

    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO}));
    EXPECT_EQ(portsOpened(rig.comm),
              (std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3"}));
    EXPECT_EQ(rig.comm.port(1).sent, std::vector<std::uint8_t>(11, 0xBC));
    EXPECT_EQ(rig.comm.openHandles(), 0);
    EXPECT_TRUE(rig.window.terminationRequested);
    EXPECT_FALSE(rig.window.busy);
    EXPECT_FALSE(rig.window.startEnabled);
    EXPECT_EQ(rig.window.startCaption, "Aguarde...");
    EXPECT_EQ(rig.window.statuses,
              (std::vector<std::string>{"Número de série: 290A1BC2", "Atualização concluída!"}));

    // The bar: emptied, 785 steps of work, then filled.
    const auto& steps = rig.window.steps;
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front(), -865);
    EXPECT_EQ(std::accumulate(steps.begin() + 1, steps.end() - 1, 0), 785);
    EXPECT_EQ(steps.back(), 865);
    EXPECT_EQ(rig.window.position, 865);

    using S = SessionStep;
    EXPECT_EQ(rig.window.reached, (std::vector<S>{S::MainImageGroup1, S::MainImageGroup2, S::Erases,
                                                  S::DataPart, S::TopBlock, S::MirrorBlock,
                                                  S::IdentityBlock, S::SecondTarget, S::FinalRun}));

    expectUpdated(unit, rig, expected());
}

// Another shape: every place moves, one maker fewer, other erase addresses
// and release number. What goes in still follows the release alone.
TEST(Workflow, AReleaseOfAnotherShapeGoesInAsItSays) {
    auto r = ReleaseEntries::sample();
    r.byId[3] = "300"; // kept as 44
    r.byId[132] = "9000";
    r.byId[133] = "6000";
    r.removeAt(151);                    // the last maker
    r.insertAt(26, "Módulo adicional"); // the main image starts at 54
    const auto table = r.table();
    WorkflowRig rig(table);
    auto& unit = rig.unitOn(1);
    rig.click();

    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO}));
    const auto e = kronex::test::expectedUpdate(r, devsim::DeviceModel());
    EXPECT_EQ(e.identity[6], 44);
    EXPECT_EQ(e.identity[7], 0x60);
    EXPECT_EQ(e.identity[9], 0x90);
    expectUpdated(unit, rig, e);
}

TEST(Workflow, DecliningThePromptTouchesNoPort) {
    WorkflowRig rig;
    rig.unitOn(1);
    rig.window.position = 40;
    rig.window.answers = {false};
    rig.click();
    EXPECT_EQ(rig.window.shown, Codes{MSG_INICIAR});
    EXPECT_TRUE(rig.comm.calls.empty());
    EXPECT_TRUE(rig.window.startEnabled);
    EXPECT_EQ(rig.window.startCaption, "Iniciar");
    EXPECT_FALSE(rig.window.busy);
    EXPECT_EQ(rig.window.position, 0);
    EXPECT_FALSE(rig.window.terminationRequested);
}

TEST(Workflow, NoUnitOnAnyPortReportsAndWaitsForAnotherTry) {
    WorkflowRig rig;
    for (int n = 1; n <= 16; ++n)
        rig.silentPortOn(n);
    rig.click();
    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_PORTA}));
    EXPECT_EQ(portsOpened(rig.comm).size(), 16u);
    EXPECT_EQ(rig.comm.now(), 16u * 11 * 100); // one read time-out per try
    EXPECT_EQ(rig.comm.openHandles(), 0);
    EXPECT_TRUE(rig.window.startEnabled);
    EXPECT_EQ(rig.window.startCaption, "Iniciar");
    EXPECT_FALSE(rig.window.busy);
    EXPECT_FALSE(rig.window.terminationRequested);

    rig.window.position = 12;
    rig.window.answers = {true};
    rig.click();
    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_PORTA, MSG_INICIAR, MSG_PORTA}));
    EXPECT_EQ(rig.window.steps.back(), -865);
    EXPECT_EQ(rig.window.position, 0);
}

TEST(Workflow, IncompatibleUnitIsReportedOnEveryTryThenTheScanGoesOn) {
    WorkflowRig rig;
    rig.unitOn(1, {.incompatible = true});
    rig.silentPortOn(2);
    rig.click();
    Codes expectedCodes = {MSG_INICIAR};
    expectedCodes.insert(expectedCodes.end(), 11, MSG_VERSAO);
    expectedCodes.push_back(MSG_PORTA);
    EXPECT_EQ(rig.window.shown, expectedCodes);
    EXPECT_EQ(portsOpened(rig.comm).size(), 16u);
    EXPECT_EQ(rig.serialNumber, "");
    EXPECT_TRUE(rig.window.startEnabled);
    EXPECT_FALSE(rig.window.terminationRequested);
}

// The one search both front ends use: a stop asked between two tries ends
// it there (kronex-update's Ctrl-C) with every port closed; a port taken is
// left open for the session.
TEST(Workflow, TheSearchStopsBetweenTriesAndKeepsThePortItTakes) {
    WorkflowRig rig;
    rig.silentPortOn(1);
    rig.unitOn(2);
    SerialPort& port = rig.link.port;
    const auto takeAnswer = [](int) { return true; };
    const auto afterThree = [&] { return rig.comm.port(1).sent.size() >= 3; };
    const auto handshakes = [&](int) { return tryHandshakes(port, takeAnswer, afterThree); };
    EXPECT_EQ(scanPorts(port, 1, 16, handshakes, afterThree), 0);
    EXPECT_EQ(rig.comm.port(1).sent, std::vector<std::uint8_t>(3, 0xBC));
    EXPECT_EQ(portsOpened(rig.comm), std::vector<std::string>{"\\\\.\\COM1"});
    EXPECT_EQ(rig.comm.openHandles(), 0);

    EXPECT_EQ(scanPorts(port, 1, 16, [&](int) { return tryHandshakes(port, takeAnswer); }), 2);
    EXPECT_EQ(rig.comm.openHandles(), 1);
    port.FECHA_PORTA();
}

TEST(Workflow, UnitAnsweringOnTheSeventhTryIsTakenThere) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(2, {.handshakeFrom = 7});
    rig.click();
    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO}));
    const auto& t = unit.transcript();
    ASSERT_GE(t.size(), 8u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(t[static_cast<std::size_t>(i)], "HANDSHAKE unanswered");
    EXPECT_EQ(t[6], "HANDSHAKE");
    EXPECT_EQ(t[7], "READ t0 2000");
}

TEST(Workflow, SilenceInTheDataPartEndsTheSessionThere) {
    WorkflowRig rig;
    const int k = exchangeOf("DATA 0064+00"); // block 100
    auto& unit = rig.unitOn(1, {.silentFromExchange = k});
    rig.click();
    expectEndedWithoutSuccess(rig);
    EXPECT_EQ(rig.comm.port(1).sent.back(), 0x87); // the unanswered attention byte, nothing after
    EXPECT_EQ(rig.window.position, 1 + 72 + 1 + 100);
    EXPECT_EQ(commandsOf(unit).size(), static_cast<std::size_t>(k - 1));
}

// The unit vanishes (its adapter pulled out: every transfer fails at once)
// during the scan's handshakes or the pause after the first run command: the
// run ends as for a silent unit, without polling the dead port. Every other
// exchange is covered by the fault matrix.
TEST(Workflow, AUnitThatVanishesOutsideAnExchangeCostsNoWaiting) {
    WorkflowRig clean;
    clean.unitOn(1, {.handshakeFrom = 4});
    clean.click();
    const auto pauses = clean.comm.callsNamed("Sleep");
    ASSERT_EQ(pauses.size(), 1u);
    struct Case {
        const char* phase;
        std::uint64_t goneFrom;
        Codes shown;
        int failedTransfers; // each one takes the fake 1 ms at most
    };
    for (const Case& c : {Case{"scan", 250, {MSG_INICIAR, MSG_PORTA}, 16},
                          Case{"pause", pauses[0].at + 500, {MSG_INICIAR}, 2 * 101 + 1}}) {
        SCOPED_TRACE(c.phase);
        WorkflowRig rig;
        rig.unitOn(1, {.handshakeFrom = 4});
        rig.comm.port(1).goneFrom = c.goneFrom;
        rig.click();
        EXPECT_EQ(rig.window.shown, c.shown);
        EXPECT_EQ(rig.window.terminationRequested, c.shown.size() == 1);
        EXPECT_EQ(rig.comm.openHandles(), 0);
        EXPECT_EQ(rig.comm.port(1).failedTransfers, c.failedTransfers);
        EXPECT_FALSE(std::filesystem::exists(rig.dumpFile));
    }
}

TEST(Workflow, FailedReadOfTheTopBlockWritesNothingThere) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1, {.shortReplyAtExchange = exchangeOf("READ t0 FF80")});
    const auto before = devsim::DeviceModel().program(0);
    rig.click();
    expectEndedWithoutSuccess(rig);
    EXPECT_EQ(commandsOf(unit).back(), "READ t0 FF80 [short]");
    EXPECT_TRUE(
        std::equal(before.begin() + 0xFF80, before.end(), unit.program(0).begin() + 0xFF80));
}

TEST(Workflow, FailedReadOfTheIdentityKeepsTheSerialNumber) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1, {.cutReplyAtExchange = exchangeOf("READ t0 2000", 2)});
    const auto before = devsim::DeviceModel().program(0);
    rig.click();
    expectEndedWithoutSuccess(rig);
    EXPECT_EQ(commandsOf(unit).back(), "READ t0 2000 [cut]");
    EXPECT_TRUE(std::equal(before.begin() + 0x2000, before.begin() + 0x2080,
                           unit.program(0).begin() + 0x2000));
}

// A whole reply refused with status 0x55 is no better than a cut one: the
// block it would have given is erased next.
TEST(Workflow, ARefusedReadOfABlockAboutToBeErasedWritesNothingThere) {
    for (const auto& [command, n] :
         std::vector<std::pair<std::string, int>>{{"READ t0 FF80", 1}, {"READ t0 2000", 2}}) {
        SCOPED_TRACE(command);
        WorkflowRig rig;
        auto& unit = rig.unitOn(1, {.nakAtExchange = exchangeOf(command, n)});
        const auto before = devsim::DeviceModel().program(0);
        rig.click();
        expectEndedWithoutSuccess(rig);
        EXPECT_EQ(commandsOf(unit).back(), command + " [nak]");
        const std::size_t at = command == "READ t0 FF80" ? 0xFF80 : 0x2000;
        EXPECT_TRUE(std::equal(before.begin() + at, before.begin() + at + 128,
                               unit.program(0).begin() + at));
    }
}

TEST(Workflow, RefusedIdentityWriteEndsTheSession) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1, {.nakAtExchange = exchangeOf("WRITE t0 2000")});
    rig.click();
    expectEndedWithoutSuccess(rig);
    EXPECT_EQ(commandsOf(unit).back(), "WRITE t0 2000 [nak]");
}

TEST(Workflow, RefusedWriteInTheFirstTargetOneSegmentEndsTheSession) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1, {.nakAtExchange = exchangeOf("WRITE t1 1280")});
    rig.click();
    expectEndedWithoutSuccess(rig);
    EXPECT_EQ(commandsOf(unit).back(), "WRITE t1 1280 [nak]");
}

TEST(Workflow, OutcomesThatDoNotStopTheSession) {
    for (const auto& [command, n] : std::vector<std::pair<std::string, int>>{
             {"ERASE t0 8000", 1}, {"ERASE t0 7000", 1}, {"RUN t0", 2}}) {
        WorkflowRig rig;
        rig.unitOn(1, {.nakAtExchange = exchangeOf(command, n)});
        rig.click();
        EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO})) << command;
        EXPECT_EQ(rig.window.position, 865) << command;
    }
}

TEST(Workflow, RefusedCommandsThatStopTheSession) {
    for (const auto& [command, n] : std::vector<std::pair<std::string, int>>{{"WRITE t0 4000", 1},
                                                                             {"RUN t0", 1},
                                                                             {"WRITE t0 2580", 1},
                                                                             {"DATA 0000+80", 1},
                                                                             {"DATA 0271+80", 1},
                                                                             {"WRITE t0 FF80", 1},
                                                                             {"WRITE t0 2380", 1},
                                                                             {"RUN t1", 1},
                                                                             {"WRITE t1 1A00", 1},
                                                                             {"WRITE t1 FF80", 1},
                                                                             {"RUN t1", 2}}) {
        WorkflowRig rig;
        auto& unit = rig.unitOn(1, {.nakAtExchange = exchangeOf(command, n)});
        rig.click();
        EXPECT_EQ(rig.window.shown, Codes{MSG_INICIAR}) << command;
        EXPECT_EQ(commandsOf(unit).back(), command + " [nak]");
        EXPECT_TRUE(rig.window.terminationRequested);
    }
}

TEST(Workflow, ClosingTheWindowMidUpdateLetsTheUpdateFinish) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1);
    rig.window.onPump = [&] {
        if (rig.window.position > 300)
            rig.window.terminationRequested = true;
    };
    rig.click();
    EXPECT_EQ(commandsOf(unit), expected().commands);
    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO}));
    EXPECT_EQ(rig.window.position, 865);
    EXPECT_TRUE(std::filesystem::exists(rig.dumpFile));
}

TEST(Workflow, UnwritableDiagnosticFileStillCompletes) {
    WorkflowRig rig;
    rig.unitOn(1);
    const auto blocker = rig.dumpFile.parent_path() / "not-a-folder";
    std::ofstream(blocker) << "x";
    rig.dumpFile = blocker / "TEXTO2.TXT";
    rig.dumpFiles.refusing.push_back(rig.dumpFiles.userHome); // nowhere takes it
    rig.click();
    EXPECT_EQ(rig.window.shown, (Codes{MSG_INICIAR, MSG_CONCLUIDO}));
    EXPECT_EQ(rig.window.status, "Atualização concluída!");
    EXPECT_EQ(rig.window.position, 865);
}

// The diagnostic file goes to its place when that takes new files, otherwise
// to the user's own folder (a standard user's Windows refuses new files in
// the root of C:); the session's result says where, or why nowhere.
TEST(Workflow, TheDiagnosticFileGoesWhereItCanAndTheResultSaysWhere) {
    enum Went { First, UserFolder, Nowhere };
    const struct {
        const char* what;
        bool firstRefuses, userRefuses;
        Went went;
    } cases[] = {{"its place takes it", false, false, First},
                 {"its folder refuses new files", true, false, UserFolder},
                 {"no folder takes it", true, true, Nowhere}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WorkflowRig rig;
        rig.unitOn(1);
        if (c.firstRefuses)
            rig.dumpFiles.refusing.push_back(rig.dumpFile.parent_path());
        if (c.userRefuses)
            rig.dumpFiles.refusing.push_back(rig.dumpFiles.userHome);
        ASSERT_TRUE(rig.runSession(1));
        const std::filesystem::path places[] = {
            rig.dumpFile, rig.dumpFiles.userHome / "TEXTO2.TXT", {}};
        const DumpResult& dump = rig.session.dump;
        EXPECT_EQ(dump.path, places[c.went]);
        EXPECT_EQ(dump.error.empty(), !c.firstRefuses) << dump.error;
        if (c.firstRefuses) {
            EXPECT_EQ(dump.error.rfind(pathText(rig.dumpFile) + " could not be written: ", 0), 0u)
                << dump.error;
        }
        for (const Went w : {First, UserFolder}) {
            EXPECT_EQ(std::filesystem::exists(places[w]), w == c.went);
            if (w == c.went) {
                EXPECT_EQ(fileText(places[w]), dumpText(expected().identity) + "\r\n");
            }
        }
    }
}

// The window and kronex-update may write it at once: each write has a
// temporary name of its own beside the file, and leaves none behind.
TEST(Workflow, EachDiagnosticWriteHasATemporaryNameOfItsOwn) {
    WorkflowRig rig;
    IdentityImage identity;
    identity.fill(0x5A);
    ASSERT_EQ(writeDumpFile(rig.dumpFile, identity, rig.dumpFiles).path, rig.dumpFile);
    ASSERT_EQ(writeDumpFile(rig.dumpFile, identity, rig.dumpFiles).path, rig.dumpFile);
    const auto& names = rig.dumpFiles.attempted;
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    for (const auto& name : names)
        EXPECT_EQ(name.parent_path(), rig.dumpFile.parent_path()); // renamed within one folder
    std::vector<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(rig.dumpFile.parent_path()))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::filesystem::path>{"TEXTO2.TXT"});
}

TEST(Workflow, ADirectoryFullOfSectionsStopsTheSessionBeforeItOverflows) {
    // 58 sections load; the session then meets a 59th in the table it walks.
    auto r = ReleaseEntries::sample();
    for (int i = 0; i < 8; ++i) {
        r.insertAt(829, "*");
        r.insertAt(829, kronex::test::hexLine('3'));
    }
    const auto loaded = r.table();
    auto walked = r;
    walked.insertAt(829 + 16, "*");
    walked.insertAt(829 + 16, kronex::test::hexLine('4'));
    const auto table = walked.table();

    WorkflowRig rig(loaded);
    rig.useRelease(table);
    auto& unit = rig.unitOn(1);
    rig.click();
    expectEndedWithoutSuccess(rig);
    const auto commands = commandsOf(unit);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "READ t0 FF80"), 0);
    EXPECT_EQ(commands.back(), "DATA 0279+80"); // the last line of section 58
}

TEST(Workflow, TheStopReasonNamesStepCommandExchangeAndCause) {
    struct Case {
        devsim::Faults faults;
        std::string step, command, reason;
    };
    const std::vector<Case> cases = {
        {{.nakAtExchange = exchangeOf("WRITE t0 B000")},
         "main image group 1",
         "WRITE t0 B000",
         "refused with status 0x55"},
        {{.nakAtExchange = exchangeOf("WRITE t0 2580")},
         "main image group 2",
         "WRITE t0 2580",
         "refused with status 0x55"},
        {{.silentFromExchange = exchangeOf("DATA 0064+00")},
         "data part section 9",
         "DATA block 0064+00",
         "no complement within 5 s"},
        {{.cutReplyAtExchange = exchangeOf("DATA 0271+80")},
         "data part section 50",
         "DATA block 0271+80",
         "reply cut short"},
        {{.zeroLengthAtExchange = exchangeOf("WRITE t0 FF80")},
         "top block",
         "WRITE t0 FF80",
         "reply of length 0"},
        {{.nakAtExchange = exchangeOf("WRITE t0 2380")},
         "mirror block",
         "WRITE t0 2380",
         "refused with status 0x55"},
        {{.shortReplyAtExchange = exchangeOf("READ t0 2000", 2)},
         "identity block",
         "READ t0 2000",
         "reply cut short"},
        {{.nakAtExchange = exchangeOf("WRITE t1 1A00")},
         "second target",
         "WRITE t1 1A00",
         "refused with status 0x55"},
        {{.nakAtExchange = exchangeOf("RUN t1", 2)},
         "final run",
         "RUN t1",
         "refused with status 0x55"},
    };
    const SessionPlan plan = planSession(kronex::test::sampleRelease(), WorkflowRig().catalog);
    for (const auto& c : cases) {
        WorkflowRig rig;
        rig.unitOn(1, c.faults);
        EXPECT_FALSE(rig.runSession(1)) << c.command;
        const auto& stop = rig.session.stop;
        const int at = std::max({c.faults.nakAtExchange, c.faults.silentFromExchange,
                                 c.faults.cutReplyAtExchange, c.faults.zeroLengthAtExchange,
                                 c.faults.shortReplyAtExchange});
        EXPECT_EQ(stepName(stop), c.step) << c.command;
        EXPECT_EQ(commandText(stop), c.command);
        EXPECT_EQ(stop.exchange, static_cast<unsigned>(at)) << c.command;
        EXPECT_EQ(reasonText(stop), c.reason) << c.command;
        // The plan tags the exchange with the step the stop names; the check's
        // read is exchange 1.
        ASSERT_GE(at, 2);
        ASSERT_LE(static_cast<std::size_t>(at), plan.exchanges);
        EXPECT_EQ(plan.session[static_cast<std::size_t>(at) - 2].step, stop.step) << c.command;
    }
    // Unplugged mid-session: the report says the port went, not that a reply was cut.
    WorkflowRig timing;
    timing.unitOn(1);
    EXPECT_TRUE(timing.runSession(1));
    const auto pauses = timing.comm.callsNamed("Sleep");
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(timing.session.stop.step, SessionStep::Completed);
    EXPECT_EQ(timing.link.exchange.exchanges, expected().commands.size());
    WorkflowRig gone;
    gone.unitOn(1);
    gone.comm.port(1).goneFrom = pauses[0].at + 1000; // as the unit restarts
    EXPECT_FALSE(gone.runSession(1));
    EXPECT_EQ(stepName(gone.session.stop), "main image group 2");
    EXPECT_EQ(reasonText(gone.session.stop), "the port failed (the unit or its adapter is gone)");
}

// The plan is what a real session sends, exchange by exchange and byte for
// byte, with handshakes only where the plan has them; its totals are what
// the session counted. The bytes the session takes from the unit are those
// in which plans for two different units differ: there the real unit's own
// byte goes out.
TEST(Workflow, ASessionSendsExactlyItsPlan) {
    // The sample, and whatever release the program embeds.
    for (const ReleaseTable* release : {&kronex::test::sampleRelease(), &embeddedRelease()}) {
        SCOPED_TRACE(release == &embeddedRelease() ? "embedded release" : "sample release");
        WorkflowRig rig(*release);
        const SessionPlan plan = planSession(*release, rig.catalog);
        const SessionPlan zeros = planSession(*release, rig.catalog, 0x00);
        ASSERT_EQ(zeros.session.size(), plan.session.size());
        auto& unit = rig.unitOn(1);
        const devsim::DeviceModel::Memory own[] = {unit.program(0), unit.program(1)};
        ASSERT_TRUE(rig.runSession(1));
        const auto& sent = rig.comm.port(1).sent;
        std::size_t at = 0;
        std::size_t handshakes = 0;
        const auto tries = [&] {
            const std::size_t from = at;
            while (at < sent.size() && sent[at] == 0xBC)
                ++at;
            handshakes += at - from;
            return at - from;
        };
        tries();
        ASSERT_LE(plan.check.size(), sent.size());
        EXPECT_TRUE(std::equal(plan.check.begin(), plan.check.end(), sent.begin()));
        at = plan.check.size();
        constexpr std::size_t kPayloadAt = 6; // after the attention byte and five frame bytes
        for (std::size_t k = 0; k < plan.session.size(); ++k) {
            const auto& e = plan.session[k];
            EXPECT_EQ(tries() > 0, e.handshakesBefore > 0) << "exchange " << k + 2;
            ASSERT_LE(at + e.bytesOut.size(), sent.size()) << "exchange " << k + 2;
            for (std::size_t i = 0; i < e.bytesOut.size(); ++i) {
                std::uint8_t want = e.bytesOut[i];
                if (want != zeros.session[k].bytesOut[i]) {
                    ASSERT_GE(i, kPayloadAt) << "exchange " << k + 2;
                    const auto& memory = own[e.frame.target];
                    want = CODIFICA_BYTE(
                        memory[static_cast<std::uint16_t>(e.frame.address + i - kPayloadAt)]);
                }
                ASSERT_EQ(sent[at + i], want) << "exchange " << k + 2 << " byte " << i;
            }
            at += e.bytesOut.size();
        }
        EXPECT_EQ(at, sent.size());
        EXPECT_EQ(plan.exchanges, rig.link.exchange.exchanges);
        EXPECT_EQ(plan.bytesOut, sent.size() - handshakes);
        EXPECT_EQ(plan.session.back().step, SessionStep::FinalRun);
    }
}

namespace {

// The update of `rig`'s unit on COMn cut where the unit goes silent at the
// n-th `command` of a clean update; then the unit is switched on again.
void cutAt(WorkflowRig& rig, devsim::DeviceModel& unit, int port, const std::string& command,
           int n = 1) {
    const LoadedCatalog loaded = rig.catalog; // the next run loads the release afresh
    unit.powerCycle({.silentFromExchange = exchangeOf(command, n)});
    EXPECT_FALSE(rig.runSession(port));
    unit.powerCycle();
    rig.catalog = loaded;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        out.push_back(e.path());
    return out;
}

bool erased(const devsim::DeviceModel& unit, const std::string& block) {
    const auto c = commandsOf(unit);
    return std::find(c.begin(), c.end(), "ERASE t0 " + block) != c.end();
}

// A disk whose record writes fail.
struct FullDisk : RecordFiles {
    bool replace(const std::filesystem::path&, const std::string&, std::string& why) override {
        why = "no space left on device";
        return false;
    }
};

// A disk whose record removals fail.
struct StuckDisk : RecordFiles {
    bool remove(const std::filesystem::path& path, std::string& why) override {
        why = "removing " + path.string() + ": Read-only file system";
        return false;
    }
};

} // namespace

// Cut at the unit's own blocks and run again on the same PC: with the
// record kept, the update ends exactly as a clean one; without it, the
// session stops before erasing what it cannot put back.
TEST(Workflow, AnUpdateCutAtTheUnitsOwnBlocksIsFinishedFromItsRecord) {
    struct Case {
        std::string command;
        int n;
        bool keepRecords;
        Safeguard rerun; // None: the rerun completes
    };
    for (const Case& c :
         {Case{"WRITE t0 FF80", 1, true, Safeguard::None},
          Case{"WRITE t0 2000", 1, true, Safeguard::None}, Case{"RUN t1", 2, true, Safeguard::None},
          Case{"WRITE t0 FF80", 1, false, Safeguard::TopBlockBlank},
          Case{"WRITE t0 2000", 1, false, Safeguard::IdentityLost}}) {
        SCOPED_TRACE(c.command + (c.keepRecords ? " kept" : " not kept"));
        WorkflowRig rig;
        if (c.keepRecords)
            rig.unitRecords = rig.recordFolder();
        auto& unit = rig.unitOn(1);
        cutAt(rig, unit, 1, c.command, c.n);
        EXPECT_EQ(filesIn(rig.recordFolder()).size(), c.keepRecords ? 1u : 0u);
        EXPECT_EQ(rig.session.openRecord.empty(), !c.keepRecords);

        EXPECT_EQ(rig.runSession(1), c.rerun == Safeguard::None);
        if (c.rerun == Safeguard::None) {
            expectUpdated(unit, rig, expected(), c.command == "WRITE t0 2000");
            EXPECT_TRUE(filesIn(rig.recordFolder()).empty());
            continue;
        }
        EXPECT_EQ(rig.session.stop.safeguard, c.rerun);
        EXPECT_FALSE(erased(unit, "FF80"));
        EXPECT_FALSE(erased(unit, "2000"));
    }
}

TEST(Workflow, FourUnitsCutAtOnceEachGetTheirOwnBlocksBack) {
    WorkflowRig rig;
    rig.unitRecords = rig.recordFolder();
    const std::vector<std::array<std::uint8_t, 3>> serials = {
        {0x00, 0x00, 0x01}, {0x00, 0x00, 0x02}, {0x55, 0x00, 0x03}, {0x0A, 0x1B, 0xC4}};
    std::vector<devsim::DeviceModel*> units;
    // Cut as their identity blocks are erased: all four then read blank.
    for (int n = 1; n <= 4; ++n) {
        auto& unit = rig.unitOn(n);
        unit.presetSerial(serials[static_cast<std::size_t>(n - 1)]);
        units.push_back(&unit);
        cutAt(rig, unit, n, "WRITE t0 2000");
    }
    EXPECT_EQ(filesIn(rig.recordFolder()).size(), 4u);
    const LoadedCatalog loaded = rig.catalog;
    for (int n = 4; n >= 1; --n) {
        SCOPED_TRACE(n);
        rig.catalog = loaded;
        const auto& serial = serials[static_cast<std::size_t>(n - 1)];
        devsim::DeviceModel fresh;
        fresh.presetSerial(serial);
        EXPECT_TRUE(rig.runSession(n));
        EXPECT_EQ(rig.serialNumber, "29FFFFFF"); // what the check read
        expectUpdated(*units[static_cast<std::size_t>(n - 1)], rig,
                      kronex::test::expectedUpdate(ReleaseEntries::sample(), fresh), true);
    }
    EXPECT_TRUE(filesIn(rig.recordFolder()).empty());
}

TEST(Workflow, ADamagedRecordIsNeverWrittenIntoTheUnit) {
    WorkflowRig rig;
    rig.unitRecords = rig.recordFolder();
    auto& unit = rig.unitOn(1);
    cutAt(rig, unit, 1, "WRITE t0 2000");
    const auto files = filesIn(rig.recordFolder());
    ASSERT_EQ(files.size(), 1u);
    std::string text = fileText(files[0]);
    const auto at = text.find("identity: 0A1BC2");
    ASSERT_NE(at, std::string::npos);
    text[at + 10] = '1'; // serial 291A1BC2
    std::ofstream(files[0], std::ios::binary | std::ios::trunc) << text;

    EXPECT_FALSE(rig.runSession(1));
    EXPECT_EQ(rig.session.stop.safeguard, Safeguard::IdentityLost);
    EXPECT_FALSE(erased(unit, "2000"));
    EXPECT_EQ(unit.program(0)[0x2000], 0xFF);
    EXPECT_EQ(fileText(files[0]), text); // left for whoever looks into it
}

// A record of the unit that no longer fits it (its top block has changed
// since, say on another PC) is not taken: the unit's own block as read is.
TEST(Workflow, AStaleRecordThatNoLongerFitsTheUnitIsNotTaken) {
    WorkflowRig rig;
    rig.unitRecords = rig.recordFolder();
    auto& first = rig.unitOn(1);
    cutAt(rig, first, 1, "WRITE t0 FF80");
    ASSERT_EQ(filesIn(rig.recordFolder()).size(), 1u);

    devsim::DeviceModel fresh;
    fresh.program(0)[0xFF80] = 0x00; // 0x5A in the record
    auto& unit = rig.unitOn(2);
    unit.program(0) = fresh.program(0);
    EXPECT_TRUE(rig.runSession(2));
    expectUpdated(unit, rig, kronex::test::expectedUpdate(ReleaseEntries::sample(), fresh));
    EXPECT_TRUE(filesIn(rig.recordFolder()).empty());
}

// kronex-update stops before the first erase of the session when the
// record cannot be kept; the window goes on without it.
TEST(Workflow, ARecordThatCannotBeWrittenStopsOnlyWhereItIsRequired) {
    for (const bool required : {true, false}) {
        SCOPED_TRACE(required);
        WorkflowRig rig;
        FullDisk disk;
        rig.unitRecords = rig.recordFolder();
        rig.recordFiles = &disk;
        rig.recordRequired = required;
        auto& unit = rig.unitOn(1);
        EXPECT_EQ(rig.runSession(1), !required);
        EXPECT_EQ(erased(unit, "FF80"), !required);
        if (required) {
            EXPECT_EQ(rig.session.stop.safeguard, Safeguard::RecordNotKept);
            EXPECT_EQ(commandsOf(unit), std::vector<std::string>{"READ t0 2000"});
            EXPECT_NE(reasonText(rig.session.stop).find("no space left on device"),
                      std::string::npos);
        } else {
            expectUpdated(unit, rig, expected());
            EXPECT_EQ(rig.session.recordError, "no space left on device");
        }
    }
}

// A completed update whose record stays says so: taken later, the record
// would be a stale one.
TEST(Workflow, ARecordThatCannotBeRemovedIsReportedByTheCompletedSession) {
    WorkflowRig rig;
    StuckDisk disk;
    rig.unitRecords = rig.recordFolder();
    rig.recordFiles = &disk;
    auto& unit = rig.unitOn(1);
    EXPECT_TRUE(rig.runSession(1));
    expectUpdated(unit, rig, expected());
    const auto files = filesIn(rig.recordFolder());
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const auto& f) { return f.extension() == kRecordExtension; }),
              1);
    EXPECT_NE(rig.session.recordError.find(".record: Read-only file system"), std::string::npos)
        << rig.session.recordError;
}

// The identity block reads otherwise at its own step than at the check
// (another unit, a half-written block): without a record vouching for the
// unit's bytes, nothing is erased.
TEST(Workflow, AnIdentityThatChangedDuringTheSessionIsNotWrittenBack) {
    WorkflowRig rig;
    auto& unit = rig.unitOn(1);
    rig.comm.port(1).peer = [&unit](std::uint8_t b) {
        auto out = unit.receive(b);
        if (!unit.transcript().empty() && unit.transcript().back() == "WRITE t0 2380")
            unit.program(0)[0x2001] = 0x0B; // serial 290A0BC2
        return out;
    };
    EXPECT_FALSE(rig.runSession(1));
    EXPECT_EQ(rig.session.stop.safeguard, Safeguard::IdentityChanged);
    EXPECT_EQ(commandsOf(unit).back(), "READ t0 2000");
    EXPECT_EQ(unit.program(0)[0x2001], 0x0B);
}

namespace {

constexpr std::uint16_t kTop = 0xFF80, kIdentity = 0x2000;

void setSerial(devsim::DeviceModel& unit, std::array<std::uint8_t, 3> serial) {
    std::copy(serial.begin(), serial.end(), unit.program(0).begin() + kIdentity);
}

std::string serialIn(const devsim::DeviceModel& unit) {
    UnitBlock id{};
    std::copy_n(unit.program(0).begin() + kIdentity, id.size(), id.begin());
    return serialOf(id);
}

} // namespace

// Two units of one kind, both updated before (equal top blocks with the
// mark), serials 290A1BC2 and 292A1BE2: every 1-bit of the first is set in
// the second. Whatever order they come in, cut or whole, each keeps its own
// serial, and a unit whose identity no longer names it takes a record only
// when exactly one fits and no live session holds it.
TEST(Workflow, ARecordGoesBackIntoItsOwnUnitAndNoOther) {
    enum class Second { Intact, Blank, BlankWhileAHeld, BlankOtherTop, IntactWithAHeld };
    struct Case {
        const char* name;
        Second second;
        bool secondCompletes;
        Safeguard secondStop;
        std::vector<std::string> secondSends; // empty: a whole update
    };
    const std::vector<std::string> checkOnly = {"READ t0 2000", "READ t0 FF80"};
    for (const Case& c : {
             Case{"intact neighbour", Second::Intact, true, Safeguard::None, {}},
             Case{"intact neighbour, A's record held",
                  Second::IntactWithAHeld,
                  true,
                  Safeguard::None,
                  {}},
             Case{"blank: A's and B's records both fit", Second::Blank, false,
                  Safeguard::SeveralRecords, checkOnly},
             Case{"blank while A's session holds its record", Second::BlankWhileAHeld, false,
                  Safeguard::RecordHeld, checkOnly},
             Case{"blank with a top block no record fits", Second::BlankOtherTop, false,
                  Safeguard::IdentityLost, checkOnly},
         }) {
        SCOPED_TRACE(c.name);
        WorkflowRig rig;
        rig.unitRecords = rig.recordFolder();
        auto& a = rig.unitOn(1);
        auto& b = rig.unitOn(2);
        a.program(0)[kTop + kTopBlockMark] = 0xFE; // updated before
        std::copy_n(a.program(0).begin() + kTop, 128, b.program(0).begin() + kTop);
        setSerial(b, {0x2A, 0x1B, 0xE2});
        const UnitRecords records(rig.recordFolder(), diskRecordFiles());
        UnitBlock aIdentity{};
        std::copy_n(a.program(0).begin() + kIdentity, 128, aIdentity.begin());
        cutAt(rig, a, 1, "WRITE t0 2000"); // A's record stays, A reads blank
        ASSERT_EQ(filesIn(rig.recordFolder()).size(), 1u);

        RecordLock heldByA;
        std::string why;
        if (c.second == Second::BlankWhileAHeld || c.second == Second::IntactWithAHeld) {
            ASSERT_EQ(heldByA.take(records.fileFor(aIdentity), why), RecordLock::State::Free);
        }
        if (c.second == Second::Blank) {
            // B's own record, as B's cut update left it elsewhere; its top equals A's.
            UnitRecord own;
            std::copy_n(b.program(0).begin() + kIdentity, 128, own.identity.begin());
            std::copy_n(b.program(0).begin() + kTop, 128, own.top.begin());
            own.serial = serialOf(own.identity);
            own.port = 2;
            own.written = own.since = "2026-12-09T10:00:00Z";
            std::string error;
            ASSERT_TRUE(UnitRecords(rig.recordFolder(), diskRecordFiles())
                            .keep(records.fileFor(own.identity), own, error));
        }
        if (c.second != Second::Intact && c.second != Second::IntactWithAHeld)
            b.presetErasedIdentity();
        if (c.second == Second::BlankOtherTop) {
            auto& first = b.program(0)[kTop];
            first &= static_cast<std::uint8_t>(first - 1); // lacks a 1-bit every record has
        }

        const auto before = b.program(0);
        const LoadedCatalog loaded = rig.catalog;
        EXPECT_EQ(rig.runSession(2), c.secondCompletes);
        rig.catalog = loaded;
        EXPECT_EQ(rig.session.stop.safeguard, c.secondStop);
        if (c.secondCompletes) {
            EXPECT_EQ(serialIn(b), "292A1BE2");
            EXPECT_EQ(rig.session.ownSerial, "292A1BE2");
        } else {
            EXPECT_EQ(commandsOf(b), c.secondSends);
            EXPECT_TRUE(b.program(0) == before);
        }
        // B's session left A's record alone: it still finishes A.
        heldByA.release();
        for (const auto& f : filesIn(rig.recordFolder()))
            if (f.filename().string().find("292A1BE2") != std::string::npos)
                std::filesystem::remove(f);
        EXPECT_TRUE(rig.runSession(1));
        EXPECT_EQ(serialIn(a), "290A1BC2");
    }
}

namespace {

// Records that another user of the PC owns.
struct OthersRecords : RecordFiles {
    RecordOwner owner(const std::filesystem::path&) override { return {false, "PC\\outro"}; }
};

} // namespace

// A record that another user owns goes into a unit only on the
// technician's word, never the window's; a record that cannot be kept
// stops the session before anything is erased.
TEST(Workflow, ARecordNotToBeTrustedOrKeptStopsBeforeAnyErase) {
    struct Case {
        const char* name;
        bool othersRecord, confirmed, folderInTheWay;
        Safeguard stop;
        std::vector<std::string> sends; // empty: a whole update
    };
    for (const Case& c : {
             Case{"another user's record, the window",
                  true,
                  false,
                  false,
                  Safeguard::RecordNotTrusted,
                  {"READ t0 2000", "READ t0 FF80"}},
             Case{"another user's record, confirmed", true, true, false, Safeguard::None, {}},
             Case{"a folder where the record goes",
                  false,
                  false,
                  true,
                  Safeguard::RecordNotKept,
                  {"READ t0 2000"}},
         }) {
        SCOPED_TRACE(c.name);
        WorkflowRig rig;
        OthersRecords others;
        rig.unitRecords = rig.recordFolder();
        auto& unit = rig.unitOn(1);
        if (c.othersRecord) {
            cutAt(rig, unit, 1, "WRITE t0 2000");
            rig.recordFiles = &others;
        }
        if (c.confirmed) // otherwise the window's own answer
            rig.confirmRecord = [&](const KeptRecord& k) {
                EXPECT_EQ(k.owner.name, "PC\\outro");
                return true;
            };
        if (c.folderInTheWay) {
            rig.recordRequired = true;
            std::filesystem::create_directories(rig.recordFolder() / "unit-290A1BC2-010722.record");
        }
        const auto before = unit.program(0);
        EXPECT_EQ(rig.runSession(1), c.stop == Safeguard::None);
        EXPECT_EQ(rig.session.stop.safeguard, c.stop);
        if (c.stop == Safeguard::None) {
            expectUpdated(unit, rig, expected(), true);
            continue;
        }
        EXPECT_EQ(commandsOf(unit), c.sends);
        EXPECT_TRUE(unit.program(0) == before);
    }
}

namespace {

// Another session finishes with the record just after this one has looked:
// the record is gone by the second listing.
struct FinishedMeanwhile : RecordFiles {
    int listings = 0;
    std::vector<std::filesystem::path> list(const std::filesystem::path& folder) override {
        if (++listings == 2)
            for (const auto& f : RecordFiles::list(folder))
                std::filesystem::remove(f);
        return RecordFiles::list(folder);
    }
};

} // namespace

// A record that goes between the lookup and the lock is not taken from
// what was read before: the session stops with nothing erased.
TEST(Workflow, ARecordGoneBeforeItsLockIsNotTaken) {
    WorkflowRig rig;
    rig.unitRecords = rig.recordFolder();
    auto& unit = rig.unitOn(1);
    cutAt(rig, unit, 1, "WRITE t0 2000");
    FinishedMeanwhile disk;
    rig.recordFiles = &disk;
    EXPECT_FALSE(rig.runSession(1));
    EXPECT_EQ(rig.session.stop.safeguard, Safeguard::RecordHeld);
    EXPECT_EQ(commandsOf(unit), (std::vector<std::string>{"READ t0 2000", "READ t0 FF80"}));
}
