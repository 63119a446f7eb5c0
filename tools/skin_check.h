// The skin check of the packaging tool: a skin folder read the way the
// installer window reads it (its image decoder, its theme reader), against
// the rules of app/skin_layout.h; and the skin guide's table made from the
// same rules.
#pragma once

#include <string>
#include <vector>

struct SkinFinding {
    bool error;          // false: a warning, the skin still packs
    std::wstring file;   // the file or folder concerned (full path)
    std::wstring reason;
};

// Every problem of the folder at once, in the order of the window's controls.
std::vector<SkinFinding> CheckSkinFolder(const std::wstring& folder);

// The table of the skin's pictures in Markdown, one row per picture.
std::wstring SkinTableMarkdown();
