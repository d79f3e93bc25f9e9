// Over real pseudo-terminals with kronex-devsim. The unit vanishing at each
// phase (its terminal hangs up, as a pulled adapter's port does): the
// program ends, or goes back to idle, as the rules say, with its port
// closed. The program killed mid-update (a crash, a power cut on the PC,
// the task manager): a second copy finds the same unit and completes the
// update, with the unit's memories, identity block and diagnostic file as
// after a clean update.
#include "real_faults.h"

#include <gtest/gtest.h>

namespace kronex::test {

void PrintTo(const VanishCase& c, std::ostream* os) {
    *os << c.phase;
}
void PrintTo(const KillPoint& p, std::ostream* os) {
    *os << p.where;
}

namespace {

class VanishedUnit : public ::testing::TestWithParam<VanishCase> {};

TEST_P(VanishedUnit, TheProgramEndsAsTheRulesSay) {
    EXPECT_EQ(runVanish(GetParam()).problem, "");
}

INSTANTIATE_TEST_SUITE_P(InEachPhase, VanishedUnit, ::testing::ValuesIn(vanishCases()),
                         [](const auto& info) { return "Phase" + std::to_string(info.index); });

class KilledProgram : public ::testing::TestWithParam<KillPoint> {};

TEST_P(KilledProgram, ASecondCopyCompletesTheUpdate) {
    const KilledRun r = runKilled(GetParam());
    EXPECT_TRUE(r.problems.empty()) << ::testing::PrintToString(r.problems);
}

INSTANTIATE_TEST_SUITE_P(AtEachPoint, KilledProgram, ::testing::ValuesIn(killPoints()),
                         [](const auto& info) { return "Point" + std::to_string(info.index); });

} // namespace
} // namespace kronex::test
