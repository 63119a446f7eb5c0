// The install worker on its own: extraction into a folder from payloads
// built here, with a recording report instead of the window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/install_worker.h"
#include "client/app_file.h"
#include "support/data.h"
#include "support/handle.h"
#include "support/zip.h"
#include "tests/common/zip_builder.h"
#include "tests/common/test_util.h"

using fixture::ZipItem;
using testing_util::FileExists;
using testing_util::ReadAll;
using testing_util::CountTempFiles;
using testing_util::TempDir;

namespace {

struct Report {
    std::wstring name;  // L"<null>" when none
    uint32_t total, done;
    uint64_t bytesTotal, bytesDone;
};

class RecordingReport : public IInstallReport {
public:
    void Progress(const wchar_t* name, uint32_t total, uint32_t done, uint64_t bytesTotal,
                  uint64_t bytesDone) override {
        reports.push_back({name ? name : L"<null>", total, done, bytesTotal, bytesDone});
        if (stopAfter > 0 && reports.size() >= stopAfter) stop = true;
    }
    bool StopRequested() override { return stop; }

    std::vector<Report> reports;
    size_t stopAfter = 0;
    bool stop = false;
};

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// An entry's name as the worker reports and records it.
std::wstring InstalledName(const ZipItem& item) {
    std::wstring name(item.name.begin(), item.name.end());
    for (auto& c : name)
        if (c == L'/') c = L'\\';
    return name;
}

// Every file item is in dir with its bytes.
void ExpectFilesOf(const std::vector<ZipItem>& items, const std::wstring& dir) {
    for (const ZipItem& item : items) {
        if (!item.directory) {
            EXPECT_TRUE(Text(ReadAll(dir + InstalledName(item))) == item.bytes) << item.name;
        }
    }
}

// A payload holding the inner archive "app.zip" of the given items, stored
// as the packaging tool stores it.
struct Payload {
    explicit Payload(const std::vector<ZipItem>& inner, bool innerIsArchive = true) {
        std::vector<uint8_t> innerBytes = fixture::MakeZip(inner, GetArchivePassword());
        std::string innerText(innerBytes.begin(), innerBytes.end());
        if (!innerIsArchive) innerText = "this is not a zip archive at all";
        bytes = fixture::MakeZip({{"theme.txt", "{}"}, fixture::InnerArchiveItem(innerText)},
                                 GetArchivePassword());
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), GetArchivePassword()));
    }
    InstallJob Job(const std::wstring& dir) {
        InstallJob job;
        job.installDir = dir.c_str();
        job.archiveName = L"APP.ZIP";  // found regardless of case
        job.manifestUrl = L"";
        job.payload = &zip;
        job.payloadBytes = bytes.data();
        job.payloadSize = bytes.size();
        return job;
    }
    std::vector<uint8_t> bytes;
    XZip zip;
};

}  // namespace

TEST(InstallPath, JoinsWithOneSeparatorAndRefusesOverflow) {
    struct Case {
        const wchar_t* dir;
        const wchar_t* name;
        const wchar_t* expected;  // null: refused
    } cases[] = {
        {L"C:\\Games\\", L"a\\b.txt", L"C:\\Games\\a\\b.txt"},
        {L"C:\\Games", L"a\\b.txt", L"C:\\Games\\a\\b.txt"},
        {L"C:\\Games/", L"b.txt", L"C:\\Games/b.txt"},
        {L"", L"b.txt", L"b.txt"},
    };
    for (const Case& c : cases) {
        wchar_t out[MAX_PATH];
        ASSERT_TRUE(JoinInstallPath(out, c.dir, c.name)) << testing_util::Narrow(c.dir);
        EXPECT_STREQ(c.expected, out);
    }
    std::wstring dir = L"C:\\" + std::wstring(240, L'd') + L"\\";
    wchar_t out[MAX_PATH];
    EXPECT_TRUE(JoinInstallPath(out, dir.c_str(), std::wstring(259 - dir.size(), L'n').c_str()));
    EXPECT_FALSE(JoinInstallPath(out, dir.c_str(), std::wstring(260 - dir.size(), L'n').c_str()));
}

TEST(InstallWorker, ExtractsEveryEntryAndReportsEntriesAndBytes) {
    const std::string big = fixture::Noise(3 * 1024 * 1024 + 17, 1);  // several pieces
    Payload payload({{"client.exe", "MZ client"},
                     {"data/", "", true},
                     {"data/sub/file.bin", big},
                     {"empty.txt", ""},
                     {"stored.dat", "kept as is", false, true}});
    for (const wchar_t* suffix : {L"", L"\\"}) {
        TempDir temp;
        std::wstring dir = temp.path() + L"game" + suffix;  // with and without the backslash
        RecordingReport report;
        InstallResult result = RunInstall(payload.Job(dir), report);

        std::wstring root = temp.path() + L"game\\";
        EXPECT_EQ(InstallOutcome::kExtracted, result.outcome);
        EXPECT_TRUE(result.completed);
        EXPECT_EQ(5u, result.entries);
        EXPECT_EQ(0u, result.failed);
        EXPECT_EQ("MZ client", Text(ReadAll(root + L"client.exe")));
        EXPECT_TRUE(Text(ReadAll(root + L"data\\sub\\file.bin")) == big);
        EXPECT_TRUE(FileExists(root + L"empty.txt"));
        EXPECT_EQ("kept as is", Text(ReadAll(root + L"stored.dat")));
        EXPECT_EQ(0u, CountTempFiles(root) + CountTempFiles(root + L"data\\sub\\"));

        // One named report per entry, in order, done counting entries.
        std::vector<std::wstring> named;
        for (const Report& r : report.reports)
            if (r.name != L"<null>") named.push_back(r.name);
        EXPECT_EQ((std::vector<std::wstring>{L"client.exe", L"data\\", L"data\\sub\\file.bin",
                                             L"empty.txt", L"stored.dat"}),
                  named);
        ASSERT_FALSE(report.reports.empty());
        const Report& last = report.reports.back();
        EXPECT_EQ(5u, last.total);
        EXPECT_EQ(5u, last.done);
        const uint64_t bytes = 9 + big.size() + 10;
        EXPECT_EQ(bytes, last.bytesTotal);
        EXPECT_EQ(bytes, last.bytesDone);
        // Only the last report completes; bytes never go back; the big entry
        // reports its progress in between (without a name).
        uint64_t previous = 0;
        size_t midEntry = 0;
        for (size_t i = 0; i < report.reports.size(); ++i) {
            const Report& r = report.reports[i];
            EXPECT_GE(r.bytesDone, previous);
            previous = r.bytesDone;
            if (i + 1 < report.reports.size()) {
                EXPECT_LT(r.done, r.total);
            }
            if (r.name == L"<null>") ++midEntry;
        }
        EXPECT_GE(midEntry, 2u);
    }
}

// Copies of an inner archive in the temporary folder ("ins*.tmp").
size_t CopiesInTemp() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    size_t n = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((std::wstring(folder) + L"ins*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do ++n;
    while (FindNextFileW(find, &data));
    FindClose(find);
    return n;
}

// The packaging tool stores the inner archive as it is, and the worker reads
// it where it lies, from the payload in memory or its file: no copy. An
// older package's archive, encrypted as a whole, goes through a copy in the
// temporary folder that is gone when the run ends.
TEST(InstallWorker, ReadsAPlainInnerArchiveInPlaceAndAnEncryptedOneThroughACopy) {
    const std::vector<ZipItem> client = {{"bin/", "", true},
                                         {"bin/a.txt", "alpha"},
                                         {"data/big.bin", fixture::Noise(3 << 20, 5)},
                                         {"data/stored.bin", fixture::Noise(70000, 6), false, true}};
    enum Source { kMemory, kFile, kMemoryAndFile };
    struct Case {
        const char* what;
        bool encryptedWhole;
        Source source;
    } cases[] = {{"plain, in memory", false, kMemory},
                 {"plain, in a file", false, kFile},
                 // As the resource in the program's own file: mapped for the
                 // payload's directory, the inner archive read from the file.
                 {"plain, in memory and inside a larger file", false, kMemoryAndFile},
                 {"encrypted whole, in memory", true, kMemory},
                 {"encrypted whole, in a file", true, kFile}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        std::vector<uint8_t> bytes = fixture::MakeZip(
            {{"theme.txt", "{}"},
             fixture::InnerArchiveItem(fixture::MakeZip(client, GetArchivePassword()), c.encryptedWhole)},
            GetArchivePassword());
        std::wstring zipPath = temp / L"setup.zip";
        const size_t prefix = c.source == kMemoryAndFile ? 4099 : 0;
        std::vector<uint8_t> file(prefix, 'M');
        file.insert(file.end(), bytes.begin(), bytes.end());
        ASSERT_TRUE(testing_util::WriteAll(zipPath, file));
        XZip zip;
        ASSERT_TRUE(c.source == kFile ? zip.OpenFromFile(zipPath.c_str(), GetArchivePassword())
                                      : zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()),
                                                           GetArchivePassword()));
        std::wstring dir = temp / L"out\\";
        InstallJob job;
        job.installDir = dir.c_str();
        job.archiveName = L"app.zip";
        job.payload = &zip;
        if (c.source != kFile) {
            job.payloadBytes = bytes.data();
            job.payloadSize = bytes.size();
        }
        if (c.source != kMemory) {
            job.payloadPath = zipPath.c_str();
            job.payloadOffset = prefix;
        }
        if (c.source == kMemoryAndFile) {
            // Spoil the memory's copy of the client's largest file: only
            // a read from the file installs it right.
            const size_t middle = bytes.size() / 2;
            for (size_t i = middle; i < middle + 4096; ++i) bytes[i] ^= 0x5A;
        }
        const size_t before = CopiesInTemp();
        struct CopyWatch : RecordingReport {
            void Progress(const wchar_t* name, uint32_t total, uint32_t done, uint64_t bytesTotal,
                          uint64_t bytesDone) override {
                if (reports.empty()) copiesWhileRunning = CopiesInTemp();
                RecordingReport::Progress(name, total, done, bytesTotal, bytesDone);
            }
            size_t copiesWhileRunning = 0;
        } report;
        InstallResult result = RunInstall(job, report);
        EXPECT_TRUE(result.completed);
        EXPECT_EQ(0u, result.failed);
        ExpectFilesOf(client, dir);
        EXPECT_EQ(before + (c.encryptedWhole ? 1 : 0), report.copiesWhileRunning);
        EXPECT_EQ(before, CopiesInTemp()) << "a copy was left behind";
    }
}

// Temporary files a killed run left beside the files it replaced are
// removed by the next run that writes there; one another writer holds open,
// and a player's file of a similar name, stay.
TEST(InstallWorker, RemovesTheTemporaryFilesOfAKilledRun) {
    Payload payload({{"a.txt", "alpha"}, {"data/b.txt", "beta"}});
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"data").c_str(), nullptr));
    const std::wstring stale[] = {dir + L"~in1A2B.tmp", dir + L"data\\~inF.TMP"};
    const std::wstring kept[] = {dir + L"~index.tmp", dir + L"~in12345.tmp", dir + L"data\\~in7.tmp.bak"};
    for (const auto& path : stale) ASSERT_TRUE(testing_util::WriteAll(path, "partial", 7));
    for (const auto& path : kept) ASSERT_TRUE(testing_util::WriteAll(path, "mine", 4));
    std::wstring busy = dir + L"data\\~in9C.tmp";
    ASSERT_TRUE(testing_util::WriteAll(busy, "being written", 13));
    UniqueFile writer(CreateFileW(busy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);

    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(0u, result.failed);
    EXPECT_EQ("beta", Text(ReadAll(dir + L"data\\b.txt")));
    for (const auto& path : stale) EXPECT_FALSE(FileExists(path)) << testing_util::Narrow(path);
    for (const auto& path : kept) EXPECT_TRUE(FileExists(path)) << testing_util::Narrow(path);
    EXPECT_TRUE(FileExists(busy));
}

// A file of the player's stands where entries need a folder: every entry
// in it fails (the folder is tried once, its answer kept for the others),
// and the entries elsewhere are installed.
TEST(InstallWorker, EntriesUnderAFolderThatCannotBeMadeAllFail) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 8; ++i) {
        const std::string folder = i % 2 ? "blocked/" : "open/";
        items.push_back({folder + "f" + std::to_string(i), fixture::Noise(3000, uint32_t(i))});
    }
    Payload payload(items);
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"blocked", "mine", 4));
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(4u, result.failed);
    EXPECT_EQ(4u, result.installed);
    EXPECT_EQ("mine", Text(ReadAll(dir + L"blocked")));
    for (int i = 0; i < 8; i += 2)
        EXPECT_EQ(items[size_t(i)].bytes, Text(ReadAll(dir + L"open\\f" + std::to_wstring(i))));
    size_t named = 0;
    for (const Report& r : report.reports)
        if (r.name != L"<null>") {
            EXPECT_EQ(0u, r.name.find(L"open\\")) << testing_util::Narrow(r.name);
            ++named;
        }
    EXPECT_EQ(4u, named);
}

// Empty archives and unreadable last names still end with a completion
// report, so the window leaves the installing state.
TEST(InstallWorker, AnEmptyInnerArchiveCompletes) {
    Payload payload(std::vector<ZipItem>{});
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_EQ(InstallOutcome::kExtracted, result.outcome);
    EXPECT_TRUE(result.completed);
    ASSERT_EQ(1u, report.reports.size());
    EXPECT_EQ(0u, report.reports[0].total);
    EXPECT_EQ(0u, report.reports[0].done);
    EXPECT_TRUE(FileExists(dir));
}

TEST(InstallWorker, ReplacesExistingFilesWholeIncludingReadOnlyOnes) {
    Payload payload({{"a.txt", "new a"}, {"ro.txt", "new ro"}});
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(dir + L"a.txt", "old content that is longer", 27));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"ro.txt", "old", 3));
    SetFileAttributesW((dir + L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_EQ(0u, result.failed);
    EXPECT_EQ("new a", Text(ReadAll(dir + L"a.txt")));
    EXPECT_EQ("new ro", Text(ReadAll(dir + L"ro.txt")));
    EXPECT_EQ(0u, CountTempFiles(dir));
}

// Stopped in the middle of a large entry: the file being replaced keeps its
// old content, the partial copy is gone, and nothing is reported afterwards.
// A later entry another writer took meanwhile is either not there or whole.
TEST(InstallWorker, AStoppedWorkerLeavesNoTruncatedFile) {
    const std::string big = fixture::Noise(4 * 1024 * 1024, 2);
    Payload payload({{"first.txt", "one"}, {"big.bin", big}, {"last.txt", "three"}});
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(dir + L"big.bin", "previous version", 16));
    RecordingReport report;
    report.stopAfter = 2;  // first.txt, then the first piece of big.bin
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_EQ(InstallOutcome::kStopped, result.outcome);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(2u, report.reports.size());
    EXPECT_EQ("previous version", Text(ReadAll(dir + L"big.bin")));
    if (FileExists(dir + L"last.txt")) {
        EXPECT_EQ("three", Text(ReadAll(dir + L"last.txt")));
    }
    EXPECT_EQ(0u, CountTempFiles(dir));
}

// Entries that cannot be installed are counted and reported, never written
// half, never written outside the directory.
TEST(InstallWorker, CountsEntriesThatCannotBeInstalled) {
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(dir + L"damaged.bin", "intact", 6));
    Payload payload({{"ok.txt", "fine"},
                     {"damaged.bin", fixture::Noise(5000, 3), false, false, "wrong password"},
                     {"con.txt", "device"},
                     {"../escape.txt", "kept inside"},
                     {std::string(250, 'n') + ".txt", "too long"}});
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(5u, result.entries);
    EXPECT_EQ(3u, result.failed);  // damaged, device name, path too long
    EXPECT_EQ("fine", Text(ReadAll(dir + L"ok.txt")));
    EXPECT_EQ("intact", Text(ReadAll(dir + L"damaged.bin")));
    EXPECT_EQ("kept inside", Text(ReadAll(dir + L"escape.txt")));
    EXPECT_FALSE(FileExists(temp / L"escape.txt"));
    EXPECT_EQ(0u, CountTempFiles(dir));
    // Refused and failed entries are reported without a name, so only what
    // this run put in place is recorded (the old damaged.bin is not ours).
    std::vector<std::wstring> named;
    for (const Report& r : report.reports)
        if (r.name != L"<null>") named.push_back(r.name);
    EXPECT_EQ((std::vector<std::wstring>{L"ok.txt", L"escape.txt"}), named);
    EXPECT_EQ(5u, report.reports.back().done);
}

// A repair keeps what the earlier record names and is still there; names
// that are gone, lead outside or are already recorded are not added.
TEST(InstallRecord, KeepsEarlierEntriesThatStillExistInside) {
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"存档").c_str(), nullptr));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"存档\\old.sav", "s", 1));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"client.exe", "c", 1));
    ASSERT_TRUE(testing_util::WriteAll(temp / L"outside.txt", "o", 1));
    const std::wstring earlier = L"client.exe|存档\\|存档\\old.sav|gone.txt|..\\outside.txt|"
                                 L"C:\\windows\\win.ini|CLIENT.EXE|" + std::wstring(600, L'x') + L"|";
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (wchar_t c : earlier) {
        bytes.push_back(uint8_t(c & 0xFF));
        bytes.push_back(uint8_t(c >> 8));
    }
    ASSERT_TRUE(testing_util::WriteAll(dir + L"uninst.dat", bytes));

    CAppFile record;
    record.AddEntry(L"client.exe");
    record.AddEntry(L"new.dat");
    KeepEarlierEntries(record, (dir + L"uninst.dat").c_str(), dir.c_str());
    std::vector<std::wstring> names;
    for (uint32_t i = 0; i < record.count; ++i) names.push_back(record.entries[i]->c_str());
    EXPECT_EQ((std::vector<std::wstring>{L"client.exe", L"new.dat", L"存档\\", L"存档\\old.sav"}),
              names);

    // No earlier record, or an unreadable one: the record stays as it was.
    CAppFile fresh;
    fresh.AddEntry(L"a.txt");
    KeepEarlierEntries(fresh, (dir + L"missing.dat").c_str(), dir.c_str());
    EXPECT_EQ(1u, fresh.count);
}

TEST(InstallWorker, WithoutUsableArchiveOrManifestNothingIsReported) {
    struct Case {
        const char* what;
        bool innerIsArchive;
        const wchar_t* archiveName;
    } cases[] = {
        {"inner archive is garbage", false, L"app.zip"},
        {"inner archive missing", true, L"other.zip"},
        {"no archive name", true, L""},
    };
    for (const Case& c : cases) {
        Payload payload({{"a.txt", "a"}}, c.innerIsArchive);
        TempDir temp;
        std::wstring dir = temp / L"game\\";
        InstallJob job = payload.Job(dir);
        job.archiveName = c.archiveName;
        RecordingReport report;
        InstallResult result = RunInstall(job, report);
        EXPECT_EQ(InstallOutcome::kNoSource, result.outcome) << c.what;
        EXPECT_FALSE(result.completed) << c.what;
        EXPECT_TRUE(report.reports.empty()) << c.what;
        EXPECT_FALSE(FileExists(dir + L"a.txt")) << c.what;
    }
    RecordingReport report;
    InstallJob job;
    job.installDir = L"";
    EXPECT_EQ(InstallOutcome::kNoDirectory, RunInstall(job, report).outcome);
}

// Asked to stop before anything was extracted (while the inner archive is
// being copied out): no report, no file, no temporary copy left.
TEST(InstallWorker, AStopBeforeExtractionWritesNothing) {
    Payload payload({{"a.txt", "a"}, {"big.bin", fixture::Noise(2 * 1024 * 1024, 8)}});
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    auto temporaries = [&] {
        size_t n = 0;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((std::wstring(tempFolder) + L"ins*.tmp").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return n;
        do ++n;
        while (FindNextFileW(find, &data));
        FindClose(find);
        return n;
    };
    size_t before = temporaries();
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    RecordingReport report;
    report.stop = true;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_EQ(InstallOutcome::kStopped, result.outcome);
    EXPECT_TRUE(report.reports.empty());
    EXPECT_FALSE(FileExists(dir + L"a.txt"));
    EXPECT_EQ(before, temporaries());
}

// Files are written by several writers at once, yet the window hears of
// them exactly as before: one report per entry in the archive's order, the
// byte count never going back, and every file whole.
TEST(InstallWorker, WritesSideBySideYetReportsInArchiveOrder) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 300; ++i) {
        std::string folder = "d" + std::to_string(i % 7) + "/";
        if (i % 50 == 0) items.push_back({folder, "", true});
        size_t size = i % 37 == 0 ? (1u << 20) + size_t(i) * 997 : size_t(i * 131 % 5000);
        items.push_back({folder + "f" + std::to_string(i) + ".bin", fixture::Noise(size, uint32_t(i))});
    }
    Payload payload(items);
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_EQ(InstallOutcome::kExtracted, result.outcome);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(0u, result.failed);

    size_t named = 0;
    uint64_t bytes = 0;
    uint32_t done = 0;
    for (const Report& r : report.reports) {
        EXPECT_GE(r.bytesDone, bytes);
        EXPECT_GE(r.done, done);
        bytes = r.bytesDone;
        done = r.done;
        if (r.name == L"<null>") continue;
        ASSERT_LT(named, items.size());
        EXPECT_EQ(InstalledName(items[named]), r.name);
        EXPECT_EQ(named + 1, r.done);
        ++named;
    }
    EXPECT_EQ(items.size(), named);
    ASSERT_FALSE(report.reports.empty());
    EXPECT_EQ(report.reports.back().bytesTotal, report.reports.back().bytesDone);
    ExpectFilesOf(items, dir);
    EXPECT_EQ(0u, CountTempFiles(dir));
}

// Large entries are taken largest first, so the first entry, large but the
// smallest of them, is taken last, and its report waits while all the others
// are written: the byte count shows their bytes meanwhile rather than
// standing still, and still never goes back.
TEST(InstallWorker, BytesOfEntriesWrittenAheadShowBeforeTheirReports) {
    // Every entry is at least a 64th of the whole, so each counts as large.
    std::vector<ZipItem> items = {{"first.bin", fixture::Noise(512u << 10, 49)}};
    // More entries than there are readers in all the writers.
    for (int i = 0; i < 24; ++i)
        items.push_back({"large" + std::to_string(i) + ".bin", fixture::Noise(1u << 20, uint32_t(i + 50))});
    Payload payload(items);
    TempDir temp;
    std::wstring dir = temp / L"game\\";
    RecordingReport report;
    InstallResult result = RunInstall(payload.Job(dir), report);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(0u, result.failed);
    ASSERT_FALSE(report.reports.empty());
    EXPECT_EQ(L"<null>", report.reports.front().name);
    EXPECT_GE(report.reports.front().bytesDone, uint64_t(1) << 20);
    uint64_t bytes = 0;
    for (const Report& r : report.reports) {
        EXPECT_GE(r.bytesDone, bytes);
        bytes = r.bytesDone;
    }
    EXPECT_EQ(report.reports.back().bytesTotal, bytes);
    ExpectFilesOf(items, dir);
}

// Entries whose order matters (one name twice, a file where a later entry
// needs a folder, a folder where a later file would go) end as extracting
// them one after another in the archive's order ends.
TEST(InstallWorker, EntriesWhoseOrderMattersEndAsTheArchiveOrders) {
    struct Case {
        const char* what;
        std::vector<ZipItem> items;
        const wchar_t* file;     // read back afterwards
        const char* content;     // its content, or null: a folder
        uint32_t failed;
    } cases[] = {
        {"same name twice", {{"a.txt", "first"}, {"a.txt", "second"}}, L"a.txt", "second", 0},
        {"same name in other case", {{"A.txt", "first"}, {"a.TXT", "second"}}, L"a.txt", "second", 0},
        {"file where a folder is needed", {{"x", "file"}, {"x/y.txt", "inside"}}, L"x", "file", 1},
        {"folder where a file would go", {{"d/", "", true}, {"d", "file"}}, L"d", nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ZipItem> items;
        for (int i = 0; i < 6; ++i) items.push_back({"pad" + std::to_string(i), fixture::Noise(9000, uint32_t(i))});
        items.insert(items.begin() + 3, c.items.begin(), c.items.end());
        Payload payload(items);
        TempDir temp;
        std::wstring dir = temp / L"game\\";
        RecordingReport report;
        InstallResult result = RunInstall(payload.Job(dir), report);
        EXPECT_TRUE(result.completed);
        EXPECT_EQ(c.failed, result.failed);
        std::wstring path = dir + c.file;
        if (c.content) {
            EXPECT_EQ(c.content, Text(ReadAll(path)));
        } else {
            DWORD attributes = GetFileAttributesW(path.c_str());
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
        }
        EXPECT_EQ(0u, CountTempFiles(dir));
    }
}
