#include "tests/common/zip_builder.h"

#include <windows.h>

#include <cstring>

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/zip.h>
#include <zlib.h>

#include "tests/common/test_util.h"

namespace fixture {

bool WriteZip(const std::wstring& path, const std::vector<ZipItem>& items, const char* password) {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) return false;
    bool ok = true;
    for (const ZipItem& item : items) {
        zip_fileinfo info = {};
        info.dosDate = 0x5A8C6000;  // 2025-04-12 12:00:00
        info.external_fa = item.attributes | (item.directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
        const char* pw = item.password && item.password[0] == 0 ? password : item.password;
        if (item.directory || (pw && pw[0] == 0)) pw = nullptr;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(item.bytes.data()), uInt(item.bytes.size()));
        int method = item.stored || item.directory ? 0 : Z_DEFLATED;
        if (zipOpenNewFileInZip4_64(zip, item.name.c_str(), &info,
                                    item.localExtra.empty() ? nullptr : item.localExtra.data(),
                                    uInt(item.localExtra.size()),
                                    item.centralExtra.empty() ? nullptr : item.centralExtra.data(),
                                    uInt(item.centralExtra.size()), nullptr, method,
                                    method ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, pw, crc, uLong(item.host << 8 | 20),
                                    item.utf8Name ? 0x800 : 0,
                                    0) != ZIP_OK) {
            ok = false;
            break;
        }
        if (!item.bytes.empty() &&
            zipWriteInFileInZip(zip, item.bytes.data(), unsigned(item.bytes.size())) != ZIP_OK)
            ok = false;
        if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

std::vector<uint8_t> MakeZip(const std::vector<ZipItem>& items, const char* password) {
    testing_util::TempDir dir;
    std::wstring path = dir / L"fixture.zip";
    if (!WriteZip(path, items, password)) return {};
    return testing_util::ReadAll(path);
}

ZipItem InnerArchiveItem(const std::string& archive, bool encryptedWhole) {
    return {"app.zip", archive, false, true, encryptedWhole ? "" : nullptr};
}

ZipItem InnerArchiveItem(const std::vector<uint8_t>& archive, bool encryptedWhole) {
    return InnerArchiveItem(std::string(archive.begin(), archive.end()), encryptedWhole);
}

ZipLayout LocateEntry(const std::vector<uint8_t>& archive, int index) {
    auto le16 = [&](size_t at) { return size_t(archive[at] | archive[at + 1] << 8); };
    auto le32 = [&](size_t at) { return uint32_t(le16(at) | le16(at + 2) << 16); };
    static const uint8_t kEnd[] = {'P', 'K', 5, 6}, kCentral[] = {'P', 'K', 1, 2};
    // The end record (last, as these archives have no comment) says where
    // the central records start; each is 46 bytes and its variable parts.
    if (archive.size() < 22 || std::memcmp(&archive[archive.size() - 22], kEnd, 4) != 0) return {};
    size_t at = le32(archive.size() - 22 + 16);
    for (int i = 0; i < index && at + 46 <= archive.size(); ++i)
        at += 46 + le16(at + 28) + le16(at + 30) + le16(at + 32);
    if (at + 46 > archive.size() || std::memcmp(&archive[at], kCentral, 4) != 0) return {};
    ZipLayout layout;
    layout.central = at;
    layout.local = le32(at + 42);
    if (layout.local + 30 > archive.size()) return {};
    layout.data = layout.local + 30 + le16(layout.local + 26) + le16(layout.local + 28);
    return layout;
}

std::string Noise(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x & 0x3F) + ' ';  // compressible a little, never to nothing
    }
    return s;
}

}  // namespace fixture
