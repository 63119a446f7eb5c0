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
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
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

std::vector<uint8_t> Utf16(const std::wstring& text) {
    std::vector<uint8_t> out;
    for (wchar_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

bool KeyExists(const std::wstring& key) {
    UniqueKey k;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

// Deletes the test company's keys however a test ended.
class RegistryTest : public testing::Test {
protected:
    void TearDown() override {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestKey.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (L"Software\\" + kCompany + L"\\app").c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (L"Software\\" + kCompany).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                      (L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCompany + L"app")
                          .c_str());
    }
};

TEST_F(RegistryTest, ValuesAreStoredWithoutTerminatingNul) {
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
    }
}

TEST_F(RegistryTest, ReadRefusesWhatDoesNotFitItsCapacity) {
    ASSERT_TRUE(WriteRegistryValue(kTestKey.c_str(), L"five", L"12345", -1));
    // The same five characters stored by another tool with a NUL.
    {
        UniqueKey k;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0,
                                               KEY_SET_VALUE, k.put()));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), L"withnul", 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>(L"12345"), 12));
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
        {L"five", 2, false},    {L"withnul", 6, true}, {L"withnul", 5, false},
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
    void TearDown() override {
        for (auto* info : made_) info->DeleteRegistry();
    }
    void Made(CClientInfo* info) { made_.push_back(info); }
    std::vector<CClientInfo*> made_;
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
        {&uninstall, L"UninstallString", L"C:\\Games\\unins000.exe"},
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
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\kestrov");
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

TEST_F(WriteRegistryTest, HostileDisplayNameCreatesAndDeletesNothingOutside) {
    const std::wstring sentinel = L"RegSentinel" + kUnique;
    const std::wstring outside = Folder(CSIDL_COMMON_STARTMENU) + L"\\" + sentinel;
    ASSERT_TRUE(CreateDirectoryTree(outside.c_str(), L'\\'));
    ASSERT_TRUE(testing_util::WriteAll(outside + L"\\keep.txt", "x", 1));

    CClientInfo info;
    const std::wstring name = L"..\\" + sentinel;
    info.SetCompany(kCompany.c_str());
    info.SetApp(L"app");
    info.SetName(name.c_str());
    info.SetInstallPath(L"C:\\Games\\");
    EXPECT_TRUE(info.WriteRegistry());
    EXPECT_TRUE(info.DeleteRegistry());
    EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
    EXPECT_FALSE(FileExists(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\..\\" + sentinel + L".lnk"));
    testing_util::RemoveTree(outside);
}

}  // namespace
