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
