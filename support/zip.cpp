#include "support/zip.h"

#include "support/zip_crypto.h"

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/unzip.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "support/crc32.h"
#include "support/data.h"
#include "support/zip_memory.h"

namespace {

// --- entry records

uint32_t AttributesOf(const unz_file_info64& info) {
    uint32_t host = info.version >> 8;
    if (host == 0 || host == 7 || host == 11 || host == 14) return info.external_fa & 0xFF;
    uint32_t a = FILE_ATTRIBUTE_ARCHIVE;
    if (info.external_fa & 0x40000000u) a |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(info.external_fa & 0x00800000u)) a |= FILE_ATTRIBUTE_READONLY;
    return a;
}

FILETIME FromUnixTime(uint32_t t) {
    ULARGE_INTEGER v;
    v.QuadPart = (uint64_t(t) + 11644473600ull) * 10000000ull;
    FILETIME ft;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = v.HighPart;
    return ft;
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The "UT" extended timestamp: flags, then the times its flags announce
// (the central directory usually carries only the modification time).
void ApplyExtendedTimes(const uint8_t* extra, size_t size, ZipEntryInfo* info) {
    size_t at = 0;
    while (at + 4 <= size) {
        unsigned id = extra[at] | extra[at + 1] << 8;
        size_t len = extra[at + 2] | extra[at + 3] << 8;
        const uint8_t* body = extra + at + 4;
        if (at + 4 + len > size) return;
        if (id == 0x5455 && len >= 1) {
            uint8_t flags = body[0];
            size_t p = 1;
            FILETIME* targets[3] = {&info->modificationTime, &info->accessTime, &info->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1 << bit))) continue;
                if (p + 4 > len) break;
                *targets[bit] = FromUnixTime(ReadLe32(body + p));
                p += 4;
            }
        }
        at += 4 + len;
    }
}

// The reader cannot open an archive of nothing but its end record: it finds
// that record at offset 0 and takes 0 for "not found".
bool IsEmptyArchive(const uint8_t* p, uint64_t size) {
    if (size < 22 || size > 22 + 0xFFFF) return false;
    static const uint8_t kEnd[] = {0x50, 0x4B, 0x05, 0x06};
    if (std::memcmp(p, kEnd, 4) != 0) return false;
    for (int i = 4; i < 20; ++i)
        if (p[i] != 0) return false;
    return uint64_t(p[20] | p[21] << 8) == size - 22;
}

// Stands for the open state of an empty archive; never given to the reader.
char g_emptyArchive;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A component made of dots and blanks only: Windows trims trailing dots and
// blanks, so ". ." or "... " can act as ".." on some systems.
bool IsDotsOnly(const wchar_t* begin, const wchar_t* end) {
    bool dot = false;
    for (const wchar_t* p = begin; p < end; ++p) {
        if (*p == L'.') dot = true;
        else if (*p != L' ') return false;
    }
    return dot;
}

// The basic rules: drive prefixes, leading separators, and everything
// up to the first separator-".."-separator sequence.
void StripPrefixes(std::wstring* text) {
    static const wchar_t* const kUpLevels[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (;;) {
        if (text->size() >= 2 && (*text)[1] == L':') {
            text->erase(0, 2);
            continue;
        }
        if (!text->empty() && IsSeparator((*text)[0])) {
            text->erase(0, 1);
            continue;
        }
        bool cut = false;
        for (const wchar_t* up : kUpLevels) {
            size_t at = text->find(up);
            if (at != std::wstring::npos) {
                text->erase(0, at + 4);
                cut = true;
                break;
            }
        }
        if (!cut) return;
    }
}

// Those rules leave "../x", "a/.." and "x/. ./y" alone: no component that
// can climb a level survives into a path.
void DropDotComponents(std::wstring* text) {
    std::wstring kept;
    size_t start = 0;
    while (start <= text->size()) {
        size_t end = start;
        while (end < text->size() && !IsSeparator((*text)[end])) ++end;
        if (!IsDotsOnly(text->data() + start, text->data() + end)) {
            kept.append(*text, start, end - start);
            if (end < text->size() && !kept.empty()) kept.push_back((*text)[end]);
        }
        start = end + 1;
    }
    text->swap(kept);
}

// Kept masked and unmasked through a volatile key, which the compiler cannot
// fold back into the plain text: a strings dump of the programs does not
// show it.
std::array<char, 9> UnmaskPassword() {
    static const unsigned char kMasked[8] = {0x09, 0x31, 0x33, 0x34, 0x7F, 0x63, 0x0D, 0x2B};
    volatile unsigned char key = 0x5A;
    std::array<char, 9> password{};
    for (size_t i = 0; i < sizeof(kMasked); ++i) password[i] = char(kMasked[i] ^ key);
    return password;
}

}  // namespace

const char* GetArchivePassword() {
    // Made once, whichever thread asks first: the window thread and the
    // worker both may, and a function-local static is initialised exactly
    // once with the other callers waiting for it.
    static const std::array<char, 9> password = UnmaskPassword();
    return password.data();
}

void SafeEntryName(const char* stored, size_t length, wchar_t* out) {
    if (!out) return;
    out[0] = 0;
    if (!stored || length == 0) return;
    int bytes = length > 0x7FFFFFF ? 0x7FFFFFF : static_cast<int>(length);
    wchar_t decoded[kZipNameCapacity] = {};
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, stored, bytes, nullptr, 0);
    UINT codePage = n > 0 ? CP_UTF8 : CP_ACP;
    DWORD flags = n > 0 ? MB_ERR_INVALID_CHARS : 0;
    n = MultiByteToWideChar(codePage, flags, stored, bytes, decoded, kZipNameCapacity - 1);
    if (n <= 0) {
        // Longer than the buffer: decode into a big one and keep the front.
        int full = MultiByteToWideChar(codePage, flags, stored, bytes, nullptr, 0);
        if (full <= 0) return;
        std::wstring big(full, L'\0');
        MultiByteToWideChar(codePage, flags, stored, bytes, &big[0], full);
        n = kZipNameCapacity - 1;
        std::memcpy(decoded, big.data(), n * sizeof(wchar_t));
    }
    decoded[n] = 0;
    // A stored NUL ends the name.
    std::wstring text(decoded);

    // Dropping a component can expose a new prefix ("../C:/x"), so both
    // passes repeat until the name no longer changes.
    for (;;) {
        std::wstring before = text;
        StripPrefixes(&text);
        DropDotComponents(&text);
        if (text == before) break;
    }
    const std::wstring& safe = text;
    size_t copy = safe.size() < size_t(kZipNameCapacity - 1) ? safe.size() : kZipNameCapacity - 1;
    std::memcpy(out, safe.data(), copy * sizeof(wchar_t));
    out[copy] = 0;
}

XZip::XZip() = default;

XZip::~XZip() { Close(); }

bool XZip::OpenFromMemory(const void* bytes, uint32_t size, const char* password) {
    if (handle_ || !bytes) return false;
    memory_.bytes = static_cast<const uint8_t*>(bytes);
    memory_.size = size;
    zlib_filefunc64_def functions;
    FillMemoryFileFunctions(&functions, &memory_);  // the reader keeps &memory_ until Close
    handle_ = unzOpen2_64(&memory_, &functions);
    if (!handle_ && IsEmptyArchive(memory_.bytes, memory_.size)) handle_ = &g_emptyArchive;
    return FinishOpen(password);
}

bool XZip::OpenFromFile(const wchar_t* path, const char* password) {
    if (handle_ || !path) return false;
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    handle_ = unzOpen2_64(path, &functions);
    if (!handle_) {
        XData head;
        if (head.ReadFromFile(path, 22 + 0xFFFF + 1) && IsEmptyArchive(head.data, head.size))
            handle_ = &g_emptyArchive;
    }
    return FinishOpen(password);
}

bool XZip::OpenFromFileWindow(const wchar_t* path, uint64_t offset, uint64_t size,
                              const char* password) {
    if (handle_ || !path) return false;
    windowPath_ = path;
    window_ = {windowPath_.c_str(), offset, size};
    zlib_filefunc64_def functions;
    FillFileWindowFunctions(&functions, &window_);  // kept by the reader until Close
    handle_ = unzOpen2_64(&window_, &functions);
    if (!handle_ && size <= 22 + 0xFFFF) {
        std::vector<uint8_t> head(size_t(size) + 1);
        if (ReadFileWindow(window_, head.data(), size) == size &&
            IsEmptyArchive(head.data(), uint32_t(size)))
            handle_ = &g_emptyArchive;
    }
    if (!FinishOpen(password)) {
        window_ = ZipFileWindow{};
        windowPath_.clear();
        return false;
    }
    return true;
}

// Records every entry's position and stored name once, so that index access
// and Find need no walk through the central directory.
bool XZip::FinishOpen(const char* password) {
    directoryDamaged_ = false;
    if (!handle_) return false;
    directory_.reset();
    hasPassword_ = password != nullptr;
    password_ = password ? password : "";
    if (handle_ == &g_emptyArchive) return true;
    std::shared_ptr<std::vector<Entry>> entries;
    try {
        entries = std::make_shared<std::vector<Entry>>();
    } catch (...) {
        unzClose(handle_);
        handle_ = nullptr;
        return false;
    }
    // The reader's walk cannot start on an empty central directory.
    unz_global_info64 global;
    int rc = unzGetGlobalInfo64(handle_, &global);
    if (rc == UNZ_OK) rc = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : unzGoToFirstFile(handle_);
    while (rc == UNZ_OK) {
        unz64_file_pos pos;
        unz_file_info64 info;
        char name[1024];
        if (unzGetFilePos64(handle_, &pos) != UNZ_OK ||
            unzGetCurrentFileInfo64(handle_, &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
                UNZ_OK) {
            rc = UNZ_BADZIPFILE;
            break;
        }
        size_t len = info.size_filename < sizeof(name) ? info.size_filename : sizeof(name) - 1;
        try {
            entries->push_back(Entry{pos.pos_in_zip_directory, pos.num_of_file, info.uncompressed_size,
                                     info.compressed_size, (info.flag & 1) != 0, std::string(name, len)});
        } catch (...) {
            rc = UNZ_INTERNALERROR;
            break;
        }
        rc = unzGoToNextFile(handle_);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        directoryDamaged_ = true;
        unzClose(handle_);
        handle_ = nullptr;
        return false;
    }
    directory_ = std::move(entries);
    return true;
}

bool XZip::OpenSibling(const XZip& source) {
    if (handle_ || !source.handle_ || source.handle_ == &g_emptyArchive || !source.directory_) return false;
    zlib_filefunc64_def functions;
    if (source.memory_.bytes) {
        memory_ = source.memory_;
        FillMemoryFileFunctions(&functions, &memory_);
        handle_ = unzOpen2_64(&memory_, &functions);
    } else if (!source.windowPath_.empty()) {
        try {
            windowPath_ = source.windowPath_;
        } catch (...) {
            return false;
        }
        window_ = {windowPath_.c_str(), source.window_.offset, source.window_.size};
        FillFileWindowFunctions(&functions, &window_);
        handle_ = unzOpen2_64(&window_, &functions);
    }
    if (!handle_) {
        memory_ = MemorySource{};
        window_ = ZipFileWindow{};
        windowPath_.clear();
        return false;
    }
    directoryDamaged_ = false;
    directory_ = source.directory_;
    hasPassword_ = source.hasPassword_;
    password_ = source.password_;
    return true;
}

bool XZip::Close() {
    if (!handle_) return true;
    int rc = handle_ == &g_emptyArchive ? UNZ_OK : unzClose(handle_);
    handle_ = nullptr;
    directory_.reset();
    memory_ = MemorySource{};
    window_ = ZipFileWindow{};
    windowPath_.clear();
    return rc == UNZ_OK;
}

const std::vector<XZip::Entry>& XZip::Entries() const {
    static const std::vector<Entry> none;
    return directory_ ? *directory_ : none;
}

bool XZip::HasEncryptedEntries() const {
    for (const Entry& entry : Entries())
        if (entry.encrypted) return true;
    return false;
}

int XZip::Count() { return handle_ ? static_cast<int>(Entries().size()) : 0; }

bool XZip::GoTo(int index) {
    if (!handle_ || index < 0 || size_t(index) >= Entries().size()) return false;
    unz64_file_pos pos;
    pos.pos_in_zip_directory = Entries()[index].directoryOffset;
    pos.num_of_file = Entries()[index].fileNumber;
    return unzGoToFilePos64(handle_, &pos) == UNZ_OK;
}

bool XZip::GetEntryInfo(int index, ZipEntryInfo* info) {
    if (!handle_ || !info) return false;
    std::memset(info, 0, sizeof(*info));
    if (index == -1) {
        info->index = static_cast<int32_t>(Entries().size());
        return true;
    }
    if (!GoTo(index)) return false;
    unz_file_info64 raw;
    uint8_t extra[1024];
    if (unzGetCurrentFileInfo64(handle_, &raw, nullptr, 0, extra, sizeof(extra), nullptr, 0) != UNZ_OK)
        return false;
    info->index = index;
    const std::string& stored = Entries()[index].storedName;
    SafeEntryName(stored.data(), stored.size(), info->name);
    info->attributes = AttributesOf(raw);
    // A name ending in a separator can only be a folder, whatever the host.
    if (!stored.empty() && (stored.back() == '/' || stored.back() == '\\'))
        info->attributes |= FILE_ATTRIBUTE_DIRECTORY;
    FILETIME local, utc = {};
    if (DosDateTimeToFileTime(HIWORD(raw.dosDate), LOWORD(raw.dosDate), &local))
        LocalFileTimeToFileTime(&local, &utc);
    info->accessTime = info->creationTime = info->modificationTime = utc;
    size_t extraSize = raw.size_file_extra < sizeof(extra) ? raw.size_file_extra : sizeof(extra);
    ApplyExtendedTimes(extra, extraSize, info);
    info->compressedSize = raw.compressed_size > 0x7FFFFFFF ? -1 : int32_t(raw.compressed_size);
    info->uncompressedSize = raw.uncompressed_size > 0x7FFFFFFF ? -1 : int32_t(raw.uncompressed_size);
    return true;
}

bool XZip::GetEntryRecord(int index, ZipEntryRecord* record) {
    unz_file_info64 info;
    if (!record || !GoTo(index) ||
        unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    // Read again rather than taken from the entry list, which keeps a name
    // only as long as Find can use it.
    std::string name(info.size_filename, '\0');
    if (!name.empty() && unzGetCurrentFileInfo64(handle_, nullptr, &name[0], uLong(name.size()), nullptr,
                                                 0, nullptr, 0) != UNZ_OK)
        return false;
    record->name.swap(name);
    record->dosDate = uint32_t(info.dosDate);
    record->externalAttributes = uint32_t(info.external_fa);
    record->versionMadeBy = uint16_t(info.version);
    record->flags = uint16_t(info.flag);
    record->crc = uint32_t(info.crc);
    record->compressedSize = info.compressed_size;
    record->uncompressedSize = info.uncompressed_size;
    return true;
}

bool XZip::IsDirectory(int index) {
    ZipEntryInfo info;
    return GetEntryInfo(index, &info) && (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool XZip::GetEntryName(int index, wchar_t* name) {
    if (!name || index < 0) return false;
    ZipEntryInfo info;
    if (!GetEntryInfo(index, &info)) return false;
    std::memcpy(name, info.name, sizeof(info.name));
    return true;
}

int XZip::Find(const wchar_t* name, int32_t* size) {
    if (!handle_ || !name) return -1;
    char wanted[kZipNameCapacity + 4];
    int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, wanted, kZipNameCapacity, nullptr, nullptr);
    if (n <= 0 || n - 1 >= kZipFindNameLimit) return -1;
    size_t length = size_t(n - 1);
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (size_t i = 0; i < Entries().size(); ++i) {
        const std::string& stored = Entries()[i].storedName;
        if (stored.size() != length) continue;
        size_t k = 0;
        while (k < length && fold(stored[k]) == fold(wanted[k])) ++k;
        if (k != length) continue;
        if (size) {
            ZipEntryInfo info;
            *size = GetEntryInfo(int(i), &info) ? info.uncompressedSize : 0;
        }
        return static_cast<int>(i);
    }
    return -1;
}

uint64_t XZip::SizeOf(int index) const {
    if (!handle_ || index < 0 || size_t(index) >= Entries().size()) return 0;
    return Entries()[index].size;
}

uint64_t XZip::PackedSizeOf(int index) const {
    if (!handle_ || index < 0 || size_t(index) >= Entries().size()) return 0;
    return Entries()[index].packed;
}

namespace {

// While an entry's data is read from a file window, refills read as far as
// the data goes and no farther (see ZipFileWindow).
class ExpectedData {
public:
    ExpectedData(ZipFileWindow& window, unzFile handle, uint64_t size) : window_(window) {
        if (!window.path) return;
        const uint64_t from = unzGetCurrentFileZStreamPos64(handle);
        window.expectFrom = from;
        window.expectTo = size < window.size - std::min(from, window.size) ? from + size : window.size;
    }
    ~ExpectedData() { window_.expectFrom = window_.expectTo = 0; }
    ExpectedData(const ExpectedData&) = delete;
    ExpectedData& operator=(const ExpectedData&) = delete;

private:
    ZipFileWindow& window_;
};

constexpr uint32_t kRawPiece = 64 * 1024;
constexpr uint32_t kCryptHeader = 12;

// One piece to the sink, counted: more bytes than the directory promised
// means a lying archive.
XZip::ReadFailure Deliver(const void* bytes, uint32_t count, uint64_t promised, uint64_t* total,
                          XZip::Sink sink, void* context) {
    *total += count;
    if (*total > promised) return XZip::ReadFailure::kData;
    return sink(bytes, count, context) ? XZip::ReadFailure::kNone : XZip::ReadFailure::kCancelled;
}

}  // namespace

// One buffer for the reader's life: thousands of entries would otherwise
// each take and give back a large block of the heap.
bool XZip::ReserveBuffer(uint32_t size) {
    if (bufferSize_ >= size) return true;
    buffer_.reset(new (std::nothrow) char[size]);
    bufferSize_ = buffer_ ? size : 0;
    return buffer_ != nullptr;
}

bool XZip::Read(int index, Sink sink, void* context, uint32_t chunk) {
    readFailure_ = ReadFailure::kNoEntry;
    if (!sink || chunk == 0 || !GoTo(index)) return false;
    const Entry& entry = Entries()[index];
    readFailure_ = ReadFailure::kCannotOpen;
    if (entry.encrypted) {
        if (!hasPassword_ || chunk > UINT32_MAX - kRawPiece || !ReserveBuffer(chunk + kRawPiece)) return false;
        readFailure_ = ReadEncrypted(entry, sink, context, chunk);
        return readFailure_ == ReadFailure::kNone;
    }
    if (!ReserveBuffer(chunk) || unzOpenCurrentFilePassword(handle_, nullptr) != UNZ_OK) return false;
    ExpectedData expected(window_, handle_, entry.packed);
    char* buffer = buffer_.get();
    ReadFailure failure = ReadFailure::kNone;
    uint64_t total = 0;
    while (failure == ReadFailure::kNone) {
        int n = unzReadCurrentFile(handle_, buffer, chunk);
        if (n < 0) failure = ReadFailure::kData;
        if (n <= 0) break;
        failure = Deliver(buffer, uint32_t(n), entry.size, &total, sink, context);
    }
    // Damaged data may show only here, as a CRC error; the reader checks it
    // only once the whole entry was read.
    const int closed = unzCloseCurrentFile(handle_);
    if (failure == ReadFailure::kNone && total != entry.size) failure = ReadFailure::kShort;
    if (failure == ReadFailure::kNone && closed != UNZ_OK) failure = ReadFailure::kCrc;
    readFailure_ = failure;
    return failure == ReadFailure::kNone;
}

// An encrypted entry is read raw (the reader gives its bytes as stored) and
// decrypted, inflated and checked here. Like the reader, the header's check
// byte is not trusted: a wrong password shows as bad data or a CRC error.
XZip::ReadFailure XZip::ReadEncrypted(const Entry& entry, Sink sink, void* context, uint32_t chunk) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
        (info.compression_method != 0 && info.compression_method != Z_DEFLATED) ||
        info.compressed_size < kCryptHeader)
        return ReadFailure::kCannotOpen;
    if (unzOpenCurrentFile3(handle_, nullptr, nullptr, 1, nullptr) != UNZ_OK) return ReadFailure::kCannotOpen;
    ExpectedData expected(window_, handle_, info.compressed_size);
    const bool deflated = info.compression_method == Z_DEFLATED;
    uint8_t* out = reinterpret_cast<uint8_t*>(buffer_.get());
    uint8_t* raw = out + chunk;
    z_stream z = {};
    if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        unzCloseCurrentFile(handle_);
        return ReadFailure::kCannotOpen;
    }
    ZipCryptoKeys keys(password_.c_str());
    ReadFailure failure = ReadFailure::kNone;
    uint64_t total = 0;
    uint32_t crc = crc32(0, nullptr, 0);
    uint32_t header = 0;  // of the 12 bytes before the data, read so far
    bool ended = false;
    auto deliver = [&](const uint8_t* bytes, uint32_t count) {
        crc = Crc32(crc, bytes, count);
        return Deliver(bytes, count, entry.size, &total, sink, context);
    };
    while (failure == ReadFailure::kNone && !ended) {
        const int n = unzReadCurrentFile(handle_, raw, kRawPiece);
        if (n < 0) failure = ReadFailure::kData;
        if (n <= 0) break;
        if (decryptor_) decryptor_->Decrypt(keys, raw, uint32_t(n));
        else keys.Decrypt(raw, uint32_t(n));
        uint32_t skip = std::min(kCryptHeader - header, uint32_t(n));
        header += skip;
        const uint8_t* data = raw + skip;
        const uint32_t size = uint32_t(n) - skip;
        if (!deflated) {
            for (uint32_t at = 0; at < size && failure == ReadFailure::kNone;) {
                const uint32_t piece = std::min(chunk, size - at);
                failure = deliver(data + at, piece);
                at += piece;
            }
            continue;
        }
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = size;
        // A full piece may leave more held back, whether or not input is left.
        do {
            z.next_out = out;
            z.avail_out = chunk;
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) ended = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR) failure = ReadFailure::kData;
            const uint32_t made = chunk - z.avail_out;
            if (made > 0 && failure == ReadFailure::kNone) failure = deliver(out, made);
        } while (failure == ReadFailure::kNone && !ended && (z.avail_in > 0 || z.avail_out == 0));
    }
    if (deflated) inflateEnd(&z);
    unzCloseCurrentFile(handle_);
    if (failure == ReadFailure::kNone && total != entry.size) failure = ReadFailure::kShort;
    if (failure == ReadFailure::kNone && crc != uint32_t(info.crc)) failure = ReadFailure::kCrc;
    return failure;
}

bool XZip::PlainRange(int index, uint64_t* offset, uint64_t* size) {
    if (!offset || !size || !GoTo(index)) return false;
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (info.compression_method != 0 || (info.flag & 1) != 0 ||
        info.compressed_size != info.uncompressed_size)
        return false;
    // Opened raw only to learn where the data starts past the local header.
    if (unzOpenCurrentFile2(handle_, nullptr, nullptr, 1) != UNZ_OK) return false;
    *offset = unzGetCurrentFileZStreamPos64(handle_);
    *size = info.compressed_size;
    unzCloseCurrentFile(handle_);
    return *offset != 0;
}

namespace {

struct FillContext {
    uint8_t* at;
    uint32_t left;
};

bool FillPiece(const void* bytes, uint32_t count, void* context) {
    auto* c = static_cast<FillContext*>(context);
    if (count > c->left) return false;
    std::memcpy(c->at, bytes, count);
    c->at += count;
    c->left -= count;
    return true;
}

}  // namespace

bool XZip::ExtractByIndex(int index, XData* out) {
    if (!out) return false;
    const uint64_t size = SizeOf(index);
    if (!handle_ || index < 0 || size_t(index) >= Entries().size() || size > 0x7FFFFFFF) return false;
    if (!out->Resize(uint32_t(size), true)) {
        out->Free();
        return false;
    }
    FillContext context{out->data, uint32_t(size)};
    if (!Read(index, FillPiece, &context, 1u << 20)) {
        out->Free();
        return false;
    }
    out->SetSize(uint32_t(size));
    return true;
}

bool XZip::ExtractByName(const wchar_t* name, XData* out) {
    if (!out) return false;
    int index = Find(name, nullptr);
    if (index < 0) return false;
    if (!ExtractByIndex(index, out)) {
        out->Free();
        return false;
    }
    return true;
}
