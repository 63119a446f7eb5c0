// The HTTP server that with-http-server.sh starts for these tests: its
// address and the folder it serves plain files from.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace net_test {

inline std::wstring Env(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? v : L"";
}

inline bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

inline bool HaveServer() { return !Env(L"SKIN_TEST_HTTP_PORT").empty(); }

// http://127.0.0.1:<port>/<path>
inline std::wstring Url(const std::wstring& path) {
    return L"http://127.0.0.1:" + Env(L"SKIN_TEST_HTTP_PORT") + L"/" + path;
}

// Windows path of the served folder, ending with a backslash.
inline std::wstring ServedPath(const std::wstring& relative = L"") {
    return Env(L"SKIN_TEST_HTTP_ROOT") + relative;
}

// The same byte pattern the server's scripted answers use.
inline std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + 1) % 251 + 1);
    return v;
}

}  // namespace net_test

#define REQUIRE_SERVER()                                                          \
    do {                                                                          \
        if (!net_test::HaveServer()) GTEST_FAIL() << "run through with-http-server.sh"; \
    } while (0)
