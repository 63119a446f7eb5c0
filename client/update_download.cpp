#include "client/update_download.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <atomic>
#include <cwctype>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "support/entry_name.h"
#include "support/data.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "support/internet.h"
#include "support/shell.h"

namespace {

constexpr uint32_t kAddressCapacity = 1024;
constexpr uint32_t kLocalPathCapacity = 512;

void Report(DownloadProgress* p, uint32_t total, uint32_t done, const wchar_t* file) {
    if (p && p->callback) p->callback(total, done, file, p->user);
}

// Sizes from a manifest are not trusted to be sane.
uint32_t Counted(const UpdateItem* item) { return item->size > 0 ? uint32_t(item->size) : 0; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Joins directory and file with exactly one backslash, '/' turned into '\'.
bool JoinPath(wchar_t* out, uint32_t capacity, const wchar_t* directory, const wchar_t* file) {
    size_t d = wcslen(directory);
    bool slash = d > 0 && IsSeparator(directory[d - 1]);
    int n = swprintf(out, capacity, slash ? L"%ls%ls" : L"%ls\\%ls", directory, file);
    if (n < 0 || uint32_t(n) >= capacity) return false;
    for (wchar_t* c = out + d; *c; ++c)
        if (*c == L'/') *c = L'\\';
    return true;
}

// The canonical form of path must lie under the canonical directory, so that
// nothing the lexical check missed can reach outside it.
bool StaysInside(const wchar_t* directory, const wchar_t* path) {
    wchar_t base[MAX_PATH * 2];
    wchar_t full[MAX_PATH * 2];
    DWORD b = GetFullPathNameW(directory, MAX_PATH * 2, base, nullptr);
    DWORD f = GetFullPathNameW(path, MAX_PATH * 2, full, nullptr);
    if (b == 0 || b >= MAX_PATH * 2 || f == 0 || f >= MAX_PATH * 2) return false;
    if (b > 0 && base[b - 1] != L'\\') {
        if (b + 1 >= MAX_PATH * 2) return false;
        base[b++] = L'\\';
        base[b] = 0;
    }
    return f > b && _wcsnicmp(base, full, b) == 0;
}

// The local path of an entry, or false when the entry must be refused.
bool LocalPathOf(wchar_t* out, const wchar_t* directory, const UpdateItem* item) {
    if (!directory || !directory[0]) return false;
    if (!item->file[0] || !item->url[0]) return false;
    if (!IsContainedFileName(item->file)) return false;
    return JoinPath(out, kLocalPathCapacity, directory, item->file) &&
           StaysInside(directory, out);
}

bool DigestsMatch(const wchar_t* actual, const wchar_t* expected) {
    return _wcsicmp(actual, expected) == 0;
}

bool IsUpToDate(const wchar_t* path, const UpdateItem* item) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    // Size first: a digest is only worth computing for a file of the right size.
    if (item->size < 0 || info.nFileSizeHigh != 0 || info.nFileSizeLow != uint32_t(item->size))
        return false;
    wchar_t digest[33] = {};
    return DigestOfFile(digest, path, true) && DigestsMatch(digest, item->md5);
}

void HexDigest(XMD5& md5, wchar_t digest[33]) {
    uint8_t raw[16];
    md5.Final(raw);
    ToHex(digest, 32, raw, 16, true);
    digest[32] = 0;
}

// Creates every missing level of the folder that will hold path.
bool Truncate(HANDLE file) {
    LARGE_INTEGER zero = {};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The sidecar: the entry's MD5, a line break, the validator; UTF-16.
bool ReadSidecar(const wchar_t* side, std::wstring* md5, std::wstring* validator) {
    UniqueFile file(CreateFileW(side, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    wchar_t text[600];
    DWORD got = 0;
    if (!ReadFile(file.get(), text, sizeof(text) - sizeof(wchar_t), &got, nullptr)) return false;
    text[got / sizeof(wchar_t)] = 0;
    wchar_t* cut = wcschr(text, L'\n');
    if (!cut) return false;
    md5->assign(text, size_t(cut - text));
    validator->assign(cut + 1);
    return !validator->empty();
}

bool WriteSidecar(const wchar_t* side, const wchar_t* md5, const std::wstring& validator) {
    std::wstring text = std::wstring(md5) + L"\n" + validator;
    return SaveBytes(side, text.data(), uint32_t(text.size() * sizeof(wchar_t)));
}

// What is already on disk of an entry, checked before a request: bytes that
// came from an answer with a validator and for this very entry.
struct Partial {
    UniqueFile file;
    uint64_t have = 0;
    std::wstring validator;
    XMD5 md5;
    bool sidecar = false;  // one may lie beside the file
};

// Bodies smaller than this are not worth a sidecar: cut, they are fetched
// again whole, and the thousands of small files of a client are spared a
// file written and deleted beside each.
constexpr uint64_t kResumableSize = 1u << 20;

// Opens (or makes) the partial file and hashes what it holds, or empties it
// when it cannot be continued. The file is held without sharing, so a second
// installer in the same folder cannot write into it at the same time.
bool OpenPartial(const wchar_t* data, const wchar_t* side, const UpdateItem* item, Partial* p) {
    // DELETE: a whole file is renamed into place through this handle.
    p->file.reset(CreateFileW(data, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!p->file) return false;
    const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
    p->md5.Init();
    p->have = 0;
    p->validator.clear();
    // The usual case: nothing was left, so there is nothing to check.
    p->sidecar = !made;
    if (made) return true;
    LARGE_INTEGER size = {};
    std::wstring md5;
    if (!GetFileSizeEx(p->file.get(), &size) || size.QuadPart <= 0 ||
        uint64_t(size.QuadPart) > uint64_t(item->size) || !ReadSidecar(side, &md5, &p->validator) ||
        !DigestsMatch(md5.c_str(), item->md5)) {
        p->validator.clear();
        DeleteFileW(side);
        p->sidecar = false;
        return Truncate(p->file.get());
    }
    static constexpr DWORD kBlock = 1 << 16;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kBlock]);
    if (!block) return false;
    uint64_t left = uint64_t(size.QuadPart);
    while (left > 0) {
        DWORD got = 0;
        DWORD want = left < kBlock ? DWORD(left) : kBlock;
        if (!ReadFile(p->file.get(), block.get(), want, &got, nullptr) || got == 0) break;
        p->md5.Update(block.get(), got);
        left -= got;
    }
    if (left != 0) {
        p->md5.Init();
        p->validator.clear();
        DeleteFileW(side);
        p->sidecar = false;
        return Truncate(p->file.get());
    }
    p->have = uint64_t(size.QuadPart);
    return true;
}

// kNotReplaced: whole and verified, but the target could not be replaced
// (a running program holds it); kept for the next run to put in place.
enum class Attempt { kInstalled, kTransient, kPermanent, kStopped, kNotReplaced };

struct EntryRun {
    const wchar_t* path;
    const UpdateItem* item;
    DownloadProgress* progress;
    uint32_t base;  // done before this entry
    wchar_t data[kLocalPathCapacity];
    wchar_t side[kLocalPathCapacity];
    // Of the last attempt's answer.
    uint32_t status = 0;
    uint32_t error = 0;
    bool hasRetryAfter = false;
    uint32_t retryAfter = 0;
};

bool Stopped(DownloadProgress* p) { return p && p->stopped && p->stopped(p->user); }

void ReportBytes(EntryRun& run, uint64_t have) {
    DownloadProgress* p = run.progress;
    if (!p) return;
    uint64_t done = uint64_t(run.base) + have;
    Report(p, p->total, done > UINT32_MAX ? UINT32_MAX : uint32_t(done), nullptr);
}

// Takes the body into the partial file, from where the file ends.
class PartialSink : public IBodySink {
public:
    PartialSink(EntryRun& run, Partial& partial) : run_(run), partial_(partial) {}

    bool Begin(const HttpAnswer& answer) override {
        const uint64_t size = uint64_t(run_.item->size);
        if (answer.whole != size) {
            mismatch_ = true;  // this body can never be the entry's
            return false;
        }
        if (answer.status == 206) {
            if (answer.start != partial_.have) {
                restart_ = true;
                return false;
            }
            return true;
        }
        // A whole body: whatever the file held is of no use.
        if (partial_.have > 0 && !Truncate(partial_.file.get())) return false;
        partial_.md5.Init();
        partial_.have = 0;
        partial_.validator = answer.validator;
        if (answer.validator.empty() || size < kResumableSize) {
            if (partial_.sidecar) DeleteFileW(run_.side);
            partial_.sidecar = false;
            return true;
        }
        partial_.sidecar = true;
        return WriteSidecar(run_.side, run_.item->md5, answer.validator);
    }

    bool KeepGoing() override {
        if (Stopped(run_.progress)) stopped_ = true;
        return !stopped_;
    }

    bool Write(const uint8_t* bytes, uint32_t count) override {
        DWORD written = 0;
        if (!WriteFile(partial_.file.get(), bytes, count, &written, nullptr) || written != count) {
            diskFailed_ = true;
            return false;
        }
        partial_.md5.Update(bytes, count);
        partial_.have += count;
        ReportBytes(run_, partial_.have);
        return true;
    }

    bool mismatch_ = false, restart_ = false, stopped_ = false, diskFailed_ = false;

private:
    EntryRun& run_;
    Partial& partial_;
};

void DropPartial(const EntryRun& run) {
    DeleteFileW(run.data);
    DeleteFileW(run.side);
}

// Bytes without a validator beside them cannot be continued by any later
// request: they go, the others stay for the next attempt or run.
void KeepOnlyResumable(const EntryRun& run) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(run.side, GetFileExInfoStandard, &info)) DropPartial(run);
}

// Once the whole body is on disk: the target is replaced when size and MD5
// match, else the bytes go.
Attempt Finish(EntryRun& run, Partial& partial, bool resumed) {
    wchar_t digest[33] = {};
    HexDigest(partial.md5, digest);
    const bool good = partial.have == uint64_t(run.item->size) && DigestsMatch(digest, run.item->md5);
    const bool renamed = good && RenameOpenFileOver(partial.file.get(), run.path);
    partial.file.reset();
    if (!good) {
        DropPartial(run);
        // Continued bytes may be what spoilt it: once more from the start.
        return resumed ? Attempt::kTransient : Attempt::kPermanent;
    }
    if (!renamed && !MoveOverTarget(run.data, run.path)) {
        // Kept whole and verified for the next run, which finds it by its
        // sidecar, however small it is.
        if (!partial.sidecar && !partial.validator.empty())
            WriteSidecar(run.side, run.item->md5, partial.validator);
        return Attempt::kNotReplaced;
    }
    if (partial.sidecar) DeleteFileW(run.side);
    return Attempt::kInstalled;
}

Attempt TryOnce(EntryRun& run, CInternet& net) {
    Partial partial;
    if (!OpenPartial(run.data, run.side, run.item, &partial)) return Attempt::kTransient;
    if (partial.have > 0) ReportBytes(run, partial.have);
    // Whole already, left by a run that ended before the rename.
    if (partial.have == uint64_t(run.item->size)) return Finish(run, partial, true);

    wchar_t address[kAddressCapacity];
    if (!BuildRequestAddress(address, kAddressCapacity, run.item->url)) return Attempt::kPermanent;
    const uint64_t from = partial.have;
    PartialSink sink(run, partial);
    HttpAnswer answer;
    // A body larger than the entry cannot be the right one; it is refused
    // before anything is read.
    FetchEnd end = net.Fetch(address, from, partial.validator.c_str(), uint64_t(run.item->size),
                             sink, &answer);
    run.status = answer.status;
    run.error = answer.error;
    run.hasRetryAfter = answer.hasRetryAfter;
    run.retryAfter = answer.retryAfter;
    if (sink.stopped_) return Attempt::kStopped;
    // The kept bytes do not fit what the server has now: begin again.
    if (from > 0 && answer.status == 416) {
        partial.file.reset();
        DropPartial(run);
        return Attempt::kTransient;
    }
    switch (end) {
        case FetchEnd::kComplete:
            return Finish(run, partial, from > 0 && answer.status == 206);
        case FetchEnd::kTransient:
            return Attempt::kTransient;
        case FetchEnd::kSinkEnded:
            if (sink.restart_) {
                partial.file.reset();
                DropPartial(run);
                return Attempt::kTransient;
            }
            // A disk that refuses bytes is not mended by asking the server again.
            if (sink.diskFailed_) {
                partial.file.reset();
                DropPartial(run);
                return Attempt::kPermanent;
            }
            return sink.mismatch_ ? Attempt::kPermanent : Attempt::kTransient;
        default:
            return Attempt::kPermanent;
    }
}

// After the failed-th attempt: what the answer asked for, within the limit,
// else a wait that doubles from the first up to the longest.
uint32_t RetryWait(const DownloadPolicy& policy, uint32_t failed, bool hasRetryAfter,
                   uint32_t retryAfter) {
    if (hasRetryAfter) {
        uint64_t ms = uint64_t(retryAfter) * 1000;
        return ms > policy.retryAfterLimitMs ? policy.retryAfterLimitMs : uint32_t(ms);
    }
    uint64_t ms = policy.firstWaitMs;
    for (uint32_t i = 1; i < failed && ms < policy.longestWaitMs; ++i) ms *= 2;
    return ms > policy.longestWaitMs ? policy.longestWaitMs : uint32_t(ms);
}

bool WaitUnlessStopped(DownloadProgress* p, uint32_t ms) {
    if (p && p->wait) return p->wait(ms, p->user);
    // No one to stop it: a plain timed wait, in slices so a stop flag is still seen.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (Stopped(p)) return false;
        DWORD left = ms - (GetTickCount() - start);
        SleepEx(left < 50 ? left : 50, FALSE);
    }
    return !Stopped(p);
}

void Notify(DownloadProgress* p, const wchar_t* file, DownloadEvent event, uint32_t attempt,
            uint32_t waitMs, uint32_t status, uint32_t error) {
    if (!p || !p->notice) return;
    DownloadNotice n{file,   event, attempt, p->policy.attempts, waitMs,
                     status, error, IsCertificateError(error)};
    p->notice(n, p->user);
}

void Notify(const EntryRun& run, DownloadEvent event, uint32_t attempt, uint32_t waitMs) {
    Notify(run.progress, run.item->file, event, attempt, waitMs, run.status, run.error);
}

bool DownloadFile(const wchar_t* path, DownloadProgress* progress, const UpdateItem* item, CInternet& net) {
    EntryRun run{path, item, progress, progress ? progress->done : 0, {}, {}};
    if (!PartialPathsOf(path, run.data, run.side, kLocalPathCapacity)) return false;
    if (IsUpToDate(path, item)) {
        DropPartial(run);  // what an earlier run left of it is of no use now
        return true;
    }
    if (item->size < 0) return false;
    if (!CreateParentFolders(path)) return false;

    DownloadPolicy policy = progress ? progress->policy : DownloadPolicy();
    if (policy.attempts == 0) policy.attempts = 1;
    for (uint32_t attempt = 1;; ++attempt) {
        if (Stopped(progress)) return false;
        run.status = run.error = run.retryAfter = 0;
        run.hasRetryAfter = false;
        Attempt result = TryOnce(run, net);
        if (result == Attempt::kInstalled) return true;
        if (result == Attempt::kStopped) {
            KeepOnlyResumable(run);
            return false;
        }
        if (result == Attempt::kPermanent || result == Attempt::kNotReplaced ||
            attempt >= policy.attempts) {
            if (result == Attempt::kPermanent) DropPartial(run);
            else KeepOnlyResumable(run);
            Notify(run, DownloadEvent::kFailed, attempt, 0);
            return false;
        }
        uint32_t ms = RetryWait(policy, attempt, run.hasRetryAfter, run.retryAfter);
        Notify(run, DownloadEvent::kRetrying, attempt + 1, ms);
        if (!WaitUnlessStopped(progress, ms)) {
            KeepOnlyResumable(run);
            return false;
        }
    }
}

}  // namespace

bool BuildRequestAddress(wchar_t* out, uint32_t capacity, const wchar_t* url) {
    if (!out || !url || capacity == 0) return false;
    srand(unsigned(time(nullptr)));
    int n = swprintf(out, capacity, L"%ls?ts=800%d", url, rand());
    return n > 0 && uint32_t(n) < capacity;
}

bool PartialPathsOf(const wchar_t* path, wchar_t* data, wchar_t* side, uint32_t capacity) {
    if (!path || !data || !side) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    if (!name) return false;
    ++name;
    const int folder = int(name - path);
    int n = swprintf(data, capacity, L"%.*ls~dl%ls.part", folder, path, name);
    if (n < 0 || uint32_t(n) >= capacity) return false;
    if (size_t(n) + 5 >= MAX_PATH) {
        // A target that only just fits: its partial files are named by a
        // hash of its name instead, still the same on every run.
        uint32_t hash = 2166136261u;
        for (const wchar_t* c = name; *c; ++c) hash = (hash ^ uint32_t(towlower(*c))) * 16777619u;
        n = swprintf(data, capacity, L"%.*ls~dl%08x.part", folder, path, hash);
        if (n < 0 || uint32_t(n) >= capacity) return false;
    }
    n = swprintf(side, capacity, L"%ls.etag", data);
    return n > 0 && uint32_t(n) < capacity;
}

namespace {

// One session serves every file a caller fetches: opening one reads the
// system's proxy settings from the registry, wineserver calls that were
// made again for every file.
bool DownloadItemWith(CInternet& net, const wchar_t* directory, DownloadProgress* progress,
                      const UpdateItem* item) {
    if (!item) return false;
    wchar_t path[kLocalPathCapacity];
    switch (item->action) {
        case kUpdateAdd:
            if (!LocalPathOf(path, directory, item)) return false;
            return DownloadFile(path, progress, item, net);
        case kUpdateDelete:
            if (!LocalPathOf(path, directory, item)) return false;
            DeleteFileW(path);  // a file already gone is what was asked for
            return true;
        default:
            return true;  // carried for newer programs, nothing to do here
    }
}

}  // namespace

bool DownloadItem(const wchar_t* directory, DownloadProgress* progress, const UpdateItem* item) {
    CInternet net;
    return DownloadItemWith(net, directory, progress, item);
}

bool DownloadAll(DownloadProgress* progress, const wchar_t* directory, IUpdateInfo* manifest) {
    if (!manifest) return false;
    DownloadProgress none{};
    DownloadProgress* p = progress ? progress : &none;
    const uint32_t count = manifest->Count();
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (const UpdateItem* item = manifest->GetItem(i)) total += Counted(item);
    p->total = total;
    p->done = 0;
    Report(p, total, 0, nullptr);
    bool all = true;
    CInternet net;
    for (uint32_t i = 0; i < count; ++i) {
        const UpdateItem* item = manifest->GetItem(i);
        if (!item) continue;
        Report(p, total, p->done, item->file);
        if (!DownloadItemWith(net, directory, p, item)) all = false;
        p->done += Counted(item);
        Report(p, total, p->done, nullptr);
    }
    Report(p, total, total, nullptr);
    return all;
}

bool ApplyManifest(DownloadProgress* progress, const wchar_t* directory, const void* bytes,
                   uint32_t count) {
    if (progress) progress->digest[0] = 0;
    wchar_t digest[33] = {};
    if (!DigestOfBuffer(digest, bytes, count)) return false;
    std::unique_ptr<CUpdateInfo> manifest(new (std::nothrow) CUpdateInfo);
    if (!manifest || !manifest->ParseData(bytes, count)) return false;
    if (!DownloadAll(progress, directory, manifest.get())) return false;
    if (progress) wcscpy(progress->digest, digest);
    return true;
}

namespace {

// The manifest's body in memory; nothing of an earlier attempt stays.
class MemorySink : public IBodySink {
public:
    MemorySink(std::vector<uint8_t>* bytes, DownloadProgress* progress)
        : bytes_(bytes), progress_(progress) {}
    bool Begin(const HttpAnswer& answer) override {
        if (answer.start != 0) return false;
        bytes_->clear();
        bytes_->reserve(size_t(answer.length));
        return true;
    }
    bool Write(const uint8_t* bytes, uint32_t count) override {
        bytes_->insert(bytes_->end(), bytes, bytes + count);
        return true;
    }
    bool KeepGoing() override {
        if (Stopped(progress_)) stopped = true;
        return !stopped;
    }
    bool stopped = false;

private:
    std::vector<uint8_t>* bytes_;
    DownloadProgress* progress_;
};

// Far beyond the largest manifest the reader takes (10,000 entries).
constexpr uint64_t kManifestLimit = 64u << 20;

}  // namespace

bool FetchManifest(const wchar_t* address, DownloadProgress* progress, std::vector<uint8_t>* bytes) {
    if (!address || !address[0] || !bytes) return false;
    bytes->clear();
    wchar_t request[kAddressCapacity];
    if (!BuildRequestAddress(request, kAddressCapacity, address)) return false;
    // Notices name the manifest by the last part of its address.
    std::wstring name(address);
    name = name.substr(0, name.find(L'?'));
    name = name.substr(name.find_last_of(L'/') + 1);
    DownloadPolicy policy = progress ? progress->policy : DownloadPolicy();
    if (policy.attempts == 0) policy.attempts = 1;
    CInternet net;
    for (uint32_t attempt = 1;; ++attempt) {
        if (Stopped(progress)) return false;
        MemorySink sink(bytes, progress);
        HttpAnswer answer;
        FetchEnd end = net.Fetch(request, 0, nullptr, kManifestLimit, sink, &answer);
        if (end == FetchEnd::kComplete) return true;
        bytes->clear();
        if (sink.stopped) return false;
        if (end != FetchEnd::kTransient || attempt >= policy.attempts) {
            Notify(progress, name.c_str(), DownloadEvent::kFailed, attempt, 0, answer.status,
                   answer.error);
            return false;
        }
        uint32_t ms = RetryWait(policy, attempt, answer.hasRetryAfter, answer.retryAfter);
        Notify(progress, name.c_str(), DownloadEvent::kRetrying, attempt + 1, ms, answer.status,
               answer.error);
        if (!WaitUnlessStopped(progress, ms)) return false;
    }
}

void DownloadManifestAndFiles(const wchar_t* address, const wchar_t* directory,
                              DownloadProgress* progress) {
    if (progress) progress->digest[0] = 0;
    if (!address || !address[0] || !directory || !directory[0]) return;
    std::vector<uint8_t> bytes;
    if (!FetchManifest(address, progress, &bytes)) return;
    ApplyManifest(progress, directory, bytes.data(), uint32_t(bytes.size()));
}

namespace {

// The pool behind DownloadConcurrently: its threads take the next entry in
// manifest order and hand results over; the calling thread reports them.
class Pool {
public:
    Pool(const wchar_t* directory, std::vector<const UpdateItem*> items, const DownloadPolicy& policy,
         IConcurrentEvents& events)
        : directory_(directory),
          items_(std::move(items)),
          policy_(policy),
          events_(events),
          state_(items_.size()),
          changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        for (auto& state : state_) state.store(kPending);
    }

    void Run(uint32_t connections) {
        if (!changed_) connections = 0;
        std::vector<UniqueKernelHandle> threads;
        for (uint32_t i = 0; i < connections; ++i) {
            workers_[i].pool = this;
            UniqueKernelHandle thread(CreateThread(nullptr, 256 * 1024, Work, &workers_[i], 0, nullptr));
            if (thread) threads.push_back(std::move(thread));
        }
        if (threads.empty()) {
            // No thread to be had: the entries one after another, here.
            workers_[0].pool = this;
            workers_[0].here = true;
            WorkOn(workers_[0]);
            Deliver();
            return;
        }
        bool ended = false;
        while (!ended) {
            // Woken by the end of the entry next in order or of a thread;
            // byte counts and notices are looked at a few times a second.
            WaitForSingleObject(changed_.get(), 250);
            ended = finishedThreads_.load() == threads.size();
            Deliver();
        }
        // The threads use this object: it must not go before every one has.
        for (auto& t : threads) WaitForSingleObject(t.get(), INFINITE);
    }

private:
    enum : int { kPending, kRunning, kInstalled, kFailed, kSkipped };
    struct Worker {
        Pool* pool = nullptr;
        bool here = false;  // on the calling thread: delivers as it goes
        std::atomic<uint64_t> have{0};  // of the entry under way
    };

    static DWORD WINAPI Work(void* context) {
        auto* worker = static_cast<Worker*>(context);
        Pool* pool = worker->pool;
        pool->WorkOn(*worker);
        ++pool->finishedThreads_;
        SetEvent(pool->changed_.get());
        return 0;
    }

    void WorkOn(Worker& worker) {
        DownloadProgress p{};
        p.user = &worker;
        p.policy = policy_;
        p.callback = [](uint32_t, uint32_t done, const wchar_t*, void* user) {
            auto* w = static_cast<Worker*>(user);
            w->have.store(done);
            if (w->here) w->pool->Deliver();
        };
        p.stopped = [](void* user) { return static_cast<Worker*>(user)->pool->events_.Stopped(); };
        p.wait = [](uint32_t ms, void* user) { return static_cast<Worker*>(user)->pool->events_.Wait(ms); };
        p.notice = [](const DownloadNotice& n, void* user) {
            Pool* pool = static_cast<Worker*>(user)->pool;
            std::lock_guard<std::mutex> lock(pool->lock_);
            pool->notices_.push_back(n);
        };
        CInternet net;
        for (;;) {
            if (events_.Stopped()) return;
            const size_t i = next_.fetch_add(1);
            if (i >= items_.size()) return;
            if (!items_[i]) {
                state_[i].store(kSkipped);
                if (i == delivered_.load()) SetEvent(changed_.get());
                continue;
            }
            state_[i].store(kRunning);
            worker.have.store(0);
            const bool ok = DownloadItemWith(net, directory_, &p, items_[i]);
            {
                std::lock_guard<std::mutex> lock(lock_);
                finishedBytes_ += Counted(items_[i]);
                worker.have.store(0);
                state_[i].store(ok ? kInstalled : kFailed);
            }
            // Only the entry next in order wakes the reports: a wake-up is a
            // round trip to the Wine server, and most entries end out of turn.
            // (The state is stored before this load, and the reports store
            // their place before they load the state: one of them sees the
            // other.)
            if (i == delivered_.load()) SetEvent(changed_.get());
            if (worker.here) Deliver();
        }
    }

    // Notices, then the entries finished in order, then the byte count.
    void Deliver() {
        std::vector<DownloadNotice> notices;
        uint64_t bytes = 0;
        {
            std::lock_guard<std::mutex> lock(lock_);
            notices.swap(notices_);
            bytes = finishedBytes_;
            for (const Worker& w : workers_) bytes += w.have.load();
        }
        for (const DownloadNotice& n : notices) events_.Notice(n);
        if (bytes != lastBytes_) {
            lastBytes_ = bytes;
            events_.Bytes(bytes);
        }
        for (size_t d = delivered_.load(); d < items_.size(); delivered_.store(++d)) {
            int state = state_[d].load();
            if (state == kPending || state == kRunning) break;
            if (state != kSkipped) events_.Finished(uint32_t(d), items_[d], state == kInstalled);
        }
    }

    const wchar_t* directory_;
    const std::vector<const UpdateItem*> items_;
    const DownloadPolicy policy_;
    IConcurrentEvents& events_;
    std::vector<std::atomic<int>> state_;
    UniqueKernelHandle changed_;
    std::atomic<size_t> next_{0};
    Worker workers_[4];
    std::mutex lock_;  // notices_, finishedBytes_ with the states they go with
    std::vector<DownloadNotice> notices_;
    uint64_t finishedBytes_ = 0;
    uint64_t lastBytes_ = UINT64_MAX;
    std::atomic<size_t> delivered_{0};  // entries before this one are reported
    std::atomic<size_t> finishedThreads_{0};
};

// The names of the entries as files (case and separators folded).
bool NamesAFileTwice(const std::vector<const UpdateItem*>& items) {
    std::unordered_set<std::wstring> seen;
    for (const UpdateItem* item : items) {
        if (!item) continue;
        std::wstring key(item->file);
        for (wchar_t& c : key) c = c == L'/' ? L'\\' : wchar_t(towlower(c));
        if (!seen.insert(key).second) return true;
    }
    return false;
}

}  // namespace

void DownloadConcurrently(const wchar_t* directory, IUpdateInfo* manifest,
                          const DownloadPolicy& policy, IConcurrentEvents& events) {
    if (!manifest) return;
    std::vector<const UpdateItem*> items;
    for (uint32_t i = 0; i < manifest->Count(); ++i) items.push_back(manifest->GetItem(i));
    uint32_t connections = policy.connections < 1 ? 1 : policy.connections > 4 ? 4 : policy.connections;
    if (NamesAFileTwice(items)) connections = 1;
    Pool pool(directory, std::move(items), policy, events);
    pool.Run(connections);
}

void SweepPartials(const wchar_t* directory, IUpdateInfo* manifest) {
    if (!directory || !manifest) return;
    std::unordered_set<std::wstring> folders;
    for (uint32_t i = 0; i < manifest->Count(); ++i) {
        const UpdateItem* item = manifest->GetItem(i);
        wchar_t path[kLocalPathCapacity];
        if (!item || item->action != kUpdateAdd || !LocalPathOf(path, directory, item)) continue;
        std::wstring folder(path);
        folder.resize(folder.rfind(L'\\') + 1);
        if (!folders.insert(folder).second) continue;
        for (const wchar_t* pattern : {L"~dl*.part", L"~dl*.part.etag"}) {
            WIN32_FIND_DATAW data;
            UniqueFind find(FindFirstFileW((folder + pattern).c_str(), &data));
            if (!find) continue;
            do {
                // The pattern also matches longer extensions ("x.partial"): exact ends only.
                std::wstring name(data.cFileName);
                bool part = name.size() > 8 && name.compare(name.size() - 5, 5, L".part") == 0;
                bool side = name.size() > 13 && name.compare(name.size() - 10, 10, L".part.etag") == 0;
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (part || side))
                    DeleteFileW((folder + name).c_str());
            } while (FindNextFileW(find.get(), &data));
        }
    }
}
