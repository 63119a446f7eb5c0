#include "client/client_info.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "support/data.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "support/packed.h"
#include "support/shell.h"
#include "support/text.h"

namespace {

// The download and web-site hosts of the defaults are our own choice; the
// bracketed product part is literal text.
#define SKIN_DOWNLOAD_HOST L"download.kestrov.com"
#define SKIN_WEB_HOST L"www.kestrov.com"

struct KeyField {
    const wchar_t* key;
    size_t keyLength;
};

const wchar_t* const kKeys[] = {L"app",      L"name",   L"company", L"publisher", L"version",
                                L"homepage", L"source", L"config",  L"protocol",  L"copyright"};

bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

const wchar_t* Search(const wchar_t* from, const wchar_t* end, const wchar_t* what, size_t n) {
    for (const wchar_t* p = from; p + n <= end; ++p)
        if (std::wmemcmp(p, what, n) == 0) return p;
    return nullptr;
}

const wchar_t* FindChar(const wchar_t* from, const wchar_t* end, wchar_t c) {
    for (const wchar_t* p = from; p < end; ++p)
        if (*p == c) return p;
    return nullptr;
}

// Each key is looked up over the whole text on its own, so entry order does
// not matter and a later duplicate is ignored.
bool LookUp(const wchar_t* text, const wchar_t* end, const wchar_t* key, const wchar_t** value,
            size_t* valueLength) {
    size_t n = std::wcslen(key);
    const wchar_t* pos = text;
    for (;;) {
        const wchar_t* hit = Search(pos, end, key, n);
        if (!hit) return false;
        bool boundary = hit == pos || (hit > text && (hit[-1] == L';' || IsBlank(hit[-1])));
        const wchar_t* after = hit + n;
        bool follows = after < end && (*after == L'=' || IsBlank(*after));
        if (boundary && follows) {
            const wchar_t* eq = FindChar(after, end, L'=');
            const wchar_t* semi = eq ? FindChar(eq + 1, end, L';') : nullptr;
            if (semi) {
                *value = eq + 1;
                *valueLength = size_t(semi - eq - 1);
                return true;
            }
        }
        pos = hit + 1;
    }
}

}  // namespace

CClientInfo::CClientInfo() {
    app.Assign(L"test");
    name.Assign(L"产品名称");
    company.Assign(L"kestrov");
    version.Assign(L"1.0.0.0");
    main.Assign(L"client.exe");
    uninstaller.Assign(L"unins000.exe");
    updater.Assign(L"update.exe");
    storages.Assign(L"storages");
    source.Assign(L"http://" SKIN_DOWNLOAD_HOST L"/[产品]/app");
    archive.Assign(L"app.zip");
    config.Assign(L"http://" SKIN_DOWNLOAD_HOST L"/[产品]/update.xml");
    homepage.Assign(L"http://" SKIN_WEB_HOST);
    protocol.Assign(L"http://" SKIN_WEB_HOST L"/[产品]/protocol.html");
    copyright.Assign(L"Copyright © 2026 Kestrov网络 All Rights Reserved");
    publisher.Assign(L"Kestrov网络");
}

bool CClientInfo::ParseText(const wchar_t* text, size_t length) {
    if (!text) return false;
    const wchar_t* end = text + length;
    // A plain text also ends at its first NUL.
    if (const wchar_t* nul = FindChar(text, end, L'\0')) end = nul;
    FixedString<511>* fields[] = {nullptr, nullptr, nullptr, &publisher, nullptr,
                                  &homepage, &source, &config, &protocol, &copyright};
    FixedString<127>* shortFields[] = {&app, &name, &company, nullptr, &version};
    for (int i = 0; i < 10; ++i) {
        const wchar_t* value = nullptr;
        size_t valueLength = 0;
        if (!LookUp(text, end, kKeys[i], &value, &valueLength)) {
            value = L"";
            valueLength = 0;
        }
        if (i < 5 && shortFields[i])
            shortFields[i]->Assign(value, valueLength);
        else
            fields[i]->Assign(value, valueLength);
    }
    return true;
}

uint32_t CClientInfo::FormatText(wchar_t* out, uint32_t capacity) {
    if (!out || capacity == 0) return 0;
    const wchar_t* values[] = {app.c_str(),      name.c_str(),   company.c_str(),
                               publisher.c_str(), version.c_str(), homepage.c_str(),
                               source.c_str(),   config.c_str(), protocol.c_str(),
                               copyright.c_str()};
    const size_t lengths[] = {app.length(),      name.length(),   company.length(),
                              publisher.length(), version.length(), homepage.length(),
                              source.length(),   config.length(), protocol.length(),
                              copyright.length()};
    uint32_t written = 0;
    for (int i = 0; i < 10; ++i) {
        uint32_t left = capacity - written;
        int n = JoinWithSeparators(out + written, int(left), kKeys[i], values[i], int(lengths[i]),
                                   L'=', L';');
        if (n == 0) continue;  // does not fit: the entry is left out
        written += uint32_t(n);
        if (capacity - written >= 2) {
            out[written++] = L'\r';
            out[written++] = L'\n';
        }
    }
    return written + 1;
}

uint32_t CClientInfo::SaveToData(void* out, uint32_t capacity, bool packed) {
    if (!out || capacity == 0) return 0;
    if (packed) {
        if (capacity <= kPackedHeaderSize + 2) return 0;
        // The text and its NUL are formatted first, then packed.
        uint32_t chars = (capacity - kPackedHeaderSize) / 2;
        std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[chars]);
        if (!text) return 0;
        uint32_t n = FormatText(text.get(), chars - 1);
        if (n == 0) return 0;
        text[n - 1] = 0;
        return WritePacked(out, capacity, text.get(), 2 * n);
    }
    if (capacity < 4) return 0;
    auto* bytes = static_cast<uint8_t*>(out);
    bytes[0] = 0xFF;
    bytes[1] = 0xFE;
    uint32_t n = FormatText(reinterpret_cast<wchar_t*>(bytes + 2), (capacity - 2) / 2);
    if (n == 0) return 0;
    return 2 + 2 * (n - 1);
}

bool CClientInfo::LoadFromData(const void* data, uint32_t size) {
    if (!data) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (IsPacked(bytes, size)) {
        XData plain;
        if (!plain.Resize(size, true)) return false;
        uint32_t n = Unwrap(plain.data, plain.capacity, bytes, size);
        if (n == 0) return false;
        return ParseText(reinterpret_cast<const wchar_t*>(plain.data), n / 2);
    }
    uint32_t skip = (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) ? 2 : 0;
    // Copied to an aligned buffer: resource and archive bytes carry no
    // alignment promise, and an odd trailing byte is dropped.
    uint32_t chars = (size - skip) / 2;
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[chars + 1]);
    if (!text) return false;
    std::memcpy(text.get(), bytes + skip, size_t(chars) * 2);
    text[chars] = 0;
    return ParseText(text.get(), chars);
}

bool CClientInfo::LoadFromModule(HMODULE module, const wchar_t* type, uint16_t id) {
    uint32_t size = GetResource(nullptr, 0, module, type, id);
    if (size == 0) return false;
    XData bytes;
    if (!bytes.Resize(size + 1, true)) return false;
    uint32_t got = GetResource(bytes.data, size, module, type, id);
    if (got == 0) return false;
    return LoadFromData(bytes.data, got);
}

bool CClientInfo::LoadFromLibrary(const wchar_t* file, const wchar_t* type, uint16_t id) {
    if (!file) return false;
    UniqueModule module(LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return false;
    return LoadFromModule(module.get(), type, id);
}

bool CClientInfo::LoadFromFile(const wchar_t* path) {
    XData bytes;
    if (!bytes.ReadFromFile(path) || bytes.size == 0) return false;
    return LoadFromData(bytes.data, bytes.size);
}

uint32_t CClientInfo::SaveToFile(const wchar_t* path, bool packed) {
    if (!path) return 0;
    XData buffer;
    if (!buffer.Resize(kClientInfoBufferSize, true)) return 0;
    uint32_t n = SaveToData(buffer.data, buffer.capacity, packed);
    if (n == 0) return 0;
    return SaveReplacing(path, buffer.data, n) ? n : 0;
}

uint32_t CClientInfo::SaveToResource(const wchar_t* file, const wchar_t* type, uint16_t id,
                                     bool packed) {
    if (!file || !type) return 0;
    XData buffer;
    if (!buffer.Resize(kClientInfoBufferSize, true)) return 0;
    uint32_t n = SaveToData(buffer.data, buffer.capacity, packed);
    if (n == 0) return 0;
    // EndUpdateResource commits all or nothing; the owner discards on failure.
    UniqueResourceUpdate update(BeginUpdateResourceW(file, FALSE));
    if (!update) return 0;
    if (!UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(id), 2052, buffer.data, n)) return 0;
    HANDLE h = update.release();
    if (!EndUpdateResourceW(h, FALSE)) return 0;
    return n;
}

bool CClientInfo::GetMainPath(wchar_t* out) {
    if (!out) return false;
    const wchar_t* program = launch.empty() ? main.c_str() : launch.c_str();
    // A cut path would name some other program: refuse instead.
    return ComposePath(out, MAX_PATH, {path.c_str(), program});
}

bool CClientInfo::RunMain() {
    wchar_t target[MAX_PATH] = {};
    // Started directly, not through the shell: a "main" that names anything
    // but a program (a batch file, a document) is not run by the installer.
    return GetMainPath(target) && StartProgram(target, nullptr, true, nullptr);
}
