// The installed-file record and its "uninst.dat" bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/app_file.h"
#include "support/replace_file.h"
#include "tests/common/test_util.h"

using testing_util::ReadAll;
using testing_util::TempDir;

namespace {

std::vector<uint8_t> Expected(const std::vector<std::wstring>& entries) {
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (const auto& entry : entries) {
        for (wchar_t c : entry + L"|") {
            out.push_back(static_cast<uint8_t>(c & 0xFF));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    return out;
}

TEST(AppFile, AddEntryKeepsOrderCopiesAndCuts) {
    CAppFile record;
    EXPECT_EQ(-1, record.AddEntry(nullptr));
    EXPECT_EQ(-1, record.AddEntry(L""));
    EXPECT_EQ(0, record.AddEntry(L"a.txt"));
    EXPECT_EQ(1, record.AddEntry(L"a.txt"));  // no deduplication
    std::wstring longName(600, L'x');
    longName[510] = L'y';
    EXPECT_EQ(2, record.AddEntry(longName.c_str()));
    EXPECT_EQ(3u, record.count);
    EXPECT_STREQ(L"a.txt", record.entries[1]->c_str());
    EXPECT_EQ(longName.substr(0, 511), record.entries[2]->c_str());
    EXPECT_EQ(nullptr, record.entries[3]);

    record.Clear();
    EXPECT_EQ(0u, record.count);
    EXPECT_EQ(nullptr, record.entries[0]);
    EXPECT_EQ(0, record.AddEntry(L"again"));
}

TEST(AppFile, SavesTheDocumentedBytes) {
    TempDir dir;
    struct Case {
        std::vector<std::wstring> entries;
    } cases[] = {
        {{L"a.txt", L"data\\", L"data\\b.dat"}},
        {{}},
        {{L"bin\\客户端.exe", L"bin\\客户端.exe"}},
    };
    for (const auto& c : cases) {
        CAppFile record;
        for (const auto& e : c.entries) record.AddEntry(e.c_str());
        std::wstring path = dir / L"uninst.dat";
        ASSERT_TRUE(SaveUninstallRecord(record, path.c_str()));
        EXPECT_EQ(Expected(c.entries), ReadAll(path));
        EXPECT_FALSE(testing_util::FileExists(path + kReplacingSuffix));
    }
    // The literal bytes of the first case, spelled out once.
    CAppFile record;
    record.AddEntry(L"a.txt");
    record.AddEntry(L"data\\");
    ASSERT_TRUE(SaveUninstallRecord(record, (dir / L"u.dat").c_str()));
    const std::vector<uint8_t> literal = {0xFF, 0xFE, 'a', 0, '.', 0, 't', 0, 'x', 0, 't', 0, '|', 0,
                                          'd',  0,    'a', 0, 't', 0, 'a', 0, '\\', 0, '|', 0};
    EXPECT_EQ(literal, ReadAll(dir / L"u.dat"));
}

// 10,000 entries of the longest kind: every one is written (far beyond a
// 1,300,000-character text area), and the 10,001st is refused.
TEST(AppFile, FullRecordIsWrittenWhole) {
    TempDir dir;
    auto record = std::make_unique<CAppFile>();
    std::vector<std::wstring> names;
    for (uint32_t i = 0; i < kAppFileMaxEntries; ++i) {
        std::wstring name = std::to_wstring(i) + L"\\" + std::wstring(600, L'f');
        ASSERT_EQ(static_cast<int>(i), record->AddEntry(name.c_str()));
        names.push_back(name.substr(0, 511));
    }
    EXPECT_EQ(-1, record->AddEntry(L"one.too.many"));
    EXPECT_EQ(kAppFileMaxEntries, record->count);
    EXPECT_EQ(nullptr, record->entries[kAppFileMaxEntries]);

    std::wstring path = dir / L"uninst.dat";
    ASSERT_TRUE(SaveUninstallRecord(*record, path.c_str()));
    auto bytes = ReadAll(path);
    EXPECT_EQ(2u + 2u * kAppFileMaxEntries * 512u, bytes.size());
    EXPECT_TRUE(bytes == Expected(names));
}

TEST(AppFile, FailureLeavesTheOldFile) {
    TempDir dir;
    std::wstring path = dir / L"uninst.dat";
    CAppFile first;
    first.AddEntry(L"old.txt");
    ASSERT_TRUE(SaveUninstallRecord(first, path.c_str()));
    const auto oldBytes = ReadAll(path);

    CAppFile second;
    second.AddEntry(L"new.txt");
    // The temporary name is taken by a folder: nothing can be written.
    ASSERT_TRUE(CreateDirectoryW((path + kReplacingSuffix).c_str(), nullptr));
    EXPECT_FALSE(SaveUninstallRecord(second, path.c_str()));
    EXPECT_EQ(oldBytes, ReadAll(path));
    RemoveDirectoryW((path + kReplacingSuffix).c_str());

    // The old file is held open without delete sharing, so it cannot be
    // replaced: it stays as it was and no temporary is left behind.
    {
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_FALSE(SaveUninstallRecord(second, path.c_str()));
        CloseHandle(held);
    }
    EXPECT_EQ(oldBytes, ReadAll(path));
    EXPECT_FALSE(testing_util::FileExists(path + kReplacingSuffix));

    // And once possible again, the new record replaces it.
    EXPECT_TRUE(SaveUninstallRecord(second, path.c_str()));
    EXPECT_EQ(Expected({L"new.txt"}), ReadAll(path));
}

TEST(AppFile, SaveRefusals) {
    TempDir dir;
    CAppFile record;
    record.AddEntry(L"a");
    EXPECT_FALSE(SaveUninstallRecord(record, nullptr));
    EXPECT_FALSE(SaveUninstallRecord(record, L""));
    EXPECT_FALSE(SaveUninstallRecord(record, (dir / L"no\\such\\uninst.dat").c_str()));
    // The temporary name would not fit MAX_PATH.
    std::wstring longPath = dir.path() + std::wstring(MAX_PATH - dir.path().size() - 3, L'u');
    EXPECT_FALSE(SaveUninstallRecord(record, longPath.c_str()));
}

}  // namespace
