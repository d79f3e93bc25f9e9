// What kronex-update says of a completed update's diagnostic file: where it
// went, why not to its first place, and a failed run when it went nowhere.
#include "report.h"
#include "unit_run.h"
#include "workflow_rig.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace kronex;

namespace {

nlohmann::json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

} // namespace

TEST(DumpReport, SaysWhereTheFileWentAndFailsTheRunWhenItWentNowhere) {
    const std::string refused = "C:\\TEXTO2.TXT could not be written: Acesso negado. (error 5)";
    const struct {
        const char* what;
        DumpResult dump;
        const char* outcome;
    } cases[] = {
        {"its place", {"C:\\TEXTO2.TXT", ""}, "updated"},
        {"the user's folder",
         {"C:\\Users\\João\\AppData\\Local\\KRONEX\\TEXTO2.TXT", refused},
         "updated"},
        {"nowhere", {"", refused + "; the system names no folder of the user's own"}, "failed"},
    };
    test::WorkflowRig rig; // for a loaded release
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cli::UnitReport unit;
        unit.port = 3;
        unit.serial = "290A1BC2";
        cli::recordDump(unit, c.dump);
        const auto json = cli::updateJson({unit}, rig.catalog)["units"][0];
        EXPECT_EQ(json["outcome"], c.outcome);
        EXPECT_EQ(json["dump_file"], textOrNull(pathText(c.dump.path)));
        EXPECT_EQ(json["dump_error"], textOrNull(c.dump.error));
        std::ostringstream text;
        cli::printUpdate(text, {unit});
        if (c.dump.path.empty()) {
            const std::string reason = json["reason"];
            EXPECT_NE(reason.find(c.dump.error), std::string::npos) << reason;
            EXPECT_NE(text.str().find(reason), std::string::npos) << text.str();
        } else {
            EXPECT_TRUE(json["reason"].is_null());
            EXPECT_NE(text.str().find("diagnostic file: " + pathText(c.dump.path)),
                      std::string::npos)
                << text.str();
        }
        EXPECT_NO_THROW((void)json.dump()); // valid UTF-8, whatever the user's name
    }
}
