// Shell and file-system helpers: directory trees, shell deletes, special
// folders, .lnk shortcuts, starting programs and finding a module's folder.
// Every helper that creates or removes something tells the shell afterwards
// so that Explorer and the desktop refresh at once.
//
// Paths are composed into fixed buffers of MAX_PATH characters; a path that
// would not fit is refused (false), never cut. Display names given to the
// shortcut and program-group helpers must be a single path component: a name
// with a separator, a wildcard or ".."-style content is refused, so that a
// hostile configuration cannot point a delete outside its own shortcut.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "support/handle.h"

// Creates every missing level of path (levels are split at separator).
bool CreateDirectoryTree(const wchar_t* path, wchar_t separator);
// Makes every missing level of the folder that holds the file at path
// ("\"-separated). True when there is nothing to make.
bool CreateParentFolders(const wchar_t* path);
// Deletes a folder and all its content, read-only items included. A junction
// or symbolic link inside is removed as a link; what it points at is kept.
bool RemoveDirectoryTree(const wchar_t* directory);
// Deletes one file or folder through the shell (not to the recycle bin).
bool DeletePath(const wchar_t* path);
bool GetSpecialFolder(wchar_t* out, int csidl);  // out: MAX_PATH characters

// hotkey: a key character stored with Ctrl+Shift, or 0 for none.
bool CreateShortcut(const wchar_t* target, const wchar_t* shortcutFile, wchar_t hotkey);
bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey);
bool CreateStartMenuShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey);
bool CreateQuickLaunchShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey);
// out (MAX_PATH characters) receives the group folder's path; may be null.
bool CreateProgramsFolder(const wchar_t* name, wchar_t* out);
bool CreateShortcutIn(const wchar_t* target, const wchar_t* folder, const wchar_t* name,
                      wchar_t hotkey);
bool RemoveProgramsFolder(const wchar_t* name);
bool DeleteDesktopShortcut(const wchar_t* name);
bool DeleteStartMenuShortcut(const wchar_t* name);
bool DeleteQuickLaunchShortcut(const wchar_t* name);

// Opens file (program, document or web address) with the shell's "open" verb.
// When process is null the process handle is closed at once; otherwise
// *process receives it (it stays empty for documents and addresses, and on
// failure).
bool RunProgram(const wchar_t* file, const wchar_t* parameters, bool show,
                UniqueKernelHandle* process);
// Starts a program of ours (the installed client, the updater's copy)
// directly: file must be the full path of an .exe, which is never searched
// for, expanded or handed to a command interpreter or file association.
// The command line is the quoted path and the parameters; the program starts
// in its own folder. process as for RunProgram.
bool StartProgram(const wchar_t* file, const wchar_t* parameters, bool show,
                  UniqueKernelHandle* process);
// The module's folder with its trailing backslash; module null = this program.
bool GetModuleDirectory(wchar_t* out, HMODULE module);

// Writes the pieces one after another into out; false (out emptied) when the
// whole would not fit capacity characters including the terminating NUL.
bool ComposePath(wchar_t* out, size_t capacity, std::initializer_list<const wchar_t*> pieces);
// True for a usable single file-name component (no separators, wildcards,
// drive colon, or a name made of dots only).
bool IsPlainFileName(const wchar_t* name);
