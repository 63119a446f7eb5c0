// Updater hand-off of the configuration record.
#include "client/client_updater.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "client/client_info.h"
#include "client/registry.h"
#include "client/update_download.h"
#include "support/digest.h"
#include "support/internet.h"
#include "support/shell.h"

namespace {

constexpr uint32_t kAddressCapacity = 1024;

bool ComposeFile(wchar_t (&out)[MAX_PATH], const wchar_t* directory, const wchar_t* name) {
    if (!directory || !directory[0]) return false;
    int n = swprintf(out, MAX_PATH, L"%ls%ls", directory, name);
    return n > 0 && n < MAX_PATH;
}

}  // namespace

bool DeleteUpdaterCopyIn(const wchar_t* directory) {
    wchar_t copy[MAX_PATH];
    return ComposeFile(copy, directory, L"_ud_.exe") && DeleteFileW(copy);
}

bool RunUpdaterIn(const wchar_t* directory) {
    wchar_t source[MAX_PATH];
    wchar_t copy[MAX_PATH];
    if (!ComposeFile(source, directory, L"update.exe") ||
        !ComposeFile(copy, directory, L"_ud_.exe"))
        return false;
    DWORD attrs = GetFileAttributesW(source);
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
    // A copy still running (or otherwise locked) cannot be replaced; starting
    // the old one instead would run an updater of another release.
    if (!CopyFileW(source, copy, FALSE)) return false;
    return StartProgram(copy, L"silent", true, nullptr);
}

bool DownloadManifestDigestFrom(const wchar_t* address, wchar_t* out) {
    if (!out || !address || !address[0]) return false;
    wchar_t request[kAddressCapacity];
    if (!BuildRequestAddress(request, kAddressCapacity, address)) return false;
    CInternet net;
    if (!net.Download(request)) return false;
    if (!DigestOfBuffer(out, net.buffer, net.received)) return false;
    out[32] = 0;
    return true;
}

bool IsUpdateAvailableFor(const wchar_t* address, const wchar_t* company, const wchar_t* app) {
    wchar_t server[33] = {};
    if (!DownloadManifestDigestFrom(address, server)) return false;
    wchar_t installed[33] = {};
    // A client that was never registered always asks for the update.
    if (!ReadProductValue(company, app, L"md5", installed, 33)) return true;
    return wcsncmp(server, installed, 32) != 0;
}

bool CClientInfo::DeleteUpdaterCopy() {
    wchar_t directory[MAX_PATH];
    return GetModuleDirectory(directory, nullptr) && DeleteUpdaterCopyIn(directory);
}

bool CClientInfo::DownloadManifestDigest(wchar_t* out) {
    return DownloadManifestDigestFrom(config.c_str(), out);
}

bool CClientInfo::IsUpdateAvailable() {
    return IsUpdateAvailableFor(config.c_str(), company.c_str(), app.c_str());
}

bool CClientInfo::RunUpdater() {
    wchar_t directory[MAX_PATH];
    return GetModuleDirectory(directory, nullptr) && RunUpdaterIn(directory);
}
