// A memory block seen by minizip as a read-only file: the one memory source
// of every archive reader in the program (no copy of the block is made).
#pragma once

#include <cstdint>

struct zlib_filefunc64_def_s;

struct ZipMemorySource {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
};

// Fills the reader's file-function table; the reader keeps the source
// pointer, so the source must outlive the open archive.
void FillMemoryFileFunctions(zlib_filefunc64_def_s* functions, const ZipMemorySource* source);
