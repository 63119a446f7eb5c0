#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/update_info.h"
#include "support/data.h"
#include "support/digest.h"
#include "support/packed.h"
#include "support/payload.h"
#include "support/zip.h"
#include "tests/common/test_util.h"
#include "tests/common/zip_builder.h"
#include "tests/tools/tool_runner.h"

using testing_util::TempDir;

namespace {

void Write(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(testing_util::WriteAll(path, bytes.data(), bytes.size()));
}

std::string Bytes(const XData& d) { return std::string(reinterpret_cast<const char*>(d.data), d.size); }

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return names;
}

const char kConfigUtf8[] =
    "app=starfall;\r\nname=\xE6\x98\x9F\xE8\xBE\xB0\xE7\xBA\xAA\xE5\x85\x83;\r\ncompany=XingChen;\r\n"
    "version=2.5.0.1;\r\nsource=http://dl.example/starfall;\r\ncopyright=(c) test;\r\n";
const wchar_t kName[] = L"\u661F\u8FB0\u7EAA\u5143";

// A client folder with nesting, Chinese names, empty files and folders.
struct ClientTree {
    std::map<std::wstring, std::string> files;  // "/" separated
    std::set<std::wstring> folders;             // "/" separated, with trailing "/"

    void Make(const std::wstring& root) {
        std::string big(1 << 20, '\0');
        for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 7919) >> 5);
        std::string random(300000, '\0');
        uint32_t x = 12345;
        for (auto& c : random) c = char((x = x * 1103515245 + 12345) >> 24);
        files = {{L"bin/client.bin", random},
                 {L"\u6570\u636E/\u5730\u56FE/level.dat", big},
                 {L"empty.txt", ""},
                 {L"readme.txt", "read me"}};
        folders = {L"bin/", L"\u6570\u636E/", L"\u6570\u636E/\u5730\u56FE/", L"saves/", L"\u6DF1/",
                   L"\u6DF1/\u5C42/"};
        for (const auto& f : folders) {
            std::wstring p = root + f;
            for (auto& c : p) if (c == L'/') c = L'\\';
            CreateDirectoryW(p.c_str(), nullptr);
        }
        for (const auto& [name, content] : files) {
            std::wstring p = root + name;
            for (auto& c : p) if (c == L'/') c = L'\\';
            Write(p, content);
        }
    }
};

// Checks the inner archive of an open payload against the client folder.
void ExpectClient(XZip& payload, const ClientTree& tree, bool withUninstaller = true, bool encrypted = true) {
    XData innerBytes;
    ASSERT_TRUE(payload.ExtractByName(L"APP.ZIP", &innerBytes));
    XZip inner;
    ASSERT_TRUE(inner.OpenFromMemory(innerBytes.data, innerBytes.size, GetArchivePassword()));
    // The client's entries and the uninstaller, which carries the package's
    // configuration.
    ASSERT_EQ(inner.Count(), int(tree.files.size() + tree.folders.size()) + (withUninstaller ? 1 : 0));
    std::set<std::wstring> seenFolders;
    for (int i = 0; i < inner.Count(); ++i) {
        wchar_t name[kZipNameCapacity];
        ASSERT_TRUE(inner.GetEntryName(i, name));
        if (inner.IsDirectory(i)) {
            seenFolders.insert(name);
            continue;
        }
        if (std::wstring(name) == L"unins000.exe") {
            XData program;
            ASSERT_TRUE(inner.ExtractByIndex(i, &program));
            testing_util::TempDir temp;
            std::wstring path = temp / L"unins000.exe";
            ASSERT_TRUE(testing_util::WriteAll(path, program.data, program.size));
            CClientInfo config;
            ASSERT_TRUE(config.LoadFromLibrary(path.c_str(), L"app", 1));
            EXPECT_STREQ(L"starfall", config.GetApp());
            continue;
        }
        auto it = tree.files.find(name);
        ASSERT_NE(it, tree.files.end()) << testing_util::Narrow(name);
        XData content;
        ASSERT_TRUE(inner.ExtractByIndex(i, &content)) << testing_util::Narrow(name);
        EXPECT_TRUE(Bytes(content) == it->second) << testing_util::Narrow(name);
    }
    EXPECT_EQ(seenFolders, tree.folders);
    inner.Close();

    // Every file is encrypted with the archive password, or none is.
    ASSERT_TRUE(inner.OpenFromMemory(innerBytes.data, innerBytes.size, "not-the-password"));
    for (int i = 0; i < inner.Count(); ++i) {
        ZipEntryRecord record;
        ASSERT_TRUE(inner.GetEntryRecord(i, &record));
        if (!inner.IsDirectory(i)) {
            EXPECT_EQ(encrypted, (record.flags & 1) != 0) << record.name;
        }
    }
    XData content;
    EXPECT_EQ(!encrypted, inner.ExtractByIndex(inner.Find(L"readme.txt", nullptr), &content));
}

void ExpectManifest(XZip& payload, const ClientTree& tree, const std::wstring& base) {
    XData xml;
    ASSERT_TRUE(payload.ExtractByName(L"update.xml", &xml));
    ASSERT_GE(xml.size, 2u);
    EXPECT_EQ(xml.data[0], 0xFF);
    CUpdateInfo manifest;
    ASSERT_TRUE(manifest.ParseData(xml.data, xml.size));
    EXPECT_STREQ(manifest.GetVersion(), L"2.5.0.1");
    size_t nonEmpty = 0;
    for (const auto& [name, content] : tree.files) {
        if (content.empty()) continue;
        ++nonEmpty;
        std::wstring file = name;
        for (auto& c : file) if (c == L'/') c = L'\\';
        const UpdateItem* item = nullptr;
        for (uint32_t i = 0; i < manifest.Count(); ++i)
            if (file == manifest.GetItem(i)->file) item = manifest.GetItem(i);
        ASSERT_NE(item, nullptr) << testing_util::Narrow(file);
        wchar_t digest[33] = {};
        DigestOfBuffer(digest, content.data(), content.size());
        EXPECT_STREQ(item->md5, digest);
        EXPECT_EQ(item->size, int32_t(content.size()));
        // Non-ASCII names are requested as UTF-8 escapes.
        std::wstring path = name == L"\u6570\u636E/\u5730\u56FE/level.dat"
                                ? L"%E6%95%B0%E6%8D%AE/%E5%9C%B0%E5%9B%BE/level.dat"
                                : name;
        EXPECT_EQ(std::wstring(item->url), base + L"/" + path);
        EXPECT_EQ(item->action, 0);
    }
    EXPECT_EQ(manifest.Count(), nonEmpty);
}

struct Package {
    TempDir dir;
    std::wstring client, config, out;
    ClientTree tree;
    Package() {
        client = dir / L"client\\";
        CreateDirectoryW(client.c_str(), nullptr);
        tree.Make(client);
        config = dir / L"app.txt";
        Write(config, kConfigUtf8);
        out = dir / L"out\\";
        CreateDirectoryW(out.c_str(), nullptr);
    }
    std::vector<std::wstring> Args(const std::wstring& stub, const std::wstring& exe) const {
        return {L"--stub", stub, L"--config", config, L"--skin", testing_util::SourcePath("sample/skin"),
                L"--client", client, L"--out", exe};
    }
};

// A written installer's payload and the client archive inside it.
struct PackedClient {
    bool Open(const std::wstring& exe) {
        return OpenPayloadOf(exe.c_str(), payload, buffer) &&
               payload.ExtractByName(L"app.zip", &innerBytes) &&
               inner.OpenFromMemory(innerBytes.data, innerBytes.size, GetArchivePassword());
    }
    XZip payload;
    PayloadBytes buffer;
    XData innerBytes;
    XZip inner;
};

std::wstring Stub() { return testing_util::BinaryPath("bin/client.exe"); }

}  // namespace

TEST(Mkinstaller, PacksEverythingIntoTheResources) {
    Package p;
    std::wstring exe = p.out + L"setup.exe";
    auto args = p.Args(Stub(), exe);
    args.insert(args.end(), {L"--base-url", L"http://dl.example/c/"});
    Result r = RunTool(args);
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(FilesIn(p.out), std::vector<std::wstring>{L"setup.exe"});  // no temporaries left

    XZip payload;
    PayloadBytes buffer;
    ASSERT_TRUE(OpenPayloadOf(exe.c_str(), payload, buffer));
    for (const auto& name : FilesIn(testing_util::SourcePath("sample/skin") + L"\\")) {
        XData got;
        ASSERT_TRUE(payload.ExtractByName(name.c_str(), &got)) << testing_util::Narrow(name);
        auto want = testing_util::ReadAll(testing_util::SourcePath("sample/skin") + L"\\" + name);
        EXPECT_TRUE(Bytes(got) == std::string(want.begin(), want.end())) << testing_util::Narrow(name);
    }
    ExpectClient(payload, p.tree);
    ExpectManifest(payload, p.tree, L"http://dl.example/c");

    CClientInfo config;
    ASSERT_TRUE(config.LoadFromLibrary(exe.c_str(), L"app", 1));
    EXPECT_STREQ(config.GetName(), kName);
    EXPECT_STREQ(config.GetApp(), L"starfall");
    EXPECT_STREQ(config.GetCompany(), L"XingChen");
    EXPECT_STREQ(config.GetVersion(), L"2.5.0.1");
    EXPECT_STREQ(config.GetSource(), L"http://dl.example/starfall");
    XData raw;
    EXPECT_TRUE(LoadPackedResourceFromFile(raw, exe.c_str(), L"APP", 1));  // packed container
}

TEST(Mkinstaller, ZipBesideReplacesAPayloadTheStubCarries) {
    Package p;
    // A finished installer as the stub: its payload must not survive, or it
    // would win over the archive beside the new one.
    std::wstring first = p.out + L"first.exe";
    ASSERT_EQ(RunTool(p.Args(Stub(), first)).code, 0u);
    std::wstring exe = p.out + L"\u5B89\u88C5 setup.exe";
    auto args = p.Args(first, exe);
    args.push_back(L"--zip-beside");
    Result r = RunTool(args);
    ASSERT_EQ(r.code, 0u) << r.err;
    XData raw;
    EXPECT_FALSE(LoadPackedResourceFromFile(raw, exe.c_str(), L"TAIL", 1));
    EXPECT_TRUE(testing_util::FileExists(p.out + L"\u5B89\u88C5 setup.zip"));

    XZip payload;
    PayloadBytes buffer;
    ASSERT_TRUE(OpenPayloadOf(exe.c_str(), payload, buffer));
    EXPECT_EQ(buffer.size, 0u);  // read from the file, not a resource
    // No uninstaller program beside that stub: packed without one, and said so.
    EXPECT_NE(r.err.find("uninstaller.exe is missing"), std::string::npos) << r.err;
    ExpectClient(payload, p.tree, false);
    ExpectManifest(payload, p.tree, L"http://dl.example/starfall");  // the configuration's source
    CClientInfo config;
    ASSERT_TRUE(config.LoadFromLibrary(exe.c_str(), L"app", 1));
    EXPECT_STREQ(config.GetName(), kName);
}

// A publisher may trade the client's protection for speed: its entries go
// without the password, while the skin, theme and manifest keep it.
TEST(Mkinstaller, PlainClientLeavesOnlyTheClientsFilesUnprotected) {
    Package p;
    std::wstring exe = p.out + L"setup.exe";
    auto args = p.Args(Stub(), exe);
    args.push_back(L"--plain-client");
    Result r = RunTool(args);
    ASSERT_EQ(r.code, 0u) << r.err;
    XZip payload;
    PayloadBytes buffer;
    ASSERT_TRUE(OpenPayloadOf(exe.c_str(), payload, buffer));
    ExpectClient(payload, p.tree, true, false);
    ExpectManifest(payload, p.tree, L"http://dl.example/starfall");
    for (const wchar_t* name : {L"update.xml", L"theme.txt", L"bg_main.png"}) {
        ZipEntryRecord record;
        ASSERT_TRUE(payload.GetEntryRecord(payload.Find(name, nullptr), &record)) << testing_util::Narrow(name);
        EXPECT_NE(0, record.flags & 1) << testing_util::Narrow(name);
    }
    Result alone = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                            testing_util::SourcePath("sample/skin"), L"--plain-client", L"--out", exe});
    EXPECT_EQ(alone.code, 2u);
    EXPECT_NE(alone.err.find("--plain-client goes with --client"), std::string::npos) << alone.err;
}

TEST(Mkinstaller, RepacksAPlainClientZipWithNamesAsStored) {
    Package p;
    std::wstring source = p.dir / L"client.zip";
    ASSERT_TRUE(testing_util::WriteAll(
        source, fixture::MakeZip({{"bin/", "", false, true, nullptr, 0, 0x10},
                                   {"bin/game.exe", std::string(70000, 'g'), false, false, nullptr},
                                   {"data/\xE5\x9C\xB0\xE5\x9B\xBE.dat", "map", false, true, nullptr},
                                   {"../evil.txt", "e", false, false, nullptr},
                                   {"data/aux.cfg", "device", false, false, nullptr}},
                                  nullptr)));
    std::wstring exe = p.out + L"setup.exe";
    Result r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                        testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_NE(r.err.find("evil.txt"), std::string::npos) << "a warning names the unsafe entry";
    EXPECT_NE(r.err.find("data/aux.cfg cannot be installed"), std::string::npos) << r.err;

    PackedClient packed;
    ASSERT_TRUE(packed.Open(exe));
    XZip& payload = packed.payload;
    XZip& inner = packed.inner;
    ASSERT_EQ(inner.Count(), 6);  // and the uninstaller
    EXPECT_EQ(inner.Find(L"../evil.txt", nullptr), 3);  // stored name kept
    EXPECT_EQ(inner.Find(L"unins000.exe", nullptr), 5);
    EXPECT_TRUE(inner.IsDirectory(0));
    XData content;
    ASSERT_TRUE(inner.ExtractByName(L"bin/game.exe", &content));
    EXPECT_EQ(Bytes(content), std::string(70000, 'g'));
    ASSERT_TRUE(inner.ExtractByName(L"data/\u5730\u56FE.dat", &content));
    EXPECT_EQ(Bytes(content), "map");

    XData xml;
    ASSERT_TRUE(payload.ExtractByName(L"update.xml", &xml));
    CUpdateInfo manifest;
    ASSERT_TRUE(manifest.ParseData(xml.data, xml.size));
    ASSERT_EQ(manifest.Count(), 3u);
    std::map<std::wstring, std::wstring> urls;
    for (uint32_t i = 0; i < manifest.Count(); ++i)
        urls[manifest.GetItem(i)->file] = manifest.GetItem(i)->url;
    EXPECT_EQ(urls, (std::map<std::wstring, std::wstring>{
                        {L"bin\\game.exe", L"http://dl.example/starfall/bin/game.exe"},
                        {L"data\\\u5730\u56FE.dat", L"http://dl.example/starfall/data/%E5%9C%B0%E5%9B%BE.dat"},
                        {L"evil.txt", L"http://dl.example/starfall/evil.txt"}}));

    // An encrypted source cannot be repacked.
    ASSERT_TRUE(testing_util::WriteAll(source, fixture::MakeZip({{"a.txt", "x"}}, "secret")));
    r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                 testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    EXPECT_EQ(r.code, 1u);
    EXPECT_NE(r.err.find("encrypted"), std::string::npos) << r.err;
}

// Each entry of a client ZIP goes into the inner archive with its record
// as stored: name bytes (UTF-8 or not), date, attributes, host, CRC and
// size; only the encryption is the installer's own.
TEST(Mkinstaller, RepackedClientZipEntriesKeepTheirRecords) {
    Package p;
    fixture::ZipItem legacy{"\xB2\xE2\xCA\xD4.txt", "gbk name", false, true, nullptr};
    legacy.utf8Name = false;
    const std::vector<fixture::ZipItem> items = {
        {"dos/", "", false, true, nullptr, 0, 0x10},
        {"dos/tool.exe", fixture::Noise(30000, 9), false, false, nullptr, 0, 0x21},
        {"unix/run.sh", "#!/bin/sh", false, true, nullptr, 3, 0100755u << 16},
        legacy,
    };
    std::wstring source = p.dir / L"client.zip";
    const auto sourceBytes = fixture::MakeZip(items, nullptr);
    ASSERT_TRUE(testing_util::WriteAll(source, sourceBytes));
    std::wstring exe = p.out + L"setup.exe";
    Result r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                        testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    ASSERT_EQ(r.code, 0u) << r.err;

    XZip from;
    ASSERT_TRUE(from.OpenFromMemory(sourceBytes.data(), uint32_t(sourceBytes.size()), nullptr));
    PackedClient packed;
    ASSERT_TRUE(packed.Open(exe));
    ASSERT_EQ(packed.inner.Count(), int(items.size()) + 1);  // and the uninstaller
    for (int i = 0; i < int(items.size()); ++i) {
        SCOPED_TRACE(i);
        ZipEntryRecord want, got;
        ASSERT_TRUE(from.GetEntryRecord(i, &want));
        ASSERT_TRUE(packed.inner.GetEntryRecord(i, &got));
        EXPECT_TRUE(got.name == want.name);
        EXPECT_EQ(got.dosDate, want.dosDate);
        EXPECT_EQ(got.externalAttributes, want.externalAttributes);
        EXPECT_EQ(got.versionMadeBy, want.versionMadeBy);
        EXPECT_EQ(got.flags & 0x800, want.flags & 0x800);
        EXPECT_EQ(got.crc, want.crc);
        EXPECT_EQ(got.uncompressedSize, want.uncompressedSize);
        const bool folder = items[i].name.back() == '/';
        EXPECT_EQ((got.flags & 1) != 0, !folder) << "files are encrypted, folders not";
        if (folder) continue;
        XData content;
        ASSERT_TRUE(packed.inner.ExtractByIndex(i, &content));
        EXPECT_TRUE(Bytes(content) == items[i].bytes);
    }
}

// What is wrong with a client ZIP is named: each case damages one field or
// byte of an otherwise good archive, and nothing is written.
TEST(Mkinstaller, RefusesADamagedClientZipAndSaysWhy) {
    Package p;
    const auto good = fixture::MakeZip({{"a.txt", "alpha text"},
                                        {"b.txt", "stored text", false, true, nullptr},
                                        {"c.bin", fixture::Noise(5000, 2), false, false, nullptr}},
                                       nullptr);
    const fixture::ZipLayout a = fixture::LocateEntry(good, 0), b = fixture::LocateEntry(good, 1),
                             c = fixture::LocateEntry(good, 2);
    ASSERT_NE(c.data, 0u);
    auto patched = [&](std::vector<std::pair<size_t, uint8_t>> changes) {
        auto bytes = good;
        for (const auto& [at, value] : changes) bytes[at] = value;
        return bytes;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"no entries", fixture::MakeZip({}, nullptr), "client.zip: holds no files"},
        {"encrypted entry", fixture::MakeZip({{"a.txt", "x", false, false, nullptr}, {"b.txt", "y"}}, "secret"),
         "entry b.txt is encrypted; give a plain ZIP"},
        {"central record's signature", patched({{b.central, 'X'}}), "client.zip: has a damaged central directory"},
        {"unknown method", patched({{b.central + 10, 14}}), "entry b.txt cannot be read (unsupported method?)"},
        {"damaged local header", patched({{a.local, 'X'}}), "entry a.txt cannot be read (unsupported method?)"},
        {"flipped data byte", patched({{b.data + 1, 'X'}}), "entry b.txt is damaged (CRC error)"},
        {"shorter than stated", patched({{b.central + 25, 1}, {b.local + 23, 1}}),
         "client.zip (b.txt): changed while it was being packed"},
        {"bad deflate block", patched({{c.data, 0x07}}), "client.zip (c.bin): cannot be read"},
    };
    std::wstring source = p.dir / L"client.zip";
    std::wstring exe = p.out + L"setup.exe";
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        ASSERT_TRUE(testing_util::WriteAll(source, k.bytes));
        Result r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                            testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
        EXPECT_EQ(r.code, 1u);
        EXPECT_NE(r.err.find(k.message), std::string::npos) << r.err;
        EXPECT_TRUE(FilesIn(p.out).empty());
    }
}

TEST(Mkinstaller, ReadsTheConfigurationInEveryEncoding) {
    Package p;
    std::wstring text = L"app=a;name=" + std::wstring(kName) + L";company=c;version=1;";
    std::string utf16(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    std::string utf8 = "app=a;name=\xE6\x98\x9F\xE8\xBE\xB0\xE7\xBA\xAA\xE5\x85\x83;company=c;version=1;";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-16LE with mark", "\xFF\xFE" + utf16},
        {"UTF-16LE", utf16},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-8", utf8},
    };
    for (const Case& c : cases) {
        Write(p.config, c.bytes);
        std::wstring exe = p.out + L"setup.exe";
        auto args = p.Args(Stub(), exe);
        args.resize(6);  // without a client
        args.insert(args.end(), {L"--out", exe});
        Result r = RunTool(args);
        ASSERT_EQ(r.code, 0u) << c.what << ": " << r.err;
        CClientInfo config;
        ASSERT_TRUE(config.LoadFromLibrary(exe.c_str(), L"app", 1)) << c.what;
        EXPECT_STREQ(config.GetName(), kName) << c.what;
        XZip payload;
        PayloadBytes buffer;
        ASSERT_TRUE(OpenPayloadOf(exe.c_str(), payload, buffer));
        EXPECT_EQ(payload.Find(L"app.zip", nullptr), -1) << "no client: the download way";
    }
}

TEST(Mkinstaller, RefusesBadInputAndLeavesTheOutputAlone) {
    Package p;
    std::wstring exe = p.out + L"setup.exe";
    std::wstring skin = testing_util::SourcePath("sample/skin");
    std::wstring noBackground = p.dir / L"skin-without-bg";
    CreateDirectoryW(noBackground.c_str(), nullptr);
    Write(noBackground + L"\\logo.png", "png");
    Write(p.dir / L"no-version.txt", "app=a;name=n;company=c;");
    Write(p.dir / L"binary.txt", std::string("\x80\x81\xFE\x00\xC3", 5));
    Write(p.dir / L"not-a-stub.exe", "plain text");
    Write(p.dir / L"not-a-zip.zip", "plain text");
    CreateDirectoryW((p.dir / L"empty-client").c_str(), nullptr);

    struct Case {
        const char* what;
        std::vector<std::wstring> args;
        DWORD code;
        const char* message;
    } cases[] = {
        {"missing configuration",
         {L"--stub", Stub(), L"--config", p.dir / L"missing.txt", L"--skin", skin, L"--out", exe}, 1,
         "missing.txt: cannot be read"},
        {"configuration without version",
         {L"--stub", Stub(), L"--config", p.dir / L"no-version.txt", L"--skin", skin, L"--out", exe}, 1,
         "no value for version"},
        {"configuration that is no text",
         {L"--stub", Stub(), L"--config", p.dir / L"binary.txt", L"--skin", skin, L"--out", exe}, 1,
         "binary.txt: is neither UTF-16LE nor UTF-8"},
        {"skin without background",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", noBackground, L"--out", exe}, 1,
         "skin-without-bg\\bg_main.png: is missing"},
        {"missing stub",
         {L"--stub", p.dir / L"nothing.exe", L"--config", p.config, L"--skin", skin, L"--out", exe}, 1,
         "nothing.exe: cannot be read"},
        {"stub that is no program",
         {L"--stub", p.dir / L"not-a-stub.exe", L"--config", p.config, L"--skin", skin, L"--out", exe}, 1,
         "not-a-stub.exe: is not a Windows executable"},
        {"missing client folder",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--client", p.dir / L"nope", L"--out", exe},
         1, "nope: is not a folder"},
        {"empty client folder",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--client", p.dir / L"empty-client",
          L"--out", exe},
         1, "empty-client: holds no files"},
        {"client zip that is no archive",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--client-zip", p.dir / L"not-a-zip.zip",
          L"--out", exe},
         1, "not-a-zip.zip: is not a ZIP archive"},
        {"output folder missing",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--out", p.dir / L"gone\\setup.exe"}, 1,
         "its folder does not exist"},
        {"quote in the base address",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--client", p.client, L"--base-url",
          L"http://x/\"y", L"--out", exe},
         1, "--base-url"},
        {"client and client zip", {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--client",
                                   p.client, L"--client-zip", p.dir / L"not-a-zip.zip", L"--out", exe},
         2, "not both"},
        {"no output", {L"--stub", Stub(), L"--config", p.config, L"--skin", skin}, 2, "--out is required"},
        {"unknown flag", {L"--stub", Stub(), L"--frobnicate"}, 2, "unknown argument --frobnicate"},
        {"flag without value", {L"--config"}, 2, "--config needs a value"},
        {"pictures without a stub",
         {L"--render-skin", skin, L"--config", p.config, L"--out", p.out + L"pictures"}, 2,
         "--stub is required"},
        {"pictures from a program without the installer's frame",
         {L"--render-skin", skin, L"--stub", Stub(), L"--config", p.config, L"--out", p.out + L"pictures"}, 1,
         "holds no frame picture"},
        {"pictures of a skin without background",
         {L"--render-skin", noBackground, L"--stub", Stub(), L"--config", p.config, L"--out",
          p.out + L"pictures"},
         1, "skin-without-bg\\bg_main.png: is missing"},
        {"install folder without pictures",
         {L"--stub", Stub(), L"--config", p.config, L"--skin", skin, L"--install-dir", L"C:\\x", L"--out", exe}, 2,
         "--install-dir goes with --render-skin"},
    };
    Write(exe, "previous installer");
    for (const Case& c : cases) {
        Result r = RunTool(c.args);
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(ReadText(exe), "previous installer") << c.what;
        EXPECT_EQ(FilesIn(p.out), std::vector<std::wstring>{L"setup.exe"}) << c.what;
    }
}

TEST(Mkinstaller, RefusesMoreEntriesThanTheInstallerRecords) {
    Package p;
    // Creating 10,001 files under Wine takes most of a minute; a client ZIP
    // of as many entries meets the same limit.
    std::vector<fixture::ZipItem> entries;
    for (int i = 0; i <= 10000; ++i) entries.push_back({"f" + std::to_string(i), "", false, true, nullptr});
    std::wstring source = p.dir / L"many.zip";
    ASSERT_TRUE(testing_util::WriteAll(source, fixture::MakeZip(entries, nullptr)));
    std::wstring exe = p.out + L"setup.exe";
    Result r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                        testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    EXPECT_EQ(r.code, 1u);
    EXPECT_NE(r.err.find("more than 10000"), std::string::npos) << r.err;
    EXPECT_TRUE(FilesIn(p.out).empty());

    // Exactly 10,000 leaves no room for the packed uninstaller's entry.
    entries.pop_back();
    ASSERT_TRUE(testing_util::WriteAll(source, fixture::MakeZip(entries, nullptr)));
    r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                 testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    EXPECT_EQ(r.code, 1u);
    EXPECT_NE(r.err.find("has 10000 files and folders; with unins000.exe"), std::string::npos) << r.err;
    EXPECT_TRUE(FilesIn(p.out).empty());

    // 9,999 and the uninstaller fill the record exactly.
    entries.pop_back();
    ASSERT_TRUE(testing_util::WriteAll(source, fixture::MakeZip(entries, nullptr)));
    r = RunTool({L"--stub", Stub(), L"--config", p.config, L"--skin",
                 testing_util::SourcePath("sample/skin"), L"--client-zip", source, L"--out", exe});
    EXPECT_EQ(r.code, 0u) << r.err;
}

// A client that brings a file of the uninstaller's name (in any case) keeps
// it: packed once, as the client's, with a warning.
TEST(Mkinstaller, KeepsTheClientsOwnUninstaller) {
    Package p;
    Write(p.client + L"Unins000.exe", "the client's own");
    std::wstring exe = p.out + L"setup.exe";
    Result r = RunTool(p.Args(Stub(), exe));
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_NE(r.err.find("the client brings its own unins000.exe; it is packed instead of the uninstaller"),
              std::string::npos)
        << r.err;
    PackedClient packed;
    ASSERT_TRUE(packed.Open(exe));
    XZip& inner = packed.inner;
    EXPECT_EQ(inner.Count(), int(p.tree.files.size() + p.tree.folders.size() + 1));
    XData own;
    ASSERT_TRUE(inner.ExtractByName(L"Unins000.exe", &own));
    EXPECT_EQ(Bytes(own), "the client's own");
}

TEST(Mkinstaller, NamesZipBesideWhenThePayloadIsTooLargeForAResource) {
    Package p;
    std::string noise(1500000, '\0');
    uint32_t x = 7;
    for (auto& c : noise) c = char((x = x * 1103515245 + 12345) >> 24);
    Write(p.client + L"noise.bin", noise);  // does not compress: well over 1 MiB
    p.tree.files[L"noise.bin"] = noise;
    std::wstring exe = p.out + L"setup.exe";
    auto args = p.Args(Stub(), exe);
    args.insert(args.end(), {L"--max-resource-mb", L"1"});
    Result r = RunTool(args);
    EXPECT_EQ(r.code, 1u);
    EXPECT_NE(r.err.find("too large for a resource"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--zip-beside"), std::string::npos) << r.err;
    EXPECT_TRUE(FilesIn(p.out).empty());

    args.push_back(L"--zip-beside");
    r = RunTool(args);
    ASSERT_EQ(r.code, 0u) << r.err;
    XZip payload;
    PayloadBytes buffer;
    ASSERT_TRUE(OpenPayloadOf(exe.c_str(), payload, buffer));
    ExpectClient(payload, p.tree);

    EXPECT_EQ(RunTool({L"--max-resource-mb", L"0"}).code, 2u);
    EXPECT_EQ(RunTool({L"--max-resource-mb", L"300"}).code, 2u);
}

// Every file of the folder, with its size, digest and address, worked out
// here from the files the test wrote (folders and empty files are not
// listed).
TEST(Mkinstaller, ManifestModeListsEveryFileOfTheFolder) {
    Package p;
    std::wstring xml = p.out + L"update.xml";
    Result r = RunTool({L"--manifest", L"--client", p.client, L"--base-url", L"http://h/files", L"--version",
                        L"3.1", L"--out", xml});
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_NE(r.err.find("empty.txt"), std::string::npos) << "empty files are named in a warning";
    CUpdateInfo written;
    ASSERT_TRUE(written.LoadFromFile(xml.c_str()));
    EXPECT_STREQ(written.GetVersion(), L"3.1");

    const std::map<std::wstring, std::wstring> urls = {
        {L"bin\\client.bin", L"http://h/files/bin/client.bin"},
        {L"\u6570\u636E\\\u5730\u56FE\\level.dat",
         L"http://h/files/%E6%95%B0%E6%8D%AE/%E5%9C%B0%E5%9B%BE/level.dat"},
        {L"readme.txt", L"http://h/files/readme.txt"},
    };
    std::map<std::wstring, std::wstring> want, got;
    for (const auto& [name, content] : p.tree.files) {
        std::wstring file = name;
        for (auto& c : file) if (c == L'/') c = L'\\';
        if (content.empty()) continue;  // not listed: named in the warning above
        wchar_t md5[33] = {};
        ASSERT_TRUE(DigestOfBuffer(md5, content.data(), uint32_t(content.size())));
        ASSERT_EQ(1u, urls.count(file)) << testing_util::Narrow(file);
        want[file] = std::to_wstring(content.size()) + L" " + md5 + L" " + urls.at(file) + L" 0";
    }
    for (uint32_t i = 0; i < written.Count(); ++i) {
        const UpdateItem* item = written.GetItem(i);
        got[item->file] = std::to_wstring(item->size) + L" " + item->md5 + L" " + item->url + L" " +
                          std::to_wstring(item->action);
    }
    EXPECT_EQ(want, got);
}

// Addresses are written percent-encoded as UTF-8 so that any name can be
// requested; the local names stay as they are.
TEST(Mkinstaller, ManifestAddressesArePercentEncoded) {
    TempDir dir;
    std::wstring client = dir / L"client\\";
    CreateDirectoryW(client.c_str(), nullptr);
    CreateDirectoryW((client + L"\u5B50 \u76EE\u5F55").c_str(), nullptr);
    const std::map<std::wstring, std::wstring> expected = {
        {L"a b.txt", L"http://h/%E6%B8%B8%E6%88%8F%20files/a%20b.txt"},
        {L"\u5B50 \u76EE\u5F55\\\u6587\u4EF6 #1.bin",
         L"http://h/%E6%B8%B8%E6%88%8F%20files/%E5%AD%90%20%E7%9B%AE%E5%BD%95/"
         L"%E6%96%87%E4%BB%B6%20%231.bin"},
        {L"\u5B50 \u76EE\u5F55\\100%+&.dat",
         L"http://h/%E6%B8%B8%E6%88%8F%20files/%E5%AD%90%20%E7%9B%AE%E5%BD%95/100%25%2B%26.dat"},
        {L"%41.dat", L"http://h/%E6%B8%B8%E6%88%8F%20files/%2541.dat"},
    };
    for (const auto& [file, url] : expected) Write(client + file, "content");
    std::wstring xml = dir / L"update.xml";
    // The base address as given, with its blank and Chinese name escaped.
    Result r = RunTool({L"--manifest", L"--client", client, L"--base-url", L"http://h/\u6E38\u620F files",
                        L"--version", L"1.0", L"--out", xml});
    ASSERT_EQ(r.code, 0u) << r.err;
    CUpdateInfo written;
    ASSERT_TRUE(written.LoadFromFile(xml.c_str()));
    std::map<std::wstring, std::wstring> urls;
    for (uint32_t i = 0; i < written.Count(); ++i) urls[written.GetItem(i)->file] = written.GetItem(i)->url;
    EXPECT_EQ(urls, expected);
}
