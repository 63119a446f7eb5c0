// Prints what extraction costs: throughput and the process's peak memory for
// one large entry and for many small ones. Not a pass/fail test.
//   bench_install.exe [megabytes of the large entry, default 256]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>
#include <minizip/zip.h>
#include <minizip/iowin32.h>

#include "app/install_worker.h"
#include "support/zip.h"
#include "tests/common/zip_builder.h"
#include "tests/common/test_util.h"

namespace {

class Quiet : public IInstallReport {
public:
    void Progress(const wchar_t*, uint32_t, uint32_t, uint64_t, uint64_t) override {}
    bool StopRequested() override { return false; }
};

double PeakMegabytes() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PeakPagefileUsage / 1048576.0;
}

// One entry of the given size written piece by piece, so that making it
// does not raise the peak the extraction is measured by.
bool WriteLargeZip(const std::wstring& path, uint64_t size) {
    const size_t kPiece = 1 << 20;
    std::string piece = fixture::Noise(kPiece, 7);
    uLong crc = 0;
    for (uint64_t done = 0; done < size; done += kPiece)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), uInt(std::min<uint64_t>(kPiece, size - done)));
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) return false;
    zip_fileinfo info = {};
    bool ok = zipOpenNewFileInZip3_64(zip, "big.bin", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                      1, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                      GetArchivePassword(), crc, 1) == ZIP_OK;
    for (uint64_t done = 0; ok && done < size; done += kPiece)
        ok = zipWriteInFileInZip(zip, piece.data(), unsigned(std::min<uint64_t>(kPiece, size - done))) == ZIP_OK;
    ok = zipCloseFileInZip(zip) == ZIP_OK && ok;
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

void Bench(const char* label, const std::vector<fixture::ZipItem>& client, uint64_t largeSize = 0) {
    testing_util::TempDir temp;
    std::wstring inner = temp / L"app.zip", payload = temp / L"payload.zip";
    if (largeSize) WriteLargeZip(inner, largeSize);
    else fixture::WriteZip(inner, client, GetArchivePassword());
    // The payload holds the inner archive stored; a file beside it is what
    // the installer reads when it carries no payload resource.
    MoveFileW(inner.c_str(), payload.c_str());
    {
        std::vector<uint8_t> innerBytes = testing_util::ReadAll(payload);
        fixture::WriteZip(inner, {fixture::InnerArchiveItem(innerBytes)}, GetArchivePassword());
    }
    DeleteFileW(payload.c_str());
    MoveFileW(inner.c_str(), payload.c_str());
    XZip zip;
    zip.OpenFromFile(payload.c_str(), GetArchivePassword());
    std::wstring dir = temp / L"out\\";
    InstallJob job;
    job.installDir = dir.c_str();
    job.archiveName = L"app.zip";
    job.payload = &zip;
    job.payloadPath = payload.c_str();
    double before = PeakMegabytes();
    uint64_t bytes = largeSize;
    for (const auto& item : client) bytes += item.bytes.size();
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    Quiet quiet;
    InstallResult r = RunInstall(job, quiet);
    QueryPerformanceCounter(&b);
    double seconds = double(b.QuadPart - a.QuadPart) / f.QuadPart;
    std::printf("%-28s %6zu entries %9.1f MB  %6.2f s  %7.1f MB/s  peak commit %7.1f MB (%.1f before)  failed %u\n",
                label, client.size() + (largeSize ? 1 : 0), bytes / 1048576.0, seconds, bytes / 1048576.0 / seconds,
                PeakMegabytes(), before, r.failed);
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    Bench("one large entry", {}, uint64_t(megabytes) << 20);
    std::vector<fixture::ZipItem> small;
    for (int i = 0; i < 3000; ++i)
        small.push_back({"small/f" + std::to_string(i) + ".dat", fixture::Noise(4096, i)});
    Bench("many small entries", small);
    return 0;
}
