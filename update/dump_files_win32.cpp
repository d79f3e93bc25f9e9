// The diagnostic file's calls on Windows: kernel32's files, flushed before
// the rename, and the user's local application data folder.
#include "dump_file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which it needs: SHGetKnownFolderPath, FOLDERID_LocalAppData.
#include <shlobj.h>

namespace kronex {

namespace {

std::error_code lastError() {
    return {static_cast<int>(::GetLastError()), std::system_category()};
}

class Win32DumpFiles final : public DumpFiles {
  public:
    std::error_code createNew(const std::filesystem::path& file, std::string_view text) override {
        const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return lastError();
        std::error_code ec;
        DWORD written = 0;
        if (!::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            ec = lastError();
        else if (written != text.size())
            ec = std::make_error_code(std::errc::no_space_on_device);
        else if (!::FlushFileBuffers(h))
            ec = lastError();
        ::CloseHandle(h);
        if (ec)
            ::DeleteFileW(file.c_str());
        return ec;
    }

    std::error_code replace(const std::filesystem::path& from,
                            const std::filesystem::path& to) override {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return {};
        return lastError();
    }

    // Per user, writable without elevation, on this PC only (not roaming),
    // and outside the folders that controlled folder access guards.
    std::filesystem::path userFolder() override {
        PWSTR folder = nullptr;
        std::filesystem::path result;
        if (SUCCEEDED(
                ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder)))
            result = std::filesystem::path(folder) / L"KRONEX";
        ::CoTaskMemFree(folder);
        return result;
    }
};

} // namespace

DumpFiles& systemDumpFiles() {
    static Win32DumpFiles files;
    return files;
}

std::string fileErrorText(const std::error_code& error) {
    if (error.category() != std::system_category())
        return error.message();
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    std::wstring wide(text ? text : L"", length);
    ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                             wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty())
        return "error " + std::to_string(error.value());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                          nullptr, nullptr);
    return out + " (error " + std::to_string(error.value()) + ")";
}

} // namespace kronex
