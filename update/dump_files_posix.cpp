// The diagnostic file's calls on Linux: plain files, fsync before the rename.
#include "dos_devices.h"
#include "dump_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kronex {

namespace {

std::error_code lastErrno() {
    return {errno, std::system_category()};
}

class PosixDumpFiles final : public DumpFiles {
  public:
    std::error_code createNew(const std::filesystem::path& file, std::string_view text) override {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return lastErrno();
        std::error_code ec;
        std::size_t done = 0;
        while (!ec && done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno != EINTR)
                ec = lastErrno();
            else if (n > 0)
                done += static_cast<std::size_t>(n);
        }
        if (!ec && ::fsync(fd) != 0)
            ec = lastErrno();
        if (::close(fd) != 0 && !ec)
            ec = lastErrno();
        if (ec)
            ::unlink(file.c_str());
        return ec;
    }

    std::error_code replace(const std::filesystem::path& from,
                            const std::filesystem::path& to) override {
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        return ec;
    }

    std::filesystem::path userFolder() override { return posix::kronexStateDir(); }
};

} // namespace

DumpFiles& systemDumpFiles() {
    static PosixDumpFiles files;
    return files;
}

std::string fileErrorText(const std::error_code& error) {
    return error.message();
}

} // namespace kronex
