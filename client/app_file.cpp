#include "client/app_file.h"

#include <windows.h>

#include <cwchar>
#include <new>

#include "support/data.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "support/shell.h"

CAppFile::~CAppFile() { Clear(); }

int CAppFile::AddEntry(const wchar_t* relativePath) {
    if (!relativePath || !relativePath[0]) return -1;
    if (count >= kAppFileMaxEntries) return -1;
    auto* entry = new (std::nothrow) FixedString<511>(relativePath);
    if (!entry) return -1;
    entries[count] = entry;
    ++count;
    entries[count] = nullptr;
    return static_cast<int>(count - 1);
}

void CAppFile::Clear() {
    for (uint32_t i = 0; i < count; ++i) {
        delete entries[i];
        entries[i] = nullptr;
    }
    count = 0;
    entries[0] = nullptr;
}

// Every entry is written: the record is bounded by its entry count (at most
// 10,000 x 512 characters), and a record that drops names would make the
// uninstaller leave those files behind.
bool SaveUninstallRecord(const CAppFile& record, const wchar_t* path) {
    if (!path || !path[0]) return false;
    size_t characters = 0;
    for (uint32_t i = 0; i < record.count && i < kAppFileMaxEntries; ++i)
        if (record.entries[i]) characters += record.entries[i]->length() + 1;

    XData buffer;
    if (!buffer.Resize(static_cast<uint32_t>(2 + characters * sizeof(wchar_t)), true)) return false;
    uint8_t* out = buffer.data;
    out[0] = 0xFF;
    out[1] = 0xFE;
    size_t at = 2;
    for (uint32_t i = 0; i < record.count && i < kAppFileMaxEntries; ++i) {
        const FixedString<511>* entry = record.entries[i];
        if (!entry) continue;
        for (size_t c = 0; c <= entry->length(); ++c) {
            wchar_t ch = c < entry->length() ? entry->c_str()[c] : L'|';
            out[at++] = static_cast<uint8_t>(ch & 0xFF);
            out[at++] = static_cast<uint8_t>(ch >> 8);
        }
    }
    buffer.SetSize(static_cast<uint32_t>(at));

    return SaveReplacing(path, buffer.data, buffer.size);
}

bool LoadUninstallRecord(CAppFile& record, const wchar_t* path) {
    if (!path || !path[0]) return false;
    XData bytes;
    // At most every entry at full length with its separator, and the mark.
    constexpr uint32_t kLimit = 2 + kAppFileMaxEntries * 512 * sizeof(wchar_t);
    if (!bytes.ReadFromFile(path, kLimit + 1) || bytes.size > kLimit) return false;
    uint32_t at = bytes.size >= 2 && bytes.data[0] == 0xFF && bytes.data[1] == 0xFE ? 2 : 0;
    wchar_t name[512];
    size_t length = 0;
    bool tooLong = false;  // a cut name would stand for another file
    for (; at + 1 < bytes.size; at += 2) {
        wchar_t c = static_cast<wchar_t>(bytes.data[at] | bytes.data[at + 1] << 8);
        if (c != L'|') {
            if (length < 511) name[length++] = c;
            else tooLong = true;
            continue;
        }
        name[length] = 0;
        if (length > 0 && !tooLong) record.AddEntry(name);
        length = 0;
        tooLong = false;
    }
    return true;
}

