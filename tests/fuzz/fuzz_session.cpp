// A whole update against a unit whose answers the input damages: replies
// lost, cut, emptied, preceded by noise or given another status. Whatever
// happens, the unit's serial number survives, nothing hangs, the port is
// closed, and success is reported only for a completed update.
#include "workflow_rig.h"

#include <algorithm>
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    test::WorkflowRig rig;
    auto& unit = rig.unitOn(1);
    const auto serialBefore = std::vector<std::uint8_t>(unit.program(0).begin() + 0x2000,
                                                        unit.program(0).begin() + 0x2006);
    DamagingPeer peer(unit, data, size);
    rig.comm.port(1).peer = [&peer](std::uint8_t b) { return peer(b); };
    rig.click();

    const auto& w = rig.window;
    const bool success = std::find(w.shown.begin(), w.shown.end(), MSG_CONCLUIDO) != w.shown.end();
    const auto serialAfter = std::vector<std::uint8_t>(unit.program(0).begin() + 0x2000,
                                                       unit.program(0).begin() + 0x2006);
    if (serialAfter != serialBefore)
        std::abort(); // the unit's own identity bytes were overwritten
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
