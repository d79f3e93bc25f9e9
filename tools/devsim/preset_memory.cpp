#include "preset_memory.h"

#include "device_model.h"

namespace kronex::devsim {

Block128 presetIdentityBlock() {
    Block128 b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t i = 0; i < kronex::kSerialBytes; ++i) {
        b[i] = DeviceModel::kSerial[i];
        b[kronex::kUnitBytesFirst + i] = kUnitBytes[i];
    }
    return b;
}

Block128 presetTopBlock(int target, const std::array<std::uint8_t, 3>& serial) {
    Block128 b{};
    const unsigned salt = target == 1 ? 0xC3 : 0x5A;
    // 0 for the default unit, whose block stays as it always was.
    const auto& usual = DeviceModel::kSerial;
    const unsigned mix = target == 1 ? 0
                                     : (serial[0] ^ usual[0]) * 7u + (serial[1] ^ usual[1]) * 3u +
                                           (serial[2] ^ usual[2]);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(((i * 13) ^ salt) ^ (mix * (i + 1)));
    // The updater marks this byte itself; start from the erased value.
    b[kTopBlockMark] = 0xFF;
    return b;
}

} // namespace kronex::devsim
