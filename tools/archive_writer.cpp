#include "tools/archive_writer.h"

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <vector>

#include "support/digest.h"
#include "support/handle.h"

namespace {

constexpr unsigned kChunk = 256 * 1024;

ToolError Error(const std::wstring& file, const std::wstring& reason) { return ToolError{file, reason}; }

}  // namespace

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::wstring LastErrorText(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = n && text ? std::wstring(text, n) : L"";
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L'.'))
        out.pop_back();
    wchar_t number[32];
    swprintf(number, 32, L"error %lu", static_cast<unsigned long>(code));
    return out.empty() ? std::wstring(number) : out + L" (" + number + L")";
}

uint32_t DosDateOf(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time))
        return 0x00210000;  // 1980-01-01, the earliest DOS date
    return uint32_t(date) << 16 | time;
}

ArchiveWriter::~ArchiveWriter() {
    if (zip_) zipClose(static_cast<zipFile>(zip_), nullptr);
}

bool ArchiveWriter::Create(const std::wstring& path, ToolError* error) {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    path_ = path;
    zip_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip_) {
        *error = Error(path, L"cannot create the file: " + LastErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool ArchiveWriter::AddFolder(const std::string& name, const EntryOptions& options, ToolError* error) {
    EntryOptions folder = options;
    folder.deflate = false;
    folder.password = nullptr;  // nothing to hide in an empty entry
    folder.externalAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    return BeginEntry(name, 0, 0, folder, error) && EndEntry(FromUtf8(name), error);
}

bool ArchiveWriter::BeginEntry(const std::string& name, uint32_t crc, uint64_t size,
                               const EntryOptions& options, ToolError* error) {
    zip_fileinfo info = {};
    info.dosDate = options.dosDate ? options.dosDate : 0x00210000;
    info.external_fa = options.externalAttributes;
    int method = options.deflate ? Z_DEFLATED : 0;
    int level = options.deflate ? Z_BEST_COMPRESSION : 0;
    if (zipOpenNewFileInZip4_64(static_cast<zipFile>(zip_), name.c_str(), &info, nullptr, 0, nullptr, 0,
                                nullptr, method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                options.password, crc, options.versionMadeBy,
                                options.utf8Name ? 0x800 : 0, size >= 0xFFFFFFFFull) != ZIP_OK) {
        *error = Error(path_, L"cannot add the entry " + FromUtf8(name));
        return false;
    }
    entryOpen_ = true;
    entrySize_ = size;
    entryWritten_ = 0;
    return true;
}

bool ArchiveWriter::WritePiece(const void* bytes, unsigned count, ToolError* error) {
    entryWritten_ += count;
    if (zipWriteInFileInZip(static_cast<zipFile>(zip_), bytes, count) != ZIP_OK) {
        AbandonEntry();
        *error = Error(path_, L"cannot be written (disk full?)");
        return false;
    }
    return true;
}

bool ArchiveWriter::EndEntry(const std::wstring& source, ToolError* error) {
    entryOpen_ = false;
    if (zipCloseFileInZip(static_cast<zipFile>(zip_)) != ZIP_OK) {
        *error = Error(path_, L"cannot be written (disk full?)");
        return false;
    }
    if (entryWritten_ != entrySize_) {
        *error = Error(source, L"changed while it was being packed");
        return false;
    }
    ++count_;
    return true;
}

void ArchiveWriter::AbandonEntry() {
    if (entryOpen_) zipCloseFileInZip(static_cast<zipFile>(zip_));
    entryOpen_ = false;
}

bool ArchiveWriter::AddStream(const std::string& name, uint32_t crc, uint64_t size,
                              const ChunkReader& read, const EntryOptions& options,
                              const std::wstring& source, ToolError* error) {
    if (!BeginEntry(name, crc, size, options, error)) return false;
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        int got = read(buffer.data(), kChunk);
        if (got < 0) {
            AbandonEntry();
            *error = Error(source, L"cannot be read: " + LastErrorText(GetLastError()));
            return false;
        }
        if (got == 0) return EndEntry(source, error);
        if (!WritePiece(buffer.data(), unsigned(got), error)) return false;
    }
}

bool ArchiveWriter::AddFile(const std::string& name, const std::wstring& path,
                            const EntryOptions& options, XMD5* digest, ToolError* error) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        *error = Error(path, L"cannot be opened: " + LastErrorText(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION about;
    if (!GetFileInformationByHandle(file.get(), &about)) {
        *error = Error(path, L"cannot be read: " + LastErrorText(GetLastError()));
        return false;
    }
    uint64_t size = uint64_t(about.nFileSizeHigh) << 32 | about.nFileSizeLow;
    auto reader = [&file](uint8_t* buffer, unsigned capacity) -> int {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, capacity, &got, nullptr)) return -1;
        return int(got);
    };

    // First pass: the CRC seeds the encryption header, so it comes first.
    std::vector<uint8_t> buffer(kChunk);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t seen = 0;
    for (;;) {
        int got = reader(buffer.data(), kChunk);
        if (got < 0) {
            *error = Error(path, L"cannot be read: " + LastErrorText(GetLastError()));
            return false;
        }
        if (got == 0) break;
        crc = crc32(crc, buffer.data(), unsigned(got));
        if (digest) digest->Update(buffer.data(), unsigned(got));
        seen += unsigned(got);
    }
    if (seen != size) {
        *error = Error(path, L"changed while it was being packed");
        return false;
    }
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN)) {
        *error = Error(path, L"cannot be read: " + LastErrorText(GetLastError()));
        return false;
    }
    EntryOptions entry = options;
    entry.dosDate = DosDateOf(about.ftLastWriteTime);
    // Only the bits an installer should reproduce; read-only copies would
    // block a later repair or update.
    entry.externalAttributes = (about.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) | FILE_ATTRIBUTE_ARCHIVE;
    return AddStream(name, uint32_t(crc), size, reader, entry, path, error);
}

bool ArchiveWriter::Close(ToolError* error) {
    if (!zip_) return true;
    int rc = zipClose(static_cast<zipFile>(zip_), nullptr);
    zip_ = nullptr;
    if (rc != ZIP_OK) {
        *error = Error(path_, L"cannot be completed (disk full?)");
        return false;
    }
    return true;
}
