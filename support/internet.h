// One HTTP GET into memory over WinINet, with a progress call after every
// chunk. No retries, no resuming, no disk: callers save the bytes.
#pragma once

#include <cstdint>

#include "support/handle.h"

class CInternet {
public:
    // (buffer size = body length + 2, body bytes received so far, user)
    using Callback = void (*)(uint32_t bufferSize, uint32_t received, void* user);

    static constexpr uint32_t kChunk = 16384;

    CInternet() = default;
    virtual ~CInternet();
    CInternet(const CInternet&) = delete;
    CInternet& operator=(const CInternet&) = delete;

    void SetCallback(Callback cb, void* userData) {
        callback = cb;
        user = userData;
    }
    // Bodies announced larger than this are refused before anything is
    // allocated; 0 means no limit beyond what fits in 32 bits.
    void SetSizeLimit(uint32_t limit) { sizeLimit = limit; }
    // A body that brings fewer than `bytes` in any `milliseconds` is given
    // up: the receive time-out only catches a silent server, not one that
    // trickles a byte at a time. 0 milliseconds switches the check off.
    void SetLowSpeedLimit(uint32_t bytes, uint32_t milliseconds) {
        lowSpeedBytes = bytes;
        lowSpeedMs = milliseconds;
    }
    static constexpr uint32_t kLowSpeedBytes = 1024;
    static constexpr uint32_t kLowSpeedMs = 60000;

    // The address is requested percent-encoded (EncodeUrl). True only for
    // status 200 with a Content-Length and exactly that many body bytes; the
    // body is then the first `received` bytes of `buffer`, followed by two
    // zero bytes.
    [[nodiscard]] bool Download(const wchar_t* address);

    uint8_t* buffer = nullptr;  // process heap, zero-filled when allocated
    uint32_t received = 0;
    uint32_t capacity = 0;
    UniqueInternet internet;    // kept for the next download
    UniqueInternet connection;  // with request: open only while a body is read
    UniqueInternet request;
    Callback callback = nullptr;
    void* user = nullptr;

private:
    bool Open(const wchar_t* address);
    bool ReadBody(uint32_t length, uint32_t needed);
    void FreeBuffer();

    uint32_t sizeLimit = 0;
    uint32_t lowSpeedBytes = kLowSpeedBytes;
    uint32_t lowSpeedMs = kLowSpeedMs;
};
