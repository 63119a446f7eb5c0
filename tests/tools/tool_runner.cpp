#include "tests/tools/tool_runner.h"

#include "support/handle.h"
#include "tests/common/test_util.h"

using testing_util::TempDir;

namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

std::string ReadText(const std::wstring& path) {
    auto bytes = testing_util::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the packaging tool with its output streams in files. (Under Wine a
// child started with CREATE_NO_WINDOW loses the given standard handles.)
Result RunTool(const std::vector<std::wstring>& args) {
    TempDir streams;
    std::wstring command = L"\"" + testing_util::BinaryPath("bin/mkinstaller.exe") + L"\"";
    for (const std::wstring& a : args) command += L" " + Quote(a);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    Result r;
    {
        UniqueFile out(CreateFileW((streams / L"out").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   &inherit, CREATE_ALWAYS, 0, nullptr));
        UniqueFile err(CreateFileW((streams / L"err").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.get();
        si.hStdError = err.get();
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                           &pi)) {
            UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
            WaitForSingleObject(process.get(), 300000);
            GetExitCodeProcess(process.get(), &r.code);
        }
    }  // the streams are closed before they are read
    r.out = ReadText(streams / L"out");
    r.err = ReadText(streams / L"err");
    return r;
}

