// HTTP GET over WinINet: a whole body into memory (Download), or a body,
// possibly from an offset on, handed piece by piece to a sink (Fetch). No
// retries here: Fetch says whether another try could help.
#pragma once

#include <cstdint>
#include <string>

#include "support/handle.h"

// The head of an answer as Fetch saw it.
struct HttpAnswer {
    uint32_t status = 0;  // 0: no answer came
    uint32_t error = 0;   // the failed call's GetLastError, when one failed
    uint64_t length = 0;  // Content-Length
    uint64_t start = 0;   // where the body belongs in the whole (206: the range's first byte)
    uint64_t whole = 0;   // the whole size: a 206's "/total", else the length
    // Seconds of a Retry-After, given as a number or as the date to wait for.
    bool hasRetryAfter = false;
    uint32_t retryAfter = 0;
    // What If-Range can carry: a strong ETag, else Last-Modified; empty when
    // the server gave neither.
    std::wstring validator;
    uint64_t received = 0;  // body bytes handed to the sink
};

// Where a fetched body goes.
class IBodySink {
public:
    // The head of a 200 or 206 answer; false refuses the body before any of
    // it is read.
    virtual bool Begin(const HttpAnswer& answer) = 0;
    // False ends the transfer.
    virtual bool Write(const uint8_t* bytes, uint32_t count) = 0;
    // Asked after every read, so a slow body can be ended between pieces
    // of a chunk; what arrived is written first.
    virtual bool KeepGoing() { return true; }

protected:
    ~IBodySink() = default;
};

enum class FetchEnd {
    kComplete,   // the whole announced body went to the sink
    kTransient,  // another try may do better: no connection, time-out, cut body, 408, 429, 5xx
    kPermanent,  // the same request would fail the same way: other status, bad address,
                 // certificate, a body larger than allowed, no length
    kSinkEnded,  // the sink refused the head or a piece
};

// The kind of failure a WinINet error is.
bool IsTransientNetError(uint32_t error);
bool IsCertificateError(uint32_t error);

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

    // GET address (escaped as Download does) and hand the body to sink. With
    // from > 0 only the bytes from there on are asked for, and, with
    // ifRange, only if the resource still matches that validator; the sink
    // must check which answer came (206 from `start`, or 200 with all). The
    // size limit (0: none) applies to the announced whole.
    FetchEnd Fetch(const wchar_t* address, uint64_t from, const wchar_t* ifRange,
                   uint64_t limit, IBodySink& sink, HttpAnswer* answer);

    uint8_t* buffer = nullptr;  // process heap, zero-filled when allocated
    uint32_t received = 0;
    uint32_t capacity = 0;
    UniqueInternet internet;    // kept for the next download
    UniqueInternet connection;  // with request: open only while a body is read
    UniqueInternet request;
    Callback callback = nullptr;
    void* user = nullptr;

private:
    bool Session();
    bool Open(const wchar_t* address, const std::wstring& headers);
    bool ReadBody(uint32_t length, uint32_t needed);
    void FreeBuffer();

    uint32_t sizeLimit = 0;
    uint32_t lowSpeedBytes = kLowSpeedBytes;
    uint32_t lowSpeedMs = kLowSpeedMs;
};
