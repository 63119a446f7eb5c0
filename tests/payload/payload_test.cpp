#include <cstring>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/data.h"
#include "support/handle.h"
#include "support/packed.h"
#include "support/payload.h"
#include "support/zip.h"
#include "tests/common/test_util.h"
#include "tests/common/zip_builder.h"

namespace {

std::wstring OwnExecutable() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

bool AddResource(const std::wstring& exe, const wchar_t* type, const std::vector<uint8_t>& bytes) {
    UniqueResourceUpdate update(BeginUpdateResourceW(exe.c_str(), FALSE));
    if (!update) return false;
    if (!UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(1), 2052, (void*)bytes.data(),
                         (DWORD)bytes.size()))
        return false;
    return EndUpdateResourceW(update.release(), FALSE) != FALSE;
}

std::vector<uint8_t> Packed(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(plain.size() + kPackedHeaderSize);
    out.resize(WritePacked(out.data(), out.size(), plain.data(), plain.size()));
    return out;
}

std::string ContentOf(XZip& zip, const wchar_t* name) {
    XData data;
    if (!zip.ExtractByName(name, &data)) return "<missing>";
    return std::string(reinterpret_cast<const char*>(data.data), data.size);
}

}  // namespace

TEST(PayloadZipPath, ReplacesWhatFollowsTheLastDot) {
    struct Case {
        const wchar_t* exe;
        const wchar_t* expected;  // null: no neighbouring archive
    } cases[] = {
        {L"C:\\dir\\setup.exe", L"C:\\dir\\setup.zip"},
        {L"C:\\dir\\setup.v2.exe", L"C:\\dir\\setup.v2.zip"},
        {L"C:\\dir.v2\\setup", L"C:\\dir.zip"},  // the whole path is searched
        {L"C:\\dir\\setup.", L"C:\\dir\\setup.zip"},
        {L"C:\\dir\\setup", nullptr},
    };
    for (const Case& c : cases) {
        wchar_t out[64];
        bool ok = PayloadZipPath(c.exe, out, 64);
        EXPECT_EQ(ok, c.expected != nullptr) << testing_util::Narrow(c.exe);
        if (ok && c.expected) {
            EXPECT_STREQ(out, c.expected);
        }
    }
    wchar_t small[16];
    EXPECT_FALSE(PayloadZipPath(L"C:\\dir\\setup.exe", small, 16));
    EXPECT_FALSE(PayloadZipPath(nullptr, small, 16));
}

TEST(OpenPayload, ResourceComesFirstAndIsFinal) {
    testing_util::TempDir dir;
    const auto resourceZip = fixture::MakeZip({{"theme.txt", "from resource"}}, GetArchivePassword());
    const auto besideZip = fixture::MakeZip({{"theme.txt", "from file"}}, GetArchivePassword());
    ASSERT_FALSE(resourceZip.empty());
    ASSERT_FALSE(besideZip.empty());

    std::wstring exe = dir / L"\u5B89\u88C5.exe";
    ASSERT_TRUE(CopyFileW(OwnExecutable().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(testing_util::WriteAll(dir / L"\u5B89\u88C5.zip", besideZip));

    {  // no resource: the archive beside the program
        XZip zip;
        PayloadBytes buffer;
        ASSERT_TRUE(OpenPayloadOf(exe.c_str(), zip, buffer));
        EXPECT_EQ(ContentOf(zip, L"THEME.TXT"), "from file");
    }
    ASSERT_TRUE(AddResource(exe, L"TAIL", Packed(resourceZip)));
    {  // a resource wins over the file
        XZip zip;
        PayloadBytes buffer;
        ASSERT_TRUE(OpenPayloadOf(exe.c_str(), zip, buffer));
        EXPECT_EQ(ContentOf(zip, L"theme.txt"), "from resource");
    }
    const std::string junk = "no archive in here";
    ASSERT_TRUE(AddResource(exe, L"TAIL", Packed(std::vector<uint8_t>(junk.begin(), junk.end()))));
    {  // a broken resource does not fall back to the file
        XZip zip;
        PayloadBytes buffer;
        EXPECT_FALSE(OpenPayloadOf(exe.c_str(), zip, buffer));
        EXPECT_FALSE(zip.IsOpen());
    }
    DeleteFileW((dir / L"\u5B89\u88C5.zip").c_str());
    // Without any file beside it, in the scrambled container of older
    // packages (unscrambled into a copy) and as the plain archive of newer
    // ones (read where the executable is mapped, never copied).
    struct Form {
        const char* what;
        std::vector<uint8_t> resource;
        bool copied;
    } forms[] = {{"scrambled", Packed(resourceZip), true}, {"plain", resourceZip, false}};
    for (const Form& f : forms) {
        SCOPED_TRACE(f.what);
        ASSERT_TRUE(AddResource(exe, L"TAIL", f.resource));
        XZip zip;
        PayloadBytes buffer;
        ASSERT_TRUE(OpenPayloadOf(exe.c_str(), zip, buffer));
        EXPECT_EQ(ContentOf(zip, L"theme.txt"), "from resource");
        EXPECT_EQ(buffer.size, resourceZip.size());
        EXPECT_EQ(f.copied, buffer.copy.size > 0);
        EXPECT_EQ(f.copied, !buffer.module);
        // The mapped archive is found in the file too, for the worker's reads.
        if (f.copied) {
            EXPECT_EQ(buffer.fileOffset, PayloadBytes::kNotInFile);
        } else {
            ASSERT_NE(buffer.fileOffset, PayloadBytes::kNotInFile);
            XData file;
            ASSERT_TRUE(file.ReadFromFile(exe.c_str()));
            ASSERT_LE(buffer.fileOffset + resourceZip.size(), file.size);
            EXPECT_EQ(0, std::memcmp(file.data + buffer.fileOffset, resourceZip.data(), resourceZip.size()));
        }
    }
}

TEST(OpenPayload, NothingToFind) {
    testing_util::TempDir dir;
    XZip zip;
    PayloadBytes buffer;
    // The test program carries no payload and has no archive beside it.
    EXPECT_FALSE(OpenPayload(zip, buffer));
    EXPECT_FALSE(OpenPayloadOf((dir / L"missing.exe").c_str(), zip, buffer));
    EXPECT_FALSE(OpenPayloadOf(nullptr, zip, buffer));
    if (dir.path().find(L'.') == std::wstring::npos) {
        // Without any "." there is no neighbouring name to try.
        std::wstring bare = dir / L"setup";
        ASSERT_TRUE(CopyFileW(OwnExecutable().c_str(), bare.c_str(), FALSE));
        ASSERT_TRUE(testing_util::WriteAll(bare + L".zip",
                                           fixture::MakeZip({{"a", "b"}}, GetArchivePassword())));
        EXPECT_FALSE(OpenPayloadOf(bare.c_str(), zip, buffer));
    }
}

// The worker reads the payload from the program's file, so where a resource
// lies in it must come out right for a module mapped flat as a data file and
// for one laid out by section as an image (the running installer), and be
// refused for bytes that are not the module's.
TEST(OpenPayload, FindsTheResourceInTheFileForEitherMapping) {
    testing_util::TempDir dir;
    std::wstring exe = dir / L"\u5B89\u88C5.exe";
    ASSERT_TRUE(CopyFileW(OwnExecutable().c_str(), exe.c_str(), FALSE));
    std::vector<uint8_t> payload(300000);
    uint32_t x = 11;
    for (auto& b : payload) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    ASSERT_TRUE(AddResource(exe, L"TAIL", payload));
    XData file;
    ASSERT_TRUE(file.ReadFromFile(exe.c_str()));

    const struct {
        const char* what;
        DWORD flags;
    } loads[] = {{"data file", LOAD_LIBRARY_AS_DATAFILE}, {"image", DONT_RESOLVE_DLL_REFERENCES}};
    for (const auto& load : loads) {
        SCOPED_TRACE(load.what);
        UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, load.flags));
        ASSERT_TRUE(module);
        uint32_t size = 0;
        const uint8_t* mapped = FindResourceBytes(module.get(), L"tail", 1, &size);
        ASSERT_NE(mapped, nullptr);
        ASSERT_EQ(size, payload.size());
        uint64_t offset = ResourceFileOffset(exe.c_str(), module.get(), mapped, size);
        ASSERT_NE(offset, PayloadBytes::kNotInFile);
        ASSERT_LE(offset + size, file.size);
        EXPECT_EQ(0, std::memcmp(file.data + offset, payload.data(), size));

        std::vector<uint8_t> elsewhere(mapped, mapped + size);
        EXPECT_EQ(ResourceFileOffset(exe.c_str(), module.get(), elsewhere.data(), size),
                  PayloadBytes::kNotInFile);
    }
}
