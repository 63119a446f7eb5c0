#include "app/zip_stream.h"

#include <windows.h>

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/unzip.h>

#include <cstring>
#include <memory>
#include <new>

#include "support/zip_memory.h"

ZipStream::~ZipStream() { Close(); }

void ZipStream::Close() {
    if (handle_) unzClose(static_cast<unzFile>(handle_));
    handle_ = nullptr;
    entries_.clear();
    memory_ = MemorySource();
    window_ = ZipFileWindow();
    windowPath_.clear();
}

bool ZipStream::OpenFromMemory(const void* bytes, uint64_t size, const char* password) {
    if (handle_ || !bytes) return false;
    memory_.bytes = static_cast<const uint8_t*>(bytes);
    memory_.size = size;
    zlib_filefunc64_def functions;
    FillMemoryFileFunctions(&functions, &memory_);  // the reader keeps &memory_ until Close
    // unzOpen2_64 needs a non-null name; the memory callbacks ignore it.
    handle_ = unzOpen2_64("memory", &functions);
    if (!handle_) {
        memory_ = MemorySource();
        return false;
    }
    SetPassword(password);
    if (!Index()) {
        Close();
        return false;
    }
    return true;
}

bool ZipStream::OpenFromFile(const wchar_t* path, const char* password) {
    if (handle_ || !path) return false;
    zlib_filefunc64_def functions = {};
    fill_win32_filefunc64W(&functions);
    handle_ = unzOpen2_64(path, &functions);
    if (!handle_) return false;
    SetPassword(password);
    if (!Index()) {
        Close();
        return false;
    }
    return true;
}

bool ZipStream::OpenFromFileWindow(const wchar_t* path, uint64_t offset, uint64_t size,
                                   const char* password) {
    if (handle_ || !path) return false;
    windowPath_ = path;
    window_ = {windowPath_.c_str(), offset, size};
    zlib_filefunc64_def functions;
    FillFileWindowFunctions(&functions, &window_);  // kept by the reader until Close
    handle_ = unzOpen2_64("window", &functions);
    if (!handle_) {
        Close();
        return false;
    }
    SetPassword(password);
    if (!Index()) {
        Close();
        return false;
    }
    return true;
}

bool ZipStream::PlainRange(int index, uint64_t* offset, uint64_t* size) {
    if (!handle_ || index < 0 || index >= Count()) return false;
    auto zip = static_cast<unzFile>(handle_);
    unz64_file_pos pos{entries_[index].directoryOffset, entries_[index].fileNumber};
    unz_file_info64 info;
    if (unzGoToFilePos64(zip, &pos) != UNZ_OK ||
        unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (info.compression_method != 0 || (info.flag & 1) != 0 ||
        info.compressed_size != info.uncompressed_size)
        return false;
    // Opened raw only to learn where the data starts past the local header.
    if (unzOpenCurrentFile2(zip, nullptr, nullptr, 1) != UNZ_OK) return false;
    *offset = unzGetCurrentFileZStreamPos64(zip);
    *size = info.compressed_size;
    unzCloseCurrentFile(zip);
    return *offset != 0;
}

void ZipStream::SetPassword(const char* password) {
    password_.clear();
    if (password) password_.assign(password, password + std::strlen(password));
    password_.push_back(0);
}

bool ZipStream::Index() {
    auto zip = static_cast<unzFile>(handle_);
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return false;
    if (global.number_entry == 0) return true;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz64_file_pos pos;
        unz_file_info64 info;
        if (unzGetFilePos64(zip, &pos) != UNZ_OK ||
            unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        entries_.push_back({pos.pos_in_zip_directory, pos.num_of_file, info.uncompressed_size});
        rc = unzGoToNextFile(zip);
    }
    return rc == UNZ_END_OF_LIST_OF_FILE && entries_.size() == global.number_entry;
}

uint64_t ZipStream::SizeOf(int index) const {
    if (index < 0 || index >= Count()) return 0;
    return entries_[index].size;
}

bool ZipStream::Read(int index, Sink sink, void* context, uint32_t chunk) {
    if (!handle_ || !sink || index < 0 || index >= Count() || chunk == 0) return false;
    auto zip = static_cast<unzFile>(handle_);
    unz64_file_pos pos{entries_[index].directoryOffset, entries_[index].fileNumber};
    if (unzGoToFilePos64(zip, &pos) != UNZ_OK) return false;
    if (unzOpenCurrentFilePassword(zip, password_[0] ? password_.data() : nullptr) != UNZ_OK)
        return false;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[chunk]);
    bool ok = buffer != nullptr;
    uint64_t total = 0;
    while (ok) {
        int n = unzReadCurrentFile(zip, buffer.get(), chunk);
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += static_cast<uint32_t>(n);
        // More bytes than the directory promised means a lying archive.
        if (total > entries_[index].size) ok = false;
        else if (!sink(buffer.get(), static_cast<uint32_t>(n), context)) ok = false;
    }
    // The CRC (and with it a wrong password on a stored entry) is checked here.
    int closed = unzCloseCurrentFile(zip);
    return ok && closed == UNZ_OK && total == entries_[index].size;
}
