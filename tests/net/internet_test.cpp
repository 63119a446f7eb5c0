#include "support/internet.h"
#include "support/wininet_api.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/test_util.h"
#include "tests/net/net_fixture.h"

using net_test::Pattern;
using net_test::ServedPath;
using net_test::Url;

namespace {

struct Call {
    uint32_t size;
    uint32_t received;
};

void Record(uint32_t size, uint32_t received, void* user) {
    static_cast<std::vector<Call>*>(user)->push_back({size, received});
}

// Puts a file of n pattern bytes into the served folder.
std::wstring Serve(const std::wstring& name, size_t n) {
    EXPECT_TRUE(testing_util::WriteAll(ServedPath(name), Pattern(n)));
    return Url(name);
}

class InternetTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_SERVER();
        net.SetCallback(Record, &calls);
    }
    CInternet net;
    std::vector<Call> calls;
};

TEST_F(InternetTest, AddressesThatAreNotHttpFail) {
    EXPECT_FALSE(net.Download(nullptr));
    for (const wchar_t* address : {L"", L"not an address", L"file:///C:/windows/win.ini",
                                   L"ftp://127.0.0.1:1/x", L"http:///nohost"}) {
        EXPECT_FALSE(net.Download(address)) << testing_util::Narrow(address);
    }
    EXPECT_EQ(net.buffer, nullptr);
    EXPECT_TRUE(calls.empty());
}

TEST_F(InternetTest, FullChunksReportProgressWithBufferSize) {
    ASSERT_TRUE(net.Download(Serve(L"body40000.bin", 40000).c_str()));
    ASSERT_EQ(net.received, 40000u);
    EXPECT_EQ(net.capacity, 40002u);
    EXPECT_EQ(0, memcmp(net.buffer, Pattern(40000).data(), 40000));
    EXPECT_EQ(net.buffer[40000], 0);
    EXPECT_EQ(net.buffer[40001], 0);
    ASSERT_EQ(calls.size(), 3u);
    const uint32_t expected[] = {16384, 32768, 40000};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].size, 40002u);
        EXPECT_EQ(calls[i].received, expected[i]);
    }
    EXPECT_FALSE(net.request) << "the request is closed after a complete read";
}

TEST_F(InternetTest, ZeroLengthBodyGivesTwoZeroBytes) {
    ASSERT_TRUE(net.Download(Url(L"bad/zero").c_str()));
    EXPECT_EQ(net.received, 0u);
    ASSERT_EQ(net.capacity, 2u);
    EXPECT_EQ(net.buffer[0], 0);
    EXPECT_EQ(net.buffer[1], 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(InternetTest, SmallerBodyReusesLargerBuffer) {
    ASSERT_TRUE(net.Download(Serve(L"big.bin", 40000).c_str()));
    uint8_t* first = net.buffer;
    // Something other than the pattern, so stale bytes would show.
    std::vector<uint8_t> small(10, 'x');
    ASSERT_TRUE(testing_util::WriteAll(ServedPath(L"small.bin"), small));
    calls.clear();
    ASSERT_TRUE(net.Download(Url(L"small.bin").c_str()));
    EXPECT_EQ(net.buffer, first);
    EXPECT_EQ(net.capacity, 40002u);
    EXPECT_EQ(net.received, 10u);
    EXPECT_EQ(0, memcmp(net.buffer, small.data(), 10));
    EXPECT_EQ(net.buffer[10], 0);
    EXPECT_EQ(net.buffer[11], 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].size, 12u);
    EXPECT_EQ(calls[0].received, 10u);
}

TEST_F(InternetTest, LargerBodyReplacesSmallerBuffer) {
    ASSERT_TRUE(net.Download(Serve(L"ten.bin", 10).c_str()));
    ASSERT_TRUE(net.Download(Serve(L"more.bin", 20000).c_str()));
    EXPECT_EQ(net.capacity, 20002u);
    EXPECT_EQ(net.received, 20000u);
    EXPECT_EQ(0, memcmp(net.buffer, Pattern(20000).data(), 20000));
}

// Answers that must fail; none may call back or leave more than it announced.
struct BadCase {
    const wchar_t* path;
    const char* what;
    bool reads;  // whether body bytes may have been read before the failure
};

class InternetBadAnswer : public InternetTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(InternetBadAnswer, Fails) {
    const BadCase& c = GetParam();
    EXPECT_FALSE(net.Download(Url(c.path).c_str())) << c.what;
    if (!c.reads) {
        EXPECT_TRUE(calls.empty()) << c.what;
        EXPECT_EQ(net.received, 0u) << c.what;
    }
    EXPECT_LE(net.received + 2, net.capacity == 0 ? 2 : net.capacity) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, InternetBadAnswer,
    ::testing::Values(BadCase{L"bad/404", "404 with a body", false},
                      BadCase{L"missing-file.bin", "plain 404", false},
                      BadCase{L"bad/nolength", "200 without Content-Length", false},
                      BadCase{L"bad/huge", "length that leaves no room for the terminator", false},
                      BadCase{L"bad/cut", "connection closed half-way", true}));

TEST_F(InternetTest, CutConnectionReportsWhatArrived) {
    EXPECT_FALSE(net.Download(Url(L"bad/cut").c_str()));
    EXPECT_EQ(net.received, 20000u);
    EXPECT_EQ(net.capacity, 40002u);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().received, 20000u);
}

TEST_F(InternetTest, BodyLongerThanAnnouncedNeverPassesTheBuffer) {
    // WinINet itself stops at the announced length; either way nothing may
    // land past it, and a success can only mean the announced 100 bytes.
    bool ok = net.Download(Url(L"bad/longer").c_str());
    ASSERT_EQ(net.capacity, 102u);
    EXPECT_LE(net.received, 100u);
    if (ok) {
        EXPECT_EQ(net.received, 100u);
        EXPECT_EQ(0, memcmp(net.buffer, Pattern(100).data(), 100));
    }
    EXPECT_EQ(net.buffer[100], 0);
    EXPECT_EQ(net.buffer[101], 0);
}

TEST_F(InternetTest, SizeLimitRefusesLargerBodyBeforeAllocating) {
    net.SetSizeLimit(39999);
    EXPECT_FALSE(net.Download(Serve(L"limit.bin", 40000).c_str()));
    EXPECT_EQ(net.buffer, nullptr);
    EXPECT_TRUE(calls.empty());
    net.SetSizeLimit(40000);
    EXPECT_TRUE(net.Download(Url(L"limit.bin").c_str()));
}

TEST_F(InternetTest, ServerSlowerThanReceiveTimeoutFails) {
    // The server pauses 12 s half-way and then sends the rest; with the 7 s
    // receive time-out in force the download gives up during the pause.
    EXPECT_FALSE(net.Download(Url(L"bad/slow").c_str()));
    EXPECT_LT(net.received, 40000u);
}

// What the time-outs are set to, as WinINet is asked: every handle of a
// download (session, connection, request) gets all five (Wine keeps only
// the connect time-out, so reading them back would check one of them).
std::vector<std::pair<HINTERNET, std::pair<DWORD, DWORD>>> g_options;
const WinInetApi* g_system = nullptr;

BOOL WINAPI RecordOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    if (buffer && length == sizeof(DWORD))
        g_options.push_back({handle, {option, *static_cast<const DWORD*>(buffer)}});
    return g_system->InternetSetOptionW(handle, option, buffer, length);
}

TEST_F(InternetTest, TimeoutsAreSetOnEveryHandle) {
    g_system = WinInet();
    ASSERT_NE(nullptr, g_system);
    WinInetApi recording = *g_system;
    recording.InternetSetOptionW = RecordOption;
    g_options.clear();
    SetWinInetForTesting(&recording);
    CInternet fresh;
    // A refused answer leaves the request open, so all three handles are there.
    EXPECT_FALSE(fresh.Download(Url(L"bad/404").c_str()));
    SetWinInetForTesting(nullptr);
    ASSERT_TRUE(fresh.internet && fresh.connection && fresh.request);

    const std::vector<std::pair<DWORD, DWORD>> expected = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, 5000},   {INTERNET_OPTION_SEND_TIMEOUT, 1000},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, 7000},   {INTERNET_OPTION_DATA_SEND_TIMEOUT, 1000},
        {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 7000}};
    for (HINTERNET handle : {fresh.internet.get(), fresh.connection.get(), fresh.request.get()}) {
        std::vector<std::pair<DWORD, DWORD>> set;
        for (const auto& o : g_options)
            if (o.first == handle) set.push_back(o.second);
        EXPECT_EQ(expected, set);
    }
}

TEST_F(InternetTest, NothingListensFails) {
    // Port 1 on the loopback: refused at once, nothing leaves the machine.
    EXPECT_FALSE(net.Download(L"http://127.0.0.1:1/x"));
    EXPECT_EQ(net.buffer, nullptr);
}

}  // namespace

namespace {

// Keeps what Fetch hands over; refuses the head when told to.
struct RecordingSink : IBodySink {
    bool Begin(const HttpAnswer& answer) override {
        heads.push_back(answer);
        return accept;
    }
    bool Write(const uint8_t* bytes, uint32_t count) override {
        body.insert(body.end(), bytes, bytes + count);
        return true;
    }
    std::vector<HttpAnswer> heads;
    std::vector<uint8_t> body;
    bool accept = true;
};

// The server keeps counts and logs per file: a name of this run alone.
std::wstring Fresh(const wchar_t* name) {
    static int runs = 0;
    return std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs) + L"-" + name;
}

// Lines of the server's request log for a file under /serve/.
std::vector<std::string> ServerLog(const std::wstring& name) {
    std::vector<uint8_t> bytes = testing_util::ReadAll(ServedPath(name + L".log"));
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += char(b);
        }
    }
    return lines;
}

// Serves n bytes of the pattern as name and fetches all of it through net.
FetchEnd ServeAndFetch(CInternet& net, const std::wstring& name, size_t n, RecordingSink& sink,
                       HttpAnswer* answer) {
    Serve(name, n);
    return net.Fetch(Url(L"serve/-/" + name).c_str(), 0, nullptr, 0, sink, answer);
}

}  // namespace

TEST_F(InternetTest, FetchHandsTheWholeBodyToTheSinkWithItsValidator) {
    const std::wstring name = Fresh(L"fetch-whole.bin");
    RecordingSink sink;
    HttpAnswer answer;
    EXPECT_EQ(FetchEnd::kComplete, ServeAndFetch(net, name, 40000, sink, &answer));
    EXPECT_EQ(Pattern(40000), sink.body);
    ASSERT_EQ(1u, sink.heads.size());
    EXPECT_EQ(200u, answer.status);
    EXPECT_EQ(40000u, answer.length);
    EXPECT_EQ(40000u, answer.whole);
    EXPECT_EQ(0u, answer.start);
    EXPECT_EQ(40000u, answer.received);
    EXPECT_EQ(L'"', answer.validator[0]) << "the ETag";
    EXPECT_EQ(std::vector<std::string>{"range=- if-range=- status=200"}, ServerLog(name));
}

// A range from an offset: 206 from there when the validator still holds,
// the whole body (200) when it does not or the server ignores ranges.
TEST_F(InternetTest, FetchFromAnOffsetSendsRangeAndIfRange) {
    const std::wstring name = Fresh(L"fetch-range.bin");
    RecordingSink first;
    HttpAnswer whole;
    ASSERT_EQ(FetchEnd::kComplete, ServeAndFetch(net, name, 40000, first, &whole));
    const std::wstring etag = whole.validator;
    const std::string sentTag(etag.begin(), etag.end());
    const auto all = Pattern(40000);
    struct Case {
        const char* what;
        const wchar_t* options;
        std::wstring ifRange;
        uint32_t status;
        uint64_t start;
        std::string logged;
    } cases[] = {
        {"validator holds", L"-", etag, 206, 30000,
         "range=bytes=30000- if-range=" + sentTag + " status=206"},
        {"validator changed", L"-", L"\"other\"", 200, 0,
         "range=bytes=30000- if-range=\"other\" status=200"},
        {"ranges ignored", L"norange", etag, 200, 0,
         "range=bytes=30000- if-range=" + sentTag + " status=200"},
        {"validator that would break the header", L"-", etag + L"\r\nX-Injected: 1", 200, 0,
         "range=- if-range=- status=200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSink sink;
        HttpAnswer answer;
        EXPECT_EQ(FetchEnd::kComplete,
                  net.Fetch(Url(L"serve/" + std::wstring(c.options) + L"/" + name).c_str(),
                            30000, c.ifRange.c_str(), 40000, sink, &answer));
        EXPECT_EQ(c.status, answer.status);
        EXPECT_EQ(c.start, answer.start);
        EXPECT_EQ(40000u, answer.whole);
        EXPECT_EQ(std::vector<uint8_t>(all.begin() + c.start, all.end()), sink.body);
        EXPECT_EQ(c.logged, ServerLog(name).back());
    }
}

// Which failures are worth another try, and what the server asked to wait.
TEST_F(InternetTest, FetchTellsTransientFromPermanentFailures) {
    // The server counts requests per file: every case has its own.
    auto scripted = [](const wchar_t* options, int n) {
        std::wstring name = Fresh((L"fetch-fail-" + std::to_wstring(n) + L".bin").c_str());
        Serve(name, 1000);
        return Url(L"serve/" + std::wstring(options) + L"/" + name);
    };
    struct Case {
        std::wstring url;
        FetchEnd end;
        uint32_t status;
        bool hasRetryAfter;
        uint32_t retryAfter;
    } cases[] = {
        {scripted(L"fail503x1", 1), FetchEnd::kTransient, 503, false, 0},
        {scripted(L"fail429x1,after7", 2), FetchEnd::kTransient, 429, true, 7},
        {scripted(L"fail408x1", 3), FetchEnd::kTransient, 408, false, 0},
        {scripted(L"fail500x1,after0", 4), FetchEnd::kTransient, 500, true, 0},
        {scripted(L"fail404x1", 5), FetchEnd::kPermanent, 404, false, 0},
        {scripted(L"fail403x1", 6), FetchEnd::kPermanent, 403, false, 0},
        {scripted(L"fail410x1", 7), FetchEnd::kPermanent, 410, false, 0},
        {Url(L"bad/cut"), FetchEnd::kTransient, 200, false, 0},
        {Url(L"bad/nolength"), FetchEnd::kPermanent, 200, false, 0},
        {L"http://127.0.0.1:1/refused", FetchEnd::kTransient, 0, false, 0},
        {L"ftp://127.0.0.1:1/x", FetchEnd::kPermanent, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.url));
        RecordingSink sink;
        HttpAnswer answer;
        EXPECT_EQ(c.end, net.Fetch(c.url.c_str(), 0, nullptr, 0, sink, &answer));
        EXPECT_EQ(c.status, answer.status);
        EXPECT_EQ(c.hasRetryAfter, answer.hasRetryAfter);
        EXPECT_EQ(c.retryAfter, answer.retryAfter);
    }
}

// Retry-After as a date: the seconds until then (the server writes whole
// seconds, so one less may be left by the time the answer is read), none
// for a date gone by.
TEST_F(InternetTest, RetryAfterAsADateGivesTheSecondsUntilThen) {
    struct Case {
        const wchar_t* options;
        uint32_t least, most;
    } cases[] = {{L"fail503x1,afterdate20", 18, 20}, {L"fail503x1,afterdate-100", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.options));
        const std::wstring name = Fresh(L"fetch-date.bin");
        Serve(name, 100);
        RecordingSink sink;
        HttpAnswer answer;
        EXPECT_EQ(FetchEnd::kTransient,
                  net.Fetch(Url(L"serve/" + std::wstring(c.options) + L"/" + name).c_str(), 0, nullptr,
                            0, sink, &answer));
        EXPECT_TRUE(answer.hasRetryAfter);
        EXPECT_GE(answer.retryAfter, c.least);
        EXPECT_LE(answer.retryAfter, c.most);
    }
}

TEST_F(InternetTest, FetchRefusesABodyBeyondTheLimitOrTheSinkBeforeReading) {
    Serve(L"fetch-limit.bin", 40000);
    RecordingSink sink;
    EXPECT_EQ(FetchEnd::kPermanent,
              net.Fetch(Url(L"serve/-/fetch-limit.bin").c_str(), 0, nullptr, 39999, sink, nullptr));
    EXPECT_TRUE(sink.heads.empty());
    sink.accept = false;
    EXPECT_EQ(FetchEnd::kSinkEnded,
              net.Fetch(Url(L"serve/-/fetch-limit.bin").c_str(), 0, nullptr, 40000, sink, nullptr));
    EXPECT_EQ(1u, sink.heads.size());
    EXPECT_TRUE(sink.body.empty());
}

TEST(NetErrors, CertificateErrorsAreNeverRetried) {
    for (uint32_t e : {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_CN_INVALID,
                       ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_REVOKED}) {
        EXPECT_TRUE(IsCertificateError(e)) << e;
        EXPECT_FALSE(IsTransientNetError(e)) << e;
    }
    for (uint32_t e : {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CANNOT_CONNECT,
                       ERROR_INTERNET_CONNECTION_RESET, ERROR_INTERNET_CONNECTION_ABORTED}) {
        EXPECT_TRUE(IsTransientNetError(e)) << e;
        EXPECT_FALSE(IsCertificateError(e)) << e;
    }
}

// The session uses the system's proxy settings, and an https request keeps
// every certificate check: no ignore flag on the request, no security
// option set on any handle.
DWORD g_openFlags = 0;
DWORD g_sessionAccess = ~0u;
HINTERNET WINAPI RecordOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR object,
                                   LPCWSTR version, LPCWSTR referrer, LPCWSTR* accept,
                                   DWORD flags, DWORD_PTR context) {
    g_openFlags = flags;
    return g_system->HttpOpenRequestW(connection, verb, object, version, referrer, accept, flags,
                                      context);
}
HINTERNET WINAPI RecordSession(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass,
                               DWORD flags) {
    g_sessionAccess = access;
    return g_system->InternetOpenW(agent, access, proxy, bypass, flags);
}

TEST_F(InternetTest, HttpsKeepsCertificateChecksAndTheSystemProxy) {
    g_system = WinInet();
    ASSERT_NE(nullptr, g_system);
    WinInetApi recording = *g_system;
    recording.InternetSetOptionW = RecordOption;
    recording.HttpOpenRequestW = RecordOpenRequest;
    recording.InternetOpenW = RecordSession;
    g_options.clear();
    g_openFlags = 0;
    SetWinInetForTesting(&recording);
    CInternet fresh;
    RecordingSink sink;
    // Nothing listens on port 1: the request is made, then refused.
    FetchEnd end = fresh.Fetch(L"https://127.0.0.1:1/x", 0, nullptr, 0, sink, nullptr);
    SetWinInetForTesting(nullptr);
    EXPECT_NE(FetchEnd::kComplete, end);
    EXPECT_EQ(DWORD(INTERNET_OPEN_TYPE_PRECONFIG), g_sessionAccess);
    EXPECT_TRUE(g_openFlags & INTERNET_FLAG_SECURE);
    EXPECT_EQ(0u, g_openFlags & (INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                                 INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                 INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP |
                                 INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS));
    for (const auto& o : g_options) EXPECT_NE(DWORD(INTERNET_OPTION_SECURITY_FLAGS), o.second.first);
}
