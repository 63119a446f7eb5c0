#include "support/data.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "support/handle.h"

namespace {

uint8_t* Allocate(uint32_t n) {
    if (n > 0xFFFFFFFFu - 2) return nullptr;
    auto* p = static_cast<uint8_t*>(std::malloc(size_t(n) + 2));
    if (p) p[n] = p[n + 1] = 0;
    return p;
}


bool ReadWholeFile(HANDLE file, XData& out, uint32_t limit) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || length.QuadPart > 0xFFFFFFF0LL) return false;
    uint32_t n = static_cast<uint32_t>(length.QuadPart);
    if (limit != 0 && n >= limit) n = limit;
    if (!out.Resize(n, true)) return n == 0;
    uint32_t done = 0;
    while (done < n) {
        DWORD got = 0;
        if (!ReadFile(file, out.data + done, n - done, &got, nullptr) || got == 0) {
            out.Free();
            return false;
        }
        done += got;
    }
    out.size = n;
    return true;
}


std::wstring Widen(const char* path) {
    // Narrow names are in the process code page, as the C runtime sees them.
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring w(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, path, -1, &w[0], n);
    return w;
}

}  // namespace

bool WriteWholeFile(HANDLE file, const uint8_t* bytes, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        DWORD put = 0;
        if (!WriteFile(file, bytes + done, count - done, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}

XData::~XData() { std::free(data); }

XData::XData(XData&& other) noexcept
    : capacity(std::exchange(other.capacity, 0)),
      size(std::exchange(other.size, 0)),
      data(std::exchange(other.data, nullptr)) {}

XData& XData::operator=(XData&& other) noexcept {
    if (this != &other) {
        Free();
        capacity = std::exchange(other.capacity, 0);
        size = std::exchange(other.size, 0);
        data = std::exchange(other.data, nullptr);
    }
    return *this;
}

void XData::Free() {
    std::free(data);
    data = nullptr;
    capacity = size = 0;
}

bool XData::Resize(uint32_t n, bool discard) {
    if (n == 0) {
        Free();
        return true;
    }
    if (n == capacity && data) {
        if (discard) size = 0;
        return true;
    }
    if (!data || discard) {
        Free();
        data = Allocate(n);
        if (!data) return false;
        capacity = n;
        size = 0;
        return true;
    }
    uint8_t* fresh = Allocate(n);
    if (!fresh) {
        Free();
        return false;
    }
    uint32_t keep = size < n ? size : n;
    std::memcpy(fresh, data, keep);
    std::free(data);
    data = fresh;
    capacity = n;
    size = keep;
    return true;
}

bool XData::Reserve(uint32_t n, bool discard) {
    if (capacity < n) return Resize(n, discard);
    return true;
}

uint32_t XData::SetSize(uint32_t n) {
    size = n < capacity ? n : capacity;
    return size;
}

bool XData::ReadFromFile(const wchar_t* path, uint32_t limit) {
    Free();
    if (!path) return false;
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    return ReadWholeFile(file.get(), *this, limit);
}

bool XData::ReadFromFile(const char* path, uint32_t limit) {
    if (!path) {
        Free();
        return false;
    }
    return ReadFromFile(Widen(path).c_str(), limit);
}

bool XData::WriteToFile(const wchar_t* path, uint32_t limit) const {
    if (!data || !path) return false;
    uint32_t n = (limit != 0 && limit < size) ? limit : size;
    return SaveBytes(path, data, n);
}

bool XData::WriteToFile(const char* path, uint32_t limit) const {
    if (!path) return false;
    return WriteToFile(Widen(path).c_str(), limit);
}

bool SaveBytes(const wchar_t* path, const void* bytes, uint32_t count) {
    if (!path || !bytes) return false;
    UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return WriteWholeFile(file.get(), static_cast<const uint8_t*>(bytes), count);
}
