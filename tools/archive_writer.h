// Streaming ZIP writer of the packaging tool: entries are deflated (or
// stored) and encrypted one at a time from files or readers, so no file is
// ever held in memory as a whole.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

class XMD5;

// Failures carry the file concerned and the reason, for the tool's message.
struct ToolError {
    std::wstring file;
    std::wstring reason;
};

// Reads the next chunk into buffer; answers bytes read, 0 at the end, -1 on error.
using ChunkReader = std::function<int(uint8_t* buffer, unsigned capacity)>;

struct EntryOptions {
    bool deflate = true;
    const char* password = nullptr;
    uint32_t dosDate = 0;
    uint32_t externalAttributes = FILE_ATTRIBUTE_ARCHIVE;
    uint32_t versionMadeBy = 20;  // MS-DOS host: attribute bits as Windows has them
    bool utf8Name = true;
};

class ArchiveWriter {
public:
    ArchiveWriter() = default;
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    bool Create(const std::wstring& path, ToolError* error);
    // name is the stored form (UTF-8 bytes); ends with "/" for folders.
    bool AddFolder(const std::string& name, const EntryOptions& options, ToolError* error);
    // The CRC must be known before the data (it seeds the encryption header).
    bool AddStream(const std::string& name, uint32_t crc, uint64_t size, const ChunkReader& read,
                   const EntryOptions& options, const std::wstring& source, ToolError* error);
    // The same, for a source that pushes its pieces: BeginEntry, WritePiece
    // for each piece, then EndEntry, which checks that size bytes came
    // (source names them in the message). A failed WritePiece has closed
    // the entry; AbandonEntry closes it after the source failed.
    bool BeginEntry(const std::string& name, uint32_t crc, uint64_t size, const EntryOptions& options,
                    ToolError* error);
    bool WritePiece(const void* bytes, unsigned count, ToolError* error);
    bool EndEntry(const std::wstring& source, ToolError* error);
    void AbandonEntry();
    // Two passes over the file: its CRC (and MD5 when asked), then the data.
    bool AddFile(const std::string& name, const std::wstring& path, const EntryOptions& options,
                 XMD5* digest, ToolError* error);
    // Finishes the central directory; the file is complete only after this.
    bool Close(ToolError* error);
    int Count() const { return count_; }
    const std::wstring& Path() const { return path_; }

private:
    void* zip_ = nullptr;
    std::wstring path_;
    int count_ = 0;
    // The entry open between BeginEntry and its end.
    bool entryOpen_ = false;
    uint64_t entrySize_ = 0;
    uint64_t entryWritten_ = 0;
};

// Helpers shared by the tool.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::wstring LastErrorText(DWORD code);
// DOS date/time of a file's last write, in local time as ZIP stores it.
uint32_t DosDateOf(const FILETIME& utc);
