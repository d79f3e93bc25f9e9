#include "record_match.h"

#include <algorithm>

namespace kronex {

namespace {

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

bool sameRecord(const KeptRecord& a, const KeptRecord& b) {
    return a.record.identity == b.record.identity && a.record.top == b.record.top;
}

} // namespace

bool blankIdentity(const UnitBlock& identity) {
    return std::all_of(identity.begin(), identity.begin() + kOwnIdentityBytes,
                       [](std::uint8_t b) { return b == 0xFF; });
}

bool blankBlock(const UnitBlock& block) {
    return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
}

bool identityMayBeCut(const UnitBlock& identity) {
    const bool restErased = std::all_of(identity.begin() + kOwnIdentityBytes, identity.end(),
                                        [](std::uint8_t b) { return b == 0xFF; });
    return blankIdentity(identity) || (identity[0] & 0xF0) == 0xF0 || restErased;
}

bool identityCut(const UnitBlock& identity, const UnitBlock& top) {
    return blankIdentity(identity) ||
           (identityMayBeCut(identity) && top[kTopBlockMark] == kTopBlockMarkValue);
}

UnitBlock markedTop(const UnitBlock& own) {
    UnitBlock top = own;
    top[kTopBlockMark] = kTopBlockMarkValue;
    return top;
}

bool recordFits(const UnitRecord& record, const UnitBlock& identity, const UnitBlock* top,
                bool cut) {
    const bool identityFits = cut ? keepsBits(identity, record.identity, kOwnIdentityBytes)
                                  : sameOwnBytes(identity, record.identity);
    // The top block may be cut on its way to the marked copy, whose bits are
    // a subset of the unmarked one.
    return identityFits && (!top || keepsBits(*top, markedTop(record.top), top->size()));
}

RecordLookup findRecord(const std::vector<KeptRecord>& records, const UnitBlock& identity,
                        const UnitBlock* top, const HeldTest& held) {
    const bool cut = top ? identityCut(identity, *top) : blankIdentity(identity);
    std::vector<const KeptRecord*> fits, exact;
    for (const auto& k : records) {
        if (!recordFits(k.record, identity, top, cut))
            continue;
        fits.push_back(&k);
        if (sameOwnBytes(identity, k.record.identity))
            exact.push_back(&k);
    }
    // A cut identity that still reads as one record's own bytes is that unit.
    const auto& chosen = exact.empty() ? fits : exact;
    if (chosen.empty())
        return {cut ? RecordChoice::NoneFits : RecordChoice::OwnBlocks, std::nullopt};
    const KeptRecord& first = *chosen.front();
    if (!std::all_of(chosen.begin(), chosen.end(),
                     [&](const KeptRecord* k) { return sameRecord(*k, first); }))
        return {RecordChoice::Several, std::nullopt};
    // Any copy held means that unit is being updated now.
    for (const KeptRecord* k : chosen)
        if (held && held(*k))
            return {RecordChoice::Held, *k};
    return {RecordChoice::Record, first};
}

} // namespace kronex
