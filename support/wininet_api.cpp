#include "support/wininet_api.h"

#include <atomic>

#include "support/handle.h"
#include "support/system_dll.h"

namespace {

template <typename F>
bool Resolve(HMODULE module, const char* name, F* out) {
    *out = reinterpret_cast<F>(GetProcAddress(module, name));
    return *out != nullptr;
}

const WinInetApi* Load() {
    static WinInetApi api;
    UniqueModule module(LoadSystemLibrary(L"wininet.dll"));
    if (!module) return nullptr;
    HMODULE m = module.get();
#define SKIN_RESOLVE(f) Resolve(m, #f, &api.f)
    bool all = SKIN_RESOLVE(InternetOpenW) && SKIN_RESOLVE(InternetConnectW) &&
               SKIN_RESOLVE(InternetCrackUrlW) && SKIN_RESOLVE(InternetSetOptionW) &&
               SKIN_RESOLVE(InternetQueryDataAvailable) && SKIN_RESOLVE(InternetReadFile) &&
               SKIN_RESOLVE(InternetCloseHandle) && SKIN_RESOLVE(HttpOpenRequestW) &&
               SKIN_RESOLVE(HttpSendRequestW) && SKIN_RESOLVE(HttpQueryInfoW);
#undef SKIN_RESOLVE
    if (!all) return nullptr;
    // Kept loaded until the process ends: a worker may still be inside
    // WinINet when the program returns from its entry, and the table's
    // pointers must stay valid for it.
    (void)module.release();
    return &api;
}

std::atomic<const WinInetApi*> g_testApi{nullptr};

}  // namespace

const WinInetApi* WinInet() {
    if (const WinInetApi* test = g_testApi.load()) return test;
    static const WinInetApi* const api = Load();
    return api;
}

void SetWinInetForTesting(const WinInetApi* api) { g_testApi.store(api); }
