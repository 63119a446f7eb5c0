#include "app/install_worker.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <unordered_set>

#include "app/zip_stream.h"
#include "client/app_file.h"
#include "client/update_download.h"
#include "client/update_info.h"
#include "support/digest.h"
#include "support/internet.h"
#include "support/data.h"
#include "support/handle.h"
#include "support/shell.h"
#include "support/zip.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool EqualsNoCase(const wchar_t* a, size_t n, const wchar_t* b) {
    return std::wcslen(b) == n && _wcsnicmp(a, b, n) == 0;
}

// CON, NUL, COM1 ... open devices, not files, whatever extension follows.
bool IsDeviceName(const wchar_t* begin, const wchar_t* end) {
    size_t n = 0;
    while (begin + n < end && begin[n] != L'.') ++n;
    while (n > 0 && begin[n - 1] == L' ') --n;
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : kDevices)
        if (EqualsNoCase(begin, n, d)) return true;
    if (n == 4 && (_wcsnicmp(begin, L"COM", 3) == 0 || _wcsnicmp(begin, L"LPT", 3) == 0) &&
        begin[3] >= L'0' && begin[3] <= L'9')
        return true;
    return false;
}

// Moves a file over an existing one even when that one is read-only.
bool ReplaceWith(const wchar_t* temp, const wchar_t* target) {
    if (MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return true;
    DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(target, attributes & ~FILE_ATTRIBUTE_READONLY);
        if (MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            return true;
        SetFileAttributesW(target, attributes);
    }
    return false;
}

struct WriteContext {
    HANDLE file;
    IInstallReport* report;
    uint32_t total;
    uint32_t done;
    uint64_t bytesTotal;
    uint64_t* bytesDone;
    uint64_t sinceReport;
};

// Between reports of whole entries, a large entry reports its bytes now and
// then (no name, done unchanged), so the speed line keeps moving.
constexpr uint64_t kByteReportInterval = 1u << 20;

bool WritePiece(const void* bytes, uint32_t count, void* context) {
    auto* c = static_cast<WriteContext*>(context);
    if (c->report->StopRequested()) return false;
    DWORD written = 0;
    if (!WriteFile(c->file, bytes, count, &written, nullptr) || written != count) return false;
    *c->bytesDone += count;
    c->sinceReport += count;
    if (c->sinceReport >= kByteReportInterval) {
        c->sinceReport = 0;
        c->report->Progress(nullptr, c->total, c->done, c->bytesTotal, *c->bytesDone);
    }
    return true;
}

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

// Makes the parent folders of a file path.
bool CreateParentOf(const wchar_t* path) {
    wchar_t parent[MAX_PATH];
    wcsncpy(parent, path, MAX_PATH - 1);
    parent[MAX_PATH - 1] = 0;
    wchar_t* cut = wcsrchr(parent, L'\\');
    if (!cut) return false;
    *cut = 0;
    if (GetFileAttributesW(parent) != INVALID_FILE_ATTRIBUTES) return true;
    return CreateDirectoryTree(parent, L'\\');
}

// The temporary files ("~inXXXX.tmp") an earlier run that was killed left
// beside the files it was replacing: removed once per folder, before this
// run writes there. One that another running installer is still writing is
// open without sharing, cannot be deleted and stays.
class StaleTempSweeper {
public:
    void SweepParentOf(const wchar_t* path) {
        std::wstring folder(path);
        size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos) return;
        folder.resize(cut + 1);
        if (!swept_.insert(folder).second) return;
        WIN32_FIND_DATAW data;
        UniqueFind find(FindFirstFileW((folder + L"~in*.tmp").c_str(), &data));
        if (!find) return;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsEntryTempName(data.cFileName))
                DeleteFileW((folder + data.cFileName).c_str());
        } while (FindNextFileW(find.get(), &data));
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
    std::unordered_set<std::wstring> swept_;
};

// The inner archive, read from wherever it could be put.
struct InnerArchive {
    XZip names;      // safe entry names and directory flags
    ZipStream data;  // the bytes, piece by piece
    XData memory;    // the archive itself when it had to be held in memory
    // An older package's archive copied out; deleted when this closes (or
    // when the process ends, however it ends).
    UniqueFile tempFile;
    wchar_t tempPath[MAX_PATH] = {};
    bool empty = false;  // a valid archive without entries

    int Count() { return empty ? 0 : names.Count(); }

    ~InnerArchive() {
        names.Close();
        data.Close();
    }
};

struct CopyContext {
    HANDLE file;
    IInstallReport* report;
};

bool CopyPieceToFile(const void* bytes, uint32_t count, void* context) {
    auto* c = static_cast<CopyContext*>(context);
    DWORD written = 0;
    return !c->report->StopRequested() && WriteFile(c->file, bytes, count, &written, nullptr) &&
           written == count;
}

// The ZIP reader cannot open an archive that is only its end record (its
// central directory then sits at offset 0, which it takes for "not found"),
// yet such an archive is valid: it holds no entries.
bool IsEmptyArchive(const uint8_t* bytes, uint32_t size) {
    if (!bytes || size < 22 || std::memcmp(bytes, "PK\x05\x06", 4) != 0) return false;
    auto u16 = [&](int at) { return unsigned(bytes[at] | bytes[at + 1] << 8); };
    return u16(4) == 0 && u16(6) == 0 && u16(8) == 0 && u16(10) == 0 && 22u + u16(20) == size;
}

// The inner archive as it lies in the payload: the payload's bytes in memory
// or its file, from offset on.
bool OpenInPlace(const InstallJob& job, uint64_t offset, uint64_t size, InnerArchive& inner) {
    const char* password = GetArchivePassword();
    if (job.payloadBytes) {
        if (offset > job.payloadSize || size > job.payloadSize - offset || size > UINT32_MAX)
            return false;
        const uint8_t* bytes = static_cast<const uint8_t*>(job.payloadBytes) + offset;
        if (IsEmptyArchive(bytes, uint32_t(size))) return inner.empty = true;
        return inner.names.OpenFromMemory(bytes, uint32_t(size), password) &&
               inner.data.OpenFromMemory(bytes, size, password) &&
               inner.names.Count() == inner.data.Count();
    }
    if (!inner.names.OpenFromFileWindow(job.payloadPath, offset, size, password)) return false;
    if (inner.names.Count() == 0) return inner.empty = true;
    return inner.data.OpenFromFileWindow(job.payloadPath, offset, size, password) &&
           inner.names.Count() == inner.data.Count();
}

// The packaging tool stores the inner archive as it is (its entries carry
// their own encryption), so it is read in place: no copy, nothing held in
// memory beyond the payload. An inner archive encrypted as a whole (older
// packages) cannot be read at random, so it goes to a temporary file first,
// or, when none can be written, into memory, as the payload's reader gives it.
bool OpenInnerArchive(const InstallJob& job, InnerArchive& inner, IInstallReport& report) {
    int index = job.payload ? job.payload->Find(job.archiveName, nullptr) : -1;
    if (index < 0) return false;
    const char* password = GetArchivePassword();

    ZipStream payload;
    bool source = job.payloadBytes
                      ? payload.OpenFromMemory(job.payloadBytes, job.payloadSize, password)
                      : (job.payloadPath && payload.OpenFromFile(job.payloadPath, password));
    uint64_t offset = 0, size = 0;
    if (source && payload.PlainRange(index, &offset, &size)) return OpenInPlace(job, offset, size, inner);
    wchar_t folder[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, folder);
    if (source && n > 0 && n < MAX_PATH && GetTempFileNameW(folder, L"ins", 0, inner.tempPath)) {
        inner.tempFile.reset(CreateFileW(
            inner.tempPath, GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (!inner.tempFile) DeleteFileW(inner.tempPath);
        CopyContext context{inner.tempFile.get(), &report};
        LARGE_INTEGER length = {};
        if (inner.tempFile && payload.Read(index, CopyPieceToFile, &context) &&
            GetFileSizeEx(inner.tempFile.get(), &length)) {
            // Read back through the open handle's sharing: the copy has no
            // other name to be opened by.
            if (inner.names.OpenFromFileWindow(inner.tempPath, 0, uint64_t(length.QuadPart), password)) {
                if (inner.names.Count() == 0) return inner.empty = true;
                if (inner.data.OpenFromFileWindow(inner.tempPath, 0, uint64_t(length.QuadPart),
                                                  password) &&
                    inner.names.Count() == inner.data.Count())
                    return true;
            }
            inner.names.Close();
            inner.data.Close();
            return false;  // read whole, but no archive: memory would not help
        }
        inner.tempFile.reset();
        if (report.StopRequested()) return false;
    }
    if (!job.payload->ExtractByName(job.archiveName, &inner.memory)) return false;
    if (IsEmptyArchive(inner.memory.data, inner.memory.size)) return inner.empty = true;
    return inner.names.OpenFromMemory(inner.memory.data, inner.memory.size, password) &&
           inner.data.OpenFromMemory(inner.memory.data, inner.memory.size, password) &&
           inner.names.Count() == inner.data.Count();
}

InstallResult Extract(const InstallJob& job, InnerArchive& inner, IInstallReport& report) {
    InstallResult result;
    result.outcome = InstallOutcome::kExtracted;
    const int count = inner.Count();
    const uint32_t total = static_cast<uint32_t>(count);
    uint64_t bytesTotal = 0, bytesDone = 0;
    for (int i = 0; i < count; ++i)
        if (!inner.names.IsDirectory(i)) bytesTotal += inner.data.SizeOf(i);

    StaleTempSweeper sweeper;
    CreateDirectoryTree(job.installDir, L'\\');
    for (int i = 0; i < count; ++i) {
        if (report.StopRequested()) {
            result.outcome = InstallOutcome::kStopped;
            return result;
        }
        wchar_t name[kZipNameCapacity] = {};
        if (!inner.names.GetEntryName(i, name)) continue;  // no report, as if absent
        ++result.entries;
        for (wchar_t* p = name; *p; ++p)
            if (*p == L'/') *p = L'\\';
        const uint32_t done = static_cast<uint32_t>(i + 1);
        bool directory = inner.names.IsDirectory(i);
        wchar_t path[MAX_PATH];
        // A name that would leave the directory or overflow the path is
        // refused: counted, reported without a name (so not recorded).
        if (!IsContainedEntryName(name) || !JoinInstallPath(path, job.installDir, name)) {
            ++result.failed;
            if (!directory) bytesDone += inner.data.SizeOf(i);
            report.Progress(nullptr, total, done, bytesTotal, bytesDone);
            continue;
        }
        bool ok;
        if (directory) {
            // The tree maker takes an existing file for a made level, so
            // the folder is checked for afterwards.
            ok = (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ||
                  CreateDirectoryTree(path, L'\\')) &&
                 IsFolder(path);
        } else {
            uint64_t before = bytesDone;
            sweeper.SweepParentOf(path);
            ok = CreateParentOf(path) &&
                 WriteEntryFile(inner.data, i, path, report, total, i, bytesTotal, &bytesDone);
            // What a failed entry would have written still counts as handled.
            bytesDone = before + inner.data.SizeOf(i);
            if (report.StopRequested()) {
                result.outcome = InstallOutcome::kStopped;
                return result;
            }
        }
        if (!ok) ++result.failed;
        else if (!directory) ++result.installed;
        // Only what is in place is named, and so recorded for removal.
        report.Progress(ok ? name : nullptr, total, done, bytesTotal, bytesDone);
        if (done == total) result.completed = true;
    }
    // An empty archive, or one whose last name could not be read, still ends
    // with a completion report.
    if (!result.completed) {
        report.Progress(nullptr, total, total, bytesTotal, bytesTotal);
        result.completed = true;
    }
    return result;
}

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
        const bool install = item->action == kUpdateAdd && IsSafeRelativePath(item->file);
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

bool IsContainedEntryName(const wchar_t* name) {
    if (!name || !name[0] || IsSeparator(name[0])) return false;
    const wchar_t* component = name;
    for (const wchar_t* p = name;; ++p) {
        wchar_t c = *p;
        if (c == 0 || IsSeparator(c)) {
            if (p > component) {
                bool dotsOnly = true;
                for (const wchar_t* q = component; q < p; ++q)
                    if (*q != L'.' && *q != L' ') dotsOnly = false;
                if (dotsOnly || IsDeviceName(component, p)) return false;
            } else if (c != 0 && p != name) {
                return false;  // an empty component ("a\\b")
            }
            if (c == 0) return true;
            component = p + 1;
            continue;
        }
        if (c < 32 || std::wcschr(L":*?\"<>|", c)) return false;
    }
}

bool WriteEntryFile(ZipStream& zip, int index, const wchar_t* path, IInstallReport& report,
                    uint32_t total, uint32_t done, uint64_t bytesTotal, uint64_t* bytesDone) {
    wchar_t folder[MAX_PATH];
    wcsncpy(folder, path, MAX_PATH - 1);
    folder[MAX_PATH - 1] = 0;
    wchar_t* cut = wcsrchr(folder, L'\\');
    if (!cut) return false;
    *cut = 0;
    wchar_t temp[MAX_PATH] = {};
    // A folder too long for a temporary name beside it gets the file written
    // in place; that is the only case an interrupted write can truncate.
    bool direct = !GetTempFileNameW(folder, L"~in", 0, temp);
    const wchar_t* target = direct ? path : temp;
    bool ok;
    {
        UniqueFile file(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && direct) {
            // A read-only target cannot be opened for writing.
            DWORD attributes = GetFileAttributesW(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
                SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
                file.reset(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            }
        }
        if (!file) {
            if (!direct) DeleteFileW(temp);
            return false;
        }
        WriteContext context{file.get(), &report, total, done, bytesTotal, bytesDone, 0};
        ok = zip.Read(index, WritePiece, &context);
    }
    if (direct) {
        if (!ok) DeleteFileW(path);
        return ok;
    }
    if (ok && ReplaceWith(temp, path)) return true;
    DeleteFileW(temp);
    return false;
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
        if (inner && OpenInnerArchive(job, *inner, report)) return Extract(job, *inner, report);
        if (report.StopRequested()) {
            result.outcome = InstallOutcome::kStopped;
            return result;
        }
    }
    return RunDownload(job, report);
}
