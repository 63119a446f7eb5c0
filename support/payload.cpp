#include "support/payload.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "support/data.h"
#include "support/handle.h"
#include "support/packed.h"
#include "support/zip.h"

bool PayloadZipPath(const wchar_t* executable, wchar_t* out, size_t capacity) {
    if (!executable || !out || capacity == 0) return false;
    const wchar_t* dot = std::wcsrchr(executable, L'.');
    if (!dot) return false;
    size_t stem = size_t(dot - executable) + 1;
    if (stem + 4 > capacity) return false;
    std::wmemcpy(out, executable, stem);
    std::wmemcpy(out + stem, L"zip", 4);
    return true;
}

// Where the resource's bytes lie in the file. A module loaded as a data file
// is the file mapped flat (the handle's low bits mark that kind); the running
// program itself comes back as its image, laid out by section, so the
// section table translates. Confirmed against the file: where the layout
// were anything else, the payload is read from memory instead.
uint64_t ResourceFileOffset(const wchar_t* executable, HMODULE module, const uint8_t* mapped,
                      uint32_t size) {
    const auto handle = reinterpret_cast<uintptr_t>(module);
    const auto* base = reinterpret_cast<const uint8_t*>(handle & ~uintptr_t(3));
    if (mapped < base) return PayloadBytes::kNotInFile;
    uint64_t offset = uint64_t(mapped - base);
    if ((handle & 3) == 0) {
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        bool found = false;
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections && !found; ++i, ++section) {
            const uint64_t rva = offset;
            if (rva >= section->VirtualAddress &&
                rva + size <= uint64_t(section->VirtualAddress) + section->SizeOfRawData) {
                offset = section->PointerToRawData + (rva - section->VirtualAddress);
                found = true;
            }
        }
        if (!found) return PayloadBytes::kNotInFile;
    }
    uint8_t head[64];
    const uint32_t n = size < sizeof(head) ? size : uint32_t(sizeof(head));
    UniqueFile file(CreateFileW(executable, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED where = {};
    where.Offset = DWORD(offset);
    where.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), head, n, &got, &where) || got != n ||
        std::memcmp(head, mapped, n) != 0)
        return PayloadBytes::kNotInFile;
    return offset;
}

namespace {

// True when the resource is there (even damaged: then the bytes stay empty).
bool MapPayloadResource(const wchar_t* executable, PayloadBytes& bytes) {
    bytes.module.reset(LoadLibraryExW(executable, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    uint32_t size = 0;
    const uint8_t* mapped =
        bytes.module ? FindResourceBytes(bytes.module.get(), L"tail", 1, &size) : nullptr;
    if (!mapped) {
        bytes.module.reset();
        return false;
    }
    if (!IsPacked(mapped, size)) {
        bytes.data = mapped;
        bytes.size = size;
        bytes.fileOffset = ResourceFileOffset(executable, bytes.module.get(), mapped, size);
        return true;
    }
    if (bytes.copy.Resize(size, true)) bytes.copy.SetSize(Unwrap(bytes.copy.data, size, mapped, size));
    bytes.module.reset();
    // The empty container marks a package whose payload lies beside it.
    if (bytes.copy.size == 0) return false;
    bytes.data = bytes.copy.data;
    bytes.size = bytes.copy.size;
    return true;
}

}  // namespace

bool OpenPayloadOf(const wchar_t* executable, XZip& zip, PayloadBytes& bytes) {
    if (!executable) return false;
    if (MapPayloadResource(executable, bytes)) {
        // A resource that is there but damaged is final: the file beside the
        // program must not take over from it.
        return bytes.size <= UINT32_MAX &&
               zip.OpenFromMemory(bytes.data, uint32_t(bytes.size), GetArchivePassword());
    }
    wchar_t beside[1024];
    if (!PayloadZipPath(executable, beside, 1024)) return false;
    return zip.OpenFromFile(beside, GetArchivePassword());
}

bool OpenPayload(XZip& zip, PayloadBytes& bytes) {
    wchar_t path[1024] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, 1023);
    if (n == 0 || n >= 1023) return false;
    path[n] = 0;
    return OpenPayloadOf(path, zip, bytes);
}
