// Shell and file-system helpers under Wine: directory trees, shell deletes,
// shortcuts read back through the shell link object, starting programs.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/handle.h"
#include "support/shell.h"
#include "tests/common/test_util.h"

using testing_util::FileExists;
using testing_util::TempDir;

namespace {

// Records the shell notifications about paths under one folder.
class NotifyWatcher {
public:
    explicit NotifyWatcher(const std::wstring& folder) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ShellTestWatcher";
        RegisterClassW(&wc);
        window_ = CreateWindowW(L"ShellTestWatcher", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        folderItems_ = ILCreateFromPathW(folder.c_str());
        SHChangeNotifyEntry entry = {folderItems_, TRUE};
        id_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel, SHCNE_ALLEVENTS,
                                     kMessage, 1, &entry);
    }
    ~NotifyWatcher() {
        if (id_) SHChangeNotifyDeregister(id_);
        if (folderItems_) ILFree(folderItems_);
        if (window_) DestroyWindow(window_);
    }
    bool ok() const { return id_ != 0; }

    // Pumps until at least `expected` events have arrived (a hung delivery
    // gives up after ten seconds), then takes whatever else is already
    // waiting, and answers every event seen. The helpers notify with
    // SHCNF_FLUSH, which delivers before it returns, so nothing that
    // belongs to a call can still be on its way after that.
    std::vector<std::pair<LONG, std::wstring>> Take(size_t expected) {
        const DWORD start = GetTickCount();
        MSG msg;
        for (;;) {
            while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (events_.size() >= expected || GetTickCount() - start > 10000) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
        auto out = std::move(events_);
        events_.clear();
        return out;
    }

private:
    static constexpr UINT kMessage = WM_APP + 7;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == kMessage) {
            auto* self = reinterpret_cast<NotifyWatcher*>(GetWindowLongPtrW(w, GWLP_USERDATA));
            auto** items = reinterpret_cast<LPITEMIDLIST*>(wp);
            wchar_t path[MAX_PATH] = {};
            if (items && items[0]) SHGetPathFromIDListW(items[0], path);
            if (self) self->events_.emplace_back(static_cast<LONG>(lp), path);
            return 0;
        }
        return DefWindowProcW(w, m, wp, lp);
    }
    HWND window_ = nullptr;
    LPITEMIDLIST folderItems_ = nullptr;
    ULONG id_ = 0;
    std::vector<std::pair<LONG, std::wstring>> events_;
};


std::wstring LastPart(const std::wstring& path) {
    std::wstring p = path;
    while (!p.empty() && p.back() == L'\\') p.pop_back();
    size_t slash = p.rfind(L'\\');
    return slash == std::wstring::npos ? p : p.substr(slash + 1);
}

bool IsDirectory(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void Touch(const std::wstring& path, DWORD attributes = 0) {
    ASSERT_TRUE(testing_util::WriteAll(path, "x", 1)) << testing_util::Narrow(path);
    if (attributes) SetFileAttributesW(path.c_str(), attributes);
}

std::wstring SpecialFolder(int csidl) {
    wchar_t out[MAX_PATH];
    EXPECT_TRUE(GetSpecialFolder(out, csidl));
    return out;
}

TEST(ComposePath, RefusesWhatDoesNotFit) {
    struct Case {
        size_t capacity;
        const wchar_t* a;
        const wchar_t* b;
        const wchar_t* c;
        bool ok;
        const wchar_t* expected;
    } cases[] = {
        {10, L"C:\\", L"a", L".lnk", true, L"C:\\a.lnk"},
        {9, L"C:\\", L"a", L".lnk", true, L"C:\\a.lnk"},  // 8 characters and the NUL
        {8, L"C:\\", L"a", L".lnk", false, L""},
        {1, L"", L"", L"", true, L""},
        {16, L"ab", nullptr, L"", false, L""},
    };
    for (const auto& c : cases) {
        wchar_t out[16];
        wcscpy(out, L"junk");
        EXPECT_EQ(c.ok, ComposePath(out, c.capacity, {c.a, c.b, c.c})) << c.capacity;
        EXPECT_STREQ(c.expected, out);
    }
}

TEST(IsPlainFileName, AcceptsOneComponentOnly) {
    struct Case {
        const wchar_t* name;
        bool ok;
    } cases[] = {
        {L"产品名称", true}, {L"My Game 2", true}, {L"a.b", true}, {L"..x", true},
        {nullptr, false},   {L"", false},          {L".", false},   {L"..", false},
        {L"...", false},    {L"a\\b", false},      {L"..\\x", false}, {L"a/b", false},
        {L"C:x", false},    {L"*", false},         {L"a?", false},  {L"a|b", false},
        {L"a\"b", false},   {L"a<b", false},       {L"a\tb", false},
        // Windows trims these to nothing: they would name the parent folder.
        {L" ", false},      {L". .", false},       {L" . ", false}, {L" a ", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ok, IsPlainFileName(c.name)) << (c.name ? testing_util::Narrow(c.name) : "null");
}

TEST(CreateDirectoryTree, CreatesEveryLevelAndNotifiesOnce) {
    struct Case {
        const wchar_t* relative;
        wchar_t separator;
    } cases[] = {
        {L"a\\b\\c\\", L'\\'},
        {L"d\\e\\f", L'\\'},
        {L"g/h/i/", L'/'},
        {L"深\\层 目录\\文件夹", L'\\'},
    };
    for (const auto& c : cases) {
        TempDir dir;
        NotifyWatcher watch(dir.path());
        ASSERT_TRUE(watch.ok());
        std::wstring path = dir / c.relative;
        ASSERT_TRUE(CreateDirectoryTree(path.c_str(), c.separator)) << testing_util::Narrow(path);
        EXPECT_TRUE(IsDirectory(path)) << testing_util::Narrow(path);
        auto events = watch.Take(1);
        ASSERT_EQ(1u, events.size());
        EXPECT_EQ(SHCNE_MKDIR, events[0].first);
        EXPECT_EQ(LastPart(path), LastPart(events[0].second));

        // Existing already: true, and the shell hears nothing.
        EXPECT_TRUE(CreateDirectoryTree(path.c_str(), c.separator));
        EXPECT_TRUE(watch.Take(0).empty());
    }
}

TEST(CreateDirectoryTree, Refusals) {
    TempDir dir;
    EXPECT_FALSE(CreateDirectoryTree(nullptr, L'\\'));
    EXPECT_FALSE(CreateDirectoryTree(L"C:", L'\\'));
    EXPECT_FALSE(CreateDirectoryTree(L"C", L'\\'));

    // A level that is a file cannot hold a folder.
    Touch(dir / L"file");
    EXPECT_FALSE(CreateDirectoryTree((dir / L"file\\sub\\").c_str(), L'\\'));

    // Longer than the 1,024-character working buffer: refused, nothing made.
    std::wstring deep = dir.path();
    while (deep.size() < 1100) deep += L"level\\";
    EXPECT_FALSE(CreateDirectoryTree(deep.c_str(), L'\\'));
    EXPECT_FALSE(IsDirectory(dir / L"level"));
}

TEST(RemoveDirectoryTree, RemovesReadOnlyContentWithAndWithoutSeparator) {
    for (bool slashed : {true, false}) {
        TempDir dir;
        std::wstring root = dir / L"tree";
        ASSERT_TRUE(CreateDirectoryTree((root + L"\\sub\\deeper\\").c_str(), L'\\'));
        Touch(root + L"\\plain.txt");
        Touch(root + L"\\locked.txt", FILE_ATTRIBUTE_READONLY);
        Touch(root + L"\\sub\\hidden.bin", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        Touch(root + L"\\sub\\deeper\\文件.dat");
        SetFileAttributesW((root + L"\\sub").c_str(), FILE_ATTRIBUTE_READONLY);

        NotifyWatcher watch(dir.path());
        std::wstring arg = slashed ? root + L"\\" : root;
        EXPECT_TRUE(RemoveDirectoryTree(arg.c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root.c_str()));

        int deletes = 0, rmdirs = 0;
        for (const auto& e : watch.Take(7)) {
            if (e.first == SHCNE_DELETE) ++deletes;
            if (e.first == SHCNE_RMDIR) ++rmdirs;
        }
        EXPECT_EQ(4, deletes);
        EXPECT_EQ(3, rmdirs);
    }
}

TEST(RemoveDirectoryTree, Refusals) {
    TempDir dir;
    EXPECT_FALSE(RemoveDirectoryTree(nullptr));
    EXPECT_FALSE(RemoveDirectoryTree(L""));
    EXPECT_FALSE(RemoveDirectoryTree((dir / L"missing").c_str()));
    // The search pattern of an over-long name would not fit: refused, not cut.
    std::wstring longName = dir.path() + std::wstring(MAX_PATH, L'x');
    EXPECT_FALSE(RemoveDirectoryTree(longName.c_str()));
}

TEST(DeletePath, DeletesOneFileOrFolder) {
    TempDir dir;
    std::wstring file = dir / L"one.txt";
    std::wstring folder = dir / L"folder";
    Touch(file);
    ASSERT_TRUE(CreateDirectoryTree((folder + L"\\inner\\").c_str(), L'\\'));
    Touch(folder + L"\\inner\\x.txt");

    NotifyWatcher watch(dir.path());
    EXPECT_TRUE(DeletePath(file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(DeletePath(folder.c_str()));
    EXPECT_FALSE(IsDirectory(folder));
    // Wine's SHFileOperationW reports deletes of its own as well: count per item.
    int fileDeletes = 0, folderDeletes = 0;
    for (const auto& e : watch.Take(2)) {
        if (e.first != SHCNE_DELETE) continue;
        if (LastPart(e.second) == L"one.txt") ++fileDeletes;
        if (LastPart(e.second) == L"folder") ++folderDeletes;
    }
    EXPECT_GE(fileDeletes, 1);
    EXPECT_GE(folderDeletes, 1);
}

TEST(DeletePath, RefusesWildcardsAndMissingItemsSilently) {
    TempDir dir;
    Touch(dir / L"a.lnk");
    Touch(dir / L"b.lnk");
    // The shell would expand these to every matching item.
    EXPECT_FALSE(DeletePath((dir / L"*.lnk").c_str()));
    EXPECT_FALSE(DeletePath((dir / L"?.lnk").c_str()));
    EXPECT_TRUE(FileExists(dir / L"a.lnk"));
    EXPECT_TRUE(FileExists(dir / L"b.lnk"));
    EXPECT_FALSE(DeletePath(nullptr));
    EXPECT_FALSE(DeletePath(L""));
    // Missing: false and no error box (one would block this test).
    EXPECT_FALSE(DeletePath((dir / L"missing.lnk").c_str()));
}

TEST(CreateShortcut, HotKeyIsStoredWithCtrlShift) {
    TempDir dir;
    const std::wstring target = L"C:\\Games\\client.exe";
    struct Case {
        wchar_t hotkey;
        WORD stored;
    } cases[] = {{L'1', 0x0331}, {0, 0}, {L'k', 0x034B}};
    for (const auto& c : cases) {
        std::wstring file = dir / (L"link" + std::to_wstring(c.hotkey) + L".lnk");
        NotifyWatcher watch(dir.path());
        ASSERT_TRUE(CreateShortcut(target.c_str(), file.c_str(), c.hotkey));
        testing_util::ShortcutInfo info = testing_util::ReadShortcut(file);
        ASSERT_TRUE(info.loaded);
        EXPECT_EQ(target, info.target);
        EXPECT_EQ(c.stored, info.hotkey);
        auto events = watch.Take(1);
        ASSERT_EQ(1u, events.size());
        EXPECT_EQ(SHCNE_CREATE, events[0].first);
    }
    // A hot key is one virtual-key code; anything wider is refused, not cut.
    EXPECT_FALSE(CreateShortcut(target.c_str(), (dir / L"wide.lnk").c_str(), 0x131));
    EXPECT_FALSE(FileExists(dir / L"wide.lnk"));
    EXPECT_FALSE(CreateShortcut(nullptr, (dir / L"x.lnk").c_str(), 0));
    EXPECT_FALSE(CreateShortcut(target.c_str(), nullptr, 0));
    EXPECT_FALSE(CreateShortcut(target.c_str(), (dir / L"no\\such\\folder\\x.lnk").c_str(), 0));
}

TEST(CreateShortcutIn, RefusesNamesThatLeaveTheFolderOrDoNotFit) {
    TempDir dir;
    std::wstring folder = dir / L"group";
    ASSERT_TRUE(CreateDirectoryTree(folder.c_str(), L'\\'));
    EXPECT_TRUE(CreateShortcutIn(L"C:\\x.exe", folder.c_str(), L"游戏", 0));
    EXPECT_TRUE(testing_util::ReadShortcut(folder + L"\\游戏.lnk").loaded);

    EXPECT_FALSE(CreateShortcutIn(L"C:\\x.exe", folder.c_str(), L"..\\escaped", 0));
    EXPECT_FALSE(FileExists(dir / L"escaped.lnk"));
    EXPECT_FALSE(CreateShortcutIn(L"C:\\x.exe", folder.c_str(), L"", 0));
    std::wstring longName(MAX_PATH - folder.size() - 5, L'n');  // one character too many
    EXPECT_FALSE(CreateShortcutIn(L"C:\\x.exe", folder.c_str(), longName.c_str(), 0));
    // The longest name that fits (MAX_PATH - 1 characters in all) is taken.
    longName.pop_back();
    EXPECT_TRUE(CreateShortcutIn(L"C:\\x.exe", folder.c_str(), longName.c_str(), 0));
    EXPECT_TRUE(testing_util::ReadShortcut(folder + L"\\" + longName + L".lnk").loaded);
}

// Unique display names keep these away from other tests' shortcuts.
TEST(SpecialFolderShortcuts, CreateAndDelete) {
    const std::wstring name = L"壳测试-" + std::to_wstring(GetCurrentProcessId());
    const wchar_t* target = L"C:\\Games\\ShellTest\\client.exe";
    // Wine's new prefix has no Quick Launch folder; Windows always has one.
    std::wstring quick = SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
    CreateDirectoryTree(quick.c_str(), L'\\');

    struct Case {
        bool (*create)(const wchar_t*, const wchar_t*, wchar_t);
        bool (*remove)(const wchar_t*);
        std::wstring file;
    } cases[] = {
        {CreateDesktopShortcut, DeleteDesktopShortcut,
         SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\" + name + L".lnk"},
        {CreateStartMenuShortcut, DeleteStartMenuShortcut,
         SpecialFolder(CSIDL_COMMON_STARTMENU) + L"\\" + name + L".lnk"},
        {CreateQuickLaunchShortcut, DeleteQuickLaunchShortcut, quick + L"\\" + name + L".lnk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.file));
        ASSERT_TRUE(c.create(target, name.c_str(), L'1'));
        testing_util::ShortcutInfo info = testing_util::ReadShortcut(c.file);
        EXPECT_TRUE(info.loaded);
        EXPECT_STREQ(target, info.target.c_str());
        EXPECT_EQ(0x0331, info.hotkey);
        EXPECT_TRUE(c.remove(name.c_str()));
        EXPECT_FALSE(FileExists(c.file));
        EXPECT_FALSE(c.remove(name.c_str()));

        EXPECT_FALSE(c.create(nullptr, name.c_str(), 0));
        EXPECT_FALSE(c.create(target, nullptr, 0));
        EXPECT_FALSE(c.create(target, L"..\\outside", 0));
        EXPECT_FALSE(c.remove(L"*"));
    }
}

TEST(ProgramsFolder, CreateFillAndRemove) {
    const std::wstring name = L"壳测试组-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring expected = SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + name;
    wchar_t group[MAX_PATH] = {};
    ASSERT_TRUE(CreateProgramsFolder(name.c_str(), group));
    EXPECT_EQ(expected, group);
    EXPECT_TRUE(IsDirectory(expected));
    EXPECT_TRUE(CreateProgramsFolder(name.c_str(), nullptr));  // exists already
    ASSERT_TRUE(CreateShortcutIn(L"C:\\x.exe", group, name.c_str(), 0));
    Touch(expected + L"\\readonly.txt", FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(RemoveProgramsFolder(name.c_str()));
    EXPECT_FALSE(IsDirectory(expected));
    EXPECT_FALSE(RemoveProgramsFolder(name.c_str()));
}

TEST(ProgramsFolder, HostileNamesReachNothingOutside) {
    // A folder beside the Programs folder that a name "..\<x>" would reach.
    const std::wstring sentinel = L"ShellSentinel" + std::to_wstring(GetCurrentProcessId());
    const std::wstring outside = SpecialFolder(CSIDL_COMMON_STARTMENU) + L"\\" + sentinel;
    ASSERT_TRUE(CreateDirectoryTree(outside.c_str(), L'\\'));
    Touch(outside + L"\\keep.txt");
    const std::wstring hostile = L"..\\" + sentinel;
    const wchar_t* names[] = {hostile.c_str(), L"..", L".", L"", L"a\\..\\..", L"C:\\Windows"};
    for (const wchar_t* name : names) {
        EXPECT_FALSE(RemoveProgramsFolder(name)) << testing_util::Narrow(name);
        EXPECT_FALSE(CreateProgramsFolder(name, nullptr)) << testing_util::Narrow(name);
    }
    EXPECT_FALSE(RemoveProgramsFolder(nullptr));
    EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
    testing_util::RemoveTree(outside);
}

TEST(GetSpecialFolder, AnswersExistingFolders) {
    for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU, CSIDL_APPDATA,
                      CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAM_FILES}) {
        wchar_t out[MAX_PATH];
        ASSERT_TRUE(GetSpecialFolder(out, csidl)) << csidl;
        EXPECT_TRUE(IsDirectory(out)) << csidl;
    }
    EXPECT_FALSE(GetSpecialFolder(nullptr, CSIDL_APPDATA));
    wchar_t out[MAX_PATH];
    EXPECT_FALSE(GetSpecialFolder(out, 0x7777));
}

TEST(GetModuleDirectory, KeepsTheTrailingBackslash) {
    wchar_t full[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, full, MAX_PATH));
    std::wstring expected(full);
    expected.erase(expected.rfind(L'\\') + 1);

    wchar_t out[MAX_PATH];
    ASSERT_TRUE(GetModuleDirectory(out, nullptr));
    EXPECT_EQ(expected, out);
    ASSERT_TRUE(GetModuleDirectory(out, GetModuleHandleW(L"kernel32.dll")));
    EXPECT_EQ(L'\\', out[wcslen(out) - 1]);
    EXPECT_TRUE(IsDirectory(out));
    EXPECT_FALSE(GetModuleDirectory(nullptr, nullptr));
    EXPECT_FALSE(GetModuleDirectory(out, reinterpret_cast<HMODULE>(0x10)));
}

TEST(RunProgram, StartsWithParametersAndHandsOverTheProcess) {
    UniqueKernelHandle process;
    // Environment strings in the file name are expanded.
    ASSERT_TRUE(RunProgram(L"%SystemRoot%\\system32\\cmd.exe", L"/c exit 7", false, &process));
    ASSERT_TRUE(process);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(7u, code);

    EXPECT_TRUE(RunProgram(L"cmd.exe", L"/c exit 0", false, nullptr));
    // A failure leaves the receiver empty, whatever it held.
    process.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(process);
    EXPECT_FALSE(RunProgram(nullptr, nullptr, false, &process));
    EXPECT_FALSE(process);
    // Missing: false and no error box (one would block this test).
    EXPECT_FALSE(RunProgram(L"C:\\no\\such\\program.exe", nullptr, false, nullptr));
}

// The fake client notes "<its command line>\n<its working folder>" in
// started.txt beside itself.
struct Started {
    std::wstring line, folder;
};

Started WaitForStart(const std::wstring& dir) {
    for (int i = 0; i < 300 && !FileExists(dir + L"started.txt"); ++i) Sleep(100);
    std::vector<uint8_t> bytes = testing_util::ReadAll(dir + L"started.txt");
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    size_t feed = text.find(L'\n');
    if (feed == std::wstring::npos) return {text, L""};
    return {text.substr(0, feed), text.substr(feed + 1)};
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// A folder with a blank (the path must be quoted) and an environment string
// that must stay as written.
class StartProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = temp / L"游戏 %SystemRoot% dir\\";
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        client = testing_util::ReadAll(testing_util::BinaryPath("bin/fake_client.exe"));
        ASSERT_FALSE(client.empty());
        ASSERT_TRUE(testing_util::WriteAll(dir + L"client.exe", client));
    }
    TempDir temp;
    std::wstring dir;
    std::vector<uint8_t> client;
};

TEST_F(StartProgramTest, StartsTheProgramByItsQuotedPathInItsOwnFolder) {
    struct Case {
        const wchar_t* parameters;
        std::wstring tail;
    } cases[] = {{nullptr, L""}, {L"", L""}, {L"silent", L" silent"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.tail));
        DeleteFileW((dir + L"started.txt").c_str());
        UniqueKernelHandle process;
        ASSERT_TRUE(StartProgram((dir + L"client.exe").c_str(), c.parameters, false, &process));
        ASSERT_TRUE(process);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
        DWORD code = 1;
        GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(0u, code);
        Started started = WaitForStart(dir);
        EXPECT_EQ(L"\"" + dir + L"client.exe\"" + c.tail, started.line);
        EXPECT_EQ(WithoutTrailingBackslash(dir), WithoutTrailingBackslash(started.folder));
    }
}

// Nothing that would be searched for, expanded, or run by an interpreter or
// a file association is started.
TEST_F(StartProgramTest, RefusesWhatIsNotTheFullPathOfAProgram) {
    // Run by cmd.exe, this would leave ran.txt beside it.
    const char batch[] = "echo ran> \"%~dp0ran.txt\"\r\n";
    ASSERT_TRUE(testing_util::WriteAll(dir + L"client.bat", batch, sizeof(batch) - 1));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"client.cmd", batch, sizeof(batch) - 1));
    ASSERT_TRUE(testing_util::WriteAll(dir + L"client", client));
    ASSERT_TRUE(CreateDirectoryW((dir + L"folder.exe").c_str(), nullptr));
    wchar_t oldFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, oldFolder);
    // client.exe is in the current directory: a search would find it there.
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    const std::wstring refused[] = {
        L"client.exe",
        L".\\client.exe",
        L"\\" + dir.substr(3) + L"client.exe",  // rooted, no drive
        dir + L"client.bat",
        dir + L"client.cmd",
        dir + L"client",
        dir + L"folder.exe",
        dir + L"missing.exe",
        dir + L"client.exe\" \"" + dir + L"client.exe",
    };
    for (const std::wstring& file : refused) {
        SCOPED_TRACE(testing_util::Narrow(file));
        UniqueKernelHandle process(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        EXPECT_FALSE(StartProgram(file.c_str(), nullptr, false, &process));
        EXPECT_FALSE(process);
    }
    EXPECT_FALSE(StartProgram(nullptr, nullptr, false, nullptr));
    SetCurrentDirectoryW(oldFolder);
    Sleep(1000);  // long enough for a wrongly started program to leave its note
    EXPECT_FALSE(FileExists(dir + L"started.txt"));
    EXPECT_FALSE(FileExists(dir + L"ran.txt"));
}

}  // namespace
