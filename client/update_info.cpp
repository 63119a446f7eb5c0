#include "client/update_info.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>

#include "support/data.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "support/text.h"

namespace {

using View = std::wstring_view;

// Copies a value into a fixed field, cut to leave room for the NUL.
template <size_t N>
void CopyField(wchar_t (&field)[N], View value) {
    size_t n = value.size() < N - 1 ? value.size() : N - 1;
    std::wmemcpy(field, value.data(), n);
    field[n] = 0;
}

// The decimal number at the start of a value, as atoi reads it.
int32_t LeadingNumber(View value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == L' ' || value[i] == L'\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == L'-' || value[i] == L'+')) negative = value[i++] == L'-';
    int64_t n = 0;
    while (i < value.size() && value[i] >= L'0' && value[i] <= L'9') {
        n = n * 10 + (value[i++] - L'0');
        if (n > 0x80000000LL) n = 0x80000000LL;  // saturate instead of wrapping
    }
    if (negative) n = -n;
    if (n > INT32_MAX) n = INT32_MAX;
    return static_cast<int32_t>(n);
}

// Finds the value of  name="...", searched from `from` and valid only when
// the prefix starts before `tagEnd`. Answers 1 found, 0 absent, -1 when its
// closing quote is missing or beyond the tag.
int FindAttribute(View text, size_t from, size_t tagEnd, const wchar_t* name, View* value) {
    std::wstring prefix = L" ";
    prefix += name;
    prefix += L"=\"";
    size_t at = text.find(prefix, from);
    if (at == View::npos || at >= tagEnd) return 0;
    size_t start = at + prefix.size();
    size_t quote = text.find(L'"', start);
    if (quote == View::npos || quote > tagEnd) return -1;
    *value = text.substr(start, quote - start);
    return 1;
}

// Appends to a bounded output; false once it would not fit (NUL kept free).
struct Writer {
    wchar_t* out;
    uint32_t capacity;
    uint32_t length = 0;
    bool Put(View s) {
        if (s.size() >= capacity - length) return false;
        std::wmemcpy(out + length, s.data(), s.size());
        length += static_cast<uint32_t>(s.size());
        return true;
    }
    bool Attribute(const wchar_t* name, View value) {
        return Put(L" ") && Put(name) && Put(L"=\"") && Put(value) && Put(L"\"");
    }
    bool Attribute(const wchar_t* name, int32_t number) {
        wchar_t digits[16];
        std::swprintf(digits, 16, L"%d", number);
        return Attribute(name, View(digits));
    }
};

std::wstring WithTrailing(const wchar_t* text, wchar_t separator) {
    std::wstring s = text ? text : L"";
    if (!s.empty() && s.back() != separator) s.push_back(separator);
    return s;
}

}  // namespace

CUpdateInfo::CUpdateInfo() { std::memset(items, 0, sizeof(items)); }

CUpdateInfo::~CUpdateInfo() { Clear(); }

void CUpdateInfo::Clear() {
    for (uint32_t i = 0; i < count; ++i) {
        delete items[i];
        items[i] = nullptr;
    }
    count = 0;
    items[0] = nullptr;
}

UpdateItem* CUpdateInfo::GetItem(uint32_t index) { return index < count ? items[index] : nullptr; }

int CUpdateInfo::AddItem(UpdateItem* item) {
    if (!item || count >= kUpdateItemsMax) return -1;
    items[count] = item;
    items[count + 1] = nullptr;
    return static_cast<int>(count++);
}

int CUpdateInfo::AddFile(const wchar_t* file, int32_t size, const wchar_t* md5, const wchar_t* url) {
    // A negative size can only come from a file too large for the record.
    if (!file || !md5 || !url || size <= 0) return -1;
    auto* item = new (std::nothrow) UpdateItem();
    if (!item) return -1;
    item->action = kUpdateAdd;
    item->size = size;
    CopyField(item->file, file);
    CopyField(item->md5, md5);
    CopyField(item->url, url);
    int index = AddItem(item);
    if (index < 0) delete item;
    return index;
}

bool CUpdateInfo::ParseXml(const wchar_t* text, size_t length) {
    if (!text) return false;
    View all = length == SIZE_MAX ? View(text) : View(text, length);
    // The text ends at its first NUL, as a C string would.
    all = all.substr(0, all.find(L'\0'));

    size_t list = all.find(L"<list");
    if (list == View::npos) return false;
    size_t tagEnd = all.find(L'>', list + 5);
    if (tagEnd == View::npos) return false;
    View version;
    int found = FindAttribute(all, list, tagEnd, L"version", &version);
    if (found < 0) return false;
    if (found > 0) this->version.Assign(std::wstring(version).c_str());

    size_t cursor = tagEnd + 1;
    while (cursor < all.size()) {
        size_t open = all.find(L"<item", cursor);
        if (open == View::npos) break;
        size_t end = all.find(L'>', open + 5);
        if (end == View::npos) break;
        auto* item = new (std::nothrow) UpdateItem();
        if (!item) return false;
        View value;
        bool malformed = false;
        const wchar_t* names[] = {L"action", L"file", L"size", L"md5", L"url"};
        for (int i = 0; i < 5 && !malformed; ++i) {
            found = FindAttribute(all, open + 5, end, names[i], &value);
            if (found < 0) malformed = true;
            if (found <= 0) continue;
            switch (i) {
                case 0: item->action = LeadingNumber(value); break;
                case 1: CopyField(item->file, value); break;
                case 2: item->size = LeadingNumber(value); break;
                case 3: CopyField(item->md5, value); break;
                case 4: CopyField(item->url, value); break;
            }
        }
        if (malformed) {
            delete item;
            break;
        }
        if (AddItem(item) < 0) {
            delete item;
            return false;
        }
        cursor = end + 1;
    }
    return true;
}

bool CUpdateInfo::ParseData(const void* bytes, uint32_t size) {
    if (!bytes) return false;
    auto* p = static_cast<const uint8_t*>(bytes);
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        p += 2;
        size -= 2;
    }
    // Copied so the text is aligned and ends even when size is odd.
    std::wstring text(size / 2, L'\0');
    if (!text.empty()) std::memcpy(&text[0], p, text.size() * sizeof(wchar_t));
    return ParseXml(text.c_str(), text.size());
}

bool CUpdateInfo::LoadFromFile(const wchar_t* path) {
    if (!path) return false;
    XData data;
    if (!data.ReadFromFile(path)) return false;
    return ParseData(data.data ? data.data : reinterpret_cast<const uint8_t*>(L""), data.size);
}

uint32_t CUpdateInfo::FormatXml(wchar_t* out, uint32_t capacity) {
    if (!out || capacity == 0) return 0;
    if (uint64_t(capacity) < uint64_t(kUpdateLineCapacity) * count) return 0;
    Writer w{out, capacity};
    bool ok = w.Put(L"<list") && w.Attribute(L"version", View(version.c_str())) && w.Put(L">\r\n");
    for (uint32_t i = 0; ok && i < count; ++i) {
        const UpdateItem* item = items[i];
        if (!item) continue;
        ok = w.Put(L"<item") && w.Attribute(L"action", item->action) &&
             w.Attribute(L"file", View(item->file)) && w.Attribute(L"size", item->size) &&
             w.Attribute(L"md5", View(item->md5)) && w.Attribute(L"url", View(item->url)) &&
             w.Put(L"/>\n\r");
    }
    ok = ok && w.Put(L"</list>\n\r");
    // Only a list with no entries can get here with a tiny capacity.
    if (!ok) {
        out[0] = 0;
        return 0;
    }
    out[w.length] = 0;
    return w.length + 1;
}

bool CUpdateInfo::SaveToFile(const wchar_t* path) {
    if (!path) return false;
    // The fixed buffer holds 942 entries; a full list needs more.
    uint64_t need = uint64_t(kUpdateLineCapacity) * count + 256;
    uint32_t characters = need > kUpdateSaveCapacity ? uint32_t(need) : kUpdateSaveCapacity;
    XData buffer;
    if (!buffer.Resize(2 + characters * 2, true)) return false;
    std::memset(buffer.data, 0, buffer.capacity);
    buffer.data[0] = 0xFF;
    buffer.data[1] = 0xFE;
    uint32_t written = FormatXml(reinterpret_cast<wchar_t*>(buffer.data + 2), characters);
    if (written == 0) return false;
    return SaveReplacing(path, buffer.data, 2 * written);
}

int CUpdateInfo::AddDirectory(const wchar_t* baseUrl, const wchar_t* directory, const wchar_t* prefix) {
    if (!baseUrl || !*baseUrl || !directory || !*directory) return 0;
    // The address is written ready to request: the base as given, with
    // only what a URL cannot hold escaped, and every name fully escaped.
    std::wstring base = WithTrailing(EncodeUrl(baseUrl).c_str(), L'/');
    std::wstring local = WithTrailing(directory, L'\\');
    std::wstring relative = WithTrailing(prefix, L'\\');

    int found = 0;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((local + L"*").c_str(), &data));
    if (!find) return 0;
    do {
        std::wstring name = data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name == L"." || name == L"..") continue;
            found += AddDirectory((base + EncodeUrlPath(name.c_str())).c_str(),
                                  (local + name).c_str(), (relative + name).c_str());
            continue;
        }
        wchar_t digest[33] = {};
        if (!DigestOfFile(digest, (local + name).c_str(), true)) digest[0] = 0;
        uint64_t size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        int32_t recorded = size > 0x7FFFFFFF ? -1 : int32_t(size);
        AddFile((relative + name).c_str(), recorded, digest,
                (base + EncodeUrlPath(name.c_str())).c_str());
        ++found;
    } while (FindNextFileW(find.get(), &data));
    return found;
}
