#include "tests/payload/zip_fixture.h"

#include <windows.h>

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/zip.h>
#include <zlib.h>

#include "tests/common/test_util.h"

namespace zip_fixture {

std::vector<uint8_t> Make(const std::vector<Entry>& entries, const char* password) {
    testing_util::TempDir dir;
    std::wstring path = dir / L"fixture.zip";
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) return {};
    for (const Entry& e : entries) {
        zip_fileinfo info = {};
        info.dosDate = 0x5A8C6000;  // 2025-04-12 12:00:00
        info.external_fa = e.externalAttributes;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.content.data()), e.content.size());
        const char* pw = e.encrypt ? password : nullptr;
        if (zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, nullptr, 0,
                                    e.centralExtra.empty() ? nullptr : e.centralExtra.data(),
                                    static_cast<uInt>(e.centralExtra.size()), nullptr,
                                    e.deflate ? Z_DEFLATED : 0, e.deflate ? 6 : 0, 0, -MAX_WBITS,
                                    DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, pw, crc,
                                    static_cast<uLong>(e.host << 8 | 20), 0x800, 0) != ZIP_OK) {
            zipClose(zip, nullptr);
            return {};
        }
        if (!e.content.empty())
            zipWriteInFileInZip(zip, e.content.data(), static_cast<unsigned>(e.content.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
    return testing_util::ReadAll(path);
}

}  // namespace zip_fixture
