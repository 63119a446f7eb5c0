#include "tests/app/package_fixture.h"

#include <windows.h>

#include <zlib.h>

#include "support/data.h"
#include "support/handle.h"
#include "support/packed.h"
#include "support/zip.h"
#include "tests/common/test_util.h"

namespace fixture {
namespace {

void Put32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(char((v >> shift) & 0xFF));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    Put32(png, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    Put32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

std::string SolidPng(int width, int height, const std::vector<uint32_t>& bands) {
    std::string raw;
    for (int y = 0; y < height; ++y) {
        uint32_t c = bands[size_t(y) * bands.size() / size_t(height)];
        raw.push_back(0);  // filter: none
        for (int x = 0; x < width; ++x) {
            raw.push_back(char(c >> 16));
            raw.push_back(char(c >> 8));
            raw.push_back(char(c));
            raw.push_back(char(0xFF));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
             reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    packed.resize(size);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    Put32(header, uint32_t(width));
    Put32(header, uint32_t(height));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", "");
    return png;
}

std::vector<ZipItem> SkinItems() {
    auto three = [](uint32_t a, uint32_t b, uint32_t c) { return std::vector<uint32_t>{a, b, c}; };
    std::vector<ZipItem> items = {
        {"bg_main.png", SolidPng(600, 400, {kBackground})},
        {"logo.png", SolidPng(120, 40, {0xFFFFFF})},
        {"btn_close.png", SolidPng(20, 60, three(0xDDDDDD, 0xEEEEEE, 0xCCCCCC))},
        {"btn_min.png", SolidPng(20, 60, three(0xBBBBBB, 0xCCCCCC, 0xAAAAAA))},
        {"copyright.png", SolidPng(200, 20, {0x303030})},
        {"waiting.png", SolidPng(100, 100, {0x00C0C0})},
        {"btn_start.png",
         SolidPng(178, 3 * kStartHeight, three(kStartFrames[0], kStartFrames[1], kStartFrames[2]))},
        {"btn_finish.png", SolidPng(178, 3 * kStartHeight,
                                    three(kFinishFrames[0], kFinishFrames[1], kFinishFrames[2]))},
        {"edit.png", SolidPng(100, 30, {0xF0F0F0})},
        {"btn_browse.png", SolidPng(70, 90, three(0x606060, 0x707070, 0x505050))},
        {"check.png", SolidPng(13, 39, three(0xFFFFFF, 0xF0F0F0, 0xE0E0E0))},
        {"checked.png", SolidPng(13, 39, three(0x000000, 0x101010, 0x202020))},
        {"agree.png", SolidPng(120, 13, {0xFFFF80})},
        {"protocol.png", SolidPng(80, 39, three(0x80FFFF, 0x70F0F0, 0x60E0E0))},
        {"progress_sink.png", SolidPng(100, 12, {kProgressSink})},
        {"progress_pos.png", SolidPng(100, 12, {kProgressFill})},
        {"progress_dot.png", SolidPng(12, 12, {0xFFFFFF})},
    };
    // White text on the dark background.
    const wchar_t theme[] = L"\xFEFF{\"forecolor\":\"#FF808080\",\"backcolor\":\"#FFFFFFFF\","
                            L"\"textcolor\":\"#FFFFFFFF\"}";
    items.push_back({"theme.txt", std::string(reinterpret_cast<const char*>(theme),
                                              sizeof(theme) - sizeof(wchar_t))});
    return items;
}

void TestConfig(CClientInfo& config, const std::wstring& tag) {
    config.SetCompany((L"skintest" + tag).c_str());
    config.SetApp(L"game");
    config.SetName((L"测试游戏" + tag).c_str());
    config.SetVersion(L"1.0.0.5");
    config.SetMain(L"client.exe");
    config.SetArchive(L"app.zip");
    config.SetConfig(L"");
    config.SetPublisher(L"Kestrov Test");
}

bool BuildInstaller(const std::wstring& out, CClientInfo* config,
                    const std::vector<uint8_t>& payload, const std::wstring& stub) {
    std::wstring from = stub.empty() ? testing_util::BinaryPath("bin/installer.exe") : stub;
    if (!CopyFileW(from.c_str(), out.c_str(), FALSE)) return false;
    if (config && config->SaveToResource(out.c_str(), L"APP", 1, true) == 0) return false;
    if (payload.empty()) return true;
    std::vector<uint8_t> packed(payload.size() + kPackedHeaderSize);
    uint32_t n = WritePacked(packed.data(), uint32_t(packed.size()), payload.data(),
                             uint32_t(payload.size()));
    if (n == 0) return false;
    // The owner discards the update unless it is committed below.
    UniqueResourceUpdate update(BeginUpdateResourceW(out.c_str(), FALSE));
    if (!update || !UpdateResourceW(update.get(), L"TAIL", MAKEINTRESOURCEW(1), 2052, packed.data(), n))
        return false;
    return EndUpdateResourceW(update.release(), FALSE) != FALSE;
}

std::vector<ZipItem> ClientItems() {
    std::vector<uint8_t> client = testing_util::ReadAll(testing_util::BinaryPath("bin/fake_client.exe"));
    return {
        {"client.exe", Text(client)},
        {"data/", "", true},
        {"data/levels/level1.dat", Noise(300000, 11)},
        {"readme.txt", "欢迎"},
        {"unins000.exe", "uninstaller placeholder"},
    };
}

}  // namespace fixture
