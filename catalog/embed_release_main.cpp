// Build step: checks a release file against every layout rule and turns it
// into a read-only table compiled into the program. A broken release stops
// the build with the identifier and the rule it breaks. With --summary it
// makes the same checks and prints what the release holds instead, for the
// release notes.
#include "loaded_catalog.h"
#include "release_file.h"
#include "release_layout.h"
#include "release_summary.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string cppLiteral(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c); // octal stops after three digits
            out += buf;
        } else {
            out += ch;
        }
    }
    // The "sv" suffix takes the length from the literal: no strlen at compile
    // time, which some compilers cap for a table this size.
    return out + "\"sv";
}

// The file line that holds entry `id`, for messages an editor can jump to.
int lineOfEntry(const std::string& text, std::int64_t id) {
    const std::string prefix = std::to_string(id) + "\t";
    int line = 1;
    for (std::size_t pos = 0; pos < text.size(); ++line) {
        if (text.compare(pos, prefix.size(), prefix) == 0)
            return line;
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool summary = argc == 3 && std::string_view(argv[1]) == "--summary";
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " RELEASE.txt OUTPUT.cpp\n"
                  << "       " << argv[0] << " --summary RELEASE.txt\n";
        return 2;
    }
    const std::string inPath = argv[summary ? 2 : 1];
    std::ifstream in(inPath, std::ios::binary);
    if (!in) {
        std::cerr << inPath << ": error: cannot read the release file\n";
        return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();

    auto parsed = kronex::parseReleaseFile(text);
    if (const auto* err = std::get_if<kronex::ReleaseFileError>(&parsed)) {
        std::cerr << inPath << ":" << err->line << ": error: " << err->message << "\n";
        return 1;
    }
    const auto& table = std::get<kronex::ReleaseTable>(parsed);
    const auto analysed = kronex::analyseRelease(table);
    if (const auto* problem = std::get_if<kronex::LayoutProblem>(&analysed)) {
        const int line = lineOfEntry(text, problem->id);
        std::cerr << inPath << ":" << (line > 0 ? std::to_string(line) + ":" : std::string())
                  << " error: " << problem->describe() << "\n";
        return 1;
    }
    if (summary) {
        std::cout << kronex::releaseSummary(
            std::get<kronex::LoadedCatalog>(kronex::loadCatalog(table)));
        return 0;
    }

    std::ostringstream out;
    out << "// Generated from " << inPath << " by the release embedding step; do not edit.\n"
        << "#include \"embedded_release.h\"\n\n"
        << "namespace kronex {\nnamespace {\n"
        << "using namespace std::string_view_literals;\n"
        << "constexpr std::string_view kEntries[] = {\n";
    for (std::int64_t id = 0; id < table.end(); ++id)
        out << "    " << cppLiteral(table.entry(id)) << ",\n";
    out << "};\n} // namespace\n\n"
        << "const ReleaseTable& embeddedRelease() {\n"
        << "    static const ReleaseTable table(\n"
        << "        std::vector<std::string_view>(std::begin(kEntries), std::end(kEntries)));\n"
        << "    return table;\n}\n\n} // namespace kronex\n";

    std::ofstream file(argv[2], std::ios::binary);
    file << out.str();
    if (!file) {
        std::cerr << argv[2] << ": error: cannot write the generated table\n";
        return 1;
    }
    return 0;
}
