#include "fake_dump_files.h"

#include <algorithm>

namespace kronex::test {

std::error_code FakeDumpFiles::createNew(const std::filesystem::path& file, std::string_view text) {
    attempted.push_back(file);
    const auto folder = file.parent_path().lexically_normal();
    if (std::any_of(refusing.begin(), refusing.end(),
                    [&](const auto& f) { return f.lexically_normal() == folder; }))
        return std::make_error_code(std::errc::permission_denied);
    return systemDumpFiles().createNew(file, text);
}

} // namespace kronex::test
