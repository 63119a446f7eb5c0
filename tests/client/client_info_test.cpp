#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "support/data.h"
#include "support/packed.h"
#include "support/handle.h"
#include "tests/common/test_util.h"

using testing_util::TempDir;

namespace {

const wchar_t kFullText[] =
    L"app=wow;\r\nname=魔兽世界;\r\ncompany=blz;\r\npublisher=出版;\r\nversion=2.1.0.3;\r\n"
    L"homepage=http://h/;\r\nsource=http://s/app;\r\nconfig=http://s/update.xml;\r\n"
    L"protocol=http://h/p.html;\r\ncopyright=(c) 2026;\r\n";

bool Parse(CClientInfo& info, const std::wstring& text) {
    return info.ParseText(text.c_str(), text.size());
}

std::wstring Format(CClientInfo& info) {
    std::vector<wchar_t> out(8192);
    uint32_t n = info.FormatText(out.data(), uint32_t(out.size()));
    return n ? std::wstring(out.data(), n - 1) : std::wstring();
}

std::vector<uint8_t> Utf16Bytes(const std::wstring& text, bool bom) {
    size_t mark = bom ? 2 : 0;
    std::vector<uint8_t> b(mark + text.size() * 2);
    if (bom) {
        b[0] = 0xFF;
        b[1] = 0xFE;
    }
    memcpy(b.data() + mark, text.data(), text.size() * 2);
    return b;
}

}  // namespace

TEST(FixedString, AssignCutsAndTerminates) {
    FixedString<4> s;
    EXPECT_STREQ(s.Assign(L"abcdef"), L"abcd");
    EXPECT_EQ(s.length(), 4u);
    s.Assign(nullptr);
    EXPECT_TRUE(s.empty());
    EXPECT_STREQ(s.Assign(L"ab\0cd"), L"ab");
    EXPECT_EQ(s.length(), 2u);
}

TEST(ClientInfo, Defaults) {
    CClientInfo info;
    EXPECT_STREQ(info.GetApp(), L"test");
    EXPECT_STREQ(info.GetName(), L"产品名称");
    EXPECT_STREQ(info.GetCompany(), L"kestrov");
    EXPECT_STREQ(info.GetVersion(), L"1.0.0.0");
    EXPECT_STREQ(info.GetMain(), L"client.exe");
    EXPECT_STREQ(info.GetUninstaller(), L"unins000.exe");
    EXPECT_STREQ(info.GetUpdater(), L"update.exe");
    EXPECT_STREQ(info.GetArchive(), L"app.zip");
    EXPECT_STREQ(info.GetPublisher(), L"Kestrov网络");
    EXPECT_NE(wcsstr(info.GetConfig(), L"/[产品]/update.xml"), nullptr);
    EXPECT_STREQ(info.GetInstallPath(), L"");
}

TEST(ClientInfo, LookupRule) {
    struct Case {
        const wchar_t* text;
        const wchar_t* name;  // expected value of "name"
    } cases[] = {
        {L"xname=a;name=b;", L"b"},
        {L"username=x;", L""},
        {L"name = x;", L" x"},
        {L"name=a", L""},
        {L"name=a;name=b;", L"a"},
        {L"app=1;\r\nname=v;", L"v"},
        {L"\tname=tab;", L"tab"},
        {L"name;=x;", L""},          // neither '=' nor blank after the key
        {L"name=;", L""},
        {L"name==x;", L"=x"},
        {L"namex=1; name=2;", L"2"},
        {L"garbage name=ok; more", L"ok"},
    };
    for (const auto& c : cases) {
        CClientInfo info;
        ASSERT_TRUE(Parse(info, c.text));
        EXPECT_STREQ(info.GetName(), c.name) << testing_util::Narrow(c.text);
    }
}

TEST(ClientInfo, MissingKeysBecomeEmptyAndOtherFieldsKeepDefaults) {
    CClientInfo info;
    ASSERT_TRUE(Parse(info, L"app=a;app=b;"));
    EXPECT_STREQ(info.GetApp(), L"a");
    EXPECT_STREQ(info.GetCopyright(), L"");  // had a default
    EXPECT_STREQ(info.GetName(), L"");
    EXPECT_STREQ(info.GetMain(), L"client.exe");  // no text key: untouched
    EXPECT_FALSE(info.ParseText(nullptr, 0));
}

TEST(ClientInfo, FormatWritesTenLinesInOrder) {
    CClientInfo info;
    ASSERT_TRUE(Parse(info, L"copyright=(c) 2026;version=2.1.0.3;app=wow;name=魔兽世界;company=blz;"
                            L"publisher=出版;homepage=http://h/;source=http://s/app;"
                            L"config=http://s/update.xml;protocol=http://h/p.html;"));
    EXPECT_EQ(Format(info), std::wstring(kFullText));

    std::vector<wchar_t> out(8192);
    EXPECT_EQ(info.FormatText(out.data(), 8192), wcslen(kFullText) + 1);
    EXPECT_EQ(info.FormatText(nullptr, 10), 0u);
    EXPECT_EQ(info.FormatText(out.data(), 0), 0u);
}

TEST(ClientInfo, ValuesAreCutToCapacity) {
    CClientInfo info;
    std::wstring longName(300, L'n');
    ASSERT_TRUE(Parse(info, L"name=" + longName + L";"));
    EXPECT_EQ(wcslen(info.GetName()), 127u);
    info.SetDigest(std::wstring(40, L'A').c_str());
    EXPECT_EQ(wcslen(info.GetDigest()), 32u);
    EXPECT_EQ(info.GetManifestDigest(), info.GetDigest());
}

TEST(ClientInfo, MainPath) {
    CClientInfo info;
    info.SetInstallPath(L"C:\\Games\\");
    wchar_t out[MAX_PATH];
    ASSERT_TRUE(info.GetMainPath(out));
    EXPECT_STREQ(out, L"C:\\Games\\client.exe");
    info.SetLaunchProgram(L"play.exe");
    ASSERT_TRUE(info.GetMainPath(out));
    EXPECT_STREQ(out, L"C:\\Games\\play.exe");
    EXPECT_FALSE(info.GetMainPath(nullptr));
}

TEST(ClientInfo, PlainDataWithAndWithoutMark) {
    for (bool bom : {false, true}) {
        CClientInfo info;
        auto bytes = Utf16Bytes(kFullText, bom);
        ASSERT_TRUE(info.LoadFromData(bytes.data(), uint32_t(bytes.size())));
        EXPECT_STREQ(info.GetName(), L"魔兽世界");
        EXPECT_STREQ(info.GetCopyright(), L"(c) 2026");
    }
    CClientInfo info;
    EXPECT_FALSE(info.LoadFromData(nullptr, 10));
}

TEST(ClientInfo, PlainDataEndsAtItsSize) {
    // The value's ';' lies beyond the stated size: it must not be seen.
    std::wstring text = L"app=abc;name=xyz;";
    auto bytes = Utf16Bytes(text, false);
    CClientInfo info;
    ASSERT_TRUE(info.LoadFromData(bytes.data(), uint32_t(bytes.size() - 2)));
    EXPECT_STREQ(info.GetApp(), L"abc");
    EXPECT_STREQ(info.GetName(), L"");
    // An odd byte count is tolerated.
    ASSERT_TRUE(info.LoadFromData(bytes.data(), uint32_t(bytes.size() - 1)));
    EXPECT_STREQ(info.GetApp(), L"abc");
}

TEST(ClientInfo, PackedRoundTrip) {
    CClientInfo a;
    ASSERT_TRUE(Parse(a, kFullText));
    std::vector<uint8_t> buf(kClientInfoBufferSize);
    uint32_t n = a.SaveToData(buf.data(), uint32_t(buf.size()), true);
    uint32_t textChars = uint32_t(wcslen(kFullText));
    ASSERT_EQ(n, 2 * (textChars + 1) + 10);
    EXPECT_TRUE(IsPacked(buf.data(), n));

    CClientInfo b;
    ASSERT_TRUE(b.LoadFromData(buf.data(), n));
    EXPECT_EQ(Format(b), std::wstring(kFullText));

    // Plain save: mark, then the text, no NUL counted.
    uint32_t plain = a.SaveToData(buf.data(), uint32_t(buf.size()), false);
    EXPECT_EQ(plain, 2 + 2 * textChars);
    EXPECT_EQ(buf[0], 0xFF);
    EXPECT_EQ(buf[1], 0xFE);
    CClientInfo c;
    ASSERT_TRUE(c.LoadFromData(buf.data(), plain));
    EXPECT_EQ(Format(c), std::wstring(kFullText));
}

TEST(ClientInfo, DamagedContainersAreRefused) {
    CClientInfo a;
    ASSERT_TRUE(Parse(a, kFullText));
    std::vector<uint8_t> buf(4096);
    uint32_t n = a.SaveToData(buf.data(), uint32_t(buf.size()), true);
    ASSERT_GT(n, 10u);

    CClientInfo b;
    b.SetApp(L"keep");
    // Stated length beyond the data.
    EXPECT_FALSE(b.LoadFromData(buf.data(), n - 1));
    // Header only.
    EXPECT_FALSE(b.LoadFromData(buf.data(), 9));
    auto zero = buf;
    zero[4] = zero[5] = zero[6] = zero[7] = 0;
    EXPECT_FALSE(b.LoadFromData(zero.data(), n));
    EXPECT_STREQ(b.GetApp(), L"keep");  // a failed load changes nothing

    // Flipped scrambled bytes still unwrap, but into other text: whatever
    // that text holds, every field stays terminated within its capacity.
    auto flipped = buf;
    for (uint32_t i = 10; i < n; i += 7) flipped[i] ^= 0x5A;
    CClientInfo c;
    c.LoadFromData(flipped.data(), n);
    struct Field {
        const wchar_t* text;
        size_t capacity;
    } fields[] = {{c.GetApp(), 127},     {c.GetName(), 127},   {c.GetCompany(), 127},
                  {c.GetVersion(), 127}, {c.GetConfig(), 511}, {c.GetArchive(), 511}};
    for (const Field& f : fields) EXPECT_LE(wcslen(f.text), f.capacity);
}

TEST(ClientInfo, FileRoundTripAndFailures) {
    TempDir dir;
    CClientInfo a;
    ASSERT_TRUE(Parse(a, kFullText));
    for (bool packed : {true, false}) {
        std::wstring path = dir / (packed ? L"配置.bin" : L"app.txt");
        uint32_t n = a.SaveToFile(path.c_str(), packed);
        ASSERT_GT(n, 0u);
        EXPECT_EQ(testing_util::ReadAll(path).size(), n);
        CClientInfo b;
        ASSERT_TRUE(b.LoadFromFile(path.c_str()));
        EXPECT_EQ(Format(b), std::wstring(kFullText));
    }
    CClientInfo b;
    EXPECT_FALSE(b.LoadFromFile((dir / L"missing.txt").c_str()));
    EXPECT_EQ(a.SaveToFile((dir / L"no\\such\\dir\\x").c_str(), true), 0u);
}

TEST(ClientInfo, SaveToFileFailureKeepsOldFile) {
    TempDir dir;
    std::wstring path = dir / L"app.txt";
    ASSERT_TRUE(testing_util::WriteAll(path, "old", 3));
    // Hold the target open without sharing: the replacement must fail.
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    CClientInfo a;
    EXPECT_EQ(a.SaveToFile(path.c_str(), false), 0u);
    CloseHandle(lock);
    auto bytes = testing_util::ReadAll(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old");
}

class ClientResource : public ::testing::Test {
protected:
    void SetUp() override {
        exe = dir / L"target.exe";
        ASSERT_TRUE(CopyFileW(testing_util::BinaryPath("bin/resource_target.exe").c_str(),
                              exe.c_str(), FALSE));
    }
    TempDir dir;
    std::wstring exe;
};

TEST_F(ClientResource, SaveThenLoadFromLibraryAndPackedResource) {
    CClientInfo a;
    ASSERT_TRUE(Parse(a, kFullText));
    uint32_t n = a.SaveToResource(exe.c_str(), L"APP", 1, true);
    ASSERT_GT(n, 10u);

    CClientInfo b;
    // Type names match without regard to case.
    ASSERT_TRUE(b.LoadFromLibrary(exe.c_str(), L"app", 1));
    EXPECT_EQ(Format(b), std::wstring(kFullText));

    XData plain;
    ASSERT_TRUE(LoadPackedResourceFromFile(plain, exe.c_str(), L"APP", 1));
    EXPECT_EQ(plain.size, n - 10);
    std::wstring text(reinterpret_cast<const wchar_t*>(plain.data));
    EXPECT_EQ(text, std::wstring(kFullText));

    // The program still runs after its resources were rewritten.
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
}

TEST_F(ClientResource, PlainTextResourceLoads) {
    CClientInfo a;
    ASSERT_TRUE(Parse(a, kFullText));
    ASSERT_GT(a.SaveToResource(exe.c_str(), L"APP", 1, false), 0u);
    CClientInfo b;
    ASSERT_TRUE(b.LoadFromLibrary(exe.c_str(), L"APP", 1));
    EXPECT_STREQ(b.GetName(), L"魔兽世界");
}

TEST_F(ClientResource, MissingResourceOrFileFails) {
    CClientInfo b;
    b.SetApp(L"keep");
    EXPECT_FALSE(b.LoadFromLibrary(exe.c_str(), L"APP", 1));
    EXPECT_FALSE(b.LoadFromLibrary((dir / L"none.exe").c_str(), L"APP", 1));
    EXPECT_FALSE(b.LoadFromModule(nullptr, L"APP", 1));
    EXPECT_STREQ(b.GetApp(), L"keep");
}

TEST_F(ClientResource, FailedSaveLeavesTargetUnchanged) {
    auto before = testing_util::ReadAll(exe);
    CClientInfo a;
    // Not an executable: the update cannot begin.
    std::wstring text = dir / L"not-an-exe.exe";
    ASSERT_TRUE(testing_util::WriteAll(text, "hello", 5));
    EXPECT_EQ(a.SaveToResource(text.c_str(), L"APP", 1, true), 0u);
    auto after = testing_util::ReadAll(text);
    EXPECT_EQ(std::string(after.begin(), after.end()), "hello");
    EXPECT_EQ(a.SaveToResource((dir / L"missing.exe").c_str(), L"APP", 1, true), 0u);
    // A real executable that another program holds open cannot be updated
    // and stays as it was.
    {
        UniqueFile holder(CreateFileW(exe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(a.SaveToResource(exe.c_str(), L"APP", 1, true), 0u);
    }
    EXPECT_EQ(testing_util::ReadAll(exe), before);
}
