// The build step that embeds the release: a broken release fails it with a
// message naming the entry and the rule, and a sound one passes.
#include "release_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using kronex::test::hexLine;
using kronex::test::ReleaseEntries;

namespace {

struct StepResult {
    int exitCode;
    std::string messages;
};

// With `summary`, the step prints what the release holds instead of
// writing the table; its messages come first, then its standard output.
// KRONEX_BROKEN_RELEASES_DIR, when set, keeps the releases given to the step
// and, for the refused ones, its messages (NAME.message): the reliability
// report's table of broken releases is made from them.
std::filesystem::path stepDir() {
    const char* keep = std::getenv("KRONEX_BROKEN_RELEASES_DIR");
    return keep && *keep ? std::filesystem::path(keep)
                         : std::filesystem::temp_directory_path() / "kronex-embed-test";
}

StepResult runEmbedStep(const std::string& releaseText, const std::string& name,
                        bool summary = false) {
    const auto dir = stepDir();
    std::filesystem::create_directories(dir);
    const auto in = dir / (name + ".txt");
    const auto out = dir / (name + ".cpp");
    std::ofstream(in, std::ios::binary) << releaseText;
    const std::string args =
        summary ? "--summary " + in.string() : in.string() + " " + out.string();
    const std::string command = std::string(KRONEX_EMBED_TOOL) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string messages;
    char buf[512];
    while (pipe && std::fgets(buf, sizeof buf, pipe))
        messages += buf;
    const int status = pipe ? pclose(pipe) : -1;
    return {status, messages};
}

void expectRefused(const std::string& text, const std::string& name, const std::string& words) {
    const auto r = runEmbedStep(text, name);
    EXPECT_NE(r.exitCode, 0) << name;
    EXPECT_NE(r.messages.find(words), std::string::npos) << name << ": " << r.messages;
    if (std::getenv("KRONEX_BROKEN_RELEASES_DIR"))
        std::ofstream(stepDir() / (name + ".message"), std::ios::binary) << r.messages;
}

} // namespace

TEST(EmbedStep, AcceptsTheSampleRelease) {
    const auto r = runEmbedStep(ReleaseEntries::sample().fileText(), "sample");
    EXPECT_EQ(r.exitCode, 0) << r.messages;
    EXPECT_EQ(r.messages, "");
}

TEST(EmbedStep, RefusesBrokenReleasesNamingEntryAndRule) {
    const auto sample = ReleaseEntries::sample();
    auto edit = [&](auto change) {
        auto r = sample;
        change(r);
        return r.fileText();
    };
    expectRefused(edit([](auto& r) { r.byId.erase(1003); }), "missing-FIM",
                  "entry 1003: the release must end with \"FIM\"");
    expectRefused(edit([](auto& r) { r.byId[60].pop_back(); }), "line-of-511",
                  "error: entry 60: main-image segment 2: a hexadecimal line must be exactly "
                  "512 upper-case hexadecimal characters (the line has 511 characters)");
    expectRefused(edit([](auto& r) { r.byId[700] = std::string(512, 'c'); }), "lower-case-hex",
                  "entry 700: data section");
    expectRefused(edit([](auto& r) { r.byId[3] = "vinte e cinco"; }), "entry-3-not-a-number",
                  "entry 3: the release number must be a decimal number");
    expectRefused(edit([](auto& r) {
                      for (int i = 0; i < 9; ++i) {
                          r.insertAt(829, "*");
                          r.insertAt(829, hexLine('5'));
                      }
                  }),
                  "59-sections", "data section 59 exceeds the limit of 58");
    expectRefused(edit([](auto& r) { r.byId[2] = "Firmware → 1.25"; }), "not-windows-1252",
                  "U+2192");
    expectRefused(edit([](auto& r) { r.byId[2] = "Firmware versão 1.25 de outubro"; }),
                  "caption-of-31",
                  "entry 2: an entry that is not a hexadecimal line must be at "
                  "most 30 characters long (it has 31)");
    expectRefused(edit([](auto& r) { r.byId[152] = "BMP"; }), "maker-list-not-closed",
                  "entry 152: the marker \"BMP\" stands in the maker list, which must be "
                  "closed by \"*\"");
    expectRefused(edit([](auto& r) { r.byId[129] = "*"; }), "no-main-image-end",
                  "entry 129: the six main-image segments must be followed by \"**\"");
}

TEST(EmbedStep, MessagesPointAtTheFileLine) {
    auto r = ReleaseEntries::sample();
    r.byId[60].pop_back();
    // Entries 1-25 and 45-60 stand on lines 1-41: 26 to 44 are absent.
    const auto result = runEmbedStep(r.fileText(), "file-line");
    EXPECT_NE(result.messages.find("file-line.txt:41: error: entry 60:"), std::string::npos)
        << result.messages;
}

TEST(EmbedStep, SummaryListsWhatTheReleaseHolds) {
    const auto sample = ReleaseEntries::sample();
    // The sample's 22 filled module lines and its 18 makers,
    // in file order; the empty places are left out.
    const std::string head = "release: 25\ncaption: Firmware versão 1.25\ndate: 10/10/2012\n"
                             "modules: 22\n  Altavex - Injeção eletrônica\n";
    const auto r = runEmbedStep(sample.fileText(), "summary", true);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.messages.rfind(head, 0), 0u) << r.messages;
    EXPECT_NE(r.messages.find("  Leitura de códigos OBD\nmakers: 18\n  ALTAVEX\n"),
              std::string::npos)
        << r.messages;
    EXPECT_TRUE(r.messages.ends_with("  DIAGNOSE GERAL\n")) << r.messages;
    EXPECT_EQ(r.messages.find("  \n"), std::string::npos) << "an empty module line listed";

    auto broken = sample;
    broken.byId[3] = "vinte e cinco";
    const auto refused = runEmbedStep(broken.fileText(), "summary-broken", true);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.messages.find("summary-broken.txt:3: error: entry 3: the release number"),
              std::string::npos)
        << refused.messages;
}
