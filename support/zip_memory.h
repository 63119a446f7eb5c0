// Sources that minizip reads as a read-only file without a copy being made:
// a memory block, and a window of a file (an archive stored inside another
// one, read where it lies). The one set of sources of every archive reader
// in the program.
#pragma once

#include <cstdint>

struct zlib_filefunc64_def_s;

struct ZipMemorySource {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
};

// Bytes offset .. offset + size of the file at path. The file is opened with
// every sharing mode, so a file its writer holds open (even for deletion on
// close) can be read.
struct ZipFileWindow {
    const wchar_t* path = nullptr;
    uint64_t offset = 0;
    uint64_t size = 0;
    // What the reader is about to read (positions in the window), when it
    // knows: the entry it reads. A refill there reads up to its end; one
    // that carries on where the last ended reads a large piece; any other
    // (a directory record on the way to an entry) only a small one. Only
    // what is read ahead depends on it, never what is read.
    uint64_t expectFrom = 0;
    uint64_t expectTo = 0;
};

// Fill the reader's file-function table; the reader keeps the source
// pointer, so the source must outlive the open archive.
void FillMemoryFileFunctions(zlib_filefunc64_def_s* functions, const ZipMemorySource* source);
void FillFileWindowFunctions(zlib_filefunc64_def_s* functions, const ZipFileWindow* window);

// Reads up to count bytes of the window from its start; answers the bytes read.
uint64_t ReadFileWindow(const ZipFileWindow& window, void* buffer, uint64_t count);
