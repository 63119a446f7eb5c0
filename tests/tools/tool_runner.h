// Runs the packaging tool as a build script would: a separate process whose
// exit code and output streams the tests look at.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Result {
    DWORD code = 0xFFFFFFFF;
    std::string out, err;  // UTF-8
};

std::string ReadText(const std::wstring& path);

// Runs bin/mkinstaller.exe of the build tree with the arguments given.
Result RunTool(const std::vector<std::wstring>& args);
