// Runs an installer package under test and plays the user: answers its
// message boxes, posts commands to its window, and cleans up the product's
// registry keys and shortcuts afterwards.
#pragma once

#include <windows.h>

#include <functional>

#include "support/handle.h"
#include <string>
#include <vector>

namespace e2e {

struct Dialog {
    std::wstring caption;
    std::wstring text;
};

// Answers a message box with a button id (IDOK, IDYES, IDNO), or 0 to leave
// it open.
using DialogAnswer = std::function<int(const Dialog&)>;
// Called every poll while the installer runs, with its main window (or null
// while there is none); answering true ends the watching early (the process
// is left running).
using WindowStep = std::function<bool(HWND window)>;

struct RunResult {
    bool exited = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    bool sawWindow = false;
    std::wstring windowTitle;
};

class Installer {
public:
    Installer(const std::wstring& exe, const std::wstring& args);
    ~Installer();  // ends the process if it still runs
    bool Started() const { return bool(process_); }

    // Polls until the process ends or timeoutMs passes.
    RunResult Watch(const DialogAnswer& answer, const WindowStep& step = nullptr,
                    DWORD timeoutMs = 60000);
    HWND Window();  // the installer window (class " "), or null

private:
    UniqueKernelHandle process_;
    DWORD pid_ = 0;
    std::vector<HWND> answered_;
};

// Convenience: run to the end.
RunResult Run(const std::wstring& exe, const std::wstring& args, const DialogAnswer& answer,
              DWORD timeoutMs = 60000);

// Values of HKLM\<key>; empty when missing.
std::wstring RegistryValue(const std::wstring& key, const wchar_t* name);
bool WriteRegistry(const std::wstring& key, const wchar_t* name, const std::wstring& value);
// The product key and uninstall key of company/app, and the shortcuts of name.
void RemoveProduct(const std::wstring& company, const std::wstring& app, const std::wstring& name);
// The five shortcut files the installer makes for a product name.
std::vector<std::wstring> ShortcutPaths(const std::wstring& name);
// The target of a .lnk file, or empty.
std::wstring ShortcutTarget(const std::wstring& lnk);

// Waits up to timeoutMs for a file to appear.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

}  // namespace e2e
