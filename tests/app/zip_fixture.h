// Builds password-protected ZIP archives for the tests, the way the
// packaging tool lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

struct ZipItem {
    std::string name;  // stored name, UTF-8
    std::string bytes;
    bool directory = false;
    bool stored = false;          // no compression
    const char* password = "";    // "" = the archive's password, nullptr = none
};

// Writes the archive to path; items use password unless they carry their own.
bool WriteZip(const std::wstring& path, const std::vector<ZipItem>& items, const char* password);
std::vector<uint8_t> MakeZip(const std::vector<ZipItem>& items, const char* password);

// Deterministic bytes that do not compress to nothing.
std::string Noise(size_t size, uint32_t seed);

}  // namespace fixture
