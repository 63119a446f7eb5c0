#include "support/replace_file.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "support/data.h"
#include "support/handle.h"

const wchar_t kReplacingSuffix[] = L".tmp~";

bool MoveOverTarget(const wchar_t* temporary, const wchar_t* target) {
    if (!temporary || !target) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SetFileAttributesW(target, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        if (MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD again = GetLastError();
        SetFileAttributesW(target, attributes);
        SetLastError(again);
        return false;
    }
    SetLastError(error);
    return false;
}

bool RenameOpenFileOver(void* file, const wchar_t* target) {
    if (!file || !target) return false;
    const size_t length = wcslen(target);
    const size_t bytes = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]());
    if (!buffer) return false;
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(length * sizeof(wchar_t));
    std::memcpy(info->FileName, target, (length + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(bytes)) != FALSE;
}

bool SaveReplacing(const wchar_t* path, const void* bytes, uint32_t count) {
    if (!path || !*path || (!bytes && count)) return false;
    const std::wstring temporary = std::wstring(path) + kReplacingSuffix;
    // Windows refuses names from MAX_PATH on (without the long-path opt-in),
    // Wine does not: refused here, the save behaves alike on both.
    if (temporary.size() >= MAX_PATH) return false;
    bool ok = false;
    {
        UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        ok = WriteWholeFile(file.get(), static_cast<const uint8_t*>(bytes), count) &&
             FlushFileBuffers(file.get());
    }
    if (ok && MoveOverTarget(temporary.c_str(), path)) return true;
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    SetLastError(error);
    return false;
}
