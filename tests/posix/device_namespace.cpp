#include "device_namespace.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kronex::test {

namespace fs = std::filesystem;

DeviceNamespace::DeviceNamespace() {
    if (const char* old = std::getenv("XDG_STATE_HOME"))
        savedStateHome_ = old;
    std::string pattern = (fs::temp_directory_path() / "kronex-posix-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(fs::path(root_) / "kronex" / "dosdevices");
    setenv("XDG_STATE_HOME", root_.c_str(), 1);
}

DeviceNamespace::~DeviceNamespace() {
    if (savedStateHome_)
        setenv("XDG_STATE_HOME", savedStateHome_->c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void DeviceNamespace::link(int n, const std::string& target) {
    const fs::path at = fs::path(root_) / "kronex" / "dosdevices" / ("com" + std::to_string(n));
    fs::remove(at);
    fs::create_symlink(target, at);
}

} // namespace kronex::test
