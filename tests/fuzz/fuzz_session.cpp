// A whole update against a unit whose answers the input damages: replies
// lost, cut, emptied, preceded by noise or given another status. Whatever
// happens, the unit's serial number and top block survive in the unit or in
// the record kept on the PC, nothing hangs, the port is closed, and success
// is reported only for a completed update, which leaves no record.
#include "unit_records.h"
#include "workflow_rig.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

using namespace kronex;

namespace {

class DamagingPeer {
  public:
    DamagingPeer(devsim::DeviceModel& unit, const std::uint8_t* data, std::size_t size)
        : unit_(unit), data_(data), size_(size) {}

    std::vector<std::uint8_t> operator()(std::uint8_t b) {
        auto out = unit_.receive(b);
        if (out.empty() || at_ >= size_)
            return out;
        const std::uint8_t op = data_[at_++];
        const std::uint8_t arg = at_ < size_ ? data_[at_] : 0;
        switch (op % 16) {
        case 0:
            out.clear();
            break; // lost
        case 1:
            out.resize(out.size() - std::min<std::size_t>(out.size(), 1 + arg % 4));
            break;
        case 2:
            out = {0x00};
            break; // zero length
        case 3:
            out.insert(out.begin(), {0x43, 0xAA, 0x02});
            break; // noise
        case 4:
            if (out.size() > 1 && out[0] != 0x78)
                out[1] = arg;
            break; // another status
        default:
            break;
        }
        if (op % 16 <= 4)
            ++at_;
        return out;
    }

  private:
    devsim::DeviceModel& unit_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace

namespace {

using Block = std::array<std::uint8_t, 128>;

Block blockAt(const devsim::DeviceModel& unit, std::uint16_t address) {
    Block b;
    std::copy_n(unit.program(0).begin() + address, b.size(), b.begin());
    return b;
}

bool sameOwnBytes(const Block& identity, const Block& own) {
    return std::equal(own.begin(), own.begin() + 6, identity.begin());
}

// Top blocks alike but for the mark the session sets.
bool sameTop(Block top, Block own) {
    top[63] = own[63] = 0;
    return top == own;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    test::WorkflowRig rig;
    rig.unitRecords = rig.recordFolder();
    auto& unit = rig.unitOn(1);
    const Block identityBefore = blockAt(unit, devsim::kIdentityAddress);
    const Block topBefore = blockAt(unit, devsim::kTopBlockAddress);
    DamagingPeer peer(unit, data, size);
    rig.comm.port(1).peer = [&peer](std::uint8_t b) { return peer(b); };
    rig.click();

    const auto& w = rig.window;
    const bool success = std::find(w.shown.begin(), w.shown.end(), MSG_CONCLUIDO) != w.shown.end();
    // The unit's own bytes are in the unit, or in the one record the PC
    // keeps of it for the next run.
    const auto kept = UnitRecords(rig.unitRecords, diskRecordFiles()).whole();
    const bool keptOwn = kept.size() == 1 &&
                         sameOwnBytes(kept[0].record.identity, identityBefore) &&
                         sameTop(kept[0].record.top, topBefore);
    if (!sameOwnBytes(blockAt(unit, devsim::kIdentityAddress), identityBefore) && !keptOwn)
        std::abort(); // the unit's serial number and unit bytes were lost
    if (!sameTop(blockAt(unit, devsim::kTopBlockAddress), topBefore) && !keptOwn)
        std::abort(); // the unit's own top block was lost
    if (success && !kept.empty())
        std::abort(); // a completed update leaves no record
    if (rig.comm.openHandles() != 0)
        std::abort();
    if (success != std::filesystem::exists(rig.dumpFile))
        std::abort();
    if (success && (w.position != w.maximum || w.shown.back() != MSG_CONCLUIDO))
        std::abort();
    if (!w.terminationRequested && !(w.shown.back() == MSG_PORTA && w.startEnabled))
        std::abort(); // neither ended nor back to idle
    return 0;
}
