// Brings an installation directory in line with an update manifest fetched
// over HTTP: every listed file is downloaded unless it is already present
// with the right size and digest, and entries marked for deletion go away.
#pragma once

#include <cstdint>
#include <vector>

#include "client/update_info.h"

// (total bytes of the manifest, bytes of entries done so far plus the bytes
// received of the current one, file name when an entry starts or null, user)
using DownloadCallback = void (*)(uint32_t total, uint32_t done, const wchar_t* file, void* user);

// How often and how patiently an entry is tried. A failure that another try
// may mend (no connection, time-out, cut body, 408, 429, 5xx) waits
// firstWaitMs, then twice that and so on up to longestWaitMs, or what the
// server's Retry-After asks up to retryAfterLimitMs.
struct DownloadPolicy {
    uint32_t attempts = 4;
    uint32_t firstWaitMs = 1000;
    uint32_t longestWaitMs = 4000;
    uint32_t retryAfterLimitMs = 30000;
    // Entries fetched at once by DownloadConcurrently (1 to 4).
    uint32_t connections = 3;
};

enum class DownloadEvent {
    kRetrying,  // an attempt failed, another follows after waitMs
    kFailed,    // the entry is given up
};

struct DownloadNotice {
    const wchar_t* file;  // the entry's name as the manifest gives it
    DownloadEvent event;
    uint32_t attempt;   // kRetrying: the one about to be made, from 2 on
    uint32_t attempts;  // of the policy
    uint32_t waitMs;
    uint32_t status;    // the last answer's HTTP status, 0 when none came
    uint32_t error;     // the last WinINet error, 0 when none
    bool certificate;   // the server's certificate was refused
};

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
    DownloadPolicy policy;
    // Optional, all with `user`. stopped is asked after every read and
    // before every attempt: true ends the entry (what arrived stays for a
    // later run when it can be continued). wait waits ms unless a stop comes first, answering false then;
    // without it a retry waits out its time. notice tells of retries and
    // of entries given up.
    bool (*stopped)(void* user);
    bool (*wait)(uint32_t ms, void* user);
    void (*notice)(const DownloadNotice& notice, void* user);
};

// The manifest at address, tried as an entry is (retries, waits, notices
// under the last part of the address); false when it cannot be had.
bool FetchManifest(const wchar_t* address, DownloadProgress* progress, std::vector<uint8_t>* bytes);
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
// One entry. The body is written as it arrives to "~dl<name>.part" beside
// the target, which it replaces only once its size and MD5 match the entry.
// A transfer that was cut leaves that file, with "~dl<name>.part.etag" (the
// entry's MD5 and the answer's validator) beside it, so the next attempt, in
// this run or a later one, asks only for the rest; a server without a
// validator, a permanent failure or a wrong body leaves neither. A verified
// download whose target a running program holds stays there too, for the
// next run to put in place without fetching it again.
bool DownloadItem(const wchar_t* directory, DownloadProgress* progress, const UpdateItem* item);
// What DownloadConcurrently tells; all on the calling thread except
// Stopped and Wait, which the pool's threads ask.
class IConcurrentEvents {
public:
    // Bytes of every entry so far: finished ones (installed or not) at their
    // size, plus what arrived of those under way.
    virtual void Bytes(uint64_t done) = 0;
    // Once per entry, in manifest order: when it and all before it are done.
    virtual void Finished(uint32_t index, const UpdateItem* item, bool ok) = 0;
    virtual void Notice(const DownloadNotice& notice) = 0;
    virtual bool Stopped() = 0;
    virtual bool Wait(uint32_t ms) = 0;

protected:
    ~IConcurrentEvents() = default;
};

// The entries of manifest as DownloadItem does them, policy.connections at
// once. A manifest that names a file twice is done one entry at a time, so
// that its later entry still wins. After a stop no entry is begun; those it
// cut short are reported as failed, those never begun not at all.
void DownloadConcurrently(const wchar_t* directory, IUpdateInfo* manifest,
                          const DownloadPolicy& policy, IConcurrentEvents& events);

// After every entry of manifest is in place, what partial files and
// sidecars ("~dl*.part", "~dl*.part.etag") are left in the folders its
// entries go to belong to no entry any more (an earlier release's): they
// go, except one another installer holds open.
void SweepPartials(const wchar_t* directory, IUpdateInfo* manifest);

// The partial file and its sidecar for a target path ("~dl<name>.part",
// or "~dl<8 hex digits>.part" from the name where that would pass
// MAX_PATH); false when the names would not fit capacity.
bool PartialPathsOf(const wchar_t* path, wchar_t* data, wchar_t* side, uint32_t capacity);

// "<url>?ts=800<random 0..32767>"; false when it would not fit capacity.
bool BuildRequestAddress(wchar_t* out, uint32_t capacity, const wchar_t* url);
