// Builds small ZIP archives for the archive tests, entry by entry, with
// control over host, attributes, method, extra fields and encryption.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zip_fixture {

struct Entry {
    std::string name;  // stored bytes, as the archive will hold them
    std::string content;
    bool deflate = true;
    bool encrypt = true;
    int host = 0;  // high byte of version-made-by
    uint32_t externalAttributes = 0;
    std::string centralExtra;  // raw extra field of the central directory
};

// Writes the archive to a temporary file and answers its bytes.
std::vector<uint8_t> Make(const std::vector<Entry>& entries, const char* password);

}  // namespace zip_fixture
