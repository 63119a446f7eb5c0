#include "support/internet.h"

#include "support/wininet_api.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
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

bool QueryText(HINTERNET request, DWORD what, std::wstring* value) {
    const WinInetApi& net = *WinInet();
    wchar_t text[512];
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD index = 0;
    if (!net.HttpQueryInfoW(request, what, text, &size, &index)) return false;
    value->assign(text, size / sizeof(wchar_t));
    return true;
}

// Decimal digits only, without overflow; the rest of the text is left to the caller.
const wchar_t* ParseCount(const wchar_t* p, uint64_t* value) {
    if (*p < L'0' || *p > L'9') return nullptr;
    uint64_t v = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (v > (UINT64_MAX - 9) / 10) return nullptr;
        v = v * 10 + uint64_t(*p - L'0');
    }
    *value = v;
    return p;
}

const wchar_t* SkipBlanks(const wchar_t* p) {
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

// Seconds from now until an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"),
// rounded up; 0 for a date gone by.
bool SecondsUntil(const std::wstring& date, uint64_t* seconds) {
    wchar_t weekday[4] = {}, month[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (swscanf(date.c_str(), L" %3ls %d %3ls %d %d:%d:%d", weekday, &day, month, &year, &hour,
                &minute, &second) != 7 &&
        swscanf(date.c_str(), L" %3ls, %d %3ls %d %d:%d:%d", weekday, &day, month, &year, &hour,
                &minute, &second) != 7)
        return false;
    static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                             L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    WORD number = 0;
    for (WORD i = 0; i < 12; ++i)
        if (_wcsicmp(month, kMonths[i]) == 0) number = WORD(i + 1);
    SYSTEMTIME when = {};
    when.wYear = WORD(year);
    when.wMonth = number;
    when.wDay = WORD(day);
    when.wHour = WORD(hour);
    when.wMinute = WORD(minute);
    when.wSecond = WORD(second);
    FILETIME then, now;
    if (number == 0 || !SystemTimeToFileTime(&when, &then)) return false;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](FILETIME t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
    const uint64_t a = ticks(then), b = ticks(now);
    *seconds = a > b ? (a - b + 9999999) / 10000000 : 0;
    return true;
}

// "bytes first-last/whole" (whole may be "*").
bool ParseContentRange(const std::wstring& text, uint64_t* first, uint64_t* last, uint64_t* whole) {
    const wchar_t* p = SkipBlanks(text.c_str());
    if (_wcsnicmp(p, L"bytes", 5) != 0) return false;
    p = SkipBlanks(p + 5);
    if (!(p = ParseCount(p, first)) || *p != L'-') return false;
    if (!(p = ParseCount(p + 1, last)) || *p != L'/' || *last < *first) return false;
    ++p;
    if (*p == L'*' && p[1] == 0) {
        *whole = 0;
        return true;
    }
    return (p = ParseCount(p, whole)) && *SkipBlanks(p) == 0 && *last < *whole;
}

// How a body read ended.
enum class ReadEnd { kComplete, kClosed, kError, kSlow, kLonger, kRefused };

// Reads a body of length bytes in chunks of at most CInternet::kChunk:
// place(n) gives where the next n bytes may go, took(at, n) is told what
// arrived there and may refuse it. A chunk is gathered from reads of what
// has arrived: one full-sized read would wait for all of it however slowly
// it came, and the speed check would never run.
template <typename Place, typename Took, typename Keep>
ReadEnd ReadChunks(HINTERNET request, uint64_t length, uint32_t lowBytes, uint32_t lowMs,
                   Place place, Took took, Keep keep, uint64_t* received) {
    const WinInetApi& net = *WinInet();
    *received = 0;
    DWORD windowStart = GetTickCount();
    uint32_t windowBytes = 0;
    for (;;) {
        uint64_t room = length - *received;
        DWORD got = 0;
        if (room == 0) {
            // Body complete: anything more means the server lied about the length.
            uint8_t probe = 0;
            if (!net.InternetReadFile(request, &probe, 1, &got)) return ReadEnd::kError;
            return got != 0 ? ReadEnd::kLonger : ReadEnd::kComplete;
        }
        const DWORD want = room < CInternet::kChunk ? DWORD(room) : CInternet::kChunk;
        uint8_t* at = place(want);
        DWORD filled = 0;
        bool closed = false;
        while (filled < want) {
            DWORD ask = want - filled;
            if (lowMs) {
                DWORD available = 0;
                if (!net.InternetQueryDataAvailable(request, &available, 0, 0)) return ReadEnd::kError;
                if (available > 0 && available < ask) ask = available;
            }
            if (!net.InternetReadFile(request, at + filled, ask, &got)) return ReadEnd::kError;
            if (got == 0) {
                closed = true;
                break;
            }
            filled += got;
            windowBytes += got;
            if (!keep()) {
                *received += filled;
                took(at, filled);
                return ReadEnd::kRefused;
            }
            if (lowMs && GetTickCount() - windowStart >= lowMs) {
                if (windowBytes < lowBytes) {
                    *received += filled;
                    return ReadEnd::kSlow;
                }
                windowStart = GetTickCount();
                windowBytes = 0;
            }
        }
        *received += filled;
        if (filled > 0 && !took(at, filled)) return ReadEnd::kRefused;
        if (closed) return ReadEnd::kClosed;
    }
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

bool IsTransientNetError(uint32_t error) {
    switch (error) {
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_FORCE_RETRY:
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        case ERROR_INTERNET_DISCONNECTED:
        case ERROR_INTERNET_SERVER_UNREACHABLE:
        case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
            return true;
        default:
            return false;
    }
}

bool IsCertificateError(uint32_t error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
            return true;
        default:
            return false;
    }
}

bool CInternet::Session() {
    if (internet) return true;
    const WinInetApi& net = *WinInet();
    // The system's proxy settings, as the player's browser uses them.
    internet.reset(net.InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return false;
    SetTimeouts(internet.get());
    return true;
}

bool CInternet::Open(const wchar_t* address, const std::wstring& headers) {
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
    // Files are fetched as the server has them now, never from or into the
    // cache, and without the cookie store: looking both up costs WinINet a
    // mapped index and a lock on every request, a large part of a small
    // file's time, for nothing a file server needs.
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_NO_UI;
    // Certificate checks stay on: no INTERNET_FLAG_IGNORE_CERT_* and no
    // security flags are ever set, so a bad certificate fails the request.
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    request.reset(net.HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr,
                                       nullptr, accept, flags, 0));
    if (!request) return false;
    SetTimeouts(request.get());
    return net.HttpSendRequestW(request.get(), headers.empty() ? nullptr : headers.c_str(),
                                DWORD(headers.size()), nullptr, 0) != FALSE;
}

bool CInternet::Download(const wchar_t* address) {
    // Every WinINet call of this class runs after this check.
    if (!address || !WinInet()) return false;
    // Manifests may hold addresses with blanks or Chinese names as they
    // are; WinINet would send them unusable. Escapes already there stay.
    const std::wstring encoded = EncodeUrl(address);
    if (!Session()) return false;
    request.reset();
    connection.reset();
    if (!Open(encoded.c_str(), std::wstring())) return false;

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
    received = 0;
    uint64_t got = 0;
    ReadEnd end = ReadChunks(
        request.get(), length, lowSpeedBytes, lowSpeedMs,
        [&](uint32_t) { return buffer + received; },
        [&](const uint8_t*, uint32_t count) {
            received += count;
            if (callback) callback(needed, received, user);
            return true;
        },
        [] { return true; }, &got);
    received = uint32_t(got);
    if (end == ReadEnd::kError || end == ReadEnd::kSlow || end == ReadEnd::kLonger) return false;
    // A reused larger buffer still holds the previous body past this point.
    buffer[received] = 0;
    buffer[received + 1] = 0;
    request.reset();
    connection.reset();
    // A connection closed early delivers fewer bytes than announced.
    return end == ReadEnd::kComplete;
}

FetchEnd CInternet::Fetch(const wchar_t* address, uint64_t from, const wchar_t* ifRange,
                          uint64_t limit, IBodySink& sink, HttpAnswer* answer) {
    HttpAnswer local;
    HttpAnswer& a = answer ? *answer : local;
    a = HttpAnswer();
    if (!address || !WinInet() || !Session()) return FetchEnd::kPermanent;
    const std::wstring encoded = EncodeUrl(address);
    std::wstring headers;
    // A validator that could break the header block is not sent, and a
    // range without it could splice two versions: the whole body then.
    for (const wchar_t* c = ifRange; c && *c; ++c)
        if (*c < 0x20 || *c == 0x7F) from = 0;
    if (from > 0) {
        headers = L"Range: bytes=" + std::to_wstring(from) + L"-\r\n";
        if (ifRange && ifRange[0]) headers += L"If-Range: " + std::wstring(ifRange) + L"\r\n";
    }
    request.reset();
    connection.reset();
    SetLastError(0);
    if (!Open(encoded.c_str(), headers)) {
        a.error = GetLastError();
        return IsTransientNetError(a.error) ? FetchEnd::kTransient : FetchEnd::kPermanent;
    }
    DWORD status = 0;
    if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, &status)) return FetchEnd::kTransient;
    a.status = status;
    std::wstring text;
    uint64_t seconds = 0;
    if (QueryText(request.get(), HTTP_QUERY_RETRY_AFTER, &text) &&
        (ParseCount(SkipBlanks(text.c_str()), &seconds) || SecondsUntil(text, &seconds))) {
        a.hasRetryAfter = true;
        a.retryAfter = seconds > UINT32_MAX ? UINT32_MAX : uint32_t(seconds);
    }
    if (status == 408 || status == 429 || (status >= 500 && status <= 599))
        return FetchEnd::kTransient;
    if (status != 200 && status != 206) return FetchEnd::kPermanent;
    if (!QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH, &text) ||
        !ParseCount(SkipBlanks(text.c_str()), &a.length))
        return FetchEnd::kPermanent;
    a.whole = a.length;
    if (status == 206) {
        uint64_t first = 0, last = 0, whole = 0;
        if (!QueryText(request.get(), HTTP_QUERY_CONTENT_RANGE, &text) ||
            !ParseContentRange(text, &first, &last, &whole) || last - first + 1 != a.length)
            return FetchEnd::kPermanent;
        a.start = first;
        a.whole = whole ? whole : first + a.length;
    }
    if (limit && a.whole > limit) return FetchEnd::kPermanent;
    // If-Range wants a strong validator; a weak ETag gives way to the date.
    if (QueryText(request.get(), HTTP_QUERY_ETAG, &text) && !text.empty() &&
        text.compare(0, 2, L"W/") != 0)
        a.validator = text;
    else if (QueryText(request.get(), HTTP_QUERY_LAST_MODIFIED, &text))
        a.validator = text;
    if (!sink.Begin(a)) return FetchEnd::kSinkEnded;

    uint8_t chunk[kChunk];
    ReadEnd end = ReadChunks(
        request.get(), a.length, lowSpeedBytes, lowSpeedMs, [&](uint32_t) { return chunk; },
        [&](const uint8_t* bytes, uint32_t count) { return sink.Write(bytes, count); },
        [&] { return sink.KeepGoing(); }, &a.received);
    if (end == ReadEnd::kError) a.error = GetLastError();
    request.reset();
    connection.reset();
    switch (end) {
        case ReadEnd::kComplete:
            return FetchEnd::kComplete;
        case ReadEnd::kRefused:
            return FetchEnd::kSinkEnded;
        case ReadEnd::kLonger:
            return FetchEnd::kPermanent;
        case ReadEnd::kError:
            return IsCertificateError(a.error) ? FetchEnd::kPermanent : FetchEnd::kTransient;
        default:  // cut or too slow: what arrived can be continued
            return FetchEnd::kTransient;
    }
}
