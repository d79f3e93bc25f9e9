// The shape of a release the generator writes. The defaults give the sample
// release; other values give another valid release for trying a build.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kronex::gen {

struct ReleaseShape {
    std::string date = "10/10/2012";
    std::string caption = "Firmware versão 1.25";
    int number = 25;
    int modules = 22; // module lines
    int absent = 19;  // absent identifiers after them: empty lines in the list
    std::vector<int> mainSegments = {1, 13, 0, 22, 2, 32};
    std::array<unsigned, 2> erase = {0x8000, 0x7000};
    int makers = 18;
    // Lines of each data section: 2, one per maker but the last, 3, then any more.
    std::vector<int> sections = {
        4,  2,                                                                  //
        15, 12, 18, 9,  14, 11, 16, 13, 10, 17, 12, 15, 8,  14, 11, 13, 16,     //
        6,  5,  0,                                                              //
        12, 9,  14, 7,  11, 10, 13, 8,  12, 15, 9,  11, 10, 6,  14, 12, 9,  13, //
        11, 10, 8,  12, 14, 9,  11, 10, 7,  98,
    };
    std::vector<int> target1Segments = {3, 165};
    std::uint64_t seed = 0x4B524F4E45580125ULL; // of the image bytes
};

struct ShapeArguments {
    ReleaseShape shape;
    std::string output; // empty: standard output
    bool help = false;
};

// The options in `args` (without the program name), or what is wrong with
// them; a shape that would break a layout rule is refused.
std::variant<ShapeArguments, std::string> parseShapeArguments(const std::vector<std::string>& args);

extern const char* const kShapeUsage;

} // namespace kronex::gen
