#include "client/client_updater.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/client_info.h"
#include "support/digest.h"
#include "tests/common/test_util.h"
#include "tests/net/net_fixture.h"

using net_test::ServedPath;
using net_test::Url;
using testing_util::FileExists;
using testing_util::ReadAll;
using testing_util::TempDir;
using testing_util::WriteAll;
using testing_util::DeleteRecordKey;
using testing_util::WriteRecordValue;

namespace {

const wchar_t kCompany[] = L"SkinNetTest";

std::vector<uint8_t> ManifestBody() {
    const char text[] = "<list version=\"2\">\r\n</list>\n\r";
    return {text, text + sizeof(text) - 1};
}

std::wstring DigestOf(const std::vector<uint8_t>& bytes) {
    wchar_t out[33] = {};
    EXPECT_TRUE(DigestOfBuffer(out, bytes.data(), uint32_t(bytes.size())));
    return out;
}

// A product key of its own for every test, removed at the end.
class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_SERVER();
        app = L"App" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter_);
        ASSERT_TRUE(WriteAll(ServedPath(app + L".xml"), ManifestBody()));
        info.SetCompany(kCompany);
        info.SetApp(app.c_str());
        info.SetConfig(Url(app + L".xml").c_str());
    }
    void TearDown() override {
        std::wstring company = std::wstring(L"Software\\") + kCompany;
        DeleteRecordKey((company + L"\\" + app).c_str());
        DeleteRecordKey(company.c_str());
    }
    void RecordDigest(const std::wstring& md5) {
        std::wstring key = std::wstring(L"Software\\") + kCompany + L"\\" + app;
        // Stored without its NUL, as earlier builds wrote every value.
        ASSERT_TRUE(WriteRecordValue(key, L"md5", md5, false));
    }

    CClientInfo info;
    std::wstring app;

private:
    static inline int counter_ = 0;
};

TEST_F(UpdaterTest, ManifestDigestIsUpperCaseMd5OfTheBody) {
    wchar_t out[40];
    wmemset(out, L'#', 40);
    ASSERT_TRUE(info.DownloadManifestDigest(out));
    EXPECT_EQ(std::wstring(out), DigestOf(ManifestBody()));
    EXPECT_EQ(out[32], 0);
    EXPECT_FALSE(info.DownloadManifestDigest(nullptr));
}

TEST_F(UpdaterTest, UpdateDecision) {
    std::wstring current = DigestOf(ManifestBody());
    std::wstring oneDigit = current;
    oneDigit[31] = oneDigit[31] == L'0' ? L'1' : L'0';
    std::wstring lower = current;
    for (auto& c : lower) c = towlower(c);
    ASSERT_NE(lower, current) << "the digest needs a letter for this case";

    const struct {
        const char* what;
        const wchar_t* recorded;  // null: no value in the registry
        bool available;
    } cases[] = {
        {"same digest", current.c_str(), false},
        {"one digit different", oneDigit.c_str(), true},
        {"recorded in lower case", lower.c_str(), true},
        {"never registered", nullptr, true},
        {"recorded value too long", (current + L"0").c_str(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        if (c.recorded) RecordDigest(c.recorded);
        EXPECT_EQ(info.IsUpdateAvailable(), c.available);
    }
}

TEST_F(UpdaterTest, NoServerMeansNoUpdate) {
    RecordDigest(L"00000000000000000000000000000000");
    wchar_t out[33] = {};
    for (const wchar_t* config : {L"", L"http://127.0.0.1:1/update.xml"}) {
        SCOPED_TRACE(testing_util::Narrow(config));
        info.SetConfig(config);
        EXPECT_FALSE(info.DownloadManifestDigest(out));
        EXPECT_FALSE(info.IsUpdateAvailable());
    }
    info.SetConfig(Url(L"no-such-manifest.xml").c_str());
    EXPECT_FALSE(info.IsUpdateAvailable());
}

// The fake updater records its command line in "ran.txt" beside itself.
std::wstring WaitForRun(const std::wstring& dir) {
    for (int i = 0; i < 300 && !FileExists(dir + L"ran.txt"); ++i) Sleep(100);
    auto bytes = ReadAll(dir + L"ran.txt");
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

// The processes started by this test program so far, counted by a job it
// puts itself into on first use (children join their parent's job).
DWORD ProcessesStartedInJob() {
    static HANDLE job = [] {
        HANDLE j = CreateJobObjectW(nullptr, nullptr);
        if (j && !AssignProcessToJobObject(j, GetCurrentProcess())) {
            CloseHandle(j);
            j = nullptr;
        }
        return j;
    }();
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    if (!job || !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                           sizeof(info), nullptr))
        return ~0u;
    return info.TotalProcesses;
}

TEST(Updater, CopyReplacesOlderOneAndStartsWithSilent) {
    TempDir dir;
    auto updater = ReadAll(testing_util::BinaryPath("bin/net_fake_updater.exe"));
    ASSERT_FALSE(updater.empty());
    ASSERT_TRUE(WriteAll(dir / L"update.exe", updater));
    ASSERT_TRUE(WriteAll(dir / L"_ud_.exe", "an older updater", 16));

    const DWORD before = ProcessesStartedInJob();
    ASSERT_TRUE(RunUpdaterIn(dir.path().c_str()));
    EXPECT_EQ(before + 1, ProcessesStartedInJob());  // the count the next test relies on
    std::wstring line = WaitForRun(dir.path());
    EXPECT_NE(line.find(L"_ud_.exe"), std::wstring::npos) << testing_util::Narrow(line);
    EXPECT_NE(line.find(L"silent"), std::wstring::npos) << testing_util::Narrow(line);
    EXPECT_EQ(ReadAll(dir / L"_ud_.exe"), updater);
    // The copy stays until the client removes it later.
    for (int i = 0; i < 100 && !DeleteUpdaterCopyIn(dir.path().c_str()); ++i) Sleep(100);
    EXPECT_FALSE(FileExists(dir / L"_ud_.exe"));
    EXPECT_TRUE(FileExists(dir / L"update.exe"));
    EXPECT_FALSE(DeleteUpdaterCopyIn(dir.path().c_str())) << "nothing left to delete";
}

TEST(Updater, CopyThatCannotBeReplacedIsNotStarted) {
    TempDir dir;
    auto updater = ReadAll(testing_util::BinaryPath("bin/net_fake_updater.exe"));
    ASSERT_FALSE(updater.empty());
    ASSERT_TRUE(WriteAll(dir / L"update.exe", updater));
    // An older copy that could still run but cannot be overwritten, as while
    // it is running.
    ASSERT_TRUE(WriteAll(dir / L"_ud_.exe", updater));
    HANDLE lock = CreateFileW((dir / L"_ud_.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    // Every process started from here on is counted by the job, however
    // short it lives.
    const DWORD before = ProcessesStartedInJob();
    EXPECT_FALSE(RunUpdaterIn(dir.path().c_str()));
    EXPECT_EQ(before, ProcessesStartedInJob()) << "a copy was started";
    EXPECT_FALSE(FileExists(dir / L"ran.txt"));
    CloseHandle(lock);
}

TEST(Updater, MissingUpdaterStartsNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteAll(dir / L"_ud_.exe", "an older updater", 16));
    EXPECT_FALSE(RunUpdaterIn(dir.path().c_str()));
    EXPECT_EQ(ReadAll(dir / L"_ud_.exe").size(), 16u);
    EXPECT_FALSE(FileExists(dir / L"ran.txt"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"update.exe").c_str(), nullptr));
    EXPECT_FALSE(RunUpdaterIn(dir.path().c_str())) << "a folder is not a program";
    EXPECT_FALSE(RunUpdaterIn(L""));
    EXPECT_FALSE(RunUpdaterIn(nullptr));
}

TEST(Updater, RunningProgramsFolderIsUsed) {
    // The test program's folder holds neither "update.exe" nor "_ud_.exe".
    CClientInfo info;
    ASSERT_FALSE(FileExists(testing_util::BinaryPath("bin/update.exe")));
    EXPECT_FALSE(info.RunUpdater());
    EXPECT_FALSE(FileExists(testing_util::BinaryPath("bin/_ud_.exe")));
    EXPECT_FALSE(info.DeleteUpdaterCopy());
}

}  // namespace
