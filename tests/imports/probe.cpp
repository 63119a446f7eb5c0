// A program for the import check's own test: it imports wininet.dll, which
// the check allows a program of ours but not one that runs elevated.
#include <windows.h>
#include <wininet.h>

int main() {
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    return InternetCrackUrlW(L"http://example.invalid/", 0, 0, &parts) ? 0 : 1;
}
