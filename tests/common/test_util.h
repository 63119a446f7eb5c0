// Helpers shared by the test programs: temporary folders, paths of the
// source tree as Wine sees them, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_util {

// A fresh empty folder under %TEMP%, removed with its content on destruction.
// The path ends with a backslash.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// A path of the source tree (relative, with '/') as a Windows path.
std::wstring SourcePath(const std::string& relative);
// A path of the build tree, likewise.
std::wstring BinaryPath(const std::string& relative);

std::vector<uint8_t> ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const void* bytes, size_t count);
inline bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    return WriteAll(path, bytes.data(), bytes.size());
}
bool FileExists(const std::wstring& path);
// Removes a folder tree without going through the code under test.
void RemoveTree(const std::wstring& path);
// The installer's temporary copies ("~in*.tmp") left in a folder (with its
// trailing backslash): an interrupted or failed write must leave none.
size_t CountTempFiles(const std::wstring& folder);

std::string Narrow(const std::wstring& text);  // UTF-8, for messages

// A shortcut read back through IShellLinkW / IPersistFile (COM must be up).
struct ShortcutInfo {
    bool loaded = false;
    std::wstring target;
    uint16_t hotkey = 0xFFFF;  // not read yet, unlike 0 (no hot key)
};
ShortcutInfo ReadShortcut(const std::wstring& file);

// The installer's records (product key, uninstall entry) live under
// HKEY_LOCAL_MACHINE in the registry's 32-bit view, for both builds; the
// tests read, write and remove them there. `subKey` is below HKLM.
bool RecordKeyExists(const std::wstring& subKey);
// A REG_SZ value as text ("" when missing or not text).
std::wstring ReadRecordValue(const std::wstring& subKey, const wchar_t* name);
// Stores `value` as REG_SZ, with its NUL unless `withNul` is false (the way
// earlier builds stored every value).
bool WriteRecordValue(const std::wstring& subKey, const wchar_t* name, const std::wstring& value,
                      bool withNul = true);
// Removes one key (without subkeys), as RegDeleteKeyW does.
long DeleteRecordKey(const std::wstring& subKey);

}  // namespace testing_util
