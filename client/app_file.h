// The installed-file record: every relative path the installer wrote, in
// order, saved as "uninst.dat" for the uninstaller.
#pragma once

#include <cstdint>

#include "support/fixed_string.h"

constexpr uint32_t kAppFileMaxEntries = 10000;

class CAppFile {
public:
    CAppFile() = default;
    virtual ~CAppFile();
    CAppFile(const CAppFile&) = delete;
    CAppFile& operator=(const CAppFile&) = delete;

    // Index of the stored copy (cut to 511 characters), or -1 for a null or
    // empty name, a full record, or no memory.
    int AddEntry(const wchar_t* relativePath);
    void Clear();

    // The slot after the last entry is always null.
    FixedString<511>* entries[kAppFileMaxEntries + 1] = {};
    uint32_t count = 0;
};

// Writes FF FE, then each entry in UTF-16LE followed by "|". The file is
// written under a temporary name and then put in place, so a failure leaves
// any earlier file as it was. True when the whole record was written.
bool SaveUninstallRecord(const CAppFile& record, const wchar_t* path);
// Reads a record written by SaveUninstallRecord (with or without FF FE) into
// `record`, after what it holds. False when the file cannot be read; names
// are taken as they stand, so callers check them before use.
bool LoadUninstallRecord(CAppFile& record, const wchar_t* path);
