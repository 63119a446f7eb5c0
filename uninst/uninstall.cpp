#include "uninst/uninstall.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/install_worker.h"
#include "support/entry_name.h"
#include "client/app_file.h"

namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The folders of a relative name, deepest first ("a\b\c.txt": "a\b\", "a\").
void AddParents(const std::wstring& name, std::vector<std::wstring>* folders) {
    for (size_t cut = name.find_last_of(L'\\'); cut != std::wstring::npos && cut > 0;
         cut = name.find_last_of(L'\\', cut - 1)) {
        folders->push_back(name.substr(0, cut + 1));
        if (cut == 0) break;
    }
}

}  // namespace

RemovalResult RemoveRecorded(const std::wstring& installDir, const CAppFile& record,
                             const std::wstring& keep) {
    RemovalResult result;
    std::vector<std::wstring> folders;
    for (uint32_t i = record.count; i-- > 0;) {
        if (!record.entries[i]) continue;
        std::wstring name = record.entries[i]->c_str();
        std::replace(name.begin(), name.end(), L'/', L'\\');
        const bool folder = !name.empty() && name.back() == L'\\';
        std::wstring bare = folder ? name.substr(0, name.size() - 1) : name;
        if (!IsContainedEntryName(bare.c_str())) {
            ++result.skipped;
            continue;
        }
        if (folder) {
            folders.push_back(bare + L"\\");
            AddParents(bare, &folders);
            continue;
        }
        AddParents(bare, &folders);
        const std::wstring path = installDir + bare;
        if (!keep.empty() && SameName(path, keep)) continue;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // already gone
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // a player's folder of that name
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (DeleteFileW(path.c_str())) {
            ++result.removed;
        } else {
            ++result.failed;
            if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes);
        }
    }
    // Deepest first; a folder that still holds anything stays.
    std::sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
        size_t da = std::count(a.begin(), a.end(), L'\\'), db = std::count(b.begin(), b.end(), L'\\');
        return da != db ? da > db : a < b;
    });
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::wstring& folder : folders)
        if (RemoveDirectoryW((installDir + folder).c_str())) ++result.removed;
    return result;
}
