// The skin's colours (theme.txt: {"forecolor":"#AARRGGBB",...}) and the font
// description embedded in the text-bearing controls.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/handle.h"

// FormatText's buffer in SaveToFile.
constexpr int kThemeTextCapacity = 524293;

class ITheme {
public:
    // The file is UTF-16LE; a BOM or anything before the first '{' is ignored.
    virtual bool LoadFromFile(const wchar_t* path) = 0;
    virtual bool LoadFromFileA(const char* path) = 0;
    // UTF-16LE without BOM, replacing the file; answers bytes written, 0 on failure.
    virtual uint32_t SaveToFile(const wchar_t* path) = 0;
    virtual uint32_t SaveToFileA(const char* path) = 0;
    // Missing, empty or unmatched keys leave their colour unchanged.
    virtual bool ParseText(const wchar_t* text, int length) = 0;
    virtual bool ParseTextA(const char* text, int length) = 0;
    // Needs 74 characters for all three entries; answers characters without the NUL.
    virtual int FormatText(wchar_t* buffer, int capacity) = 0;
    virtual int FormatTextA(char* buffer, int capacity) = 0;
    virtual uint32_t GetForecolor() = 0;
    virtual void SetForecolor(uint32_t color) = 0;
    virtual uint32_t GetBackcolor() = 0;
    virtual void SetBackcolor(uint32_t color) = 0;
    virtual uint32_t GetTextcolor() = 0;
    virtual void SetTextcolor(uint32_t color) = 0;

protected:
    ~ITheme() = default;
};

// The owner sets the three colours before anything is read.
class CTheme : public ITheme {
public:
    bool LoadFromFile(const wchar_t* path) override;
    bool LoadFromFileA(const char* path) override;
    uint32_t SaveToFile(const wchar_t* path) override;
    uint32_t SaveToFileA(const char* path) override;
    bool ParseText(const wchar_t* text, int length) override;
    bool ParseTextA(const char* text, int length) override;
    int FormatText(wchar_t* buffer, int capacity) override;
    int FormatTextA(char* buffer, int capacity) override;
    uint32_t GetForecolor() override { return forecolor_; }
    void SetForecolor(uint32_t color) override { forecolor_ = color; }
    uint32_t GetBackcolor() override { return backcolor_; }
    void SetBackcolor(uint32_t color) override { backcolor_ = color; }
    uint32_t GetTextcolor() override { return textcolor_; }
    void SetTextcolor(uint32_t color) override { textcolor_ = color; }

private:
    uint32_t forecolor_ = 0;
    uint32_t backcolor_ = 0;
    uint32_t textcolor_ = 0;
};

// A font description; owners change the fields, then call CreateHandle.
class CFont {
public:
    CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    // Replaces the handle; false when GDI makes no font.
    bool CreateHandle();
    HFONT Handle() const { return handle.get(); }

    UniqueFont handle;
    int height = 15;
    int width = 0;
    int escapement = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    wchar_t face[32];
};
