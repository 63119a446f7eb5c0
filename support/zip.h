// XZip: the password-protected ZIP archive that carries the payload and the
// client's files, read from memory (without copying), from a file or from a
// window of a file; entries are listed, found by name, extracted whole or
// streamed piece by piece. One object serves one thread at a time; threads
// that read the same archive at once open one each.
#pragma once

#include "support/zip_memory.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IDecryptor;
class XData;

// Entry names are held in buffers of this many wide characters.
constexpr int kZipNameCapacity = 260;
// Find refuses names whose UTF-8 form reaches this many bytes.
constexpr int kZipFindNameLimit = 256;

// What the reader reports for one entry.
struct ZipEntryInfo {
    int32_t index;  // the number of entries when index -1 was asked for
    wchar_t name[kZipNameCapacity];  // decoded and made safe
    uint32_t attributes;  // FILE_ATTRIBUTE_* bits
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME modificationTime;
    int32_t compressedSize;
    int32_t uncompressedSize;
};

// An entry's central directory record as the archive holds it, nothing
// decoded or made safe: what copying the entry into another archive keeps.
struct ZipEntryRecord {
    std::string name;  // the stored bytes, whole
    uint32_t dosDate;  // local time, DOS date in the high word
    uint32_t externalAttributes;
    uint16_t versionMadeBy;  // host in the high byte
    uint16_t flags;  // general purpose: bit 0 encrypted, bit 11 name in UTF-8
    uint32_t crc;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
};

class XZip {
public:
    XZip();
    virtual ~XZip();
    XZip(const XZip&) = delete;
    XZip& operator=(const XZip&) = delete;

    // The bytes stay owned by the caller and must stay alive and unchanged
    // until Close: the reader reads them in place.
    bool OpenFromMemory(const void* bytes, uint32_t size, const char* password);
    bool OpenFromFile(const wchar_t* path, const char* password);
    // An archive that is bytes offset .. offset + size of the file.
    bool OpenFromFileWindow(const wchar_t* path, uint64_t offset, uint64_t size,
                            const char* password);
    // Another reader of what source reads (bytes in memory or a file
    // window), sharing its directory, which is not read again: for threads
    // reading one archive at once. Bytes in memory must stay alive until this
    // closes too. False for an archive opened from a whole file, or an empty
    // one.
    bool OpenSibling(const XZip& source);
    // After an open failed: true when the archive was recognised but its
    // central directory could not be read through, false when it was no
    // archive at all (or could not be read).
    bool DirectoryDamaged() const { return directoryDamaged_; }
    // True when nothing was open or the reader closed cleanly.
    bool Close();
    bool IsOpen() const { return handle_ != nullptr; }

    int Count();
    // True when any entry is encrypted.
    bool HasEncryptedEntries() const;
    bool IsDirectory(int index);
    // name holds kZipNameCapacity characters; receives the safe name.
    bool GetEntryName(int index, wchar_t* name);
    // Compares with the stored names, folding only A-Z/a-z; the first match
    // wins. size (may be null) receives the uncompressed size. -1 if none.
    int Find(const wchar_t* name, int32_t* size);
    // Sizes out to the entry and fills it; false on any read, password,
    // inflate or CRC failure.
    bool ExtractByIndex(int index, XData* out);
    // On failure the buffer is freed.
    bool ExtractByName(const wchar_t* name, XData* out);
    // index -1 answers the entry count in info->index.
    bool GetEntryInfo(int index, ZipEntryInfo* info);
    // Read afresh from the central directory; false when it cannot be.
    bool GetEntryRecord(int index, ZipEntryRecord* record);

    // Receives each piece of an entry; answering false cancels the read.
    using Sink = bool (*)(const void* bytes, uint32_t count, void* context);
    // Uncompressed size as the central directory states it; 0 for no entry.
    uint64_t SizeOf(int index) const;
    // Size as stored (compressed, with the cipher's header); 0 for no entry.
    uint64_t PackedSizeOf(int index) const;
    // Decrypts and inflates the entry into sink a piece at a time; true only
    // when every byte arrived, no more than the directory promised, and the
    // CRC matched (a wrong password on a stored entry shows only there).
    bool Read(int index, Sink sink, void* context, uint32_t chunk = 256 * 1024);
    // Why the last Read failed, for callers that tell the cases apart.
    enum class ReadFailure {
        kNone,
        kNoEntry,     // no such entry, no sink, or the reader could not go back to it
        kCannotOpen,  // unsupported method, damaged local header, or no password
        kCancelled,   // the sink answered false
        kData,        // would not decrypt or inflate, or more than the directory promised
        kShort,       // fewer bytes than the directory promised
        kCrc,         // every byte arrived but the CRC did not match
    };
    ReadFailure LastReadFailure() const { return readFailure_; }
    // Where an entry stored as it is (neither compressed nor encrypted) lies
    // in the archive, so its bytes can be read in place. False for any
    // other entry.
    bool PlainRange(int index, uint64_t* offset, uint64_t* size);

    // Where Read sends encrypted pieces to be decrypted; null (the default)
    // decrypts them at once. Kept, not owned.
    void SetDecryptor(IDecryptor* decryptor) { decryptor_ = decryptor; }

    using MemorySource = ZipMemorySource;

private:
    struct Entry {
        uint64_t directoryOffset;  // the reader's position record
        uint64_t fileNumber;
        uint64_t size;
        uint64_t packed;  // as stored: compressed, with the cipher's header
        bool encrypted;
        std::string storedName;  // as the archive holds it, for Find
    };
    bool FinishOpen(const char* password);
    const std::vector<Entry>& Entries() const;
    bool GoTo(int index);
    bool ReserveBuffer(uint32_t size);
    ReadFailure ReadEncrypted(const Entry& entry, Sink sink, void* context, uint32_t chunk);

    void* handle_ = nullptr;
    MemorySource memory_;
    ZipFileWindow window_;
    std::wstring windowPath_;
    std::string password_;
    bool hasPassword_ = false;
    // Shared by the siblings of one archive; never changed once read.
    std::shared_ptr<const std::vector<Entry>> directory_;
    std::unique_ptr<char[]> buffer_;  // Read's pieces (and, after them, what it read raw)
    uint32_t bufferSize_ = 0;
    bool directoryDamaged_ = false;
    ReadFailure readFailure_ = ReadFailure::kNone;
    IDecryptor* decryptor_ = nullptr;
};

// The archive password shared by the payload, the inner archive and the
// packaging tool; made on first use, safely from any thread.
const char* GetArchivePassword();

// The safe form of a stored entry name: decoded from UTF-8 (an invalid
// sequence falls back to the ANSI code page), drive prefixes, leading
// separators and every ".." (or dots-only) component removed, so that
// joining it to a directory never leaves that directory. out holds
// kZipNameCapacity characters.
void SafeEntryName(const char* stored, size_t length, wchar_t* out);
