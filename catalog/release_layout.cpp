#include "release_layout.h"

#include <algorithm>
#include <optional>

namespace kronex {

// A release holds some 440 000 such characters and the program checks them
// all at start-up: without an early exit or a branch per character the
// compiler turns the loop into vector instructions, several times faster.
bool isHexLine(std::string_view text) {
    if (text.size() != kHexLineLength)
        return false;
    unsigned char bad = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const auto digit = static_cast<unsigned char>(c - '0'); // 0-9 for '0' to '9'
        const auto upper = static_cast<unsigned char>(c - 'A'); // 0-5 for 'A' to 'F'
        bad |= static_cast<unsigned char>((digit > 9) & (upper > 5));
    }
    return bad == 0;
}

bool isAddressText(std::string_view text) {
    if (text.size() != 4)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool isDecimalText(std::string_view text) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

namespace {

bool isMarker(std::string_view text) {
    return text == kMarkerClose || text == kMarkerMainImageEnd || text == kMarkerDataEnd ||
           text == kMarkerReleaseEnd;
}

std::string quoted(std::string_view text) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // a literal plus a temporary string.
    std::string out = "\"";
    out += text;
    out += '"';
    return out;
}

// Why `text` is not a hexadecimal line, in words a release author can act on.
std::string hexLineFault(std::string_view text) {
    if (text.empty())
        return "the entry is absent";
    if (isMarker(text))
        return "the marker " + quoted(text) + " stands where a line was expected";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return "character " + std::to_string(i + 1) + " is not an upper-case hexadecimal digit";
    }
    return "the line has " + std::to_string(text.size()) + " characters";
}

class Walker {
  public:
    // One mark per identifier, sized once rather than grown line by line.
    explicit Walker(const ReleaseTable& table)
        : t_(table),
          hexPosition_(static_cast<std::size_t>(std::max<std::int64_t>(table.end(), 0))) {}

    std::variant<ReleaseLayout, LayoutProblem> run() {
        if (!walk())
            return *problem_;
        return layout_;
    }

  private:
    const ReleaseTable& t_;
    ReleaseLayout layout_;
    std::optional<LayoutProblem> problem_;
    std::vector<bool> hexPosition_;

    bool fail(std::int64_t id, std::string rule) {
        problem_ = LayoutProblem{id, std::move(rule)};
        return false;
    }

    // First identifier at or after `from` whose entry is `marker`, if any.
    std::optional<std::int64_t> find(std::int64_t from, std::string_view marker) const {
        for (std::int64_t id = from; id < t_.end(); ++id)
            if (t_.entry(id) == marker)
                return id;
        return std::nullopt;
    }

    bool expect(std::int64_t id, std::string_view marker, const std::string& what) {
        if (t_.entry(id) == marker)
            return true;
        return fail(id, what + " must be followed by " + quoted(marker) + " here, found " +
                            (t_.entry(id).empty() ? std::string("nothing")
                                                  : quoted(t_.entry(id).substr(0, 40))));
    }

    bool hexLine(std::int64_t id, const std::string& where) {
        const std::string_view text = t_.entry(id);
        if (!isHexLine(text))
            return fail(id, where +
                                ": a hexadecimal line must be exactly 512 upper-case "
                                "hexadecimal characters (" +
                                hexLineFault(text) + ")");
        if (hexPosition_.size() <= static_cast<std::size_t>(id))
            hexPosition_.resize(static_cast<std::size_t>(id) + 1);
        hexPosition_[static_cast<std::size_t>(id)] = true;
        return true;
    }

    // A run of hexadecimal lines from `*cursor` closed by "*"; moves past the "*".
    std::optional<Run> lines(std::int64_t& cursor, const std::string& where) {
        Run run{cursor, cursor};
        while (t_.entry(cursor) != kMarkerClose) {
            if (!hexLine(cursor, where))
                return std::nullopt;
            ++cursor;
        }
        run.close = cursor++;
        return run;
    }

    bool walk() {
        if (!isDecimalText(t_.entry(3)))
            return fail(3, "the release number must be a decimal number");

        const auto s = find(kFirstModuleLine, kMarkerClose);
        if (!s)
            return fail(kFirstModuleLine, "the module list must be closed by \"*\"");
        layout_.moduleListClose = *s;
        if (!expect(*s + 7, kMarkerClose, "the six segment address texts"))
            return false;

        std::int64_t cursor = *s + 8;
        for (int k = 1; k <= kMainImageSegments; ++k) {
            const auto run = lines(cursor, "main-image segment " + std::to_string(k));
            if (!run)
                return false;
            layout_.mainSegments.push_back(*run);
        }
        if (t_.entry(cursor) != kMarkerMainImageEnd)
            return fail(cursor, "the six main-image segments must be followed by \"**\"");
        layout_.mainImageEnd = cursor;

        if (!isAddressText(t_.entry(cursor + 3)))
            return fail(cursor + 3, "erase address 1 must be four upper-case hexadecimal digits");
        if (!isAddressText(t_.entry(cursor + 4)))
            return fail(cursor + 4, "erase address 2 must be four upper-case hexadecimal digits");

        layout_.firstMaker = cursor + 5;
        const auto makersClose = find(layout_.firstMaker, kMarkerClose);
        if (!makersClose)
            return fail(layout_.firstMaker, "the maker list must be closed by \"*\"");
        for (std::int64_t id = layout_.firstMaker; id < *makersClose; ++id)
            if (isMarker(t_.entry(id)))
                return fail(id, "the marker " + quoted(t_.entry(id)) +
                                    " stands in the maker list, which must be closed by \"*\"");
        layout_.makerCount = static_cast<int>(*makersClose - layout_.firstMaker);
        if (layout_.makerCount < 1)
            return fail(*makersClose, "the maker list must name at least one maker");
        layout_.dataStart = *makersClose + 1;

        if (!dataPart(*makersClose + 1))
            return false;
        cursor = layout_.dataEnd + 1;
        if (!expect(cursor, kMarkerClose, "\"BMP\""))
            return false;
        ++cursor;
        for (int k = 1; k <= 2; ++k) {
            const auto run = lines(cursor, "target-1 segment " + std::to_string(k));
            if (!run)
                return false;
            layout_.target1Segments.push_back(*run);
        }
        if (!hexLine(cursor, "the target-1 top-block line"))
            return false;
        layout_.target1TopLine = cursor++;
        if (!expect(cursor, kMarkerClose, "the target-1 top-block line"))
            return false;
        ++cursor;
        if (t_.entry(cursor) != kMarkerReleaseEnd)
            return fail(cursor, "the release must end with \"FIM\" here");
        layout_.releaseEnd = cursor;
        return plainEntries();
    }

    bool dataPart(std::int64_t cursor) {
        const int minimum = layout_.minimumDataSections();
        for (int section = 1;; ++section) {
            if (t_.entry(cursor) == kMarkerDataEnd) {
                if (section - 1 < minimum)
                    return fail(cursor, "\"BMP\" follows " + std::to_string(section - 1) +
                                            " data sections; this release needs at least " +
                                            std::to_string(minimum) +
                                            " (2, one per maker but the last, then 3)");
                layout_.dataEnd = cursor;
                return true;
            }
            if (section > kMaxDataSections)
                return fail(cursor, "data section " + std::to_string(section) +
                                        " exceeds the limit of " +
                                        std::to_string(kMaxDataSections) + " data sections");
            const auto run = lines(cursor, "data section " + std::to_string(section));
            if (!run)
                return false;
            layout_.dataSections.push_back(*run);
        }
    }

    // Every entry up to "FIM" that is not an image line must be short: the
    // progress range counts the long entries as image lines.
    bool plainEntries() {
        hexPosition_.resize(static_cast<std::size_t>(layout_.releaseEnd) + 1);
        for (std::int64_t id = 0; id < layout_.releaseEnd; ++id) {
            if (hexPosition_[static_cast<std::size_t>(id)]) {
                ++layout_.hexLineCount;
            } else if (characterCount(t_.entry(id)) > kMaxPlainLength) {
                return fail(id, "an entry that is not a hexadecimal line must be at most 30 "
                                "characters long (it has " +
                                    std::to_string(characterCount(t_.entry(id))) + ")");
            }
        }
        return true;
    }
};

} // namespace

std::variant<ReleaseLayout, LayoutProblem> analyseRelease(const ReleaseTable& table) {
    return Walker(table).run();
}

} // namespace kronex
