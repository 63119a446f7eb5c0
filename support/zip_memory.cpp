#include "support/zip_memory.h"

#include <windows.h>

#include <minizip/ioapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "support/handle.h"

namespace {

// A seek inside a source of `size` bytes; never past either end. The reader
// passes backward moves as negative numbers cast to unsigned.
long SeekWithin(uint64_t* position, uint64_t size, ZPOS64_T offset, int origin) {
    int64_t delta = static_cast<int64_t>(offset);
    int64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = int64_t(*position); break;
        case ZLIB_FILEFUNC_SEEK_END: base = int64_t(size); break;
        default: return -1;
    }
    if ((delta > 0 && delta > int64_t(size) - base) || (delta < 0 && -delta > base)) return -1;
    *position = uint64_t(base + delta);
    return 0;
}

struct MemoryCursor {
    const ZipMemorySource* source;
    uint64_t position;
    uint64_t Size() const { return source->size; }
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

// Sources are read-only.
uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

// The reader asks for a byte or a header at a time while it walks headers:
// each would be a system call (and under Wine sometimes a server round trip),
// so reads come from a buffer filled a large piece at a time.
constexpr uint32_t kWindowBuffer = 256 * 1024;
constexpr uint32_t kSmallFill = 4 * 1024;

// A window's cursor: the open file, the position inside the window, and
// the bytes buffered from bufferStart on.
struct WindowCursor {
    const ZipFileWindow* window;
    UniqueFile file;
    uint64_t position;
    std::unique_ptr<uint8_t[]> buffer;
    uint64_t bufferStart;
    uint32_t bufferLength;
    uint64_t Size() const { return window->size; }
};

HANDLE OpenShared(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A seek, then plain reads. (A read given its position in an OVERLAPPED
// costs Wine a round trip to its server for the completion it might owe a
// completion port; seek and read are system calls of the process alone.)
uint64_t ReadAt(HANDLE file, uint64_t at, void* buffer, uint64_t count) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(at);
    if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) return 0;
    uint64_t done = 0;
    while (done < count) {
        DWORD want = count - done > (1u << 30) ? (1u << 30) : DWORD(count - done), got = 0;
        if (!ReadFile(file, static_cast<uint8_t*>(buffer) + done, want, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

voidpf ZCALLBACK WindowOpen(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    auto* window = static_cast<const ZipFileWindow*>(opaque);
    UniqueFile file(OpenShared(window->path));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kWindowBuffer]);
    if (!file || !buffer) return nullptr;
    return new (std::nothrow) WindowCursor{window, std::move(file), 0, std::move(buffer), 0, 0};
}

// How much a refill at the cursor's position reads (see ZipFileWindow).
// Entries are taken out of order by several readers, so a whole buffer read
// at every jump was mostly thrown away: two jumps an entry (its directory
// record, then its data), a quarter megabyte each, for entries of some
// tens of kilobytes.
uint64_t FillSize(const WindowCursor& c) {
    const ZipFileWindow& w = *c.window;
    const uint64_t p = c.position;
    uint64_t fill = kWindowBuffer;
    if (p >= w.expectFrom && p < w.expectTo) {
        fill = std::max<uint64_t>(w.expectTo - p, kSmallFill);
    } else if (p != c.bufferStart + c.bufferLength) {
        fill = kSmallFill;
    }
    fill = std::min<uint64_t>(fill, kWindowBuffer);
    return std::min(fill, w.size - p);
}

uLong ZCALLBACK WindowRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* c = static_cast<WindowCursor*>(stream);
    const uint64_t left = c->window->size - c->position;
    const uint64_t want = left < size ? left : size;
    auto* out = static_cast<uint8_t*>(buf);
    uint64_t done = 0;
    while (done < want) {
        if (c->position >= c->bufferStart && c->position < c->bufferStart + c->bufferLength) {
            uint64_t at = c->position - c->bufferStart;
            uint64_t n = c->bufferLength - at;
            if (n > want - done) n = want - done;
            std::memcpy(out + done, c->buffer.get() + at, size_t(n));
            done += n;
            c->position += n;
            continue;
        }
        if (want - done >= kWindowBuffer) {
            // A large read goes straight to the caller's memory.
            uint64_t n = ReadAt(c->file.get(), c->window->offset + c->position, out + done, want - done);
            done += n;
            c->position += n;
            break;
        }
        uint64_t fill = FillSize(*c);
        c->bufferStart = c->position;
        c->bufferLength = uint32_t(ReadAt(c->file.get(), c->window->offset + c->position,
                                          c->buffer.get(), fill));
        if (c->bufferLength == 0) break;
    }
    return static_cast<uLong>(done);
}

// What both kinds of source do alike: position, seek, close; never write.
template <class Cursor>
ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) {
    return static_cast<Cursor*>(stream)->position;
}

template <class Cursor>
long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* cursor = static_cast<Cursor*>(stream);
    return SeekWithin(&cursor->position, cursor->Size(), offset, origin);
}

template <class Cursor>
int ZCALLBACK Close(voidpf, voidpf stream) {
    delete static_cast<Cursor*>(stream);
    return 0;
}

template <class Cursor>
void Fill(zlib_filefunc64_def* functions, open64_file_func open, read_file_func read, void* source) {
    *functions = {};
    functions->zopen64_file = open;
    functions->zread_file = read;
    functions->zwrite_file = MemoryWrite;
    functions->ztell64_file = Tell<Cursor>;
    functions->zseek64_file = Seek<Cursor>;
    functions->zclose_file = Close<Cursor>;
    functions->zerror_file = MemoryError;
    functions->opaque = source;
}

}  // namespace

void FillFileWindowFunctions(zlib_filefunc64_def* functions, const ZipFileWindow* window) {
    Fill<WindowCursor>(functions, WindowOpen, WindowRead, const_cast<ZipFileWindow*>(window));
}

uint64_t ReadFileWindow(const ZipFileWindow& window, void* buffer, uint64_t count) {
    UniqueFile file(OpenShared(window.path));
    if (!file) return 0;
    return ReadAt(file.get(), window.offset, buffer, count < window.size ? count : window.size);
}

void FillMemoryFileFunctions(zlib_filefunc64_def* functions, const ZipMemorySource* source) {
    Fill<MemoryCursor>(functions, MemoryOpen, MemoryRead, const_cast<ZipMemorySource*>(source));
}
