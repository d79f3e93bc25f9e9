#include "memory_dump.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace kronex::devsim {

namespace {

void writeFile(const std::filesystem::path& path, const std::uint8_t* bytes, std::size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

void writeDump(const std::string& dir, const DeviceModel& model) {
    const std::filesystem::path base(dir);
    std::filesystem::create_directories(base);
    writeFile(base / "target0.bin", model.program(0).data(), model.program(0).size());
    writeFile(base / "target1.bin", model.program(1).data(), model.program(1).size());
    const std::vector<std::uint8_t> data = model.dataImage();
    writeFile(base / "data.bin", data.data(), data.size());
}

} // namespace kronex::devsim
