// Builds ZIP archives for the tests, entry by entry: the password-protected
// layout the packaging tool writes, and, where a test needs it, control
// over host, attributes, method, extra fields and encryption.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

struct ZipItem {
    std::string name;  // stored bytes, as the archive will hold them (UTF-8 flagged)
    std::string bytes;
    bool directory = false;        // stored, unencrypted, with the directory attribute
    bool stored = false;           // no compression
    const char* password = "";     // "" = the archive's password, nullptr = none
    int host = 0;                  // high byte of version-made-by (0 DOS, 3 Unix)
    uint32_t attributes = 0;       // external attributes, raw
    std::string centralExtra = {}; // raw extra field of the central directory
    std::string localExtra = {};   // raw extra field of the local header
    bool utf8Name = true;          // the general-purpose flag that marks the name UTF-8
};

// Writes the archive to path; items use password unless they carry their own.
bool WriteZip(const std::wstring& path, const std::vector<ZipItem>& items, const char* password);
// The same archive's bytes; empty when it could not be written.
std::vector<uint8_t> MakeZip(const std::vector<ZipItem>& items, const char* password);

// The inner archive "app.zip" as the packaging tool stores it in a payload:
// as it is, without a second encryption (its entries carry their own).
// encryptedWhole: encrypted as a whole, as packages of earlier versions did.
ZipItem InnerArchiveItem(const std::vector<uint8_t>& archive, bool encryptedWhole = false);
ZipItem InnerArchiveItem(const std::string& archive, bool encryptedWhole = false);

// Where entry index of an archive lies: its central directory record, its
// local header and the first byte of its data (zeros when it has no such
// entry). For tests that damage one field.
struct ZipLayout {
    size_t central = 0;
    size_t local = 0;
    size_t data = 0;
};
ZipLayout LocateEntry(const std::vector<uint8_t>& archive, int index);

// Deterministic bytes that do not compress to nothing.
std::string Noise(size_t size, uint32_t seed);

}  // namespace fixture
