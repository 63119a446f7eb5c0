// Registry integration of the configuration record: product key values,
// the uninstall entry and the shortcuts.
#include <windows.h>

#include <string>

#include "client/client_info.h"
#include "client/registry.h"
#include "support/shell.h"

namespace {
const wchar_t kUninstallPrefix[] = L"\u5378\u8f7d";  // "卸载"
}  // namespace

// Every step runs whatever the earlier ones gave: a registry without write
// access still leaves the files installed, just unregistered.
// False when a value of the product key or of the uninstall entry could not
// be written: those are the installation's record. Shortcuts are a
// convenience and their failures stay silent.
bool CClientInfo::WriteRegistry() {
    const wchar_t* co = company.c_str();
    const wchar_t* ap = app.c_str();
    bool ok = WriteProductValue(co, ap, L"version", version.c_str(), -1);
    ok &= WriteProductValue(co, ap, L"path", path.c_str(), -1);
    ok &= WriteProductValue(co, ap, L"md5", md5.c_str(), -1);

    wchar_t icon[1024];
    wchar_t uninstall[1024];
    ok &= WriteUninstallValue(co, ap, L"DisplayName", name.c_str(), -1);
    ok &= WriteUninstallValue(co, ap, L"DisplayVersion", version.c_str(), -1);
    ok &= WriteUninstallValue(co, ap, L"Publisher", publisher.c_str(), -1);
    if (ComposePath(icon, 1024, {path.c_str(), main.c_str()}))
        ok &= WriteUninstallValue(co, ap, L"DisplayIcon", icon, -1);
    ok &= WriteUninstallValue(co, ap, L"InstallLocation", path.c_str(), -1);
    if (ComposePath(uninstall, 1024, {path.c_str(), uninstaller.c_str()})) {
        // Quoted: unquoted, a path with blanks ("C:\Program Files\...")
        // lets the system try "C:\Program.exe" first.
        std::wstring quoted = L"\"" + std::wstring(uninstall) + L"\"";
        ok &= WriteUninstallValue(co, ap, L"UninstallString", quoted.c_str(), -1);
        ok &= WriteUninstallValue(co, ap, L"QuietUninstallString", (quoted + L" silent").c_str(), -1);
    }
    if (estimatedKiB > 0) ok &= WriteUninstallNumber(co, ap, L"EstimatedSize", estimatedKiB);

    wchar_t mainPath[MAX_PATH];
    if (!GetMainPath(mainPath)) return ok;
    ok &= WriteProductValue(co, ap, L"main", mainPath, -1);

    const wchar_t* display = name.c_str();
    CreateDesktopShortcut(mainPath, display, 0);
    CreateStartMenuShortcut(mainPath, display, L'1');
    CreateQuickLaunchShortcut(mainPath, display, 0);

    wchar_t group[MAX_PATH];
    if (!CreateProgramsFolder(display, group)) return ok;
    CreateShortcutIn(mainPath, group, display, 0);
    wchar_t uninstallName[MAX_PATH];
    wchar_t uninstallTarget[MAX_PATH];
    if (ComposePath(uninstallName, MAX_PATH, {kUninstallPrefix, display}) &&
        ComposePath(uninstallTarget, MAX_PATH, {path.c_str(), uninstaller.c_str()}))
        CreateShortcutIn(uninstallTarget, group, uninstallName, 0);
    return ok;
}

bool CClientInfo::DeleteRegistry() {
    const wchar_t* co = company.c_str();
    const wchar_t* ap = app.c_str();
    DeleteProductKey(co, ap);
    DeleteUninstallKey(co, ap);
    const wchar_t* display = name.c_str();
    DeleteDesktopShortcut(display);
    DeleteStartMenuShortcut(display);
    DeleteQuickLaunchShortcut(display);
    RemoveProgramsFolder(display);
    return true;
}
