// The version block and the icon of kronex-atu.exe, as Windows reads them
// from an executable that carries the same resources.
#include "app_title.h"
#include "kronex_version.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> versionBlock() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, block.data()))
        block.clear();
    return block;
}

std::string utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// A string of the Portuguese (Brazil), Unicode table; "(absent)" if none.
std::string stringValue(std::vector<BYTE>& block, const std::wstring& name) {
    const std::wstring key = L"\\StringFileInfo\\041604B0\\" + name;
    void* text = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueW(block.data(), key.c_str(), &text, &length) || !text)
        return "(absent)";
    // The length counts the terminating zero.
    return utf8(std::wstring(static_cast<const wchar_t*>(text), length ? length - 1 : 0));
}

} // namespace

TEST(VersionResource, NamesTheProgramByItsTitle) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(stringValue(block, L"ProductName"), kronex::kApplicationTitle);
    EXPECT_EQ(stringValue(block, L"FileDescription"), kronex::kApplicationTitle);
    EXPECT_EQ(stringValue(block, L"OriginalFilename"), "kronex-atu.exe");
}

TEST(VersionResource, CarriesTheProjectVersion) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(stringValue(block, L"FileVersion"), KRONEX_VERSION_TEXT);
    EXPECT_EQ(stringValue(block, L"ProductVersion"), KRONEX_VERSION_TEXT);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(KRONEX_VERSION_MINOR,
                                                                  KRONEX_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, KRONEX_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(VersionResource, DeclaresPortugueseUnicodeStrings) {
    auto block = versionBlock();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0416); // Portuguese (Brazil)
    EXPECT_EQ(translation[1], 1200);   // UTF-16
}

// The icon group Qt and Explorer take as the program's icon, with the sizes
// from the title bar up to large tiles (a width of 0 stands for 256).
TEST(ApplicationIcon, OffersSizesFrom16To256) {
    const HRSRC found = FindResourceW(nullptr, L"IDI_ICON1", MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(dir, nullptr);
    ASSERT_GE(SizeofResource(nullptr, found), 6u);
    const WORD count = static_cast<WORD>(dir[4] | dir[5] << 8);
    ASSERT_EQ(SizeofResource(nullptr, found), 6u + 14u * count);
    std::set<int> widths;
    for (WORD i = 0; i < count; ++i) {
        const int width = dir[6 + 14 * i];
        widths.insert(width == 0 ? 256 : width);
    }
    EXPECT_EQ(widths, (std::set<int>{16, 32, 48, 64, 256}));
}
