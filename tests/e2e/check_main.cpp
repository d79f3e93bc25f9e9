// Checks what kronex-devsim recorded of one update against what a whole
// update of the release this build embeds must leave in a fresh unit (the
// updater that ran must have been built with the same release).
//
//   kronex-e2e-check DUMP_DIR TRANSCRIPT DIAGNOSTIC_FILE
//
// DUMP_DIR holds the unit's target0.bin, target1.bin and data.bin (--dump),
// TRANSCRIPT its command log (--transcript) and DIAGNOSTIC_FILE the
// program's "C:\TEXTO2.TXT". Prints one line per item; exit code 0 when all
// of them are what they must be.
#include "dump_file.h"
#include "embedded_release.h"
#include "expected_update.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kronex;

namespace {

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Bytes>
bool sameBytes(const char* what, const std::filesystem::path& file, const Bytes& expected) {
    if (!std::filesystem::exists(file)) {
        std::printf("%s: missing (%s)\n", what, file.string().c_str());
        return false;
    }
    const std::string got = fileText(file);
    const std::string want(expected.begin(), expected.end());
    if (got == want) {
        std::printf("%s: identical (%zu bytes)\n", what, got.size());
        return true;
    }
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    std::printf("%s: differs from byte 0x%zX on (%zu bytes, %zu expected)\n", what, at, got.size(),
                want.size());
    return false;
}

bool sameCommands(const std::filesystem::path& transcript,
                  const std::vector<std::string>& expected) {
    std::vector<std::string> got;
    std::ifstream in(transcript);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("HANDSHAKE", 0) != 0)
            got.push_back(line);
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    if (at == got.size() && at == expected.size()) {
        std::printf("commands: as expected (%zu)\n", got.size());
        return true;
    }
    std::printf("commands: %zu of %zu as expected, then \"%s\" where \"%s\" was due\n", at,
                expected.size(), at < got.size() ? got[at].c_str() : "(nothing)",
                at < expected.size() ? expected[at].c_str() : "(nothing)");
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DUMP_DIR TRANSCRIPT DIAGNOSTIC_FILE\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dump = argv[1];
    const auto expected =
        test::expectedUpdate(test::ReleaseEntries::of(embeddedRelease()), devsim::DeviceModel());
    bool ok = sameCommands(argv[2], expected.commands);
    ok = sameBytes("target 0 program memory", dump / "target0.bin", expected.target0) && ok;
    ok = sameBytes("target 1 program memory", dump / "target1.bin", expected.target1) && ok;
    ok = sameBytes("data memory", dump / "data.bin", expected.data) && ok;
    ok = sameBytes("diagnostic file", argv[3], dumpText(expected.identity) + "\r\n") && ok;
    return ok ? 0 : 1;
}
