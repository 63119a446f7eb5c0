// The updater hand-off with its directory, address and registry key given
// explicitly; the configuration record's operations pass the running
// program's directory, `config`, `company` and `app`.
#pragma once

// directory ends with a backslash.
bool DeleteUpdaterCopyIn(const wchar_t* directory);
// Copies "update.exe" over "_ud_.exe" in directory and starts the copy with
// "silent". False when there is no "update.exe", when the copy cannot be
// made (an older copy is never started instead) or when it does not start.
bool RunUpdaterIn(const wchar_t* directory);
// MD5 of the manifest at address: 32 upper-case digits and a NUL into out
// (at least 33 characters).
bool DownloadManifestDigestFrom(const wchar_t* address, wchar_t* out);
// The server's manifest differs from the digest recorded as "md5" in the
// product key; false when the server cannot be reached.
bool IsUpdateAvailableFor(const wchar_t* address, const wchar_t* company, const wchar_t* app);
