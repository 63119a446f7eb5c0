// Where the installer finds its payload: the packed "TAIL" resource of its
// own executable, else the .zip file of the same base name beside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "support/data.h"
#include "support/handle.h"

class XZip;

// The payload's bytes when they come from the resource: a plain archive is
// read where the executable is mapped (pages come in as they are read); one
// in the scrambled container of older packages has to be unscrambled whole
// into a copy. Empty for the archive beside. Must outlive the archive's use.
struct PayloadBytes {
    UniqueModule module;
    XData copy;
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    // Where the mapped resource starts in the executable's file, so the
    // bulk of it can be read from the file (through the system's cache)
    // instead of through the mapping, which would count against the
    // process's memory as it is touched.
    static constexpr uint64_t kNotInFile = ~uint64_t(0);
    uint64_t fileOffset = kNotInFile;
};

// Where `size` bytes at `mapped`, a resource of module (loaded from
// executable as a data file, or running as an image), lie in the file;
// PayloadBytes::kNotInFile when that cannot be told for certain.
uint64_t ResourceFileOffset(const wchar_t* executable, HMODULE module, const uint8_t* mapped,
                            uint32_t size);

// For the running executable.
bool OpenPayload(XZip& zip, PayloadBytes& bytes);
// The same search for any executable file.
bool OpenPayloadOf(const wchar_t* executable, XZip& zip, PayloadBytes& bytes);
// The neighbouring archive's path: everything after the last "." replaced
// by "zip". False when the path has no "." or the result does not fit.
bool PayloadZipPath(const wchar_t* executable, wchar_t* out, size_t capacity);
