#include "support/payload.h"

#include <windows.h>

#include <cwchar>

#include "support/data.h"
#include "support/packed.h"
#include "support/zip.h"

bool PayloadZipPath(const wchar_t* executable, wchar_t* out, size_t capacity) {
    if (!executable || !out || capacity == 0) return false;
    const wchar_t* dot = std::wcsrchr(executable, L'.');
    if (!dot) return false;
    size_t stem = size_t(dot - executable) + 1;
    if (stem + 4 > capacity) return false;
    std::wmemcpy(out, executable, stem);
    std::wmemcpy(out + stem, L"zip", 4);
    return true;
}

bool OpenPayloadOf(const wchar_t* executable, XZip& zip, XData& buffer) {
    if (!executable) return false;
    if (LoadPackedResourceFromFile(buffer, executable, L"tail", 1)) {
        // A resource that is there but damaged is final: the file beside the
        // program must not take over from it.
        return zip.OpenFromMemory(buffer.data, buffer.size, GetArchivePassword());
    }
    wchar_t beside[1024];
    if (!PayloadZipPath(executable, beside, 1024)) return false;
    return zip.OpenFromFile(beside, GetArchivePassword());
}

bool OpenPayload(XZip& zip, XData& buffer) {
    wchar_t path[1024] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, 1023);
    if (n == 0 || n >= 1023) return false;
    path[n] = 0;
    return OpenPayloadOf(path, zip, buffer);
}
