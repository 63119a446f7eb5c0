#include "support/zip_memory.h"

#include <minizip/ioapi.h>

#include <cstring>
#include <new>

namespace {

struct MemoryCursor {
    const ZipMemorySource* source;
    uint64_t position;
};

voidpf ZCALLBACK MemoryOpen(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return new (std::nothrow) MemoryCursor{static_cast<const ZipMemorySource*>(opaque), 0};
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* cursor = static_cast<MemoryCursor*>(stream);
    uint64_t left = cursor->source->size - cursor->position;
    uLong n = left < size ? static_cast<uLong>(left) : size;
    std::memcpy(buf, cursor->source->bytes + cursor->position, n);
    cursor->position += n;
    return n;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream) {
    return static_cast<MemoryCursor*>(stream)->position;
}

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* cursor = static_cast<MemoryCursor*>(stream);
    // The reader passes backward moves as negative numbers cast to unsigned.
    int64_t delta = static_cast<int64_t>(offset);
    int64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = int64_t(cursor->position); break;
        case ZLIB_FILEFUNC_SEEK_END: base = int64_t(cursor->source->size); break;
        default: return -1;
    }
    int64_t size = int64_t(cursor->source->size);
    if ((delta > 0 && delta > size - base) || (delta < 0 && -delta > base)) return -1;
    cursor->position = uint64_t(base + delta);
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf stream) {
    delete static_cast<MemoryCursor*>(stream);
    return 0;
}

int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

}  // namespace

void FillMemoryFileFunctions(zlib_filefunc64_def* functions, const ZipMemorySource* source) {
    *functions = {};
    functions->zopen64_file = MemoryOpen;
    functions->zread_file = MemoryRead;
    functions->zwrite_file = MemoryWrite;
    functions->ztell64_file = MemoryTell;
    functions->zseek64_file = MemorySeek;
    functions->zclose_file = MemoryClose;
    functions->zerror_file = MemoryError;
    functions->opaque = const_cast<ZipMemorySource*>(source);
}
