// Reads the entries of a password-protected ZIP archive piece by piece, so
// that an entry of any size passes through a small buffer on its way to disk.
// Entry indexes are the archive's central-directory order, the same order
// XZip numbers them in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/zip_memory.h"

class ZipStream {
public:
    // Receives each piece of an entry; answering false cancels the read.
    using Sink = bool (*)(const void* bytes, uint32_t count, void* context);

    using MemorySource = ZipMemorySource;

    ZipStream() = default;
    ~ZipStream();
    ZipStream(const ZipStream&) = delete;
    ZipStream& operator=(const ZipStream&) = delete;

    // The memory must stay alive and unchanged until Close.
    bool OpenFromMemory(const void* bytes, uint64_t size, const char* password);
    bool OpenFromFile(const wchar_t* path, const char* password);
    // An archive that is bytes offset .. offset + size of the file.
    bool OpenFromFileWindow(const wchar_t* path, uint64_t offset, uint64_t size,
                            const char* password);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    int Count() const { return static_cast<int>(entries_.size()); }
    // Uncompressed size as the central directory states it.
    uint64_t SizeOf(int index) const;
    // Decrypts and inflates the entry into sink; true only when every byte
    // arrived and the CRC matched (a wrong password shows up here).
    bool Read(int index, Sink sink, void* context, uint32_t chunk = 256 * 1024);
    // Where an entry that is stored as it is (neither compressed nor
    // encrypted) lies in the archive: its bytes can be read in place. False
    // for any other entry.
    bool PlainRange(int index, uint64_t* offset, uint64_t* size);

private:
    struct Entry {
        uint64_t directoryOffset;
        uint64_t fileNumber;
        uint64_t size;
    };
    bool Index();
    void SetPassword(const char* password);

    void* handle_ = nullptr;
    MemorySource memory_;
    ZipFileWindow window_;
    std::wstring windowPath_;
    std::vector<char> password_;
    std::vector<Entry> entries_;
};
