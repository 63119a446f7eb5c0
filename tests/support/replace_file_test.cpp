#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/handle.h"
#include "support/replace_file.h"
#include "tests/common/test_util.h"

using testing_util::FileExists;
using testing_util::ReadAll;
using testing_util::TempDir;
using testing_util::WriteAll;

namespace {

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + strlen(text)); }

enum class Target { kMissing, kPlain, kReadOnly, kFolder };

void Prepare(const std::wstring& path, Target target) {
    switch (target) {
        case Target::kMissing:
            break;
        case Target::kPlain:
        case Target::kReadOnly:
            ASSERT_TRUE(WriteAll(path, Bytes("old")));
            if (target == Target::kReadOnly) {
                ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
            }
            break;
        case Target::kFolder:
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            break;
    }
}

void Unprotect(const std::wstring& path) { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }

}  // namespace

// The copies this replaced disagreed on a read-only target: the records'
// writers failed on one, the worker and the download replaced it. An
// earlier release's read-only file is replaced everywhere now.
TEST(ReplacingFiles, MovesOverWhatIsThere) {
    const struct {
        Target target;
        bool moved;
    } cases[] = {
        {Target::kMissing, true},
        {Target::kPlain, true},
        {Target::kReadOnly, true},
        {Target::kFolder, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.target));
        TempDir dir;
        const std::wstring target = dir / L"客户端.dat";
        const std::wstring temporary = dir / L"~in1A.tmp";
        Prepare(target, c.target);
        ASSERT_TRUE(WriteAll(temporary, Bytes("new")));
        EXPECT_EQ(c.moved, MoveOverTarget(temporary.c_str(), target.c_str()));
        if (c.moved) {
            EXPECT_EQ(Bytes("new"), ReadAll(target));
            EXPECT_FALSE(FileExists(temporary));
        } else {
            EXPECT_NE(0u, GetLastError());
            // The caller's temporary stays for the caller to remove.
            EXPECT_EQ(Bytes("new"), ReadAll(temporary));
        }
        Unprotect(target);
    }
}

// A target held open without delete sharing cannot be replaced: it keeps
// its bytes, and a read-only one keeps its attribute.
TEST(ReplacingFiles, AHeldTargetStaysAsItWas) {
    for (Target kind : {Target::kPlain, Target::kReadOnly}) {
        SCOPED_TRACE(int(kind));
        TempDir dir;
        const std::wstring target = dir / L"uninst.dat";
        const std::wstring temporary = dir / L"uninst.dat.new";
        Prepare(target, kind);
        ASSERT_TRUE(WriteAll(temporary, Bytes("new")));
        {
            UniqueFile held(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_FALSE(MoveOverTarget(temporary.c_str(), target.c_str()));
            EXPECT_NE(0u, GetLastError());
            EXPECT_FALSE(SaveReplacing(target.c_str(), "newer", 5));
        }
        EXPECT_EQ(Bytes("old"), ReadAll(target));
        EXPECT_EQ(kind == Target::kReadOnly,
                  (GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
        EXPECT_FALSE(FileExists(target + kReplacingSuffix));
        Unprotect(target);
    }
}

TEST(ReplacingFiles, SavesWholeOrNotAtAll) {
    TempDir dir;
    const std::wstring path = dir / L"config.dat";
    // Made, replaced (read-only or not), and emptied.
    ASSERT_TRUE(SaveReplacing(path.c_str(), "first", 5));
    EXPECT_EQ(Bytes("first"), ReadAll(path));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SaveReplacing(path.c_str(), "second", 6));
    EXPECT_EQ(Bytes("second"), ReadAll(path));
    ASSERT_TRUE(SaveReplacing(path.c_str(), nullptr, 0));
    EXPECT_TRUE(ReadAll(path).empty());
    EXPECT_FALSE(FileExists(path + kReplacingSuffix));

    // What a killed run left under the temporary name is simply overwritten.
    ASSERT_TRUE(WriteAll(path + kReplacingSuffix, Bytes("left over from a killed run")));
    ASSERT_TRUE(SaveReplacing(path.c_str(), "third", 5));
    EXPECT_EQ(Bytes("third"), ReadAll(path));
    EXPECT_FALSE(FileExists(path + kReplacingSuffix));

    // The temporary cannot be made: the old file stays.
    ASSERT_TRUE(CreateDirectoryW((path + kReplacingSuffix).c_str(), nullptr));
    EXPECT_FALSE(SaveReplacing(path.c_str(), "fourth", 6));
    EXPECT_EQ(Bytes("third"), ReadAll(path));
    RemoveDirectoryW((path + kReplacingSuffix).c_str());

    EXPECT_FALSE(SaveReplacing((dir / L"no\\such\\folder\\x.dat").c_str(), "x", 1));
    const std::wstring longest = dir.path() + std::wstring(MAX_PATH - dir.path().size() - 3, L'u');
    EXPECT_FALSE(SaveReplacing(longest.c_str(), "x", 1));
    EXPECT_FALSE(FileExists(longest));
    EXPECT_FALSE(SaveReplacing(nullptr, "x", 1));
    EXPECT_FALSE(SaveReplacing(L"", "x", 1));
    EXPECT_FALSE(SaveReplacing(path.c_str(), nullptr, 1));
    EXPECT_EQ(Bytes("third"), ReadAll(path));
}

// An open temporary is renamed through its handle over a missing or plain
// target. Windows refuses a read-only one (Wine does not): either way the
// caller's fallback, the move by name, ends with the new file in place.
TEST(ReplacingFiles, RenamesAnOpenFileThroughItsHandle) {
    for (Target kind : {Target::kMissing, Target::kPlain, Target::kReadOnly}) {
        SCOPED_TRACE(int(kind));
        TempDir dir;
        const std::wstring target = dir / L"数据.pak";
        const std::wstring temporary = dir / L"~in2b.tmp";
        Prepare(target, kind);
        bool renamed;
        {
            UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(file);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file.get(), "new", 3, &written, nullptr));
            renamed = RenameOpenFileOver(file.get(), target.c_str());
        }
        if (kind != Target::kReadOnly) {
            EXPECT_TRUE(renamed);
        }
        if (!renamed) {
            EXPECT_EQ(Bytes("old"), ReadAll(target));
            EXPECT_TRUE(MoveOverTarget(temporary.c_str(), target.c_str()));
        }
        EXPECT_EQ(Bytes("new"), ReadAll(target));
        EXPECT_FALSE(FileExists(temporary));
        Unprotect(target);
    }
}
