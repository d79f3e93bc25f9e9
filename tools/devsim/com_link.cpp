#include "com_link.h"

#include "dos_devices.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kronex::devsim {

ComLink::ComLink(int n, const std::string& target) : path_(posix::comLinkPath(n)), target_(target) {
    std::filesystem::create_directories(posix::dosDevicesDir());
    // Build the new link beside the old one and rename it over, so an updater
    // scanning the ports never finds the name missing or half made.
    const std::string fresh = path_ + ".new." + std::to_string(getpid());
    unlink(fresh.c_str());
    if (symlink(target_.c_str(), fresh.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), "symlink " + fresh);
    if (rename(fresh.c_str(), path_.c_str()) != 0) {
        const int e = errno;
        unlink(fresh.c_str());
        throw std::system_error(e, std::generic_category(), "rename to " + path_);
    }
}

ComLink::~ComLink() {
    std::error_code ec;
    if (std::filesystem::read_symlink(path_, ec) == target_ && !ec)
        unlink(path_.c_str());
}

} // namespace kronex::devsim
