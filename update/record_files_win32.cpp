#include "record_files_win32.h"

#include "dump_file.h" // fileErrorText, pathText

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <atomic>
#include <vector>
#include <windows.h>

namespace kronex {

namespace fs = std::filesystem;

namespace {

// The documented values of the two classes: MinGW's <minwinbase.h> leaves
// them out (it compares _WIN32_WINNT with an NTDDI version).
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

std::string failed(const std::string& what, DWORD error) {
    return what + ": " + fileErrorText({static_cast<int>(error), std::system_category()});
}

// Closes a handle when it goes out of scope.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void close() {
        if (valid())
            ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

// What a system answers when it does not know an information class, or a
// file system that cannot rename or delete with POSIX semantics (FAT, some
// network shares): the older call does the job there.
bool refusedClass(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Asks the file system to put the folder's entries on disk. NTFS takes it
// from a handle with write access (which Users have on the record folder);
// a refusal only means the rename is as durable as the file system makes it
// by itself, so it is not an error.
void flushFolder(const fs::path& folder) {
    Handle dir(::CreateFileW(folder.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (dir.valid())
        ::FlushFileBuffers(dir.get());
}

bool renameOver(HANDLE file, const fs::path& target, DWORD& error) {
    const std::wstring& name = target.native();
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    info->FileName[name.size()] = L'\0';
    if (::SetFileInformationByHandle(file, kFileRenameInfoEx, info,
                                     static_cast<DWORD>(buffer.size())))
        return true;
    error = ::GetLastError();
    return false;
}

} // namespace

bool replaceFileDurably(const fs::path& path, const std::string& text, std::string& why) {
    static std::atomic<unsigned> counter{0};
    const fs::path temp = path.native() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                          std::to_wstring(counter++) + L".tmp";
    Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        why = failed("creating " + pathText(temp), error);
        return false;
    }
    DWORD written = 0;
    DWORD error = 0;
    if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        error = ::GetLastError();
    else if (written != text.size())
        error = ERROR_DISK_FULL; // a short write without an error
    else if (!::FlushFileBuffers(file.get()))
        error = ::GetLastError();
    if (error != 0) {
        why = failed("writing " + pathText(temp), error);
        file.close();
        ::DeleteFileW(temp.c_str());
        return false;
    }
    if (renameOver(file.get(), path, error)) {
        // The rename is metadata of this file too: flushed through the same handle.
        ::FlushFileBuffers(file.get());
        file.close();
    } else {
        file.close();
        // Here MOVEFILE_WRITE_THROUGH waits only for a move across volumes:
        // the rename is as durable as the file system makes it.
        if (refusedClass(error) &&
            !::MoveFileExW(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error = ::GetLastError();
        else if (refusedClass(error))
            error = 0;
        if (error != 0) {
            why = failed("renaming " + pathText(temp) + " to " + pathText(path), error);
            ::DeleteFileW(temp.c_str());
            return false;
        }
    }
    flushFolder(path.parent_path());
    return true;
}

bool removeFileDurably(const fs::path& path, std::string& why) {
    Handle file(::CreateFileW(path.c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        why = failed("removing " + pathText(path), error);
        return false;
    }
    // POSIX semantics take the name away at once, even while a reader still
    // holds the file; elsewhere the name goes when the last handle closes.
    FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE |
                                   FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (!::SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &posix, sizeof posix)) {
        const DWORD error = ::GetLastError();
        FILE_DISPOSITION_INFO plain{TRUE};
        if (!refusedClass(error) ||
            !::SetFileInformationByHandle(file.get(), FileDispositionInfo, &plain, sizeof plain)) {
            const DWORD last = refusedClass(error) ? ::GetLastError() : error;
            why = failed("removing " + pathText(path), last);
            return false;
        }
    }
    file.close();
    flushFolder(path.parent_path());
    return true;
}

std::optional<std::string> readRecordFile(const fs::path& path, std::size_t cap, std::string& why) {
    // A link is opened as itself, a folder opens (to be refused by name), and
    // a named pipe is connected to, never waited for.
    Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        why = failed("opening " + pathText(path), error);
        return std::nullopt;
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        why = pathText(path) + " is not a file";
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) {
        const DWORD error = ::GetLastError();
        why = failed("reading " + pathText(path), error);
        return std::nullopt;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = pathText(path) + " is a link, not a file";
        return std::nullopt;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        why = pathText(path) + " is a folder, not a file";
        return std::nullopt;
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > cap) {
        why = pathText(path) + " holds " + std::to_string(size) + " bytes, more than the " +
              std::to_string(cap) + " a record may";
        return std::nullopt;
    }
    // Nobody else may write it while it is open (share mode read), so the
    // size holds; one byte more shows a file that grew all the same.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), text.data() + done, static_cast<DWORD>(text.size() - done),
                        &got, nullptr)) {
            const DWORD error = ::GetLastError();
            why = failed("reading " + pathText(path), error);
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += got;
    }
    if (done > size) {
        why = pathText(path) + " grew while it was read";
        return std::nullopt;
    }
    text.resize(done);
    return text;
}

} // namespace kronex
