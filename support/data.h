// XData: the growable byte buffer through which every file, resource,
// download and archive entry passes. Two zero bytes always follow the
// capacity, so any content reads as a terminated narrow or wide string.
#pragma once

#include <cstdint>

class XData {
public:
    XData() = default;
    virtual ~XData();
    XData(const XData&) = delete;
    XData& operator=(const XData&) = delete;
    XData(XData&& other) noexcept;
    XData& operator=(XData&& other) noexcept;

    void Free();
    // Sets the capacity exactly; discard drops the content.
    bool Resize(uint32_t capacity, bool discard);
    // Grows only; a smaller request changes nothing.
    bool Reserve(uint32_t capacity, bool discard);
    uint32_t SetSize(uint32_t n);

    // limit 0 means the whole file; a failed read leaves the buffer empty.
    bool ReadFromFile(const wchar_t* path, uint32_t limit = 0);
    bool ReadFromFile(const char* path, uint32_t limit = 0);
    bool WriteToFile(const wchar_t* path, uint32_t limit = 0) const;
    bool WriteToFile(const char* path, uint32_t limit = 0) const;

    uint32_t Capacity() const { return capacity; }
    uint32_t Size() const { return size; }
    uint8_t* Data() { return data; }
    const uint8_t* Data() const { return data; }
    bool Empty() const { return size == 0; }

    uint32_t capacity = 0;
    uint32_t size = 0;
    uint8_t* data = nullptr;
};

// Writes all count bytes at the file's position (file is a HANDLE).
bool WriteWholeFile(void* file, const uint8_t* bytes, uint32_t count);
// Writes count bytes to a created or truncated file; true when all were written.
bool SaveBytes(const wchar_t* path, const void* bytes, uint32_t count);
