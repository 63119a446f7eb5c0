// Installer packages for the end-to-end tests: a copy of installer.exe with
// a packed configuration ("APP") and a payload ("TAIL") written into it, the
// way the packaging tool makes them, and a skin of flat-coloured pictures
// whose colours the screenshots can be checked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "tests/common/zip_builder.h"

namespace fixture {

// Skin colours (0xRRGGBB) by picture; frame strips use one colour per frame.
constexpr uint32_t kBackground = 0x2040A0;
constexpr uint32_t kStartFrames[3] = {0xE02020, 0xC01818, 0xA01010};
constexpr uint32_t kFinishFrames[3] = {0x20C020, 0x18A018, 0x108010};
constexpr uint32_t kProgressSink = 0x808080;
constexpr uint32_t kProgressFill = 0xFFA000;
constexpr int kStartHeight = 40;  // one frame of btn_start.png / btn_finish.png

// An uncompressed-colour RGBA PNG of one colour per horizontal band.
std::string SolidPng(int width, int height, const std::vector<uint32_t>& bands);
// Every picture the window asks for, plus theme.txt.
std::vector<ZipItem> SkinItems();

// A configuration with a product of its own (company, app and name carry the
// tag), so tests never meet each other's registry keys or shortcuts.
void TestConfig(CClientInfo& config, const std::wstring& tag);

// Copies bin/installer.exe (or another stub) to out and adds the resources:
// the packed configuration unless config is null, the packed payload unless
// it is empty.
bool BuildInstaller(const std::wstring& out, CClientInfo* config,
                    const std::vector<uint8_t>& payload, const std::wstring& stub = L"");

// The client files of the tests' inner archive: client.exe is the fake client
// (it notes its start in started.txt beside itself), plus data files.
std::vector<ZipItem> ClientItems();

}  // namespace fixture
