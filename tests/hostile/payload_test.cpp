// Damaged payloads and inner archives, and malformed skins, run through the
// real installer.exe: a clean failure (1603, nothing registered) when nothing
// could be installed, a counted partial result otherwise, never a crash or
// a hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/install_wnd.h"
#include "support/zip.h"
#include "tests/hostile/hostile_fixture.h"

using fixture::ZipItem;
using hostile::Text;
using testing_util::FileExists;
using testing_util::ReadAll;

namespace {

class DamagedPayload : public hostile::Sandbox {};

std::vector<ZipItem> Client() {
    return {{"readme.txt", "hello"},
            {"data/", "", true},
            {"data/level.dat", fixture::Noise(50000, 3)},
            {"data/stored.dat", fixture::Noise(20000, 4), false, true}};
}

// Flips one byte in the middle of the named entry's data (found by its
// local header), so that its CRC, its inflate stream or its decryption fails.
bool DamageEntry(std::vector<uint8_t>& zip, const std::string& name) {
    for (size_t at = 0; at + 30 + name.size() < zip.size(); ++at) {
        if (std::memcmp(&zip[at], "PK\x03\x04", 4) != 0) continue;
        size_t nameLength = zip[at + 26] | zip[at + 27] << 8;
        size_t extraLength = zip[at + 28] | zip[at + 29] << 8;
        uint32_t packed = zip[at + 18] | zip[at + 19] << 8 | zip[at + 20] << 16 | uint32_t(zip[at + 21]) << 24;
        if (nameLength != name.size() || std::memcmp(&zip[at + 30], name.data(), nameLength) != 0)
            continue;
        size_t data = at + 30 + nameLength + extraLength;
        if (packed < 16 || data + packed > zip.size()) return false;
        zip[data + packed / 2] ^= 0x5A;
        return true;
    }
    return false;
}

}  // namespace

// The payload resource itself is unusable: the package is damaged, so
// nothing is written or registered, for its product or any other.
TEST_F(DamagedPayload, AnUnusablePayloadResourceFailsCleanly) {
    std::vector<uint8_t> good = Payload(PayloadItems(Client()));
    std::vector<uint8_t> packed = hostile::Packed(good);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    struct Case {
        const char* what;
        std::vector<uint8_t> tail;
    } cases[] = {
        {"packed container cut in half", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2)},
        {"packed bytes that are no zip", hostile::Packed(garbage)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        std::wstring exe = BuildTail(c.tail);
        EXPECT_EQ(1603u, RunSilent(exe));
        ExpectOutsideUnchanged();
        ExpectNotRegistered();
        EXPECT_FALSE(FileExists(Installed(L"readme.txt")));
        ResetProduct();
    }

    // With the window: the package's check message, which names no product
    // (the built-in defaults are never used for one), then the end.
    std::wstring exe = BuildTail(cases[0].tail);
    e2e::RunResult run = e2e::Run(exe, L"", [](const e2e::Dialog&) { return IDOK; }, 20000);
    EXPECT_TRUE(run.exited) << "still running, or hung";
    EXPECT_EQ(1603u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ(L"错误提示", run.dialogs[0].caption);
    EXPECT_EQ(L"文件校验错误！请到官网下载新版本！", run.dialogs[0].text);
    ExpectNotRegistered();
    EXPECT_EQ(L"", e2e::RegistryValue(L"Software\\kestrov\\test", L"path"));  // the defaults' product
}

// The payload opens but its inner archive is damaged.
TEST_F(DamagedPayload, ADamagedInnerArchiveIsAFailureOrACountedPartialInstall) {
    std::vector<uint8_t> inner = fixture::MakeZip(Client(), GetArchivePassword());
    std::vector<uint8_t> badDeflated = inner, badStored = inner;
    ASSERT_TRUE(DamageEntry(badDeflated, "data/level.dat"));
    ASSERT_TRUE(DamageEntry(badStored, "data/stored.dat"));
    std::vector<uint8_t> cut(inner.begin(), inner.begin() + inner.size() * 2 / 3);
    std::vector<uint8_t> otherPassword = fixture::MakeZip(Client(), "another password");
    struct Case {
        const char* what;
        std::vector<uint8_t> inner;
        bool partial;              // some files installed, the run registered
        const wchar_t* damaged;    // the file that must not be there
    } cases[] = {
        {"damaged deflated entry", badDeflated, true, L"data\\level.dat"},
        {"damaged stored entry", badStored, true, L"data\\stored.dat"},
        {"archive cut short", cut, false, nullptr},
        {"another password", otherPassword, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        std::vector<ZipItem> items = fixture::SkinItems();
        items.push_back(fixture::InnerArchiveItem(c.inner));
        items.push_back({"update.xml", "<list version=\"1.0.0.5\">\r\n</list>\n\r"});
        std::wstring exe = Build(items);
        EXPECT_EQ(1603u, RunSilent(exe));
        ExpectOutsideUnchanged();
        if (c.partial) {
            EXPECT_EQ("hello", Text(ReadAll(Installed(L"readme.txt"))));
            EXPECT_FALSE(FileExists(Installed(c.damaged)));
            EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
        } else {
            EXPECT_FALSE(FileExists(Installed(L"readme.txt")));
            EXPECT_FALSE(FileExists(Installed(L"data\\level.dat")));
            ExpectNotRegistered();
        }
        EXPECT_EQ(0u, testing_util::CountTempFiles(installDir + L"data\\")) << "a temporary file was left behind";
        ResetProduct();
    }
}

// --- malformed skins

namespace {

class MalformedSkin : public hostile::Sandbox {};

std::string Utf16Text(const std::wstring& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(wchar_t));
}

// A PNG whose header claims 60000 x 60000 pixels, with no data behind it.
std::string GiantPngHeader() {
    std::string png = fixture::SolidPng(1, 1, {0xFF0000});
    // IHDR width and height (big-endian) start at offset 16; the chunk's CRC
    // is left wrong on purpose, as a damaged file would have it.
    const unsigned char size[8] = {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60};
    std::memcpy(&png[16], size, 8);
    return png;
}

}  // namespace

// Whatever the skin holds, silent installation works and the window comes
// up and closes.
TEST_F(MalformedSkin, TheWindowComesUpAndSilentInstallationWorks) {
    std::string garbage = fixture::Noise(4000, 17);
    std::wstring hugeTheme = L"\xFEFF{\"forecolor\":\"#";
    hugeTheme.append(4 * 1024 * 1024, L'F');  // no closing quote, no brace
    auto isImage = [](const ZipItem& i) { return i.name.find(".png") != std::string::npos; };
    auto setTheme = [](std::vector<ZipItem>& items, const std::string& bytes) {
        for (ZipItem& i : items)
            if (i.name == "theme.txt") i.bytes = bytes;
    };
    struct Case {
        const char* what;
        std::function<void(std::vector<ZipItem>&)> change;
    } cases[] = {
        // (An app.txt in the payload is never read: the entry refuses a
        // package without its configuration resource before the window.)
        {"no skin images and a garbage theme",
         [&](std::vector<ZipItem>& items) {
             items.erase(std::remove_if(items.begin(), items.end(), isImage), items.end());
             setTheme(items, garbage + "{\"textcolor\":\"" + garbage);
         }},
        {"images that are not images, truncated or giant, a huge unterminated theme",
         [&](std::vector<ZipItem>& items) {
             bool odd = false;
             for (ZipItem& i : items) {
                 if (!isImage(i)) continue;
                 if ((odd = !odd)) i.bytes = garbage;
                 else i.bytes.resize(i.bytes.size() / 2);
             }
             items[0].bytes = GiantPngHeader();
             setTheme(items, Utf16Text(hugeTheme));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        std::vector<ZipItem> items = PayloadItems({{"readme.txt", "hello"}});
        c.change(items);
        std::wstring exe = Build(items);

        // With the window: it is shown in the ready state (closing asks
        // nothing) and closes on request.
        e2e::Installer installer(exe, L"");
        bool closed = false;
        e2e::RunResult run = installer.Watch(
            [](const e2e::Dialog&) { return 0; },
            [&](HWND window) {
                if (!window || !IsWindowVisible(window) || closed) return false;
                PostMessageW(window, WM_CLOSE, 0, 0);
                closed = true;
                return false;
            },
            30000);
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(run.sawWindow);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());

        EXPECT_EQ(0u, RunSilent(exe));
        ExpectOutsideUnchanged();
        EXPECT_EQ("hello", Text(ReadAll(Installed(L"readme.txt"))));
        ResetProduct();
    }
}
