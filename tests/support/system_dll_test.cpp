// DLLs from the system folder only: LoadSystemLibrary in this process, and
// RestrictDllSearch in a probe program beside which (or in whose working
// folder) a DLL was planted.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/handle.h"
#include "support/system_dll.h"
#include "tests/common/test_util.h"

using testing_util::FileExists;
using testing_util::TempDir;

namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolderByBareNameOnly) {
    UniqueModule kernel(LoadSystemLibrary(L"kernel32.dll"));
    ASSERT_TRUE(kernel);
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), kernel.get());
    UniqueModule dwm(LoadSystemLibrary(L"dwmapi.dll"));
    ASSERT_TRUE(dwm);
    EXPECT_EQ(0, _wcsicmp((SystemFolder() + L"\\dwmapi.dll").c_str(), ModulePath(dwm.get()).c_str()));

    const std::wstring full = SystemFolder() + L"\\kernel32.dll";
    const wchar_t* refused[] = {nullptr, L"", L"..\\kernel32.dll", L"sub/kernel32.dll",
                                full.c_str(), L"no_such_library.dll"};
    for (const wchar_t* name : refused) {
        SCOPED_TRACE(name ? testing_util::Narrow(name) : "null");
        UniqueModule module(LoadSystemLibrary(name));
        EXPECT_FALSE(module);
    }
}

// The probe loads NAME by bare name and answers 0 when it was loaded.
DWORD Probe(const std::wstring& exe, const std::wstring& folder, const wchar_t* mode,
            const wchar_t* name) {
    std::wstring line = L"\"" + exe + L"\" " + mode + L" " + name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &started))
        return ~0u;
    UniqueKernelHandle thread(started.hThread), process(started.hProcess);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

// Planted beside the probe or in its working folder under a name no system
// DLL has: without the restriction the probe loads it (which shows the
// planted copy would be found), with it the probe does not.
TEST(RestrictDllSearch, KeepsDllsBesideTheProgramAndInTheWorkingFolderOut) {
    struct Case {
        const char* what;
        bool beside;  // else in the working folder
        const wchar_t* mode;
        bool loaded;
    } cases[] = {
        {"beside, plain", true, L"plain", true},
        {"beside, restricted", true, L"restrict", false},
        {"working folder, plain", false, L"plain", true},
        {"working folder, restricted", false, L"restrict", false},
    };
    auto planted = testing_util::ReadAll(testing_util::BinaryPath("bin/planted.dll"));
    auto probe = testing_util::ReadAll(testing_util::BinaryPath("bin/dll_search_probe.exe"));
    ASSERT_FALSE(planted.empty());
    ASSERT_FALSE(probe.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const std::wstring program = temp / L"program\\", work = temp / L"work\\";
        ASSERT_TRUE(CreateDirectoryW(program.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
        ASSERT_TRUE(testing_util::WriteAll(program + L"probe.exe", probe));
        const std::wstring dll = (c.beside ? program : work) + L"skin_planted_probe.dll";
        ASSERT_TRUE(testing_util::WriteAll(dll, planted));
        EXPECT_EQ(c.loaded ? 0u : 1u,
                  Probe(program + L"probe.exe", work, c.mode, L"skin_planted_probe.dll"));
        EXPECT_EQ(c.loaded, FileExists(dll + L".loaded"));
    }
}

}  // namespace
