// Prints how fast the payload archive opens, finds and extracts, for a few
// archive shapes. Not a test: figures only.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/data.h"
#include "support/zip.h"
#include "tests/common/zip_builder.h"

namespace {

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

void Measure(const char* shape, const std::vector<fixture::ZipItem>& entries) {
    double t0 = Now();
    std::vector<uint8_t> bytes = fixture::MakeZip(entries, GetArchivePassword());
    double made = Now() - t0;
    uint64_t total = 0;
    for (const auto& e : entries) total += e.bytes.size();

    XZip zip;
    t0 = Now();
    if (!zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), GetArchivePassword())) {
        std::printf("%s: open failed\n", shape);
        return;
    }
    double opened = Now() - t0;

    t0 = Now();
    int found = 0;
    for (const auto& e : entries) {
        std::wstring name(e.name.begin(), e.name.end());
        found += zip.Find(name.c_str(), nullptr) >= 0;
    }
    double finds = Now() - t0;

    t0 = Now();
    XData data;
    int extracted = 0;
    for (int i = 0; i < zip.Count(); ++i) extracted += zip.ExtractByIndex(i, &data);
    double extract = Now() - t0;

    std::printf("%-34s %6d entries %8.1f MB -> %8.1f MB archive | build %6.2f s | open %8.2f ms | "
                "find %7.2f us/name (%d) | extract %7.1f MB/s (%d)\n",
                shape, zip.Count(), total / 1e6, bytes.size() / 1e6, made, opened * 1e3,
                finds * 1e6 / entries.size(), found, total / 1e6 / extract, extracted);
}

std::string Random(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (auto& c : s) c = char((seed = seed * 1103515245 + 12345) >> 24);
    return s;
}

std::string Text(size_t n) {
    std::string s;
    while (s.size() < n) s += "map tile 0042 grass=1 water=0 height=17\n";
    s.resize(n);
    return s;
}

}  // namespace

int main() {
    std::vector<fixture::ZipItem> big;
    for (int i = 0; i < 64; ++i)
        big.push_back({"data/part" + std::to_string(i) + ".bin", i % 2 ? Random(1 << 20, i) : Text(1 << 20)});
    Measure("64 x 1 MiB, half compressible", big);

    std::vector<fixture::ZipItem> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back({"assets/dir" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".dat",
                        Text(200 + i % 300)});
    Measure("10,000 small files", many);
    return 0;
}
