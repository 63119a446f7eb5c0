#include "support/internet.h"

#include "support/wininet_api.h"

#include <cstring>
#include <string>

#include "support/text.h"

namespace {

// Milliseconds.
constexpr struct {
    DWORD option;
    DWORD value;
} kTimeouts[] = {
    {INTERNET_OPTION_CONNECT_TIMEOUT, 5000},
    {INTERNET_OPTION_SEND_TIMEOUT, 1000},
    {INTERNET_OPTION_RECEIVE_TIMEOUT, 7000},
    {INTERNET_OPTION_DATA_SEND_TIMEOUT, 1000},
    {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 7000},
};

void SetTimeouts(HINTERNET handle) {
    const WinInetApi& net = *WinInet();
    for (const auto& t : kTimeouts) {
        DWORD value = t.value;
        net.InternetSetOptionW(handle, t.option, &value, sizeof(value));
    }
}

bool QueryNumber(HINTERNET request, DWORD what, DWORD* value) {
    const WinInetApi& net = *WinInet();
    DWORD size = sizeof(*value);
    DWORD index = 0;
    return net.HttpQueryInfoW(request, what | HTTP_QUERY_FLAG_NUMBER, value, &size, &index) !=
           FALSE;
}

}  // namespace

CInternet::~CInternet() {
    FreeBuffer();
    // Children before the session they belong to.
    request.reset();
    connection.reset();
    internet.reset();
}

void CInternet::FreeBuffer() {
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    buffer = nullptr;
    capacity = 0;
}

bool CInternet::Open(const wchar_t* address) {
    const WinInetApi& net = *WinInet();
    // Opened in steps rather than with InternetOpenUrlW, so that the time-outs
    // are in force before the connection is made and the request sent.
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!net.InternetCrackUrlW(address, 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object;
    if (parts.lpszUrlPath) object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";

    connection.reset(net.InternetConnectW(internet.get(), host.c_str(), parts.nPort, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    SetTimeouts(connection.get());
    const wchar_t* accept[] = {L"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    request.reset(net.HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr,
                                       nullptr, accept, flags, 0));
    if (!request) return false;
    SetTimeouts(request.get());
    return net.HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) != FALSE;
}

bool CInternet::Download(const wchar_t* address) {
    // Every WinINet call of this class runs after this check.
    if (!address || !WinInet()) return false;
    const WinInetApi& net = *WinInet();
    // Manifests may hold addresses with blanks or Chinese names as they
    // are; WinINet would send them unusable. Escapes already there stay.
    const std::wstring encoded = EncodeUrl(address);
    if (!internet) {
        internet.reset(
            net.InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!internet) return false;
        SetTimeouts(internet.get());
    }
    request.reset();
    connection.reset();
    if (!Open(encoded.c_str())) return false;

    DWORD status = 0;
    if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, &status) || status != 200) return false;
    DWORD length = 0;
    if (!QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH, &length)) return false;
    // The two terminating zero bytes must still fit in 32 bits.
    if (length > UINT32_MAX - 2) return false;
    if (sizeLimit && length > sizeLimit) return false;
    const uint32_t needed = length + 2;

    if (buffer && capacity < needed) FreeBuffer();
    if (!buffer) {
        buffer = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed));
        if (!buffer) return false;
        capacity = needed;
    }
    return ReadBody(length, needed);
}

bool CInternet::ReadBody(uint32_t length, uint32_t needed) {
    const WinInetApi& net = *WinInet();
    received = 0;
    DWORD windowStart = GetTickCount();
    uint32_t windowBytes = 0;
    for (;;) {
        uint32_t room = length - received;
        DWORD got = 0;
        if (room == 0) {
            // Body complete: anything more means the server lied about the length.
            uint8_t probe = 0;
            if (!net.InternetReadFile(request.get(), &probe, 1, &got)) return false;
            if (got != 0) return false;
            break;
        }
        // A chunk is gathered from reads of what has arrived: one full-sized
        // read would wait for all of it however slowly it came, and the speed
        // check would never run. Progress is still reported per chunk.
        const DWORD want = room < kChunk ? room : kChunk;
        DWORD filled = 0;
        bool closed = false;
        while (filled < want) {
            DWORD ask = want - filled;
            if (lowSpeedMs) {
                DWORD available = 0;
                if (!net.InternetQueryDataAvailable(request.get(), &available, 0, 0)) return false;
                if (available > 0 && available < ask) ask = available;
            }
            if (!net.InternetReadFile(request.get(), buffer + received + filled, ask, &got))
                return false;
            if (got == 0) {
                closed = true;
                break;
            }
            filled += got;
            windowBytes += got;
            if (lowSpeedMs && GetTickCount() - windowStart >= lowSpeedMs) {
                if (windowBytes < lowSpeedBytes) {
                    received += filled;
                    return false;
                }
                windowStart = GetTickCount();
                windowBytes = 0;
            }
        }
        received += filled;
        if (filled > 0 && callback) callback(needed, received, user);
        if (closed) break;
    }
    // A reused larger buffer still holds the previous body past this point.
    buffer[received] = 0;
    buffer[received + 1] = 0;
    request.reset();
    connection.reset();
    // A connection closed early delivers fewer bytes than announced.
    return received == length;
}
