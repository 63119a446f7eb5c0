#include "app/install_worker.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "client/app_file.h"
#include "client/update_download.h"
#include "client/update_info.h"
#include "support/digest.h"
#include "support/internet.h"
#include "support/data.h"
#include "support/entry_name.h"
#include "support/fiber_lanes.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "support/shell.h"
#include "support/zip.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Told of every piece of an entry written; answers false to stop writing.
class EntryProgress {
public:
    virtual bool Piece(uint32_t count) = 0;

protected:
    ~EntryProgress() = default;
};

struct WriteContext {
    HANDLE file;
    EntryProgress* progress;
};

bool WritePiece(const void* bytes, uint32_t count, void* context) {
    auto* c = static_cast<WriteContext*>(context);
    DWORD written = 0;
    return WriteFile(c->file, bytes, count, &written, nullptr) && written == count &&
           c->progress->Piece(count);
}

// Between reports of whole entries, a large entry reports its bytes now and
// then (no name, done unchanged), so the speed line keeps moving.
constexpr uint64_t kByteReportInterval = 1u << 20;

// True when path, with or without a trailing backslash, is a folder.
bool IsFolder(const wchar_t* path) {
    wchar_t trimmed[MAX_PATH];
    wcsncpy(trimmed, path, MAX_PATH - 1);
    trimmed[MAX_PATH - 1] = 0;
    size_t n = std::wcslen(trimmed);
    while (n > 1 && IsSeparator(trimmed[n - 1])) trimmed[--n] = 0;
    DWORD attributes = GetFileAttributesW(trimmed);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folders entries are written in, each made once per run, and the
// temporary files ("~inXXXX.tmp") an earlier run that was killed left there
// removed before this run writes there. One that another running installer
// is still writing is open without sharing, cannot be deleted and stays.
class EntryFolders {
public:
    // Every writer calls this before writing a file; the first in a folder
    // makes and sweeps it, and the others wait for that, so no writer's own
    // temporary file is ever taken for a stale one. The answer is kept: a
    // file then costs no look at its folder. False when the folder could not
    // be made.
    bool ReadyParentOf(const wchar_t* path) {
        std::wstring folder(path);
        size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos) return false;
        folder.resize(cut + 1);
        std::lock_guard<std::mutex> hold(lock_);
        auto known = ready_.find(folder);
        if (known != ready_.end()) return known->second;
        const bool made = CreateParentFolders(path);
        ready_.emplace(folder, made);
        if (made) Sweep(folder);
        return made;
    }

    // Exactly what GetTempFileName makes of the prefix "~in": one to four
    // hexadecimal digits and ".tmp" (a player's "~index.tmp" is not one).
    static bool IsEntryTempName(const wchar_t* name) {
        if (std::wcsncmp(name, L"~in", 3) != 0) return false;
        const wchar_t* p = name + 3;
        int digits = 0;
        while (std::iswxdigit(*p) && digits < 5) ++p, ++digits;
        return digits >= 1 && digits <= 4 && _wcsicmp(p, L".tmp") == 0;
    }

private:
    static void Sweep(const std::wstring& folder) {
        WIN32_FIND_DATAW data;
        UniqueFind find(FindFirstFileW((folder + L"~in*.tmp").c_str(), &data));
        if (!find) return;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsEntryTempName(data.cFileName))
                DeleteFileW((folder + data.cFileName).c_str());
        } while (FindNextFileW(find.get(), &data));
    }

    std::mutex lock_;
    std::unordered_map<std::wstring, bool> ready_;
};

// The inner archive, read from wherever it could be put.
struct InnerArchive {
    XZip archive;
    XData memory;  // the archive itself when it had to be held in memory
    // An older package's archive copied out; deleted when this closes (or
    // when the process ends, however it ends).
    UniqueFile tempFile;
    wchar_t tempPath[MAX_PATH] = {};
    // The writers' readers open as siblings of `archive`.

    int Count() { return archive.Count(); }

    bool OpenFile(const wchar_t* path, uint64_t offset, uint64_t size) {
        return archive.OpenFromFileWindow(path, offset, size, GetArchivePassword());
    }
    bool OpenMemory(const void* bytes, uint64_t size) {
        return size <= UINT32_MAX && archive.OpenFromMemory(bytes, uint32_t(size), GetArchivePassword());
    }
};

// Goes on with a copy until a stop is asked for.
class UnlessStopped : public EntryProgress {
public:
    explicit UnlessStopped(IInstallReport& report) : report_(report) {}
    bool Piece(uint32_t) override { return !report_.StopRequested(); }

private:
    IInstallReport& report_;
};

// The inner archive as it lies in the payload, offset bytes into it: read
// from the payload's file where there is one (the system's cache, not this
// process's memory, holds what was read), else from its bytes in memory.
bool OpenInPlace(const InstallJob& job, uint64_t offset, uint64_t size, InnerArchive& inner) {
    if (!job.payloadPath) {
        if (offset > job.payloadSize || size > job.payloadSize - offset || size > UINT32_MAX)
            return false;
        return inner.OpenMemory(static_cast<const uint8_t*>(job.payloadBytes) + offset, size);
    }
    if (offset > UINT64_MAX - job.payloadOffset) return false;
    return inner.OpenFile(job.payloadPath, offset + job.payloadOffset, size);
}

// The packaging tool stores the inner archive as it is (its entries carry
// their own encryption), so it is read in place: no copy, nothing held in
// memory beyond the payload. An inner archive encrypted as a whole (older
// packages) cannot be read at random, so it goes to a temporary file first,
// or, when none can be written, into memory, as the payload's reader gives it.
bool OpenInnerArchive(const InstallJob& job, InnerArchive& inner, IInstallReport& report) {
    XZip* payload = job.payload;
    int index = payload ? payload->Find(job.archiveName, nullptr) : -1;
    if (index < 0) return false;
    uint64_t offset = 0, size = 0;
    if (payload->PlainRange(index, &offset, &size)) return OpenInPlace(job, offset, size, inner);
    wchar_t folder[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n > 0 && n < MAX_PATH && GetTempFileNameW(folder, L"ins", 0, inner.tempPath)) {
        inner.tempFile.reset(CreateFileW(
            inner.tempPath, GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (!inner.tempFile) DeleteFileW(inner.tempPath);
        UnlessStopped progress(report);
        WriteContext context{inner.tempFile.get(), &progress};
        LARGE_INTEGER length = {};
        if (inner.tempFile && payload->Read(index, WritePiece, &context) &&
            GetFileSizeEx(inner.tempFile.get(), &length)) {
            // Read back through the open handle's sharing: the copy has no
            // other name to be opened by. Read whole but no archive: memory
            // would not help.
            return inner.OpenFile(inner.tempPath, 0, uint64_t(length.QuadPart));
        }
        inner.tempFile.reset();
        if (report.StopRequested()) return false;
    }
    if (!payload->ExtractByIndex(index, &inner.memory)) return false;
    return inner.OpenMemory(inner.memory.data, inner.memory.size);
}

// Reports pieces of the entry being written on the calling thread, as the
// one-at-a-time extraction and the tests' direct writes do.
class ReportingProgress : public EntryProgress {
public:
    ReportingProgress(IInstallReport& report, uint32_t total, uint32_t done, uint64_t bytesTotal,
                      uint64_t* bytesDone)
        : report_(report), total_(total), done_(done), bytesTotal_(bytesTotal), bytesDone_(bytesDone) {}

    bool Piece(uint32_t count) override {
        if (report_.StopRequested()) return false;
        *bytesDone_ += count;
        sinceReport_ += count;
        if (sinceReport_ >= kByteReportInterval) {
            sinceReport_ = 0;
            report_.Progress(nullptr, total_, done_, bytesTotal_, *bytesDone_);
        }
        return true;
    }

private:
    IInstallReport& report_;
    uint32_t total_, done_;
    uint64_t bytesTotal_;
    uint64_t* bytesDone_;
    uint64_t sinceReport_ = 0;
};

bool WriteEntryTo(XZip& zip, int index, const wchar_t* path, EntryProgress& progress);

// What the extraction does with one entry, decided before anything is
// written.
struct EntryPlan {
    enum Kind { kUnreadable, kRefused, kFolder, kFile } kind = kUnreadable;
    std::wstring name;  // "\"-separated, as recorded
    std::wstring path;  // in the installation directory
    uint64_t size = 0;
    uint64_t packed = 0;  // as stored in the archive
    // For a file entry, written by the writers:
    std::atomic<uint64_t> written{0};
    std::atomic<int> state{0};  // 0 not yet, 1 in place, 2 failed
};

// Entries are written side by side only when their order cannot matter:
// no two of them name the same file, and no file stands where another entry
// needs a folder. (Names are compared as Windows does: case and trailing dots
// and blanks of each level do not count.) Otherwise one at a time, in order.
bool OrderIsFree(const std::vector<EntryPlan>& plans) {
    auto key = [](const std::wstring& path, size_t end) {
        std::wstring k;
        k.reserve(end);
        size_t level = 0;
        for (size_t i = 0; i <= end; ++i) {
            if (i == end || path[i] == L'\\') {
                while (k.size() > level && (k.back() == L'.' || k.back() == L' ')) k.pop_back();
                if (i == end) break;
                k += L'\\';
                level = k.size();
            } else {
                k += wchar_t(towlower(path[i]));
            }
        }
        return k;
    };
    std::unordered_set<std::wstring> entries, folders;
    for (const EntryPlan& p : plans) {
        if (p.kind != EntryPlan::kFile && p.kind != EntryPlan::kFolder) continue;
        size_t end = p.path.size();
        while (end > 0 && p.path[end - 1] == L'\\') --end;
        if (!entries.insert(key(p.path, end)).second) return false;
        for (size_t i = 0; i < end; ++i)
            if (p.path[i] == L'\\') folders.insert(key(p.path, i));
    }
    for (const EntryPlan& p : plans) {
        if (p.kind != EntryPlan::kFile) continue;
        if (folders.count(key(p.path, p.path.size()))) return false;
    }
    return true;
}

// Writers, each with readers of its own: one takes the large file entries
// first, the others take the rest in order (see OrderEntries). They run as
// far ahead of the reports as they can: a bound made the others wait on
// every large file (a sixth of the time of a 300 MiB client), and it bought
// nothing, since a stopped installation records no file, made before or
// after the last report.
class WriterPool {
public:
    WriterPool(const InnerArchive& inner, std::vector<EntryPlan>& plans, EntryFolders& folders)
        : inner_(inner), plans_(plans), folders_(folders) {}
    ~WriterPool() { Stop(); }

    // False when not even one writer could start. Each writer thread has
    // lanes readers, each in a fiber of its own, so that their decryption
    // runs side by side (one reader when lanes is 1 or fibers fail).
    bool Start(unsigned count, int lanes) {
        if (!OrderEntries(inner_.archive.HasEncryptedEntries())) return false;
        for (unsigned i = 0; i < count; ++i) {
            std::unique_ptr<Writer> writer(new (std::nothrow) Writer);
            if (!writer) break;
            writer->pool = this;
            writer->largeFirst = i == 0;
            while (writer->count < lanes) {
                std::unique_ptr<XZip>& reader = writer->readers[writer->count];
                reader.reset(new (std::nothrow) XZip);
                if (!reader || !reader->OpenSibling(inner_.archive)) break;
                if (lanes > 1) reader->SetDecryptor(&writer->lanes);
                ++writer->count;
            }
            if (writer->count == 0) break;
            try {
                threads_.emplace_back(&WriterPool::RunWriter, writer.get());
            } catch (...) {
                break;
            }
            writers_.push_back(std::move(writer));
        }
        return !threads_.empty();
    }

    // Until entry i is written or anything was written; true once it is.
    bool Wait(size_t i) {
        std::unique_lock<std::mutex> hold(lock_);
        awaited_ = i;
        if (plans_[i].state == 0) changed_.wait_for(hold, std::chrono::milliseconds(100));
        return plans_[i].state != 0;
    }

    // Bytes written by all the writers so far.
    uint64_t Written() const { return written_.load(); }

    void Stop() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

private:
    class Progress : public EntryProgress {
    public:
        Progress(WriterPool& pool, EntryPlan& plan) : pool_(pool), plan_(plan) {}
        bool Piece(uint32_t count) override {
            pool_.written_ += count;
            uint64_t now = plan_.written += count;
            if (now / kByteReportInterval != (now - count) / kByteReportInterval)
                pool_.changed_.notify_all();
            return !pool_.stop_.load();
        }

    private:
        WriterPool& pool_;
        EntryPlan& plan_;
    };

    // Large entries (each at least a 64th of the client) and the others.
    // One writer takes the large ones first, largest first, and only them
    // until there are none left; the others take the rest in the archive's
    // order, so that the reports, which go in that order, keep coming, and
    // then whatever large ones are left. A large entry started late would be
    // written alone at the end while the other writers idle. Encrypted large
    // entries are ranked by their stored bytes, which their decryption goes
    // through, and kept apart from the small ones: decrypted side by side,
    // a stream advances only as far as the shortest piece beside it, and
    // small files' pieces left a large one to crawl and end alone.
    bool OrderEntries(bool encrypted) {
        auto cost = [&](size_t i) { return encrypted ? plans_[i].packed : plans_[i].size; };
        uint64_t total = 0;
        for (size_t i = 0; i < plans_.size(); ++i)
            if (plans_[i].kind == EntryPlan::kFile) total += cost(i);
        const uint64_t large = std::max<uint64_t>(total / kLargeShare, 1);
        try {
            for (size_t i = 0; i < plans_.size(); ++i) {
                if (plans_[i].kind != EntryPlan::kFile) continue;
                (cost(i) >= large ? large_ : small_).push_back(i);
            }
            std::stable_sort(large_.begin(), large_.end(),
                             [&](size_t a, size_t b) { return cost(a) > cost(b); });
        } catch (...) {
            return false;
        }
        return true;
    }

    // The next entry for a writer: only a large one, or a small one and
    // then a large one. False when there is none (or a stop was asked).
    bool Take(bool largeOnly, size_t* i) {
        std::lock_guard<std::mutex> hold(lock_);
        if (stop_) return false;
        if (!largeOnly && nextSmall_ < small_.size()) {
            *i = small_[nextSmall_++];
            return true;
        }
        if (nextLarge_ < large_.size()) {
            *i = large_[nextLarge_++];
            return true;
        }
        return false;
    }

    struct Writer {
        WriterPool* pool = nullptr;
        bool largeFirst = false;  // takes only large entries until there are none
        FiberLanes lanes;
        std::unique_ptr<XZip> readers[kMaxTogether];
        int count = 0;
    };

    static void RunWriter(Writer* writer) {
        WriterPool* pool = writer->pool;
        if (writer->count > 1) {
            if (writer->largeFirst) writer->lanes.Run(writer->count, &WriterPool::RunLargeLane, writer);
            if (writer->lanes.Run(writer->count, &WriterPool::RunLane, writer)) return;
        }
        if (writer->largeFirst) pool->Run(writer->readers[0].get(), true);
        pool->Run(writer->readers[0].get(), false);
    }
    static void RunLargeLane(int lane, void* context) {
        Writer* writer = static_cast<Writer*>(context);
        writer->pool->Run(writer->readers[lane].get(), true);
    }
    static void RunLane(int lane, void* context) {
        Writer* writer = static_cast<Writer*>(context);
        writer->pool->Run(writer->readers[lane].get(), false);
    }

    // Takes no lock across a read: the fibers of one writer switch inside it.
    void Run(XZip* reader, bool largeOnly) {
        for (;;) {
            size_t i;
            if (!Take(largeOnly, &i)) return;
            EntryPlan& plan = plans_[i];
            Progress progress(*this, plan);
            bool ok = folders_.ReadyParentOf(plan.path.c_str()) &&
                      WriteEntryTo(*reader, int(i), plan.path.c_str(), progress);
            bool awaited;
            {
                std::lock_guard<std::mutex> hold(lock_);
                plan.state = ok ? 1 : 2;
                awaited = i == awaited_;
            }
            // Only the entry the reports wait for wakes them: a wake-up is a
            // round trip to the Wine server, and most entries end ahead of it.
            if (awaited) changed_.notify_all();
        }
    }

    const InnerArchive& inner_;
    std::vector<EntryPlan>& plans_;
    EntryFolders& folders_;
    std::mutex lock_;
    std::condition_variable changed_;
    // An entry is large from this share of all the files' bytes on.
    static constexpr uint64_t kLargeShare = 64;
    std::vector<size_t> large_;  // largest first
    std::vector<size_t> small_;  // in the archive's order
    size_t nextLarge_ = 0;
    size_t nextSmall_ = 0;
    size_t awaited_ = SIZE_MAX;  // the entry the reports wait for
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> written_{0};
    std::vector<std::unique_ptr<Writer>> writers_;
    std::vector<std::thread> threads_;
};

// The writer threads beside the one reporting, and the readers (fibers)
// each one has.
struct WriterShape {
    unsigned threads;
    int lanes;
};

// Plain entries: one reader a thread, two threads per processor (under Wine
// a writer spends much of a file's time waiting for the wineserver, and a
// second one works meanwhile: 6 % faster on two cores than one per
// processor), at least two, at most four. Encrypted entries: their
// decryption is a chain of dependent steps per byte, so four readers a
// thread, decrypting side by side at about three times the speed of one,
// and one thread per processor (two were about 4 % faster on two cores, but
// every reader holds its buffers, and sixteen of them would bring a 5 GiB
// client's peak near 64 MiB).
WriterShape WriterShapeFor(const XZip& archive) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned processors = unsigned(info.dwNumberOfProcessors);
    if (archive.HasEncryptedEntries()) return {std::min(4u, std::max(2u, processors)), kMaxTogether};
    return {std::min(4u, std::max(2u, 2 * processors)), 1};
}

// What becomes of every entry, decided from the directory alone before any
// bytes are written.
std::vector<EntryPlan> PlanEntries(const InstallJob& job, XZip& archive, uint64_t* bytesTotal,
                                   size_t* files) {
    const int count = archive.Count();
    std::vector<EntryPlan> plans(size_t(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        EntryPlan& plan = plans[size_t(i)];
        const bool directory = archive.IsDirectory(i);
        if (!directory) {
            plan.size = archive.SizeOf(i);
            plan.packed = archive.PackedSizeOf(i);
            *bytesTotal += plan.size;
        }
        wchar_t name[kZipNameCapacity] = {};
        if (!archive.GetEntryName(i, name)) continue;  // kUnreadable
        for (wchar_t* p = name; *p; ++p)
            if (*p == L'/') *p = L'\\';
        plan.name = name;
        wchar_t path[MAX_PATH];
        // A name that would leave the directory or overflow the path is
        // refused: counted, reported without a name (so not recorded).
        if (!IsContainedEntryName(name) || !JoinInstallPath(path, job.installDir, name)) {
            plan.kind = EntryPlan::kRefused;
            continue;
        }
        plan.path = path;
        plan.kind = directory ? EntryPlan::kFolder : EntryPlan::kFile;
        if (!directory) ++*files;
    }
    return plans;
}

// Writes the planned entries (by the pool when their order does not matter,
// else one at a time here) and reports them in the archive's order.
class Extraction {
public:
    Extraction(const InstallJob& job, InnerArchive& inner, IInstallReport& report)
        : job_(job), inner_(inner), report_(report), total_(uint32_t(inner.Count())) {
        result_.outcome = InstallOutcome::kExtracted;
    }

    InstallResult Run() {
        size_t files = 0;
        plans_ = PlanEntries(job_, inner_.archive, &bytesTotal_, &files);
        // The writers start at once, ahead of the loop's own check.
        if (report_.StopRequested()) return Stopped();
        CreateDirectoryTree(job_.installDir, L'\\');
        if (files > 1 && OrderIsFree(plans_)) {
            pool_.reset(new (std::nothrow) WriterPool(inner_, plans_, folders_));
            const WriterShape shape = WriterShapeFor(inner_.archive);
            if (pool_ && !pool_->Start(shape.threads, shape.lanes)) pool_.reset();
        }
        for (size_t i = 0; i < plans_.size(); ++i) {
            if (report_.StopRequested()) return Stopped();
            if (!Handle(i)) return Stopped();
        }
        if (pool_) pool_->Stop();
        // An empty archive, or one whose last name could not be read, still
        // ends with a completion report.
        if (!result_.completed) {
            report_.Progress(nullptr, total_, total_, bytesTotal_, bytesTotal_);
            result_.completed = true;
        }
        return result_;
    }

private:
    InstallResult Stopped() {
        if (pool_) pool_->Stop();
        result_.outcome = InstallOutcome::kStopped;
        return result_;
    }

    // False when asked to stop.
    bool Handle(size_t i) {
        EntryPlan& plan = plans_[i];
        if (plan.kind == EntryPlan::kUnreadable) return true;  // no report, as if absent
        ++result_.entries;
        const uint32_t done = uint32_t(i + 1);
        bool ok = false;
        switch (plan.kind) {
            case EntryPlan::kRefused:
                bytesDone_ += plan.size;
                break;
            case EntryPlan::kFolder:
                // The tree maker takes an existing file for a made level, so
                // the folder is checked for afterwards.
                ok = (GetFileAttributesW(plan.path.c_str()) != INVALID_FILE_ATTRIBUTES ||
                      CreateDirectoryTree(plan.path.c_str(), L'\\')) &&
                     IsFolder(plan.path.c_str());
                break;
            default:
                if (!WriteFileEntry(i, &ok)) return false;
                // What a failed entry would have written still counts as handled.
                bytesDone_ += plan.size;
                if (report_.StopRequested()) return false;
                break;
        }
        if (!ok) ++result_.failed;
        else if (plan.kind == EntryPlan::kFile) ++result_.installed;
        // Only what is in place is named, and so recorded for removal.
        Report(ok ? plan.name.c_str() : nullptr, done, bytesDone_);
        if (done == total_) result_.completed = true;
        return true;
    }

    // The byte count never goes back, though the writers' bytes may have
    // been shown ahead of the entries reported.
    void Report(const wchar_t* name, uint32_t done, uint64_t bytes) {
        shown_ = std::max(shown_, bytes);
        report_.Progress(name, total_, done, bytesTotal_, shown_);
    }

    // Waits for the pool's writer, showing the bytes all the writers write
    // meanwhile (the large entries, taken first, are written while the
    // reports wait for small ones), or writes the entry here. False when
    // asked to stop.
    bool WriteFileEntry(size_t i, bool* ok) {
        EntryPlan& plan = plans_[i];
        if (!pool_) {
            uint64_t shown = bytesDone_;
            ReportingProgress progress(report_, total_, uint32_t(i), bytesTotal_, &shown);
            *ok = folders_.ReadyParentOf(plan.path.c_str()) &&
                  WriteEntryTo(inner_.archive, int(i), plan.path.c_str(), progress);
            return true;
        }
        while (!pool_->Wait(i)) {
            if (report_.StopRequested()) return false;
            const uint64_t now = std::max(bytesDone_ + plan.written, pool_->Written());
            if (now >= shown_ + kByteReportInterval) Report(nullptr, uint32_t(i), now);
        }
        *ok = plan.state == 1;
        return true;
    }

    const InstallJob& job_;
    InnerArchive& inner_;
    IInstallReport& report_;
    const uint32_t total_;
    InstallResult result_;
    std::vector<EntryPlan> plans_;
    uint64_t bytesTotal_ = 0, bytesDone_ = 0;
    uint64_t shown_ = 0;  // the largest byte count reported
    EntryFolders folders_;
    std::unique_ptr<WriterPool> pool_;
};

// The reader ends a manifest at its first malformed entry and keeps what
// came before; for an installation a manifest that could not be read whole
// is damaged, and installing part of it would be recorded as the release.
uint32_t CountItemTags(const uint8_t* bytes, uint32_t size) {
    if (!bytes) return 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        bytes += 2;
        size -= 2;
    }
    static const char kTag[] = "<item";
    const uint32_t units = size / 2;
    uint32_t count = 0;
    for (uint32_t i = 0; i + 5 <= units; ++i) {
        uint32_t k = 0;
        while (k < 5 && bytes[2 * (i + k)] == uint8_t(kTag[k]) && bytes[2 * (i + k) + 1] == 0) ++k;
        if (k == 5) ++count;
    }
    return count;
}

struct DownloadContext {
    IInstallReport* report;
};

// The download procedure reports bytes: they are both the protocol's counts
// and the bytes written.
void ForwardDownloadProgress(uint32_t total, uint32_t done, const wchar_t* name, void* user) {
    auto* context = static_cast<DownloadContext*>(user);
    if (context->report->StopRequested()) return;
    context->report->Progress(name, total, done, total, done);
}

// A manifest's sizes are the server's word: their sum stops at the top of
// the counter instead of wrapping (the percentage would run past 100).
uint32_t AddSize(uint32_t sum, const UpdateItem* item) {
    uint32_t size = item->size > 0 ? uint32_t(item->size) : 0;
    return sum > UINT32_MAX - size ? UINT32_MAX : sum + size;
}

// Retries and failures in the player's words, for the status line.
void NoticeText(wchar_t* text, size_t capacity, const DownloadNotice& n) {
    if (n.event == DownloadEvent::kRetrying)
        _snwprintf(text, capacity, L"正在重试 (%u/%u)…", n.attempt, n.attempts);
    else if (n.certificate)
        _snwprintf(text, capacity, L"服务器证书无效，未下载");
    else if (n.status >= 300)
        _snwprintf(text, capacity, L"下载失败 (HTTP %u)", n.status);
    else
        _snwprintf(text, capacity, L"下载失败");
    text[capacity - 1] = 0;
}

void ShowNotice(IInstallReport& report, const DownloadNotice& notice) {
    if (report.StopRequested()) return;
    wchar_t text[128];
    NoticeText(text, 128, notice);
    report.Notice(notice.file, text);
}

// The pool's reports turned into the worker's protocol: bytes as both the
// counts and the bytes written, a file named (and so recorded) once it and
// all before it are done and it is in place.
class DownloadEvents : public IConcurrentEvents {
public:
    DownloadEvents(IInstallReport& report, DownloadProgress& progress, InstallResult& result)
        : report_(report), progress_(progress), result_(result) {}

    void Bytes(uint64_t done) override {
        // A file begun again would send the bar back; it waits instead.
        const uint32_t clamped = done > progress_.total ? progress_.total : uint32_t(done);
        if (clamped <= done_) return;
        done_ = clamped;
        Forward(nullptr);
    }
    void Finished(uint32_t, const UpdateItem* item, bool ok) override {
        ++result_.entries;
        const bool install = item->action == kUpdateAdd && IsContainedFileName(item->file);
        if (!ok) ++result_.failed;
        else if (install) ++result_.installed;
        progress_.done = AddSize(progress_.done, item);
        Forward(ok && install ? item->file : nullptr);
    }
    void Notice(const DownloadNotice& notice) override { ShowNotice(report_, notice); }
    bool Stopped() override { return report_.StopRequested(); }
    bool Wait(uint32_t ms) override { return report_.WaitUnlessStopped(ms); }

private:
    void Forward(const wchar_t* name) {
        if (report_.StopRequested()) return;
        const uint32_t total = progress_.total;
        report_.Progress(name, total, done_, total, done_);
    }

    IInstallReport& report_;
    DownloadProgress& progress_;
    InstallResult& result_;
    uint32_t done_ = 0;  // bytes reported, never behind an earlier report
};

// The download way: the manifest's entries, a few at once, counting the
// entries that failed and recording only files that are to be installed.
InstallResult RunDownload(const InstallJob& job, IInstallReport& report) {
    InstallResult result;
    result.outcome = InstallOutcome::kNoSource;
    if (!job.manifestUrl || !job.manifestUrl[0]) return result;
    DownloadProgress local = {};
    DownloadProgress* progress = job.downloadProgress ? job.downloadProgress : &local;
    progress->digest[0] = 0;

    result.outcome = InstallOutcome::kDownloadFailed;
    // The manifest is tried as the files are, and its retries shown alike.
    progress->user = &report;
    progress->stopped = [](void* user) { return static_cast<IInstallReport*>(user)->StopRequested(); };
    progress->wait = [](uint32_t ms, void* user) {
        return static_cast<IInstallReport*>(user)->WaitUnlessStopped(ms);
    };
    progress->notice = [](const DownloadNotice& notice, void* user) {
        ShowNotice(*static_cast<IInstallReport*>(user), notice);
    };
    std::vector<uint8_t> bytes;
    const bool fetched = FetchManifest(job.manifestUrl, progress, &bytes);
    if (report.StopRequested()) {
        result.outcome = InstallOutcome::kStopped;
        return result;
    }
    const uint32_t size = uint32_t(bytes.size());
    wchar_t digest[33] = {};
    std::unique_ptr<CUpdateInfo> manifest(new (std::nothrow) CUpdateInfo);
    if (!fetched || !DigestOfBuffer(digest, bytes.data(), size) || !manifest ||
        !manifest->ParseData(bytes.data(), size) || manifest->Count() < CountItemTags(bytes.data(), size))
        return result;

    result.outcome = InstallOutcome::kDownloaded;
    // Made even for a manifest without files: the records go there.
    CreateDirectoryTree(job.installDir, L'\\');
    const uint32_t count = manifest->Count();
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (const UpdateItem* item = manifest->GetItem(i)) total = AddSize(total, item);
    progress->total = total;
    progress->done = 0;
    DownloadContext context{&report};
    ForwardDownloadProgress(total, 0, nullptr, &context);
    if (report.StopRequested()) {
        result.outcome = InstallOutcome::kStopped;
        return result;
    }
    DownloadEvents events(report, *progress, result);
    DownloadConcurrently(job.installDir, manifest.get(), progress->policy, events);
    if (report.StopRequested()) {
        result.outcome = InstallOutcome::kStopped;
        return result;
    }
    ForwardDownloadProgress(total, total, nullptr, &context);
    result.completed = true;
    // A partial installation is not recorded as the manifest's release, and
    // keeps what its failed files may continue from.
    if (result.failed == 0) {
        wcscpy(progress->digest, digest);
        SweepPartials(job.installDir, manifest.get());
    }
    return result;
}

}  // namespace

bool IInstallReport::WaitUnlessStopped(uint32_t ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (StopRequested()) return false;
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return true;
        const DWORD left = ms - spent;
        SleepEx(left < 20 ? left : 20, FALSE);
    }
}

bool JoinInstallPath(wchar_t* out, const wchar_t* dir, const wchar_t* name) {
    if (!out || !dir || !name) return false;
    size_t d = std::wcslen(dir);
    bool separator = d > 0 && !IsSeparator(dir[d - 1]);
    return ComposePath(out, MAX_PATH, {dir, separator ? L"\\" : L"", name});
}

namespace {

// A temporary file "~inXXXX.tmp" (the form GetTempFileName gives and the
// folder sweep knows) beside the target, made and opened in one step, with
// DELETE access so that it can be renamed through its handle: per file two
// openings fewer than GetTempFileName's make-and-close and a rename by name.
UniqueFile CreateEntryTemp(const wchar_t* path, wchar_t temp[MAX_PATH]) {
    static std::atomic<uint32_t> next{GetTickCount() ^ (GetCurrentProcessId() << 4)};
    const wchar_t* name = wcsrchr(path, L'\\');
    if (!name) return UniqueFile();
    const int folder = int(name - path);
    for (int tries = 0; tries < 64; ++tries) {
        const uint32_t n = next++ & 0xFFFF;
        if (n == 0) continue;
        const int length = swprintf(temp, MAX_PATH, L"%.*ls\\~in%x.tmp", folder, path, n);
        if (length <= 0 || length >= MAX_PATH) return UniqueFile();
        UniqueFile file(CreateFileW(temp, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return UniqueFile();
}

// Writes the entry in place, for a folder too long for a temporary name
// beside the target: the only case an interrupted write can truncate.
bool WriteEntryInPlace(XZip& zip, int index, const wchar_t* path, EntryProgress& progress) {
    UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) {
        // A read-only target cannot be opened for writing.
        DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
            file.reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
        }
    }
    if (!file) return false;
    WriteContext context{file.get(), &progress};
    const bool ok = zip.Read(index, WritePiece, &context);
    file.reset();
    if (!ok) DeleteFileW(path);
    return ok;
}

bool WriteEntryTo(XZip& zip, int index, const wchar_t* path, EntryProgress& progress) {
    wchar_t temp[MAX_PATH] = {};
    UniqueFile file = CreateEntryTemp(path, temp);
    if (!file) return WriteEntryInPlace(zip, index, path, progress);
    WriteContext context{file.get(), &progress};
    if (zip.Read(index, WritePiece, &context)) {
        if (RenameOpenFileOver(file.get(), path)) return true;
        file.reset();
        if (MoveOverTarget(temp, path)) return true;
    }
    file.reset();
    DeleteFileW(temp);
    return false;
}

}  // namespace

bool WriteEntryFile(XZip& zip, int index, const wchar_t* path, IInstallReport& report,
                    uint32_t total, uint32_t done, uint64_t bytesTotal, uint64_t* bytesDone) {
    ReportingProgress progress(report, total, done, bytesTotal, bytesDone);
    return WriteEntryTo(zip, index, path, progress);
}

void KeepEarlierEntries(CAppFile& record, const wchar_t* recordPath, const wchar_t* installDir) {
    CAppFile earlier;
    if (!LoadUninstallRecord(earlier, recordPath) || earlier.count == 0) return;
    auto key = [](const wchar_t* name) {
        std::wstring k(name);
        for (wchar_t& c : k) c = c == L'/' ? L'\\' : towlower(c);
        return k;
    };
    std::unordered_set<std::wstring> known;
    for (uint32_t i = 0; i < record.count; ++i) known.insert(key(record.entries[i]->c_str()));
    for (uint32_t i = 0; i < earlier.count; ++i) {
        const wchar_t* name = earlier.entries[i]->c_str();
        wchar_t path[MAX_PATH];
        if (!IsContainedEntryName(name) || !JoinInstallPath(path, installDir, name)) continue;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
        if (known.insert(key(name)).second) record.AddEntry(name);
    }
}

InstallResult RunInstall(const InstallJob& job, IInstallReport& report) {
    InstallResult result;
    if (!job.installDir || !job.installDir[0]) return result;
    if (job.archiveName && job.archiveName[0] && job.payload) {
        std::unique_ptr<InnerArchive> inner(new (std::nothrow) InnerArchive);
        if (inner && OpenInnerArchive(job, *inner, report)) return Extraction(job, *inner, report).Run();
        if (report.StopRequested()) {
            result.outcome = InstallOutcome::kStopped;
            return result;
        }
    }
    return RunDownload(job, report);
}
