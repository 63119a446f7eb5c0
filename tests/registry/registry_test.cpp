// Registry helpers and the registry integration of the configuration record,
// under HKEY_LOCAL_MACHINE of the test prefix. Every test removes what it made.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/registry.h"
#include "support/handle.h"
#include "support/shell.h"
#include "tests/common/test_util.h"

using testing_util::FileExists;
using testing_util::Narrow;
using testing_util::DeleteRecordKey;
using testing_util::RecordKeyExists;

namespace {

const std::wstring kUnique = std::to_wstring(GetCurrentProcessId());
const std::wstring kCompany = L"KestrovRegTest" + kUnique;
const std::wstring kTestKey = L"Software\\" + kCompany + L"\\raw";

struct RawValue {
    bool found = false;
    DWORD type = 0;
    std::vector<uint8_t> bytes;
};

RawValue QueryRaw(const std::wstring& key, const wchar_t* name) {
    RawValue v;
    UniqueKey k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, k.put()) !=
        ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
    v.bytes.resize(size);
    if (RegQueryValueExW(k.get(), name, nullptr, &v.type, v.bytes.data(), &size) != ERROR_SUCCESS)
        return v;
    v.bytes.resize(size);
    v.found = true;
    return v;
}

// The bytes of a REG_SZ as stored: UTF-16LE and its terminating NUL.
std::vector<uint8_t> Utf16(const std::wstring& text) {
    std::vector<uint8_t> out;
    for (wchar_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

bool KeyExists(const std::wstring& key) { return RecordKeyExists(key); }

// Deletes the test company's keys however a test ended.
class RegistryTest : public testing::Test {
protected:
    void TearDown() override {
        DeleteRecordKey(kTestKey.c_str());
        DeleteRecordKey((L"Software\\" + kCompany + L"\\app").c_str());
        DeleteRecordKey((L"Software\\" + kCompany).c_str());
        DeleteRecordKey(
            (L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCompany + L"app")
                          .c_str());
    }
};

TEST_F(RegistryTest, ValuesAreStoredWithTheirTerminatingNul) {
    struct Case {
        const wchar_t* name;
        const wchar_t* text;
        int length;
        std::wstring stored;
    } cases[] = {
        {L"version", L"1.0.0.0", -1, L"1.0.0.0"},
        {L"path", L"C:\\Games\\游戏\\", -1, L"C:\\Games\\游戏\\"},
        {L"cut", L"abcdef", 3, L"abc"},
        {L"empty", L"", -1, L""},
        {L"zero", L"abc", 0, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        ASSERT_TRUE(WriteRegistryValue(kTestKey.c_str(), c.name, c.text, c.length));
        RawValue raw = QueryRaw(kTestKey, c.name);
        ASSERT_TRUE(raw.found);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), raw.type);
        EXPECT_EQ(Utf16(c.stored), raw.bytes);

        wchar_t out[64];
        wmemset(out, L'#', 64);
        ASSERT_TRUE(ReadRegistryValue(kTestKey.c_str(), c.name, out, 64));
        EXPECT_EQ(c.stored, out);

        // A reader that trusts the data to be terminated and does not clear
        // its buffer first (as the system's own readers do).
        UniqueKey k;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0,
                                               KEY_READ | KEY_WOW64_32KEY, k.put()));
        wmemset(out, L'#', 64);
        DWORD bytes = sizeof(out);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k.get(), c.name, nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(out), &bytes));
        EXPECT_EQ(c.stored, out);
    }
}

TEST_F(RegistryTest, ReadRefusesWhatDoesNotFitItsCapacity) {
    ASSERT_TRUE(WriteRegistryValue(kTestKey.c_str(), L"five", L"12345", -1));
    // The same five characters as an earlier build stored them, without a NUL.
    ASSERT_TRUE(testing_util::WriteRecordValue(kTestKey, L"nonul", L"12345", false));
    ASSERT_EQ(10u, QueryRaw(kTestKey, L"nonul").bytes.size());
    {
        UniqueKey k;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0,
                                               KEY_SET_VALUE | KEY_WOW64_32KEY, k.put()));
        DWORD number = 7;
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), L"number", 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&number), 4));
    }
    struct Case {
        const wchar_t* name;
        int capacity;
        bool ok;
    } cases[] = {
        {L"five", 6, true},     {L"five", 5, false},  // no room for the NUL
        {L"five", 2, false},    {L"nonul", 6, true},   {L"nonul", 5, false},
        {L"five", 0, false},    {L"five", -1, false}, {L"missing", 16, false},
        {L"number", 16, false},  // not a string
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " " + std::to_string(c.capacity));
        wchar_t out[16];
        wmemset(out, L'#', 16);
        int capacity = c.capacity > 0 ? c.capacity : 16;
        EXPECT_EQ(c.ok, ReadRegistryValue(kTestKey.c_str(), c.name, out, c.capacity));
        if (c.ok) {
            EXPECT_STREQ(L"12345", out);
        } else if (c.capacity > 0) {
            // Never a partial, unterminated text.
            EXPECT_EQ(std::wstring(capacity, L'\0'), std::wstring(out, capacity));
        }
    }
    EXPECT_FALSE(ReadRegistryValue(L"Software\\NoSuchCompany-xyz\\none", L"v", nullptr, 4));
}

TEST_F(RegistryTest, NullArgumentsTouchNothing) {
    wchar_t out[8];
    EXPECT_FALSE(ReadRegistryValue(nullptr, L"v", out, 8));
    EXPECT_FALSE(ReadRegistryValue(kTestKey.c_str(), nullptr, out, 8));
    EXPECT_FALSE(WriteRegistryValue(nullptr, L"v", L"x", -1));
    EXPECT_FALSE(WriteRegistryValue(kTestKey.c_str(), nullptr, L"x", -1));
    EXPECT_FALSE(WriteRegistryValue(kTestKey.c_str(), L"v", nullptr, -1));
    EXPECT_FALSE(WriteRegistryValue(kTestKey.c_str(), L"v", L"x", -2));
    EXPECT_FALSE(KeyExists(kTestKey));
    EXPECT_FALSE(DeleteRegistryKey(nullptr));
    EXPECT_FALSE(DeleteRegistryKey(L""));
}

TEST_F(RegistryTest, ProductAndUninstallKeys) {
    const std::wstring product = L"Software\\" + kCompany + L"\\app";
    const std::wstring uninstall =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCompany + L"app";
    ASSERT_TRUE(WriteProductValue(kCompany.c_str(), L"app", L"version", L"2.0", -1));
    ASSERT_TRUE(WriteUninstallValue(kCompany.c_str(), L"app", L"DisplayName", L"名称", -1));
    EXPECT_EQ(Utf16(L"2.0"), QueryRaw(product, L"version").bytes);
    EXPECT_EQ(Utf16(L"名称"), QueryRaw(uninstall, L"DisplayName").bytes);

    wchar_t out[8];
    EXPECT_TRUE(ReadProductValue(kCompany.c_str(), L"app", L"version", out, 8));
    EXPECT_STREQ(L"2.0", out);
    EXPECT_FALSE(ReadProductValue(kCompany.c_str(), L"app", L"version", out, 3));

    EXPECT_TRUE(DeleteProductKey(kCompany.c_str(), L"app"));
    EXPECT_FALSE(KeyExists(product));
    EXPECT_FALSE(DeleteProductKey(kCompany.c_str(), L"app"));
    EXPECT_TRUE(DeleteUninstallKey(kCompany.c_str(), L"app"));
    EXPECT_FALSE(KeyExists(uninstall));
}

// Both builds keep the records in the 32-bit view, so each sees what the
// other (or an earlier 32-bit installation) wrote. On 64-bit Windows that
// view is Software\Wow6432Node of the native one.
TEST_F(RegistryTest, RecordsLiveInThe32BitViewForEitherBuild) {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool windows64 = sizeof(void*) == 8 || wow64;
    const std::wstring product = L"Software\\" + kCompany + L"\\app";
    const std::wstring native = L"Software\\Wow6432Node\\" + kCompany + L"\\app";
    auto existsIn = [](const std::wstring& key, REGSAM view) {
        UniqueKey k;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, k.put()) ==
               ERROR_SUCCESS;
    };

    ASSERT_TRUE(WriteProductValue(kCompany.c_str(), L"app", L"version", L"3.1", -1));
    EXPECT_TRUE(existsIn(product, KEY_WOW64_32KEY));
    if (windows64) {
        EXPECT_FALSE(existsIn(product, KEY_WOW64_64KEY));
        EXPECT_TRUE(existsIn(native, KEY_WOW64_64KEY));
    }

    // What a 32-bit installer wrote is read back, repaired and removed here.
    ASSERT_TRUE(testing_util::WriteRecordValue(product, L"path", L"C:\\Games\\旧\\", false));
    wchar_t out[64];
    ASSERT_TRUE(ReadProductValue(kCompany.c_str(), L"app", L"path", out, 64));
    EXPECT_STREQ(L"C:\\Games\\旧\\", out);
    EXPECT_TRUE(DeleteProductKey(kCompany.c_str(), L"app"));
    EXPECT_FALSE(existsIn(product, KEY_WOW64_32KEY));
    if (windows64) {
        EXPECT_FALSE(existsIn(native, KEY_WOW64_64KEY));
    }
}

TEST_F(RegistryTest, KeyNamesThatReachOtherKeysOrDoNotFitAreRefused) {
    // The company key itself must survive a damaged app name.
    ASSERT_TRUE(WriteRegistryValue(kTestKey.c_str(), L"keep", L"1", -1));
    const std::wstring longApp(260, L'a');
    struct Case {
        const wchar_t* company;
        const wchar_t* app;
    } cases[] = {
        {kCompany.c_str(), L""},         {L"", L"raw"},
        {kCompany.c_str(), L"raw\\..\\x"}, {L"Microsoft\\Windows", L"CurrentVersion"},
        {kCompany.c_str(), longApp.c_str()}, {nullptr, L"raw"}, {kCompany.c_str(), nullptr},
    };
    for (const auto& c : cases) {
        wchar_t out[8];
        wchar_t key[MAX_PATH];
        EXPECT_FALSE(WriteProductValue(c.company, c.app, L"v", L"x", -1));
        EXPECT_FALSE(WriteUninstallValue(c.company, c.app, L"v", L"x", -1));
        EXPECT_FALSE(ReadProductValue(c.company, c.app, L"keep", out, 8));
        EXPECT_FALSE(DeleteProductKey(c.company, c.app));
        EXPECT_FALSE(DeleteUninstallKey(c.company, c.app));
        EXPECT_FALSE(FormatProductKey(key, c.company, c.app));
    }
    EXPECT_EQ(Utf16(L"1"), QueryRaw(kTestKey, L"keep").bytes);
}

// --- WriteRegistry / DeleteRegistry --------------------------------------

std::wstring Folder(int csidl) {
    wchar_t out[MAX_PATH] = {};
    GetSpecialFolder(out, csidl);
    return out;
}

struct Shortcuts {
    std::wstring desktop, startMenu, quickLaunch, group, groupMain, groupUninstall;
    explicit Shortcuts(const std::wstring& name)
        : desktop(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\" + name + L".lnk"),
          startMenu(Folder(CSIDL_COMMON_STARTMENU) + L"\\" + name + L".lnk"),
          quickLaunch(Folder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\" +
                      name + L".lnk"),
          group(Folder(CSIDL_COMMON_PROGRAMS) + L"\\" + name),
          groupMain(group + L"\\" + name + L".lnk"),
          groupUninstall(group + L"\\卸载" + name + L".lnk") {}
    std::vector<std::wstring> Files() const {
        return {desktop, startMenu, quickLaunch, groupMain, groupUninstall};
    }
};

class WriteRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        // Wine's new prefix has no Quick Launch folder; Windows always has one.
        std::wstring quick = Folder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
        CreateDirectoryTree(quick.c_str(), L'\\');
    }
    // The records are removed by product identity: the test's own record is
    // gone by the time TearDown runs.
    void TearDown() override {
        for (const Made_& m : made_) {
            CClientInfo info;
            info.SetCompany(m.company.c_str());
            info.SetApp(m.app.c_str());
            info.SetName(m.name.c_str());
            info.DeleteRegistry();
        }
    }
    void Made(CClientInfo* info) {
        made_.push_back({info->GetCompany(), info->GetApp(), info->GetName()});
    }
    struct Made_ {
        std::wstring company, app, name;
    };
    std::vector<Made_> made_;
};

// The documented example: company "kestrov", app "test", path "C:\Games\".
TEST_F(WriteRegistryTest, DocumentedExample) {
    CClientInfo info;
    info.SetInstallPath(L"C:\\Games\\");
    Made(&info);
    info.md5.Assign(L"0123456789ABCDEF0123456789ABCDEF");
    ASSERT_TRUE(info.WriteRegistry());

    const std::wstring product = L"Software\\kestrov\\test";
    const std::wstring uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kestrovtest";
    struct Case {
        const std::wstring* key;
        const wchar_t* name;
        std::wstring data;
    } cases[] = {
        {&product, L"version", L"1.0.0.0"},
        {&product, L"path", L"C:\\Games\\"},
        {&product, L"md5", L"0123456789ABCDEF0123456789ABCDEF"},
        {&product, L"main", L"C:\\Games\\client.exe"},
        {&uninstall, L"DisplayName", L"产品名称"},
        {&uninstall, L"DisplayVersion", L"1.0.0.0"},
        {&uninstall, L"Publisher", L"Kestrov网络"},
        {&uninstall, L"DisplayIcon", L"C:\\Games\\client.exe"},
        {&uninstall, L"UninstallString", L"\"C:\\Games\\unins000.exe\""},
        {&uninstall, L"QuietUninstallString", L"\"C:\\Games\\unins000.exe\" silent"},
        {&uninstall, L"InstallLocation", L"C:\\Games\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        RawValue raw = QueryRaw(*c.key, c.name);
        ASSERT_TRUE(raw.found);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), raw.type);
        EXPECT_EQ(Utf16(c.data), raw.bytes);
    }

    Shortcuts links(L"产品名称");
    for (const auto& file : links.Files()) {
        SCOPED_TRACE(Narrow(file));
        testing_util::ShortcutInfo link = testing_util::ReadShortcut(file);
        ASSERT_TRUE(link.loaded);
        bool isUninstall = file == links.groupUninstall;
        EXPECT_EQ(isUninstall ? L"C:\\Games\\unins000.exe" : L"C:\\Games\\client.exe", link.target);
        // Only the Start menu shortcut carries Ctrl+Shift+1.
        EXPECT_EQ(file == links.startMenu ? 0x0331 : 0, link.hotkey);
    }

    ASSERT_TRUE(info.DeleteRegistry());
    EXPECT_FALSE(KeyExists(product));
    EXPECT_FALSE(KeyExists(uninstall));
    for (const auto& file : links.Files()) EXPECT_FALSE(FileExists(file)) << Narrow(file);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(links.group.c_str()));
    // The company key stays, as on Windows; remove it when nothing else is in it.
    DeleteRecordKey(L"Software\\kestrov");
}

TEST_F(WriteRegistryTest, LaunchProgramIsTheMainPathButNotTheIcon) {
    CClientInfo info;
    const std::wstring name = L"启动测试" + kUnique;
    info.SetCompany(kCompany.c_str());
    info.SetApp(L"app");
    info.SetName(name.c_str());
    info.SetInstallPath(L"C:\\Games\\");
    info.SetLaunchProgram(L"play.exe");
    Made(&info);
    ASSERT_TRUE(info.WriteRegistry());
    const std::wstring product = L"Software\\" + kCompany + L"\\app";
    const std::wstring uninstall =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCompany + L"app";
    EXPECT_EQ(Utf16(L"C:\\Games\\play.exe"), QueryRaw(product, L"main").bytes);
    EXPECT_EQ(Utf16(L"C:\\Games\\client.exe"), QueryRaw(uninstall, L"DisplayIcon").bytes);
    EXPECT_EQ(L"C:\\Games\\play.exe", testing_util::ReadShortcut(Shortcuts(name).desktop).target);
}

TEST_F(WriteRegistryTest, MainPathThatDoesNotFitStopsBeforeMainAndShortcuts) {
    CClientInfo info;
    const std::wstring name = L"长路径" + kUnique;
    const std::wstring path = L"C:\\" + std::wstring(250, L'p') + L"\\";
    info.SetCompany(kCompany.c_str());
    info.SetApp(L"app");
    info.SetName(name.c_str());
    info.SetInstallPath(path.c_str());
    Made(&info);
    wchar_t mainPath[MAX_PATH];
    EXPECT_FALSE(info.GetMainPath(mainPath));  // never a cut path
    EXPECT_STREQ(L"", mainPath);
    EXPECT_FALSE(info.RunMain());
    EXPECT_TRUE(info.WriteRegistry());
    const std::wstring product = L"Software\\" + kCompany + L"\\app";
    EXPECT_EQ(Utf16(path), QueryRaw(product, L"path").bytes);
    EXPECT_FALSE(QueryRaw(product, L"main").found);
    for (const auto& file : Shortcuts(name).Files()) EXPECT_FALSE(FileExists(file)) << Narrow(file);
}

// Names that climb out of their folder, or that Windows trims to nothing
// (trailing blanks and dots are dropped from a path), would make the program
// group the whole Programs folder, which holds every other product's group.
TEST_F(WriteRegistryTest, HostileDisplayNameCreatesAndDeletesNothingOutside) {
    const std::wstring sentinel = L"RegSentinel" + kUnique;
    const std::wstring outside = Folder(CSIDL_COMMON_STARTMENU) + L"\\" + sentinel;
    const std::wstring otherGroup = Folder(CSIDL_COMMON_PROGRAMS) + L"\\" + sentinel;
    for (const std::wstring& dir : {outside, otherGroup}) {
        ASSERT_TRUE(CreateDirectoryTree(dir.c_str(), L'\\'));
        ASSERT_TRUE(testing_util::WriteAll(dir + L"\\keep.txt", "x", 1));
    }
    for (const std::wstring& name : {L"..\\" + sentinel, std::wstring(L"   "), std::wstring(L". . "),
                                     std::wstring(L" .")}) {
        SCOPED_TRACE("[" + Narrow(name) + "]");
        CClientInfo info;
        info.SetCompany(kCompany.c_str());
        info.SetApp(L"app");
        info.SetName(name.c_str());
        info.SetInstallPath(L"C:\\Games\\");
        EXPECT_TRUE(info.WriteRegistry());
        EXPECT_TRUE(info.DeleteRegistry());
        EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
        EXPECT_TRUE(FileExists(otherGroup + L"\\keep.txt"));
        EXPECT_FALSE(FileExists(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\..\\" + sentinel + L".lnk"));
        EXPECT_FALSE(FileExists(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\.lnk"));
    }
    testing_util::RemoveTree(outside);
    testing_util::RemoveTree(otherGroup);
}

}  // namespace
