// Inner archives whose entry names try to leave the installation directory,
// name devices, overflow the path or collide with each other, installed by
// the real installer.exe in silent mode.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/zip.h"
#include "tests/hostile/hostile_fixture.h"

using fixture::ZipItem;
using hostile::Text;
using testing_util::FileExists;
using testing_util::ReadAll;

namespace {

class HostileNames : public hostile::Sandbox {};

bool IsFolder(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// Names are made safe where they can be (prefixes and climbing levels
// dropped, the rest kept inside) and refused where they cannot; a refused
// entry is counted, so the run ends with 1603, and nothing lands outside.
TEST_F(HostileNames, EveryEntryStaysInsideAndRefusalsAreCounted) {
    struct Case {
        const char* stored;
        const wchar_t* lands;  // relative to the installation directory; null: refused
    } cases[] = {
        {"../../evil1.txt", L"evil1.txt"},
        {"..\\..\\evil2.txt", L"evil2.txt"},
        {"C:\\evil3.txt", L"evil3.txt"},
        {"C:evil4.txt", L"evil4.txt"},
        {"/abs/evil5.txt", L"abs\\evil5.txt"},
        {"\\\\server\\share\\evil6.txt", L"server\\share\\evil6.txt"},
        {"a/../../evil7.txt", L"evil7.txt"},
        {"x/. ./. ./evil8.txt", L"x\\evil8.txt"},
        {"../C:/evil9.txt", L"evil9.txt"},
        {"CON", nullptr},
        {"aux.txt", nullptr},
        {"sub/nul", nullptr},
        {"com1.dat", nullptr},
        {"stream.txt:hidden", nullptr},
        {"wild*.txt", nullptr},
        {"what?.txt", nullptr},
        {"pipe|x.txt", nullptr},
        {"angle<x>.txt", nullptr},
        {"tab\t.txt", nullptr},
        {"dots/.../evil10.txt", L"dots\\evil10.txt"},
        {"", nullptr},
        {"..", nullptr},
    };
    std::vector<ZipItem> client;
    for (const Case& c : cases) client.push_back({c.stored, std::string("from ") + c.stored});
    std::string longName(300, 'L');
    client.push_back({longName, "too long"});
    client.push_back({"deep/" + std::string(240, 'd') + "/x.txt", "too long as a path"});
    client.push_back({"twice.txt", "first"});
    client.push_back({"twice.txt", "second"});
    client.push_back({"good.txt", "good"});

    std::wstring exe = Build(PayloadItems(client));
    EXPECT_EQ(1603u, RunSilent(exe));
    ExpectOutsideUnchanged();

    for (const Case& c : cases) {
        if (!c.lands) continue;
        EXPECT_EQ(std::string("from ") + c.stored, Text(ReadAll(Installed(c.lands)))) << c.stored;
    }
    EXPECT_EQ("good", Text(ReadAll(Installed(L"good.txt"))));
    EXPECT_EQ("second", Text(ReadAll(Installed(L"twice.txt"))));  // the later entry wins

    // Nothing but what the table expects, the records and their folders.
    std::set<std::wstring> tree;
    hostile::ListTree(installDir, &tree);
    std::set<std::wstring> allowed = {Installed(L"good.txt"), Installed(L"twice.txt"),
                                      Installed(L"uninst.dat"), Installed(L"abs\\"),
                                      Installed(L"server\\"), Installed(L"server\\share\\"),
                                      Installed(L"x\\"), Installed(L"dots\\")};
    for (const Case& c : cases)
        if (c.lands) allowed.insert(Installed(c.lands));
    for (const std::wstring& p : tree)
        EXPECT_TRUE(allowed.count(p)) << "unexpected: " << testing_util::Narrow(p);

    // The record names no refused entry and nothing that climbs.
    std::vector<uint8_t> record = ReadAll(Installed(L"uninst.dat"));
    ASSERT_GE(record.size(), 2u);
    std::wstring text(reinterpret_cast<const wchar_t*>(record.data() + 2), (record.size() - 2) / 2);
    EXPECT_EQ(std::wstring::npos, text.find(L".."));
    EXPECT_EQ(std::wstring::npos, text.find(L':'));
    EXPECT_EQ(std::wstring::npos, text.find(L"CON|"));
    EXPECT_EQ(std::wstring::npos, text.find(L"aux.txt"));
    // A partial installation is still registered.
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
}

// Files and folders of the same name: whichever comes second cannot be made,
// and that is a failure of the run, never a silent success; what stood in the
// installation directory before is not lost.
TEST_F(HostileNames, AFileAndAFolderOfTheSameNameFail) {
    struct Case {
        const char* what;
        std::vector<ZipItem> client;
        bool folderBefore;  // "kept" is an existing folder with a file in it
        bool endsAsFolder;  // "same"
    } cases[] = {
        // Alone, so that the exit code shows this one conflict is counted.
        {"file, then folder", {{"same", "file"}, {"same/", "", true}, {"ok.txt", "ok"}}, false, false},
        // Each of these fails on its own (the worker's tests count them); one
        // package shows that none of them costs what was there before.
        {"folder then file; file inside a file; file over a folder in place",
         {{"same/", "", true},
          {"same", "file"},
          {"plain", "file"},
          {"plain/inner.txt", "x"},
          {"kept", "file"},
          {"ok.txt", "ok"}},
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        if (c.folderBefore) {
            ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
            ASSERT_TRUE(CreateDirectoryW(Installed(L"kept").c_str(), nullptr));
            ASSERT_TRUE(testing_util::WriteAll(Installed(L"kept\\mine.txt"), "mine", 4));
        }
        std::wstring exe = Build(PayloadItems(c.client));
        EXPECT_EQ(1603u, RunSilent(exe));
        ExpectOutsideUnchanged();
        EXPECT_EQ("ok", Text(ReadAll(Installed(L"ok.txt"))));
        EXPECT_EQ(c.endsAsFolder, IsFolder(Installed(L"same")));
        if (!c.endsAsFolder) {
            EXPECT_EQ("file", Text(ReadAll(Installed(L"same"))));
        }
        if (c.folderBefore) {
            EXPECT_EQ("file", Text(ReadAll(Installed(L"plain"))));
            EXPECT_TRUE(IsFolder(Installed(L"kept")));
            EXPECT_EQ("mine", Text(ReadAll(Installed(L"kept\\mine.txt"))));
        }
        EXPECT_EQ(0u, testing_util::CountTempFiles(installDir)) << "a temporary file was left behind";
        ResetProduct();
    }
}
