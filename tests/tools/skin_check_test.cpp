#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/handle.h"
#include "tests/common/test_util.h"
#include "tests/tools/tool_runner.h"
#include "tests/ui/ui_fixtures.h"

using testing_util::TempDir;
using ui_fixtures::Rgba;

namespace {

const char kTimes[] = "\xC3\x97";  // the "×" of the messages, in UTF-8

std::wstring SampleSkin() { return testing_util::SourcePath("sample/skin"); }

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

// The lines of the output that report an error.
std::vector<std::string> ErrorLines(const std::string& err) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(start, end - start);
        if (line.rfind("mkinstaller: error: ", 0) == 0) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A copy of the sample skin that a test breaks or varies.
struct SkinCopy {
    TempDir dir;
    std::wstring skin;
    std::wstring out;
    SkinCopy() {
        skin = dir / L"skin";
        out = dir / L"out";
        CreateDirectoryW(skin.c_str(), nullptr);
        CreateDirectoryW(out.c_str(), nullptr);
        for (const std::wstring& name : NamesIn(SampleSkin()))
            CopyFileW((SampleSkin() + L"\\" + name).c_str(), (skin + L"\\" + name).c_str(), FALSE);
    }
    std::wstring File(const std::string& name) const {
        return skin + L"\\" + std::wstring(name.begin(), name.end());
    }
    // Packs the skin with the sample configuration into out\setup.exe.
    Result Pack() const {
        return RunTool({L"--stub", testing_util::BinaryPath("bin/client.exe"), L"--config",
                        testing_util::SourcePath("sample/app.txt"), L"--skin", skin, L"--out",
                        out + L"\\setup.exe"});
    }
};

void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(testing_util::WriteAll(path, bytes));
}

void WritePng(const std::wstring& path, int width, int height, ui_fixtures::PngOptions options = {}) {
    WriteBytes(path, ui_fixtures::EncodePng(width, height,
                                            ui_fixtures::Solid(width, height, Rgba{200, 120, 40, 255}),
                                            options));
}

void WriteUtf16(const std::wstring& path, const std::wstring& text, bool mark = true) {
    std::vector<uint8_t> bytes;
    if (mark) bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(uint8_t(c & 0xFF));
        bytes.push_back(uint8_t(c >> 8));
    }
    WriteBytes(path, bytes);
}

// One way to break one file of the skin, and what the check must say
// about it: each phrase follows "<file>: " in one error line.
struct Breakage {
    const char* what;
    std::string file;
    std::function<void(const std::wstring& path)> apply;
    std::vector<std::string> phrases;
};

std::vector<Breakage> Breakages() {
    const std::string x = kTimes;
    return {
        {"missing picture", "logo.png", [](const std::wstring& p) { DeleteFileW(p.c_str()); },
         {"is missing"}},
        {"text instead of a picture", "agree.png",
         [](const std::wstring& p) { WriteBytes(p, {'n', 'o', 't', ' ', 'P', 'N', 'G'}); },
         {"is neither a PNG nor a JPEG"}},
        {"truncated PNG", "protocol.png",
         [](const std::wstring& p) {
             auto bytes = testing_util::ReadAll(p);
             bytes.resize(60);
             WriteBytes(p, bytes);
         },
         {"does not decode: the PNG is damaged"}},
        {"palette PNG", "progress_dot.png",
         [](const std::wstring& p) {
             ui_fixtures::PngOptions palette;
             palette.colorType = 3;
             WritePng(p, 22, 22, palette);
         },
         {"is a palette PNG"}},
        {"CMYK JPEG", "btn_min.png",
         [](const std::wstring& p) {
             WriteBytes(p, ui_fixtures::EncodeJpeg(24, 72, ui_fixtures::Solid(24, 72, Rgba{0, 0, 0, 0}), 4));
         },
         {"does not decode: the JPEG is damaged or CMYK"}},
        {"background not the window's size", "bg_main.png",
         [](const std::wstring& p) { WritePng(p, 640, 480); },
         {"is 640 " + x + " 480; it must be exactly 600 " + x + " 400"}},
        {"button whose states are not stacked evenly", "btn_close.png",
         [](const std::wstring& p) { WritePng(p, 24, 70); },
         {"is 24 " + x + " 70; it holds 3 states of equal height"}},
        {"start button not 178 wide", "btn_start.png",
         [](const std::wstring& p) { WritePng(p, 180, 168); },
         {"is 180 pixels wide; it must be exactly 178 wide"}},
        {"finish button not as high as the start button", "btn_finish.png",
         [](const std::wstring& p) { WritePng(p, 178, 171); },
         {"its states are 57 high, btn_start.png's 56"}},
        {"copyright taller than its strip", "copyright.png",
         [](const std::wstring& p) { WritePng(p, 171, 31); },
         {"is 31 high; at most 30 fit"}},
        {"waiting picture reaching the percentage", "waiting.png",
         [](const std::wstring& p) { WritePng(p, 280, 220); },
         {"is 220 high; at most 219 fit"}},
        {"path field without a middle to stretch", "edit.png",
         [](const std::wstring& p) { WritePng(p, 40, 30); },
         {"is 40 pixels wide; it must be more than 40 wide"}},
        {"browse button reaching into the path field", "btn_browse.png",
         [](const std::wstring& p) { WritePng(p, 71, 90); },
         {"is 71 pixels wide; at most 70 fit"}},
        {"check box not 13 wide", "check.png", [](const std::wstring& p) { WritePng(p, 14, 39); },
         {"is 14 pixels wide; it must be exactly 13 wide"}},
        {"ticked box not as high as the unticked one", "checked.png",
         [](const std::wstring& p) { WritePng(p, 13, 42); },
         {"its states are 14 high, check.png's 13"}},
        {"progress track taller than its place", "progress_sink.png",
         [](const std::wstring& p) { WritePng(p, 100, 19); },
         {"is 19 high; at most 18 fit"}},
        {"progress fill taller than the track", "progress_pos.png",
         [](const std::wstring& p) { WritePng(p, 100, 20); },
         {"it is 20 high, progress_sink.png's"}},
        {"theme saved as UTF-8", "theme.txt",
         [](const std::wstring& p) {
             std::string text = "{\"textcolor\":\"#FFF5EEE6\"}";
             WriteBytes(p, std::vector<uint8_t>(text.begin(), text.end()));
         },
         {"is 8-bit text"}},
        {"theme colour that is no number", "theme.txt",
         [](const std::wstring& p) { WriteUtf16(p, L"{\"textcolor\":\"white\",\"forecolor\":\"#FF80\"}"); },
         {"textcolor \"white\" is not a colour"}},
        {"theme without a colour the window reads", "theme.txt",
         [](const std::wstring& p) { WriteUtf16(p, L"{\"textcolour\":\"#FFF5EEE6\"}"); },
         {"names none of forecolor, backcolor, textcolor"}},
        {"theme that is no object", "theme.txt",
         [](const std::wstring& p) { WriteUtf16(p, L"textcolor=#FFF5EEE6"); }, {"does not parse"}},
    };
}

// Every expected line is there once, and nothing else is reported.
void ExpectErrors(const Result& r, const std::vector<std::string>& expected, const std::string& what) {
    std::vector<std::string> lines = ErrorLines(r.err);
    ASSERT_FALSE(lines.empty()) << what;
    std::vector<std::string> findings(lines.begin(), lines.end() - 1);  // the last one sums up
    EXPECT_NE(lines.back().find("the skin has " + std::to_string(expected.size()) +
                                (expected.size() == 1 ? " problem" : " problems")),
              std::string::npos)
        << what << ": " << r.err;
    EXPECT_EQ(findings.size(), expected.size()) << what << ": " << r.err;
    for (const std::string& e : expected) {
        size_t hits = 0;
        for (const std::string& line : findings) hits += line.find(e) != std::string::npos;
        EXPECT_EQ(hits, 1u) << what << ": expected \"" << e << "\" in\n" << r.err;
    }
}

}  // namespace

TEST(SkinCheck, TheSampleSkinPassesWithoutAWord) {
    Result r = RunTool({L"--check-skin", SampleSkin()});
    EXPECT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("the skin is complete"), std::string::npos) << r.out;
}

TEST(SkinCheck, NamesEachBrokenFileAndPacksNothing) {
    for (const Breakage& b : Breakages()) {
        SkinCopy copy;
        b.apply(copy.File(b.file));
        std::vector<std::string> expected;
        for (const std::string& phrase : b.phrases) expected.push_back("\\" + b.file + ": " + phrase);

        Result check = RunTool({L"--check-skin", copy.skin});
        EXPECT_EQ(check.code, 1u) << b.what;
        ExpectErrors(check, expected, b.what);

        Result pack = copy.Pack();
        EXPECT_EQ(pack.code, 1u) << b.what;
        ExpectErrors(pack, expected, b.what);
        EXPECT_NE(pack.err.find("nothing was written"), std::string::npos) << b.what;
        EXPECT_TRUE(NamesIn(copy.out).empty()) << b.what << ": the pack left files behind";
    }
}

TEST(SkinCheck, ListsEveryProblemOfASkinInOneRun) {
    SkinCopy copy;
    std::set<std::string> broken;
    std::vector<std::string> expected;
    for (const Breakage& b : Breakages()) {
        if (!broken.insert(b.file).second) continue;  // one fault a file
        b.apply(copy.File(b.file));
        for (const std::string& phrase : b.phrases) expected.push_back("\\" + b.file + ": " + phrase);
    }
    Result check = RunTool({L"--check-skin", copy.skin});
    EXPECT_EQ(check.code, 1u);
    ExpectErrors(check, expected, "every file broken");
}

TEST(SkinCheck, AcceptsWhatTheInstallerReadsAndOnlyWarnsAboutTheRest) {
    SkinCopy copy;
    const auto solid = [](int w, int h) { return ui_fixtures::Solid(w, h, Rgba{10, 20, 30, 255}); };
    ui_fixtures::PngOptions rgb16;
    rgb16.colorType = 2;
    rgb16.bitDepth = 16;
    ui_fixtures::PngOptions interlaced;
    interlaced.interlaced = true;
    ui_fixtures::PngOptions keyed;
    keyed.colorType = 2;
    keyed.transparentColor = true;
    // Whatever the name says, the decoder goes by the first bytes.
    WriteBytes(copy.File("waiting.png"), ui_fixtures::EncodeJpeg(280, 96, solid(280, 96)));
    WriteBytes(copy.File("logo.png"), ui_fixtures::EncodeJpeg(150, 42, solid(150, 42), 1));
    WritePng(copy.File("bg_main.png"), 600, 400, rgb16);
    WritePng(copy.File("agree.png"), 92, 18, interlaced);
    WritePng(copy.File("edit.png"), 41, 30, keyed);
    WritePng(copy.File("btn_close.png"), 25, 3);
    WritePng(copy.File("copyright.png"), 580, 30);
    WriteUtf16(copy.File("theme.txt"), L"{\"textcolor\":\"F5EEE6\"}", false);
    WriteBytes(copy.File("notes.txt"), {'x'});
    CreateDirectoryW(copy.File("old").c_str(), nullptr);

    Result check = RunTool({L"--check-skin", copy.skin});
    EXPECT_EQ(check.code, 0u) << check.err;
    EXPECT_TRUE(ErrorLines(check.err).empty()) << check.err;
    EXPECT_NE(check.err.find("warning: " + testing_util::Narrow(copy.File("notes.txt")) +
                             ": is not read by the installer window"),
              std::string::npos)
        << check.err;
    EXPECT_NE(check.err.find("warning: " + testing_util::Narrow(copy.File("old")) +
                             ": sub-folders of the skin are not packed"),
              std::string::npos)
        << check.err;

    Result pack = copy.Pack();
    EXPECT_EQ(pack.code, 0u) << pack.err;
    EXPECT_TRUE(testing_util::FileExists(copy.out + L"\\setup.exe"));

    // Without theme.txt the window keeps its colours: worth a word, no more.
    DeleteFileW(copy.File("theme.txt").c_str());
    check = RunTool({L"--check-skin", copy.skin});
    EXPECT_EQ(check.code, 0u) << check.err;
    EXPECT_NE(check.err.find("theme.txt: is missing; the installer keeps its default colours"),
              std::string::npos)
        << check.err;
}

TEST(SkinCheck, RefusesWhatIsNoSkinFolderAndWrongUse) {
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<std::wstring> args;
        DWORD code;
        const char* message;
    } cases[] = {
        {"no such folder", {L"--check-skin", dir / L"nothing"}, 1, "nothing: is not a folder"},
        {"an empty folder", {L"--check-skin", dir.path()}, 1, "bg_main.png: is missing"},
        {"no folder given", {L"--check-skin"}, 2, "--check-skin takes one folder"},
        {"two folders", {L"--check-skin", dir.path(), dir.path()}, 2, "--check-skin takes one folder"},
        {"table with an argument", {L"--skin-table", dir.path()}, 2, "--skin-table takes no arguments"},
    };
    for (const Case& c : cases) {
        Result r = RunTool(c.args);
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    }
}

// The guide's table is the tool's output, pasted between two markers.
TEST(SkinCheck, TheGuidesTableIsTheToolsTable) {
    Result r = RunTool({L"--skin-table"});
    ASSERT_EQ(r.code, 0u) << r.err;
    std::string guide = ReadText(testing_util::SourcePath("docs/skin.md"));
    const std::string begin = "<!-- skin-table: begin -->\n", end = "<!-- skin-table: end -->";
    size_t from = guide.find(begin), to = guide.find(end);
    ASSERT_NE(from, std::string::npos) << "docs/skin.md has no table marker";
    ASSERT_NE(to, std::string::npos) << "docs/skin.md has no end marker";
    from += begin.size();
    EXPECT_EQ(guide.substr(from, to - from), r.out)
        << "docs/skin.md's table differs from `mkinstaller --skin-table`; run scripts/update-skin-table.sh";
}
