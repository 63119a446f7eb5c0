// Brings an installation directory in line with an update manifest fetched
// over HTTP: every listed file is downloaded unless it is already present
// with the right size and digest, and entries marked for deletion go away.
#pragma once

#include <cstdint>

#include "client/update_info.h"

// (total bytes of the manifest, bytes of entries done so far plus the bytes
// received of the current one, file name when an entry starts or null, user)
using DownloadCallback = void (*)(uint32_t total, uint32_t done, const wchar_t* file, void* user);

// Owned by the caller; the procedure reports through it on the calling thread.
struct DownloadProgress {
    uint32_t total;
    uint32_t done;
    // The manifest's MD5 (32 upper-case digits). Left empty unless every
    // entry was brought in line, so a partial installation is not recorded
    // as the current release.
    wchar_t digest[294];
    DownloadCallback callback;
    void* user;
};

// Fetches the manifest at address and applies it to directory.
void DownloadManifestAndFiles(const wchar_t* address, const wchar_t* directory,
                              DownloadProgress* progress);
// Digest, parse, DownloadAll; false when the manifest cannot be read or an
// entry failed.
bool ApplyManifest(DownloadProgress* progress, const wchar_t* directory, const void* bytes,
                   uint32_t count);
// Every entry in order; a failed entry does not stop the others. True when
// all of them succeeded.
bool DownloadAll(DownloadProgress* progress, const wchar_t* directory, IUpdateInfo* manifest);
// One entry. A download is written only when its size and MD5 match the
// entry, under a temporary name that replaces the target once complete.
bool DownloadItem(const wchar_t* directory, DownloadProgress* progress, const UpdateItem* item);

// True for a path that stays inside the directory it is joined to: relative,
// no drive or stream colon, no empty, "." or ".." level, no device name.
bool IsSafeRelativePath(const wchar_t* file);
// "<url>?ts=800<random 0..32767>"; false when it would not fit capacity.
bool BuildRequestAddress(wchar_t* out, uint32_t capacity, const wchar_t* url);
