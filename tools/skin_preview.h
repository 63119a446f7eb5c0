// Pictures of the installer window in its states, drawn by the installer's
// own window, layers and renderer from a payload and a configuration, so a
// skin's author sees the result without running an installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/client_info.h"

struct PreviewPicture {
    std::wstring state;  // "ready", "unticked", "installing", "finished", "failed"
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // premultiplied BGRA, top row first
};

// payload: a payload archive as the installer carries it (the skin and
// theme.txt at its root). stub: the installer whose frame picture (the
// window's shadow) is drawn around the skin. installDir, when not empty, is
// the folder the path field shows. False, with the reason, when no window
// could be made or a picture drawn.
bool RenderInstallerStates(const std::vector<uint8_t>& payload, const CClientInfo& config,
                           const std::wstring& stub, const std::wstring& installDir,
                           std::vector<PreviewPicture>* pictures, std::wstring* reason);

// Writes the picture as an RGBA PNG (straight alpha).
bool WritePreviewPng(const std::wstring& path, const PreviewPicture& picture);
