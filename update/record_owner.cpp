#include "record_owner.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <vector>
#endif

namespace kronex {

bool trustedOwnerSid(const std::string& ownerSid, const std::string& userSid) {
    if (ownerSid.empty())
        return false;
    return ownerSid == userSid || ownerSid == "S-1-5-32-544" || ownerSid == "S-1-5-18";
}

#ifdef _WIN32

namespace {

std::string utf8(const wchar_t* text, int length = -1) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    if (length < 0)
        out.pop_back(); // the terminating null
    return out;
}

std::string sidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text))
        return {};
    std::string out = utf8(text);
    ::LocalFree(text);
    return out;
}

// "DOMAIN\user" as the system names the SID, or its text when it has no name
// here (a user of another domain, a deleted account).
std::string accountName(PSID sid) {
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return sidText(sid);
    return domainLength ? utf8(domain) + "\\" + utf8(name) : utf8(name);
}

std::string currentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::string out;
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        out = sidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    ::CloseHandle(token);
    return out;
}

} // namespace

RecordOwner recordOwner(const std::filesystem::path& file) {
    // The link itself when it is one, not what it points at.
    const HANDLE h = ::CreateFileW(
        file.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {false, "?"};
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = ::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                           nullptr, nullptr, nullptr, &descriptor);
    ::CloseHandle(h);
    RecordOwner result{false, "?"};
    if (status == ERROR_SUCCESS && owner && ::IsValidSid(owner)) {
        result.trusted = trustedOwnerSid(sidText(owner), currentUserSid());
        result.name = accountName(owner);
    }
    ::LocalFree(descriptor);
    return result;
}

#else

RecordOwner recordOwner(const std::filesystem::path&) {
    return {};
}

#endif

} // namespace kronex
