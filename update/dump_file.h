// The diagnostic file written at the end of a completed update: the
// identity block as written, each byte as two hexadecimal digits and ".".
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kronex {

using IdentityImage = std::array<std::uint8_t, 128>;

// 384 characters: "0A.1B.C2...".
std::string dumpText(const IdentityImage& identity);

// "C:\TEXTO2.TXT". Elsewhere than Windows, drive C: is the "c:" entry of the
// per-user device namespace, or kronex/drive_c beside it.
std::filesystem::path dumpFilePath();

// Replaces the file with the one line; false if it could not be written (the
// old file, if any, is then left as it was).
bool writeDumpFile(const std::filesystem::path& path, const IdentityImage& identity);

} // namespace kronex
