#include "release_shape.h"

#include <charconv>
#include <functional>
#include <map>

namespace kronex::gen {

namespace {

constexpr int kMaxSections = 58; // the identity block's section directory
constexpr int kFixedSections = 2 + 3;

bool parseNumber(std::string_view text, std::uint64_t& value, int base = 10) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && ec == std::errc{} && ptr == end;
}

// "4,0,12": whole numbers from 0 to `most`, separated by commas.
bool parseList(std::string_view text, std::vector<int>& out, int most) {
    out.clear();
    for (std::size_t start = 0;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::uint64_t v = 0;
        if (!parseNumber(text.substr(start, comma - start), v) || v > static_cast<unsigned>(most))
            return false;
        out.push_back(static_cast<int>(v));
        if (comma == text.size())
            return true;
        start = comma + 1;
    }
}

std::string checkCounts(const ReleaseShape& s) {
    if (s.mainSegments.size() != 6)
        return "--main takes six segment lengths";
    if (s.target1Segments.size() != 2)
        return "--target1 takes two segment lengths";
    if (s.makers < 1)
        return "--makers takes 1 or more";
    const int least = kFixedSections + s.makers - 1;
    const int sections = static_cast<int>(s.sections.size());
    if (sections < least || sections > kMaxSections)
        return "--sections: " + std::to_string(s.makers) + " makers need " + std::to_string(least) +
               " to " + std::to_string(kMaxSections) + " data sections, not " +
               std::to_string(sections);
    return {};
}

} // namespace

const char* const kShapeUsage =
    "usage: kronex-gen-release [OPTION VALUE]... [OUTPUT]   (standard output without OUTPUT)\n"
    "Without options it writes the sample release. Each option changes its shape:\n"
    "  --date TEXT          entry 1, the release date\n"
    "  --caption TEXT       entry 2, the release caption\n"
    "  --number N           entry 3, the release number\n"
    "  --modules N          module lines (the sample: 22)\n"
    "  --absent N           absent identifiers after them (19)\n"
    "  --main A,B,C,D,E,F   lines of the six main-image segments (1,13,0,22,2,32)\n"
    "  --erase XXXX,XXXX    the two erase addresses in hexadecimal (8000,7000)\n"
    "  --makers N           maker names (18)\n"
    "  --sections A,B,...   lines of each data section: 2, one per maker but the\n"
    "                       last, 3, then any more, 58 at most (the sample's 50)\n"
    "  --target1 A,B        lines of the two target-1 segments (3,165)\n"
    "  --seed N             seed of the image bytes\n";

std::variant<ShapeArguments, std::string>
parseShapeArguments(const std::vector<std::string>& args) {
    ShapeArguments a;
    ReleaseShape& s = a.shape;
    auto count = [](int& to, int most) {
        return [&to, most](const std::string& v) {
            std::uint64_t n = 0;
            if (!parseNumber(v, n) || n > static_cast<unsigned>(most))
                return false;
            to = static_cast<int>(n);
            return true;
        };
    };
    auto text = [](std::string& to) {
        return [&to](const std::string& v) {
            to = v;
            return true;
        };
    };
    const std::map<std::string, std::function<bool(const std::string&)>> options = {
        {"--date", text(s.date)},
        {"--caption", text(s.caption)},
        {"--number", count(s.number, 999999)},
        {"--modules", count(s.modules, 999)},
        {"--absent", count(s.absent, 999)},
        {"--main", [&](const std::string& v) { return parseList(v, s.mainSegments, 9999); }},
        {"--erase",
         [&](const std::string& v) {
             const std::size_t comma = v.find(',');
             std::uint64_t first = 0, second = 0;
             if (comma == std::string::npos || !parseNumber(v.substr(0, comma), first, 16) ||
                 !parseNumber(v.substr(comma + 1), second, 16) || first > 0xFFFF || second > 0xFFFF)
                 return false;
             s.erase = {static_cast<unsigned>(first), static_cast<unsigned>(second)};
             return true;
         }},
        {"--makers", count(s.makers, kMaxSections - kFixedSections + 1)},
        {"--sections", [&](const std::string& v) { return parseList(v, s.sections, 9999); }},
        {"--target1", [&](const std::string& v) { return parseList(v, s.target1Segments, 9999); }},
        {"--seed",
         [&](const std::string& v) {
             std::uint64_t n = 0;
             return parseNumber(v, n) && (s.seed = n) != 0; // a zero seed gives only zeros
         }},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            a.help = true;
            continue;
        }
        const auto option = options.find(name);
        if (option == options.end()) {
            if (name.rfind("--", 0) == 0 || !a.output.empty())
                return "unknown argument " + name;
            a.output = name;
            continue;
        }
        if (i + 1 == args.size())
            return name + " takes a value";
        if (!option->second(args[++i]))
            return "bad value for " + name + ": " + args[i];
    }
    if (std::string problem = checkCounts(s); !problem.empty())
        return problem;
    return a;
}

} // namespace kronex::gen
