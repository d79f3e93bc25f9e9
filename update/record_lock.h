// A live session's hold on its unit's record: an operating-system lock on a
// file beside the record ("unit-....record.lock"), so that no other session,
// in this process or another, takes, changes or deletes a record in use. The
// lock goes with the process, however it ends.
#pragma once

#include <filesystem>
#include <string>

namespace kronex {

class RecordLock {
  public:
    enum class State { Free, Held, Failed };

    RecordLock() = default;
    ~RecordLock() { release(); }
    RecordLock(RecordLock&& other) noexcept;
    RecordLock& operator=(RecordLock&& other) noexcept;
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

    // Takes the lock of `record` without waiting. Held: another live session
    // has it; Failed: the folder takes no lock file (why says so).
    State take(const std::filesystem::path& record, std::string& why);
    bool owns() const { return open_; }
    // Lets go and removes the lock file.
    void release();

  private:
    std::filesystem::path file_;
    bool open_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Whether a live session holds the record in `file` (a lock that cannot be
// taken for another reason counts as held: nothing is taken on a doubt).
bool recordHeld(const std::filesystem::path& file);

} // namespace kronex
