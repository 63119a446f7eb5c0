// Removal of an installation by its record ("uninst.dat"): what the
// installer put in place goes, whatever the game or the player made later
// stays, and nothing is ever found by wildcard.
#pragma once

#include <cstdint>
#include <string>

class CAppFile;

struct RemovalResult {
    uint32_t removed = 0;  // files and folders removed
    uint32_t failed = 0;   // files that exist but could not be removed
    uint32_t skipped = 0;  // names that would lead outside the directory
};

// installDir ends with "\". Files of the record first, last written first
// (a name ending in "\" is a folder); then the record's folders and the
// folders the removed files were in, deepest first, each only when it is
// empty, never the directory itself or anything above it. A name that is
// absolute, carries a drive or climbs out with ".." is skipped. keep (may
// be empty) is a file left in place: the running uninstaller's own.
RemovalResult RemoveRecorded(const std::wstring& installDir, const CAppFile& record,
                             const std::wstring& keep);
