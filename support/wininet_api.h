// WinINet through a table of functions resolved at the first use, instead
// of load-time imports: wininet.dll is not among the DLLs Windows always
// takes from the system folder, so an import would be looked for beside the
// program first.
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetApi {
    decltype(&::InternetOpenW) InternetOpenW;
    decltype(&::InternetConnectW) InternetConnectW;
    decltype(&::InternetCrackUrlW) InternetCrackUrlW;
    decltype(&::InternetSetOptionW) InternetSetOptionW;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::HttpOpenRequestW) HttpOpenRequestW;
    decltype(&::HttpSendRequestW) HttpSendRequestW;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW;
};

// The functions of the system folder's wininet.dll, or null when it cannot
// be loaded from there or lacks one of them. Safe from any thread.
const WinInetApi* WinInet();

// Tests put a table of their own in front of the system's (for example one
// that records what is asked of WinINet); null puts the system's back.
void SetWinInetForTesting(const WinInetApi* api);
