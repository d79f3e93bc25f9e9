// The version blocks, icons and manifests of kronex-atu.exe and
// kronex-update.exe, as Windows reads them: kronex-atu.exe's from this test
// program, which carries the same resources, kronex-update.exe's from the
// program itself.
#include "app_title.h"
#include "kronex_version.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::wstring ownPath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring cliPath() {
    const std::string path = KRONEX_UPDATE_EXE;
    return std::wstring(path.begin(), path.end());
}

std::vector<BYTE> versionBlock(const std::wstring& path = ownPath()) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        block.clear();
    return block;
}

// The manifest Windows reads when it starts the program (resource 1 of type
// RT_MANIFEST); empty if there is none.
std::string manifestOf(const std::wstring& path) {
    const HMODULE module =
        path == ownPath()
            ? nullptr
            : LoadLibraryExW(path.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (path != ownPath() && module == nullptr)
        return {};
    std::string text;
    if (const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)))
        if (const void* data = LockResource(LoadResource(module, found)))
            text.assign(static_cast<const char*>(data), SizeofResource(module, found));
    if (module != nullptr)
        FreeLibrary(module);
    return text;
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

struct Program {
    std::wstring path;
    std::string description;
    std::string file;
};

std::vector<Program> programs() {
    return {{ownPath(), kronex::kApplicationTitle, "kronex-atu.exe"},
            {cliPath(), "Atualização KRONEX pela linha de comando", "kronex-update.exe"}};
}

TEST(VersionResource, NamesEachProgram) {
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.file);
        auto block = versionBlock(p.path);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(stringValue(block, L"ProductName"), kronex::kApplicationTitle);
        EXPECT_EQ(stringValue(block, L"FileDescription"), p.description);
        EXPECT_EQ(stringValue(block, L"OriginalFilename"), p.file);
        EXPECT_EQ(stringValue(block, L"ProductVersion"), KRONEX_VERSION_TEXT);
    }
}

// What each program asks of Windows: no elevation, Windows 10 and 11, UTF-8
// as the ANSI code page and long paths. Per-monitor v2 DPI awareness is the
// console program's to declare; the window's is set by Qt, which a declared
// one would make fail.
TEST(Manifest, DeclaresWhatTheProgramsNeed) {
    for (const Program& p : programs()) {
        SCOPED_TRACE(p.file);
        const std::string manifest = manifestOf(p.path);
        ASSERT_FALSE(manifest.empty());
        for (const char* entry :
             {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
              "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
              ">UTF-8</activeCodePage>", ">true</longPathAware>"})
            EXPECT_NE(manifest.find(entry), std::string::npos) << entry;
        const bool window = p.file == "kronex-atu.exe";
        EXPECT_EQ(manifest.find(">PerMonitorV2</dpiAwareness>") != std::string::npos, !window);
        if (window) {
            EXPECT_EQ(manifest.find("<dpiAware"), std::string::npos);
        }
    }
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
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(MAKELONG(KRONEX_VERSION_MINOR, KRONEX_VERSION_MAJOR)));
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
