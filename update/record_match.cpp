#include "record_match.h"

#include <algorithm>

namespace kronex {

namespace {

constexpr std::size_t kOwnIdentityBytes = 6;

// Every 1-bit of `kept` is still set in `read`, over the first `count` bytes.
bool keepsBits(const UnitBlock& read, const UnitBlock& kept, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if ((read[i] & kept[i]) != kept[i])
            return false;
    return true;
}

bool sameOwnBytes(const UnitBlock& a, const UnitBlock& b) {
    return std::equal(a.begin(), a.begin() + kOwnIdentityBytes, b.begin());
}

} // namespace

bool blankIdentity(const UnitBlock& identity) {
    return std::all_of(identity.begin(), identity.begin() + kOwnIdentityBytes,
                       [](std::uint8_t b) { return b == 0xFF; });
}

bool blankBlock(const UnitBlock& block) {
    return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
}

UnitBlock markedTop(const UnitBlock& own) {
    UnitBlock top = own;
    top[kTopBlockMark] = 0xFE;
    return top;
}

RecordLookup findRecord(const std::vector<KeptRecord>& records, const UnitBlock& identity,
                        const UnitBlock* top) {
    std::vector<const KeptRecord*> fits, exact;
    for (const auto& k : records) {
        // The top block may be cut on its way to the marked copy, whose bits
        // are a subset of the unmarked one.
        if (!keepsBits(identity, k.record.identity, kOwnIdentityBytes) ||
            (top && !keepsBits(*top, markedTop(k.record.top), top->size())))
            continue;
        fits.push_back(&k);
        if (sameOwnBytes(identity, k.record.identity))
            exact.push_back(&k);
    }
    const auto& chosen = exact.empty() ? fits : exact;
    if (chosen.empty())
        return {};
    // Copies of one record (a file copied under another name) are one.
    const auto same = [&](const KeptRecord* k) {
        return k->record.identity == chosen.front()->record.identity &&
               k->record.top == chosen.front()->record.top;
    };
    if (!std::all_of(chosen.begin(), chosen.end(), same))
        return {RecordFit::Several, std::nullopt};
    return {RecordFit::One, *chosen.front()};
}

} // namespace kronex
