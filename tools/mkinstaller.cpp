// mkinstaller: turns the installer stub, a configuration, a skin folder and
// a client (folder or plain ZIP) into a single-file installer, or writes the
// update.xml manifest of a client folder for the download way.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/client_info.h"
#include "client/update_info.h"
#include "support/data.h"
#include "support/replace_file.h"
#include "support/entry_name.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/locale.h"
#include "support/packed.h"
#include "support/payload.h"
#include "support/shell.h"
#include "support/text.h"
#include "support/zip.h"
#include "tools/archive_writer.h"
#include "tools/skin_check.h"
#include "tools/skin_preview.h"

namespace {

// The installer's records (manifest, installed-file list) hold this many.
constexpr size_t kMaxEntries = kUpdateItemsMax;
// Characters of names the installed-file record ("uninst.dat") can hold.
constexpr uint64_t kMaxRecordCharacters = 1300000;
// Above this the installer (32-bit) could fail to map the resource within its
// address space.
constexpr uint64_t kMaxResourcePayload = 256ull << 20;

// --- output: the console gets wide text; pipes and files get UTF-8, which
// is what a Linux build script reading Wine's output expects.
void Write(DWORD stream, const std::wstring& text) {
    HANDLE h = GetStdHandle(stream);
    if (!h || h == INVALID_HANDLE_VALUE) return;
    DWORD mode, done;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), DWORD(text.size()), &done, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
}
void Out(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text + L"\n"); }
void Warn(const std::wstring& text) { Write(STD_ERROR_HANDLE, L"mkinstaller: warning: " + text + L"\n"); }
int Fail(const ToolError& e) {
    Write(STD_ERROR_HANDLE, L"mkinstaller: error: " + (e.file.empty() ? L"" : e.file + L": ") + e.reason + L"\n");
    return 1;
}

const wchar_t* kUsage =
    L"usage:\n"
    L"  mkinstaller --stub installer.exe --config app.txt --skin DIR\n"
    L"              [--client DIR | --client-zip FILE] [--plain-client] [--base-url URL]\n"
    L"              [--zip-beside]\n"
    L"              --out setup.exe\n"
    L"  mkinstaller --manifest --client DIR --base-url URL [--config app.txt | --version V]\n"
    L"              --out update.xml\n"
    L"  mkinstaller --render-skin DIR --stub installer.exe --config app.txt [--install-dir PATH]\n"
    L"              --out FOLDER\n"
    L"\n"
    L"--config     configuration text (UTF-16LE or UTF-8, with or without mark) naming at\n"
    L"             least app, name, company and version\n"
    L"--skin       folder whose files go to the payload's root; checked as --check-skin does\n"
    L"--client     folder of the client's files: packed as the inner archive, with update.xml\n"
    L"--client-zip plain ZIP of the client's files, packed with names as stored\n"
    L"--plain-client     the client's files without the archive password: they install\n"
    L"             about 1.7 times as fast (decrypting is most of an installation's work),\n"
    L"             and anyone can unpack them; the skin, theme and manifest stay protected\n"
    L"--base-url   download address of the client's files in update.xml (default: the\n"
    L"             configuration's source); the addresses are written percent-encoded\n"
    L"--zip-beside write the payload as the .zip beside the output instead of into it\n"
    L"--max-resource-mb  largest payload carried as a resource (default and most: 256)\n"
    L"--render-skin      draws the installer window with the skin in each state (ready,\n"
    L"             unticked, installing, finished, failed) into FOLDER\\<state>.png\n"
    L"--install-dir      the folder the pictures' path field shows (default: Program Files\\\n"
    L"             company\\app, as a first installation proposes)\n";

struct Options {
    std::wstring stub, config, skin, client, clientZip, baseUrl, out, version, maxResource, installDir;
    uint64_t maxResourceBytes = kMaxResourcePayload;
    bool zipBeside = false;
    bool plainClient = false;
    bool manifest = false;
    bool render = false;
};

std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!n) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    full.resize(n);
    return full;
}

bool IsFolder(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Parent(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? L"." : path.substr(0, cut);
}

std::wstring Number(uint64_t n) { return std::to_wstring(n); }

// --- the configuration text

bool DecodeConfig(const XData& data, std::wstring* text) {
    const uint8_t* p = data.data;
    uint32_t n = data.size;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        text->assign(reinterpret_cast<const wchar_t*>(p + 2), (n - 2) / 2);
        return true;
    }
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        n -= 3;
    } else if (n >= 2 && n % 2 == 0) {
        // Unmarked UTF-16LE: ASCII keys leave zero high bytes.
        size_t zeros = 0;
        for (uint32_t i = 1; i < n; i += 2) zeros += p[i] == 0;
        if (zeros * 2 >= n / 2) {
            text->assign(reinterpret_cast<const wchar_t*>(p), n / 2);
            return true;
        }
    }
    if (n == 0) {
        text->clear();
        return true;
    }
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(p),
                                    int(n), nullptr, 0);
    if (count <= 0) return false;
    text->assign(count, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(p), int(n), &(*text)[0], count);
    return true;
}

bool LoadConfig(const std::wstring& path, CClientInfo* config, ToolError* error) {
    XData data;
    if (!IsFile(path) || !data.ReadFromFile(path.c_str())) {
        *error = {path, L"cannot be read: " + LastErrorText(GetLastError())};
        return false;
    }
    std::wstring text;
    if (!DecodeConfig(data, &text)) {
        *error = {path, L"is neither UTF-16LE nor UTF-8 text"};
        return false;
    }
    config->ParseText(text.c_str(), text.size());
    std::wstring missing;
    const std::pair<const wchar_t*, const wchar_t*> required[] = {
        {L"app", config->GetApp()},
        {L"name", config->GetName()},
        {L"company", config->GetCompany()},
        {L"version", config->GetVersion()},
    };
    for (const auto& r : required)
        if (!*r.second) missing += (missing.empty() ? L"" : L", ") + std::wstring(r.first);
    if (!missing.empty()) {
        *error = {path, L"does not parse as a configuration: no value for " + missing +
                            L" (entries are key=value; each ended by \";\")"};
        return false;
    }
    return true;
}

// --- folders

struct TreeEntry {
    std::wstring relative;  // "\" separated; folders without trailing separator
    bool folder;
    uint64_t size;
};

// Sorted so that the same folder always gives the same archive. Stops once
// more entries than the installer records were seen (folders count when the
// client is packed, not for a manifest); the caller then refuses.
bool ListTree(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>* out,
              ToolError* error, bool countFolders = true) {
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return true;
        *error = {folder, L"cannot be listed: " + LastErrorText(code)};
        return false;
    }
    std::vector<TreeEntry> here;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        here.push_back({relative.empty() ? name : relative + L"\\" + name, isFolder,
                        uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow});
    } while (FindNextFileW(find.get(), &data));
    std::sort(here.begin(), here.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.relative < b.relative; });
    for (const TreeEntry& e : here) {
        out->push_back(e);
        size_t counted = countFolders ? out->size()
                                      : size_t(std::count_if(out->begin(), out->end(),
                                                             [](const TreeEntry& t) { return !t.folder; }));
        if (counted > kMaxEntries) return true;
        if (e.folder && !ListTree(root, e.relative, out, error, countFolders)) return false;
    }
    return true;
}

std::string ZipName(const std::wstring& relative, bool folder) {
    std::wstring name = relative;
    std::replace(name.begin(), name.end(), L'\\', L'/');
    if (folder) name += L'/';
    return ToUtf8(name);
}

// What the installer's records can hold, checked before anything is written.
bool CheckClientEntries(const std::wstring& where, size_t count, uint64_t recordCharacters,
                        ToolError* error) {
    if (count == 0) {
        *error = {where, L"holds no files; the installer would never finish"};
        return false;
    }
    if (count > kMaxEntries) {
        *error = {where, L"has more than " + Number(kMaxEntries) +
                             L" files and folders; the installer records at most " +
                             Number(kMaxEntries) + L" entries and would forget the rest"};
        return false;
    }
    if (recordCharacters > kMaxRecordCharacters) {
        *error = {where, L"has names too long in total (" + Number(recordCharacters) +
                             L" characters); the installed-file record holds " +
                             Number(kMaxRecordCharacters)};
        return false;
    }
    return true;
}

bool CheckEntryName(const std::wstring& where, const std::wstring& name, uint64_t size,
                    ToolError* error) {
    if (name.size() >= size_t(kZipNameCapacity)) {
        *error = {where + L"\\" + name, L"has a path of " + Number(name.size()) +
                                             L" characters; the installer handles at most " +
                                             Number(kZipNameCapacity - 1)};
        return false;
    }
    if (size > 0x7FFFFFFFull) {
        *error = {where + L"\\" + name, L"is larger than 2 GiB - 1 byte, the installer's limit"};
        return false;
    }
    return true;
}

bool CheckManifestFits(const CUpdateInfo& manifest, const std::wstring& where, ToolError* error) {
    for (uint32_t i = 0; i < manifest.count; ++i) {
        const UpdateItem* item = manifest.items[i];
        if (wcslen(item->file) >= 511 || wcslen(item->url) >= 767) {
            *error = {where, std::wstring(L"the manifest entry ") + item->file +
                                 L" has a path (511) or percent-encoded address (767) too long for update.xml"};
            return false;
        }
    }
    return true;
}

bool CheckBaseUrl(const std::wstring& url, ToolError* error) {
    if (url.find_first_of(L"\">") != std::wstring::npos) {
        *error = {L"--base-url", L"must not contain '\"' or '>' (update.xml has no escapes)"};
        return false;
    }
    return true;
}

// --- inner archive from a folder

// The client's entries carry the archive password unless the publisher
// chose speed: ZipCrypto runs at about 100 MB/s a core whatever the code,
// since every byte's keys wait for the byte before.
const char* ClientPassword(const Options& o) { return o.plainClient ? nullptr : GetArchivePassword(); }

bool PackFolder(const std::wstring& root, const std::wstring& baseUrl, const char* password,
                ArchiveWriter& inner, CUpdateInfo* manifest, ToolError* error) {
    std::vector<TreeEntry> tree;
    if (!ListTree(root, L"", &tree, error)) return false;
    uint64_t record = 0;
    for (const TreeEntry& e : tree) {
        if (!CheckEntryName(root, e.relative, e.folder ? 0 : e.size, error)) return false;
        record += e.relative.size() + 1 + (e.folder ? 1 : 0);
    }
    if (!CheckClientEntries(root, tree.size(), record, error)) return false;

    EntryOptions options;
    options.password = password;
    for (const TreeEntry& e : tree) {
        bool ok = e.folder ? inner.AddFolder(ZipName(e.relative, true), options, error)
                           : inner.AddFile(ZipName(e.relative, false), root + L"\\" + e.relative,
                                           options, nullptr, error);
        if (!ok) return false;
    }
    manifest->AddDirectory(baseUrl.c_str(), root.c_str(), nullptr);
    return CheckManifestFits(*manifest, root, error);
}

// --- inner archive from a plain ZIP

bool IsZipFolder(const ZipEntryRecord& item) {
    return !item.name.empty() && (item.name.back() == '/' || item.name.back() == '\\');
}

// The name the installer writes the entry under.
std::wstring SafeZipName(const ZipEntryRecord& item) {
    wchar_t safe[kZipNameCapacity];
    SafeEntryName(item.name.data(), item.name.size(), safe);
    return safe;
}

// Refuses an entry the installer cannot take and warns of one it will skip
// or rename; adds the characters its name takes in the installed-file record.
bool CheckZipItem(const std::wstring& source, const ZipEntryRecord& item, uint64_t* record,
                  ToolError* error) {
    std::wstring shown = FromUtf8(item.name);
    if (item.flags & 1) {
        *error = {source, L"entry " + shown + L" is encrypted; give a plain ZIP"};
        return false;
    }
    if (!CheckEntryName(source, shown, item.uncompressedSize, error)) return false;
    const std::wstring safe = SafeZipName(item);
    if (!IsContainedEntryName(safe.c_str()))
        Warn(source + L": entry " + shown +
             L" cannot be installed (a device name or a name Windows refuses); the installer "
             L"skips it, and update.xml leaves it out");
    else if (shown != safe)
        Warn(source + L": entry " + shown + L" will be installed as " + safe);
    *record += safe.size() + 1;
    return true;
}

// First pass: names, sizes and limits, before anything is written. items[i]
// is the archive's entry i.
bool ListZipItems(XZip& zip, const std::wstring& source, std::vector<ZipEntryRecord>* items,
                  ToolError* error) {
    uint64_t record = 0;
    for (int i = 0; i < zip.Count(); ++i) {
        ZipEntryRecord item;
        if (!zip.GetEntryRecord(i, &item)) {
            *error = {source, L"has a damaged central directory"};
            return false;
        }
        if (!CheckZipItem(source, item, &record, error)) return false;
        items->push_back(std::move(item));
    }
    return CheckClientEntries(source, items->size(), record, error);
}

// The entry keeps its date, attributes and name encoding in the inner archive.
EntryOptions ZipItemOptions(const ZipEntryRecord& item, const char* password) {
    EntryOptions options;
    options.password = password;
    options.dosDate = item.dosDate;
    options.externalAttributes = item.externalAttributes;
    options.versionMadeBy = item.versionMadeBy;
    options.utf8Name = (item.flags & 0x800) != 0;
    return options;
}

// Where the pieces of a client entry go: its digest and the inner archive.
struct CopySink {
    ArchiveWriter* inner;
    ToolError* error;
    XMD5 md5;
};

bool CopyPiece(const void* bytes, uint32_t count, void* context) {
    auto* sink = static_cast<CopySink*>(context);
    sink->md5.Update(static_cast<const uint8_t*>(bytes), count);
    return sink->inner->WritePiece(bytes, count, sink->error);
}

// Copies entry index into the inner archive; for a file, digest receives
// the MD5 of its bytes.
bool CopyZipItem(XZip& zip, const std::wstring& source, int index, const ZipEntryRecord& item,
                 const char* password, ArchiveWriter& inner, uint8_t digest[16], ToolError* error) {
    std::wstring shown = FromUtf8(item.name);
    EntryOptions options = ZipItemOptions(item, password);
    if (IsZipFolder(item)) return inner.AddFolder(item.name, options, error);
    if (!inner.BeginEntry(item.name, item.crc, item.uncompressedSize, options, error)) return false;
    CopySink sink{&inner, error, XMD5()};
    const std::wstring where = source + L" (" + shown + L")";
    using Failure = XZip::ReadFailure;
    const Failure failure = zip.Read(index, CopyPiece, &sink) ? Failure::kNone : zip.LastReadFailure();
    switch (failure) {
        case Failure::kCancelled:
            return false;  // the writer failed and said why
        case Failure::kNoEntry:
            inner.AbandonEntry();
            *error = {source, L"entry " + shown + L" cannot be found again"};
            return false;
        case Failure::kCannotOpen:
            inner.AbandonEntry();
            *error = {source, L"entry " + shown + L" cannot be read (unsupported method?)"};
            return false;
        case Failure::kData:
            inner.AbandonEntry();
            *error = {where, L"cannot be read: " + LastErrorText(GetLastError())};
            return false;
        default:
            break;
    }
    // A short entry fails here, as one that changed while it was read.
    if (!inner.EndEntry(where, error)) return false;
    if (failure == Failure::kCrc) {
        *error = {source, L"entry " + shown + L" is damaged (CRC error)"};
        return false;
    }
    sink.md5.Final(digest);
    return true;
}

// The manifest names what the installer will write: the safe name.
void AddZipItemToManifest(const ZipEntryRecord& item, const uint8_t digest[16], const std::wstring& baseUrl,
                          CUpdateInfo* manifest) {
    const std::wstring safe = SafeZipName(item);
    std::wstring file = safe, url = safe;
    std::replace(file.begin(), file.end(), L'/', L'\\');
    std::replace(url.begin(), url.end(), L'\\', L'/');
    wchar_t hex[33] = {};
    ToHex(hex, 32, digest, 16, true);
    // A name the installer refuses would only be a failed download.
    if (!IsContainedFileName(file.c_str())) return;
    // Written ready to request, as AddDirectory writes it.
    std::wstring base = EncodeUrl(baseUrl.c_str());
    if (!base.empty() && base.back() != L'/') base += L'/';
    manifest->AddFile(file.c_str(), int32_t(item.uncompressedSize), hex,
                      (base + EncodeUrlPath(url.c_str())).c_str());
}

bool PackZip(const std::wstring& source, const std::wstring& baseUrl, const char* password,
             ArchiveWriter& inner, CUpdateInfo* manifest, ToolError* error) {
    // A plain ZIP: no password, and an encrypted entry is refused above.
    XZip zip;
    if (!zip.OpenFromFile(source.c_str(), nullptr)) {
        *error = {source, zip.DirectoryDamaged() ? L"has a damaged central directory"
                          : IsFile(source)       ? L"is not a ZIP archive"
                                                 : L"cannot be read: " + LastErrorText(GetLastError())};
        return false;
    }
    const size_t count = size_t(zip.Count());
    if (count > kMaxEntries || count == 0)
        return CheckClientEntries(source, count > kMaxEntries ? kMaxEntries + 1 : 0, 0, error);
    std::vector<ZipEntryRecord> items;
    if (!ListZipItems(zip, source, &items, error)) return false;
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t digest[16];
        if (!CopyZipItem(zip, source, int(i), items[i], password, inner, digest, error)) return false;
        if (!IsZipFolder(items[i])) AddZipItemToManifest(items[i], digest, baseUrl, manifest);
    }
    return CheckManifestFits(*manifest, source, error);
}

// --- resources of the output executable

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

std::vector<WORD> ResourceLanguages(const std::wstring& exe, const wchar_t* type) {
    std::vector<WORD> languages;
    UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (module)
        EnumResourceLanguagesW(module.get(), type, MAKEINTRESOURCEW(1), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

constexpr WORD kResourceLanguage = 2052;

// An empty container: reads as "no payload", so the installer looks for the
// archive beside it.
const uint8_t kNoPayload[kPackedHeaderSize] = {0xFF, 0xFD, 0xFD, 0xFF};

bool UpdateLanguages(const std::wstring& exe, const wchar_t* type, const std::vector<WORD>& languages,
                     const void* data, DWORD size, ToolError* error) {
    UniqueResourceUpdate update(BeginUpdateResourceW(exe.c_str(), FALSE));
    if (!update) {
        *error = {exe, L"cannot be updated: " + LastErrorText(GetLastError())};
        return false;
    }
    for (WORD language : languages)
        UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(1), language, const_cast<void*>(data), size);
    if (!EndUpdateResourceW(update.release(), FALSE)) {
        *error = {exe, L"cannot be updated: " + LastErrorText(GetLastError())};
        return false;
    }
    return true;
}

// Removes the stub's own copies of a resource in every language but keep,
// so that an installer made from an earlier installer keeps nothing of its
// configuration or payload. Wine ignores deletions; there the copies are
// overwritten with standIn instead.
bool DropResource(const std::wstring& exe, const wchar_t* type, int keep, const void* standIn,
                  DWORD standInSize, ToolError* error) {
    auto others = [&] {
        std::vector<WORD> languages = ResourceLanguages(exe, type);
        languages.erase(std::remove(languages.begin(), languages.end(), keep), languages.end());
        return languages;
    };
    std::vector<WORD> languages = others();
    if (languages.empty()) return true;
    if (!UpdateLanguages(exe, type, languages, nullptr, 0, error)) return false;
    languages = others();
    if (languages.empty()) return true;
    return UpdateLanguages(exe, type, languages, standIn, standInSize, error);
}

// The archive goes in as it is, not in the scrambled container: its entries
// are encrypted already, and the installer reads it where the executable is
// mapped instead of unscrambling a copy of the whole. (Installers of either
// kind read both forms.)
bool WritePayloadResource(const std::wstring& exe, const std::wstring& payload, ToolError* error) {
    XData plain;
    if (!plain.ReadFromFile(payload.c_str())) {
        *error = {payload, L"cannot be read back: " + LastErrorText(GetLastError())};
        return false;
    }
    UniqueResourceUpdate update(BeginUpdateResourceW(exe.c_str(), FALSE));
    if (!plain.size || !update ||
        !UpdateResourceW(update.get(), L"TAIL", MAKEINTRESOURCEW(1), kResourceLanguage, plain.data,
                         plain.size) ||
        !EndUpdateResourceW(update.release(), FALSE)) {
        *error = {exe, L"cannot take the payload resource: " + LastErrorText(GetLastError())};
        return false;
    }
    return true;
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool Replace(const std::wstring& from, const std::wstring& to, ToolError* error) {
    if (!MoveOverTarget(from.c_str(), to.c_str())) {
        *error = {to, L"cannot be written: " + LastErrorText(GetLastError())};
        return false;
    }
    return true;
}

// Temporary files beside the output, removed whatever happens.
class Temporaries {
public:
    explicit Temporaries(const std::wstring& out) {
        wchar_t tag[48];
        swprintf(tag, 48, L".mkinstaller-%lu", GetCurrentProcessId());
        base_ = out + tag;
    }
    ~Temporaries() {
        for (const auto& p : made_) DeleteFileW(p.c_str());
    }
    std::wstring Make(const wchar_t* suffix) {
        made_.push_back(base_ + suffix);
        return made_.back();
    }

private:
    std::wstring base_;
    std::vector<std::wstring> made_;
};

// --- the skin

// Lists every finding of the skin check by file; true when nothing stands in
// the way of packing it.
bool ReportSkin(const std::wstring& folder, bool packing) {
    size_t errors = 0;
    for (const SkinFinding& f : CheckSkinFolder(folder)) {
        if (!f.error) {
            Warn(f.file + L": " + f.reason);
            continue;
        }
        ++errors;
        Write(STD_ERROR_HANDLE, L"mkinstaller: error: " + f.file + L": " + f.reason + L"\n");
    }
    if (errors == 0) return true;
    Fail({folder, L"the skin has " + Number(errors) + (errors == 1 ? L" problem" : L" problems") +
                      (packing ? L"; nothing was written" : L"")});
    return false;
}

const wchar_t kSkinUsage[] =
    L"  mkinstaller --check-skin DIR   checks a skin folder as the installer reads it\n"
    L"  mkinstaller --skin-table       prints the table of the skin's pictures (Markdown)\n";

// --check-skin DIR and --skin-table: the skin alone; nothing is written.
int SkinCommand(int argc, wchar_t** argv) {
    const std::wstring command = argv[1];
    const int wanted = command == L"--skin-table" ? 2 : 3;
    if (argc != wanted || (wanted == 3 && !argv[2][0])) {
        Write(STD_ERROR_HANDLE, L"mkinstaller: " + command +
                                    (wanted == 3 ? L" takes one folder\n" : L" takes no arguments\n") +
                                    kSkinUsage);
        return 2;
    }
    if (wanted == 2) {
        Write(STD_OUTPUT_HANDLE, SkinTableMarkdown());
        return 0;
    }
    std::wstring folder = FullPath(argv[2]);
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (!ReportSkin(folder, false)) return 1;
    Out(folder + L": the skin is complete and every picture fits its place");
    return 0;
}

// --- the uninstaller

// Writes the configuration into a program's "APP" resource, as the installer
// and the uninstaller read it.
bool WriteConfigResource(const std::wstring& exe, CClientInfo& config, ToolError* error) {
    if (config.SaveToResource(exe.c_str(), L"APP", 1, true) == 0) {
        *error = {exe, L"cannot take the configuration resource: " + LastErrorText(GetLastError())};
        return false;
    }
    XData packed;
    if (!packed.Resize(kClientInfoBufferSize, true)) {
        *error = {exe, L"does not fit in memory"};
        return false;
    }
    uint32_t size = config.SaveToData(packed.data, packed.capacity, true);
    return DropResource(exe, L"APP", kResourceLanguage, packed.data, size, error);
}

// The configuration's uninstaller ("unins000.exe"), made from the
// uninstaller program beside the stub with the configuration in it, joins
// the client's files, so that the system's "Uninstall" finds it. A client
// that brings a file of that name keeps its own.
bool AddUninstaller(const Options& o, CClientInfo& config, ArchiveWriter& inner, Temporaries& temp,
                    bool* added, ToolError* error) {
    *added = false;
    const std::wstring name = config.GetUninstaller();
    if (name.empty()) return true;
    if (!IsPlainFileName(name.c_str())) {
        *error = {o.config, L"names the uninstaller \"" + name + L"\", which is no plain file name"};
        return false;
    }
    bool clientHasOne = false;
    if (!o.client.empty()) {
        clientHasOne = IsFile(o.client + L"\\" + name);
    } else {
        XZip zip;
        clientHasOne = zip.OpenFromFile(o.clientZip.c_str(), nullptr) && zip.Find(name.c_str(), nullptr) >= 0;
    }
    if (clientHasOne) {
        Warn(L"the client brings its own " + name + L"; it is packed instead of the uninstaller");
        return true;
    }
    const std::wstring program = Parent(o.stub) + L"\\uninstaller.exe";
    if (!IsFile(program)) {
        Warn(program + L" is missing; the package has no " + name +
             L", so the system's Uninstall will not work for it");
        return true;
    }
    // It becomes one more entry of the installed-file record.
    if (size_t(inner.Count()) >= kMaxEntries) {
        *error = {o.client.empty() ? o.clientZip : o.client,
                  L"has " + Number(inner.Count()) + L" files and folders; with " + name +
                      L" that is more than the " + Number(kMaxEntries) +
                      L" entries the installer records"};
        return false;
    }
    std::wstring copy = temp.Make(L".uninstaller.exe");
    if (!CopyFileW(program.c_str(), copy.c_str(), FALSE)) {
        *error = {copy, L"cannot be written: " + LastErrorText(GetLastError())};
        return false;
    }
    SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!WriteConfigResource(copy, config, error)) return false;
    EntryOptions options;
    options.password = ClientPassword(o);
    *added = inner.AddFile(ToUtf8(name), copy, options, nullptr, error);
    return *added;
}

// --- the forms

// The skin folder's files; its sub-folders are left for the skin check to
// name.
bool ListSkin(const std::wstring& folder, std::vector<TreeEntry>* skin, ToolError* error) {
    if (!IsFolder(folder)) {
        *error = {folder, L"is not a folder (--skin)"};
        return false;
    }
    if (!ListTree(folder, L"", skin, error)) return false;
    skin->erase(std::remove_if(skin->begin(), skin->end(),
                               [&](const TreeEntry& e) {
                                   return e.folder || e.relative.find(L'\\') != std::wstring::npos;
                               }),
                skin->end());
    return true;
}

bool AddSkin(ArchiveWriter& payload, const std::wstring& folder, const std::vector<TreeEntry>& skin,
             const EntryOptions& options, ToolError* error) {
    for (const TreeEntry& e : skin) {
        if (!CheckEntryName(folder, e.relative, e.size, error)) return false;
        if (!payload.AddFile(ToUtf8(e.relative), folder + L"\\" + e.relative, options, nullptr, error))
            return false;
    }
    return true;
}

// The configuration and the skin folder's files, with the skin checked;
// false, with everything said, when either stands in the way.
bool LoadConfigAndSkin(const Options& o, CClientInfo* config, std::vector<TreeEntry>* skin) {
    ToolError error;
    if (!LoadConfig(o.config, config, &error) || !ListSkin(o.skin, skin, &error)) {
        Fail(error);
        return false;
    }
    return ReportSkin(o.skin, true);
}

// --render-skin: the skin packed as a payload (through a temporary file),
// drawn by the installer's own window in every state. Nothing is written
// unless every picture could be drawn.
int RenderSkin(const Options& o) {
    ToolError error;
    CClientInfo config;
    std::vector<TreeEntry> skin;
    if (!LoadConfigAndSkin(o, &config, &skin)) return 1;
    if (!IsFile(o.stub)) return Fail({o.stub, L"cannot be read: no such file (--stub)"});
    if (!IsFolder(o.out) && !IsFolder(Parent(o.out)))
        return Fail({o.out, L"cannot be made: its folder does not exist"});

    XData bytes;
    {
        wchar_t tempFolder[MAX_PATH + 1] = {};
        if (!GetTempPathW(MAX_PATH + 1, tempFolder))
            return Fail({L"%TEMP%", L"cannot be found: " + LastErrorText(GetLastError())});
        Temporaries temp(std::wstring(tempFolder) + L"skin");
        std::wstring payloadPath = temp.Make(L".payload");
        ArchiveWriter payload;
        EntryOptions options;
        options.password = GetArchivePassword();
        if (!payload.Create(payloadPath, &error) || !AddSkin(payload, o.skin, skin, options, &error) ||
            !payload.Close(&error))
            return Fail(error);
        if (!bytes.ReadFromFile(payloadPath.c_str()))
            return Fail({payloadPath, L"cannot be read back: " + LastErrorText(GetLastError())});
    }

    std::vector<PreviewPicture> pictures;
    std::wstring reason;
    if (!RenderInstallerStates(std::vector<uint8_t>(bytes.data, bytes.data + bytes.size), config,
                               o.stub, o.installDir, &pictures, &reason))
        return Fail({o.skin, reason});
    if (!IsFolder(o.out) && !CreateDirectoryW(o.out.c_str(), nullptr))
        return Fail({o.out, L"cannot be made: " + LastErrorText(GetLastError())});
    for (const PreviewPicture& picture : pictures) {
        std::wstring path = o.out + L"\\" + picture.state + L".png";
        if (!WritePreviewPng(path, picture))
            return Fail({path, L"cannot be written: " + LastErrorText(GetLastError())});
        Out(L"wrote " + path);
    }
    return 0;
}

bool Refuse(ToolError reason, ToolError* error) {
    *error = std::move(reason);
    return false;
}

// What the options name is there and of the right kind, before anything
// is written.
bool CheckBuildInputs(const Options& o, ToolError* error) {
    XData head;
    if (!IsFile(o.stub) || !head.ReadFromFile(o.stub.c_str(), 2))
        return Refuse({o.stub, L"cannot be read: " + LastErrorText(GetLastError())}, error);
    if (head.size < 2 || head.data[0] != 'M' || head.data[1] != 'Z')
        return Refuse({o.stub, L"is not a Windows executable (--stub)"}, error);
    if (!IsFolder(Parent(o.out)))
        return Refuse({o.out, L"cannot be written: its folder does not exist"}, error);
    if (!o.client.empty() && !IsFolder(o.client))
        return Refuse({o.client, L"is not a folder (--client)"}, error);
    if (!o.clientZip.empty() && !IsFile(o.clientZip))
        return Refuse({o.clientZip, L"cannot be read: no such file (--client-zip)"}, error);
    return true;
}

// The client's part of the payload, when a client was given: the inner
// archive and its manifest, as temporary files.
struct ClientPack {
    std::wstring innerPath, manifestPath;
    int entries = 0;
    bool withUninstaller = false;
};

bool PackClient(const Options& o, CClientInfo& config, const std::wstring& baseUrl, Temporaries& temp,
                ClientPack* client, ToolError* error) {
    client->innerPath = temp.Make(L".inner");
    client->manifestPath = temp.Make(L".update");
    auto manifest = std::make_unique<CUpdateInfo>();
    manifest->SetVersion(config.GetVersion());
    ArchiveWriter inner;
    if (!inner.Create(client->innerPath, error)) return false;
    const char* password = ClientPassword(o);
    bool ok = o.client.empty() ? PackZip(o.clientZip, baseUrl, password, inner, manifest.get(), error)
                               : PackFolder(o.client, baseUrl, password, inner, manifest.get(), error);
    client->entries = inner.Count();
    if (!ok || !AddUninstaller(o, config, inner, temp, &client->withUninstaller, error) ||
        !inner.Close(error))
        return false;
    if (!manifest->SaveToFile(client->manifestPath.c_str())) {
        *error = {client->manifestPath, L"cannot be written: " + LastErrorText(GetLastError())};
        return false;
    }
    return true;
}

// The payload archive: the skin, and the client's manifest and inner
// archive when there is a client.
bool WritePayload(const std::wstring& path, const std::wstring& skinFolder,
                  const std::vector<TreeEntry>& skin, const ClientPack& client, CClientInfo& config, ToolError* error) {
    ArchiveWriter payload;
    if (!payload.Create(path, error)) return false;
    EntryOptions options;
    options.password = GetArchivePassword();
    if (!AddSkin(payload, skinFolder, skin, options, error)) return false;
    if (!client.innerPath.empty()) {
        if (!payload.AddFile("update.xml", client.manifestPath, options, nullptr, error)) return false;
        // Already deflated and encrypted entry by entry inside: stored
        // as it is, without a second encryption, so the installer reads
        // it where it lies in the payload instead of copying it out.
        EntryOptions stored = options;
        stored.deflate = false;
        stored.password = nullptr;
        if (!payload.AddFile(ToUtf8(config.GetArchive()), client.innerPath, stored, nullptr, error))
            return false;
    }
    return payload.Close(error);
}

bool CheckPayloadSize(const Options& o, const std::wstring& payloadPath, ToolError* error) {
    uint64_t payloadSize = FileSize(payloadPath);
    if (o.zipBeside || payloadSize <= o.maxResourceBytes) return true;
    *error = {o.out, L"the payload is " + Number((payloadSize + (1 << 20) - 1) >> 20) +
                         L" MiB, too large for a resource of a 32-bit installer (limit " +
                         Number(o.maxResourceBytes >> 20) + L" MiB); use --zip-beside"};
    return false;
}

// A copy of the stub with the configuration in it.
bool MakeExecutable(const Options& o, CClientInfo& config, const std::wstring& exePath, ToolError* error) {
    if (!CopyFileW(o.stub.c_str(), exePath.c_str(), FALSE)) {
        *error = {exePath, L"cannot be written: " + LastErrorText(GetLastError())};
        return false;
    }
    SetFileAttributesW(exePath.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!ResourceLanguages(exePath, L"APP").empty() || !ResourceLanguages(exePath, L"TAIL").empty())
        Warn(o.stub + L" carries a configuration or payload already; both are replaced");
    return WriteConfigResource(exePath, config, error);
}

// Puts the payload into the executable, or beside it with --zip-beside
// (beside then names that file), and moves both to where they belong.
bool PlacePayload(const Options& o, const std::wstring& exePath, const std::wstring& payloadPath,
                  std::wstring* beside, ToolError* error) {
    wchar_t zipBeside[1024] = {};
    bool hasZipName = PayloadZipPath(o.out.c_str(), zipBeside, 1024);
    if (o.zipBeside) {
        if (!hasZipName) {
            *error = {o.out, L"has no extension to replace by .zip"};
            return false;
        }
        *beside = zipBeside;
        return DropResource(exePath, L"TAIL", -1, kNoPayload, sizeof(kNoPayload), error) &&
               Replace(payloadPath, zipBeside, error) && Replace(exePath, o.out, error);
    }
    if (!WritePayloadResource(exePath, payloadPath, error) ||
        !DropResource(exePath, L"TAIL", kResourceLanguage, kNoPayload, sizeof(kNoPayload), error) ||
        !Replace(exePath, o.out, error))
        return false;
    if (hasZipName && IsFile(zipBeside))
        Warn(std::wstring(zipBeside) + L" is ignored: the installer carries its payload");
    return true;
}

void ReportInstaller(const Options& o, CClientInfo& config, size_t skinFiles, const ClientPack& client,
                     const std::wstring& beside) {
    Out(L"wrote " + o.out + L" (" + Number(FileSize(o.out)) + L" bytes)" +
        (o.zipBeside ? L" and " + beside : L"") + L": skin " + Number(skinFiles) + L" files, " +
        (client.innerPath.empty()
             ? std::wstring(L"no client archive (download by manifest)")
             : L"client " + Number(client.entries) + L" entries in " + config.GetArchive() +
                   (client.withUninstaller ? L" with " + std::wstring(config.GetUninstaller()) : L"")));
}

int BuildInstaller(const Options& o) {
    ToolError error;
    CClientInfo config;
    std::vector<TreeEntry> skin;
    if (!LoadConfigAndSkin(o, &config, &skin)) return 1;
    if (!CheckBuildInputs(o, &error)) return Fail(error);

    std::wstring baseUrl = o.baseUrl.empty() ? config.GetSource() : o.baseUrl;
    if (!CheckBaseUrl(baseUrl, &error)) return Fail(error);

    Temporaries temp(o.out);
    ClientPack client;
    if ((!o.client.empty() || !o.clientZip.empty()) &&
        !PackClient(o, config, baseUrl, temp, &client, &error))
        return Fail(error);
    std::wstring payloadPath = temp.Make(L".payload");
    if (!WritePayload(payloadPath, o.skin, skin, client, config, &error) ||
        !CheckPayloadSize(o, payloadPath, &error))
        return Fail(error);
    std::wstring exePath = temp.Make(L".exe");
    std::wstring beside;
    if (!MakeExecutable(o, config, exePath, &error) ||
        !PlacePayload(o, exePath, payloadPath, &beside, &error))
        return Fail(error);
    ReportInstaller(o, config, skin.size(), client, beside);
    return 0;
}

int BuildManifest(const Options& o) {
    ToolError error;
    if (!IsFolder(o.client)) return Fail({o.client, L"is not a folder (--client)"});
    if (!CheckBaseUrl(o.baseUrl, &error)) return Fail(error);
    std::wstring version = o.version;
    if (!o.config.empty()) {
        CClientInfo config;
        if (!LoadConfig(o.config, &config, &error)) return Fail(error);
        if (version.empty()) version = config.GetVersion();
    }
    std::vector<TreeEntry> tree;
    if (!ListTree(o.client, L"", &tree, &error, false)) return Fail(error);
    size_t files = 0;
    uint64_t record = 0;
    for (const TreeEntry& e : tree) {
        if (e.folder) continue;
        if (!CheckEntryName(o.client, e.relative, e.size, &error)) return Fail(error);
        if (e.size == 0) Warn(o.client + L"\\" + e.relative + L": empty files are not listed in update.xml");
        ++files;
        record += e.relative.size() + 1;
    }
    if (!CheckClientEntries(o.client, files, record, &error))
        return Fail(error);
    auto manifest = std::make_unique<CUpdateInfo>();
    manifest->SetVersion(version.c_str());
    manifest->AddDirectory(o.baseUrl.c_str(), o.client.c_str(), nullptr);
    if (!CheckManifestFits(*manifest, o.client, &error)) return Fail(error);
    if (!IsFolder(Parent(o.out))) return Fail({o.out, L"cannot be written: its folder does not exist"});
    if (!manifest->SaveToFile(o.out.c_str()))
        return Fail({o.out, L"cannot be written: " + LastErrorText(GetLastError())});
    Out(L"wrote " + o.out + L": " + Number(manifest->Count()) + L" files, version " + version);
    return 0;
}

bool ParseArguments(int argc, wchar_t** argv, Options* o, std::wstring* problem) {
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        std::wstring* value = nullptr;
        if (arg == L"--zip-beside") o->zipBeside = true;
        else if (arg == L"--plain-client") o->plainClient = true;
        else if (arg == L"--manifest") o->manifest = true;
        else if (arg == L"--render-skin") {
            o->render = true;
            value = &o->skin;
        }
        else if (arg == L"--install-dir") value = &o->installDir;
        else if (arg == L"--stub") value = &o->stub;
        else if (arg == L"--config") value = &o->config;
        else if (arg == L"--skin") value = &o->skin;
        else if (arg == L"--client") value = &o->client;
        else if (arg == L"--client-zip") value = &o->clientZip;
        else if (arg == L"--base-url") value = &o->baseUrl;
        else if (arg == L"--version") value = &o->version;
        else if (arg == L"--max-resource-mb") value = &o->maxResource;
        else if (arg == L"--out") value = &o->out;
        else {
            *problem = L"unknown argument " + arg;
            return false;
        }
        if (value) {
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                *problem = arg + L" needs a value";
                return false;
            }
            *value = argv[++i];
        }
    }
    if (!o->maxResource.empty()) {
        wchar_t* end = nullptr;
        unsigned long mb = wcstoul(o->maxResource.c_str(), &end, 10);
        if (*end || mb == 0 || mb > (kMaxResourcePayload >> 20))
            *problem = L"--max-resource-mb takes 1 to " + Number(kMaxResourcePayload >> 20);
        o->maxResourceBytes = uint64_t(mb) << 20;
    }
    auto need = [&](const std::wstring& v, const wchar_t* flag) {
        if (v.empty() && problem->empty()) *problem = std::wstring(flag) + L" is required";
    };
    if (o->render) {
        need(o->stub, L"--stub");
        need(o->config, L"--config");
        need(o->out, L"--out");
        if (o->manifest || !o->client.empty() || !o->clientZip.empty() || o->zipBeside || o->plainClient)
            *problem = L"--render-skin takes only --stub, --config, --install-dir and --out";
    } else if (!o->installDir.empty()) {
        *problem = L"--install-dir goes with --render-skin";
    } else if (o->manifest) {
        need(o->client, L"--client");
        need(o->baseUrl, L"--base-url");
        need(o->out, L"--out");
        if (!o->stub.empty() || !o->skin.empty() || !o->clientZip.empty() || o->zipBeside || o->plainClient)
            *problem = L"--manifest takes only --client, --base-url, --config, --version and --out";
    } else {
        need(o->stub, L"--stub");
        need(o->config, L"--config");
        need(o->skin, L"--skin");
        need(o->out, L"--out");
        if (!o->client.empty() && !o->clientZip.empty()) *problem = L"give --client or --client-zip, not both";
        if (o->plainClient && o->client.empty() && o->clientZip.empty())
            *problem = L"--plain-client goes with --client or --client-zip";
    }
    for (std::wstring* p : {&o->stub, &o->config, &o->skin, &o->client, &o->clientZip, &o->out}) {
        *p = FullPath(*p);
        while (p->size() > 3 && (p->back() == L'\\' || p->back() == L'/')) p->pop_back();
    }
    return problem->empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Names and texts of the configuration convert in code page 936.
    UseChineseLocale();
    if (argc < 2 || std::wstring(argv[1]) == L"--help" || std::wstring(argv[1]) == L"-h") {
        Write(argc < 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, std::wstring(kUsage) + kSkinUsage);
        return argc < 2 ? 2 : 0;
    }
    if (std::wstring(argv[1]) == L"--check-skin" || std::wstring(argv[1]) == L"--skin-table")
        return SkinCommand(argc, argv);
    Options options;
    std::wstring problem;
    if (!ParseArguments(argc, argv, &options, &problem)) {
        Write(STD_ERROR_HANDLE, L"mkinstaller: " + problem + L"\n" + kUsage);
        return 2;
    }
    if (options.render) return RenderSkin(options);
    return options.manifest ? BuildManifest(options) : BuildInstaller(options);
}
