// The update manifest (update.xml): the files of a client release with size,
// MD5, download address and action; read, written and built from a folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/fixed_string.h"

constexpr uint32_t kUpdateItemsMax = 10000;
// FormatXml asks this many characters of capacity per entry.
constexpr uint32_t kUpdateLineCapacity = 1380;
// The buffer SaveToFile formats into unless the list needs more.
constexpr uint32_t kUpdateSaveCapacity = 1300000;

enum UpdateAction : int32_t {
    kUpdateAdd = 0,
    kUpdateDelete = 1,
};

struct UpdateItem {
    int32_t action;
    int32_t size;
    wchar_t file[512];  // relative, "\" separated
    wchar_t url[768];
    wchar_t md5[34];
};

class IUpdateInfo {
public:
    virtual bool LoadFromFile(const wchar_t* path) = 0;
    virtual bool SaveToFile(const wchar_t* path) = 0;
    // length bounds the text (SIZE_MAX: up to its NUL); nothing beyond is read.
    virtual bool ParseXml(const wchar_t* text, size_t length) = 0;
    // Characters written + 1, or 0 when the capacity is below
    // kUpdateLineCapacity per entry.
    virtual uint32_t FormatXml(wchar_t* out, uint32_t capacity) = 0;
    virtual void Clear() = 0;
    virtual uint32_t Count() = 0;
    // Takes ownership on success; -1 (caller keeps it) for null or a full list.
    virtual int AddItem(UpdateItem* item) = 0;
    virtual int AddFile(const wchar_t* file, int32_t size, const wchar_t* md5,
                        const wchar_t* url) = 0;
    // Answers the number of files found (also those AddFile refused). A
    // file's url is the base address and its path below the directory,
    // percent-encoded (EncodeUrl, EncodeUrlPath); its file stays as it is.
    virtual int AddDirectory(const wchar_t* baseUrl, const wchar_t* directory,
                             const wchar_t* prefix) = 0;
    virtual UpdateItem* GetItem(uint32_t index) = 0;
    // Answers exactly as GetItem; the interface keeps both entries in its order.
    virtual UpdateItem* GetItemAt(uint32_t index) = 0;
    virtual const wchar_t* GetVersion() = 0;
    virtual void SetVersion(const wchar_t* text) = 0;
    virtual ~IUpdateInfo() = default;

    bool ParseXml(const wchar_t* text) { return ParseXml(text, SIZE_MAX); }
};

class CUpdateInfo : public IUpdateInfo {
public:
    CUpdateInfo();
    ~CUpdateInfo() override;
    CUpdateInfo(const CUpdateInfo&) = delete;
    CUpdateInfo& operator=(const CUpdateInfo&) = delete;

    bool LoadFromFile(const wchar_t* path) override;
    // Grows its buffer for long lists and replaces the file only once the
    // whole text is written.
    bool SaveToFile(const wchar_t* path) override;
    using IUpdateInfo::ParseXml;
    bool ParseXml(const wchar_t* text, size_t length) override;
    uint32_t FormatXml(wchar_t* out, uint32_t capacity) override;
    void Clear() override;
    uint32_t Count() override { return count; }
    int AddItem(UpdateItem* item) override;
    int AddFile(const wchar_t* file, int32_t size, const wchar_t* md5,
                const wchar_t* url) override;
    int AddDirectory(const wchar_t* baseUrl, const wchar_t* directory,
                     const wchar_t* prefix) override;
    UpdateItem* GetItem(uint32_t index) override;
    UpdateItem* GetItemAt(uint32_t index) override { return GetItem(index); }
    const wchar_t* GetVersion() override { return version.c_str(); }
    void SetVersion(const wchar_t* text) override { version.Assign(text); }

    // Manifest bytes as a file or download holds them: UTF-16LE, with or
    // without FF FE, bounded by size.
    bool ParseData(const void* bytes, uint32_t size);

    UpdateItem* items[kUpdateItemsMax + 1];
    uint32_t count = 0;
    FixedString<127> version;
};
