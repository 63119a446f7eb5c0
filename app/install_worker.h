// The installation itself, as run on the worker thread: extract the inner
// archive of the payload into the installation directory, or, without a
// usable inner archive, download the files of the update manifest.
#pragma once

#include <cstdint>

class XZip;
struct DownloadProgress;

// Where the worker's reports go (the installer window, or a test).
class IInstallReport {
public:
    // One step of the protocol: name (null when there is none to record),
    // total and done as the completion rule counts them (entries when
    // extracting, bytes when downloading), and the bytes of file data
    // written so far out of all that are to be written.
    virtual void Progress(const wchar_t* name, uint32_t total, uint32_t done,
                          uint64_t bytesTotal, uint64_t bytesDone) = 0;
    // Checked between entries and between pieces of a large entry.
    virtual bool StopRequested() = 0;
    // A word about a file for the status line (a retry, a failure), shown
    // until the next named Progress; name as the manifest gives it.
    virtual void Notice(const wchar_t* name, const wchar_t* text) {
        (void)name;
        (void)text;
    }
    // Waits ms, ending early when a stop is requested; false then. This one
    // looks at StopRequested every few milliseconds; a report with a stop
    // event waits on that instead.
    virtual bool WaitUnlessStopped(uint32_t ms);

protected:
    ~IInstallReport() = default;
};

struct InstallJob {
    const wchar_t* installDir = nullptr;
    const wchar_t* archiveName = nullptr;  // empty or null: the download way
    const wchar_t* manifestUrl = nullptr;
    XZip* payload = nullptr;  // open; the inner archive is found, and if need be read, through it
    // The payload's own source, for reading the inner archive piece by piece:
    // its bytes in memory, and/or the file it lies in from payloadOffset on
    // (the file is preferred for the bulk of the reading).
    const void* payloadBytes = nullptr;
    uint64_t payloadSize = 0;
    const wchar_t* payloadPath = nullptr;
    uint64_t payloadOffset = 0;
    DownloadProgress* downloadProgress = nullptr;  // receives the manifest's digest
};

enum class InstallOutcome {
    kNoDirectory,  // nothing was attempted
    kNoSource,     // neither an inner archive nor a manifest address
    kExtracted,    // every entry was handled (see failed)
    kDownloaded,   // the manifest was fetched and applied (see failed)
    kDownloadFailed,  // the manifest could not be fetched or read
    kStopped,      // the owner asked the worker to stop
};

struct InstallResult {
    InstallOutcome outcome = InstallOutcome::kNoDirectory;
    uint32_t entries = 0;  // entries or manifest files handled
    uint32_t failed = 0;   // of them, not installed
    uint32_t installed = 0;  // files written or already in place
    bool completed = false;  // a report with done == total was made

    // Entries failed and not one file could be installed: there is no
    // installation to record.
    bool NothingInstalled() const { return failed > 0 && installed == 0; }
};

// Builds dir + name into out (MAX_PATH), with a "\" between them when dir
// lacks one. False when it would not fit.
bool JoinInstallPath(wchar_t* out, const wchar_t* dir, const wchar_t* name);

// Adds to `record` the names of the earlier record at `recordPath` (an
// earlier installation's uninst.dat) that stay inside `installDir`, still
// exist there and are not in `record` yet. A repair thus keeps the files an
// earlier installation put in place for the uninstaller to remove, and a
// name whose file is gone (or that points elsewhere) is dropped.
class CAppFile;
void KeepEarlierEntries(CAppFile& record, const wchar_t* recordPath, const wchar_t* installDir);

// Extraction when the job names an inner archive that can be read; else the
// download way.
InstallResult RunInstall(const InstallJob& job, IInstallReport& report);

// Writes one entry into place: the bytes go to a temporary file beside the
// target, which replaces the target only when complete, so an interrupted
// write never leaves a truncated file. Exposed for tests.
bool WriteEntryFile(XZip& zip, int index, const wchar_t* path, IInstallReport& report,
                    uint32_t total, uint32_t done, uint64_t bytesTotal, uint64_t* bytesDone);
