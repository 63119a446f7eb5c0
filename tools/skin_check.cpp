#include "tools/skin_check.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>

#include "app/skin_layout.h"
#include "support/data.h"
#include "support/handle.h"
#include "support/text.h"
#include "ui/image.h"
#include "ui/theme.h"

namespace {

const wchar_t* const kThemeKeys[] = {L"forecolor", L"backcolor", L"textcolor"};
// The longest colour value the theme reader looks at.
constexpr int kThemeValueMax = 63;

std::wstring Number(int n) { return std::to_wstring(n); }

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = wchar_t(std::towlower(c));
    return s;
}

int MaxWidth(const SkinPicture& p) { return p.maxWidth ? p.maxWidth : kSkinWindowWidth; }
int MaxHeight(const SkinPicture& p) { return p.maxHeight ? p.maxHeight : kSkinWindowHeight; }

// --- the rules in words, for the guide's table

std::wstring StatesRule(const SkinPicture& p) {
    if (p.frames == 1) return L"1";
    return Number(p.frames) + L" (normal, hover, pressed) stacked top to bottom; the height is a "
                              L"multiple of " + Number(p.frames);
}

std::wstring WidthRule(const SkinPicture& p) {
    switch (p.sizing) {
        case SkinSizing::kWindow:
            return L"exactly " + Number(kSkinWindowWidth) + L" × " + Number(kSkinWindowHeight) +
                   L" (other sizes are stretched to the window)";
        case SkinSizing::kFixedWidth:
            return L"exactly " + Number(p.width) + L" wide (it is drawn " + Number(p.width) +
                   L" wide whatever its width)";
        case SkinSizing::kStretched:
            return L"more than " + Number(p.ends) + L" wide (" + Number(p.ends / 2) +
                   L" pixels at each side are kept, the middle is stretched to the place)";
        case SkinSizing::kOwn:
            break;
    }
    std::wstring rule = L"drawn at its own size";
    if (p.ends) rule += L"; at least " + Number(p.ends) + L" wide (" + Number(p.ends / 2) +
                        L" pixels at each side are kept)";
    if (p.maxWidth) rule += L"; at most " + Number(p.maxWidth) + L" wide";
    return rule;
}

std::wstring HeightRule(const SkinPicture& p) {
    const std::wstring each = p.frames > 1 ? L"each state " : L"";
    std::wstring rule;
    if (p.maxHeight) rule = L"; " + each + L"at most " + Number(p.maxHeight) + L" high";
    if (p.relation == SkinRelation::kSameHeight)
        rule += L"; " + each + L"as high as " + (p.frames > 1 ? L"those of " : L"") + p.other;
    if (p.relation == SkinRelation::kNotTaller)
        rule += L"; " + each + L"no taller than " + p.other + L" (it is cut at its edges)";
    return rule;
}

std::wstring SizeRule(const SkinPicture& p) {
    std::wstring rule = WidthRule(p) + HeightRule(p);
    if (p.limitReason) rule += L": " + std::wstring(p.limitReason);
    return rule;
}

// --- pictures

struct Picture {
    bool measured = false;  // decoded, with states of equal height
    int frameHeight = 0;
};

// Why the decoder refused the bytes, as far as their first bytes tell.
std::wstring UndecodableReason(const XData& bytes) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const uint8_t* b = bytes.data;
    if (bytes.size == 0) return L"is empty";
    if (bytes.size >= 8 && std::equal(kPng, kPng + 8, b)) {
        // IHDR comes first: its colour type is byte 25 of the file.
        if (bytes.size > 25 && (b[25] == 0 || b[25] == 3 || b[25] == 4))
            return std::wstring(L"is a ") + (b[25] == 3 ? L"palette" : L"grey") +
                   L" PNG; the installer reads truecolour PNGs only (RGB or RGBA, 8 or 16 bits "
                   L"a channel)";
        return L"does not decode: the PNG is damaged";
    }
    if (bytes.size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return L"does not decode: the JPEG is damaged or CMYK (the installer reads grey and "
               L"colour JPEGs)";
    return L"is neither a PNG nor a JPEG";
}

Picture CheckPicture(const std::wstring& folder, const SkinPicture& rule,
                     std::vector<SkinFinding>* findings) {
    Picture picture;
    const std::wstring path = folder + L"\\" + rule.file;
    auto error = [&](const std::wstring& reason) { findings->push_back({true, path, reason}); };
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error(L"is missing; the window needs it (" + std::wstring(rule.shows) + L")");
        return picture;
    }
    XData bytes;
    CImage image;
    // The installer's own decoder, so the check says what the window will do.
    if (!bytes.ReadFromFile(path.c_str()) || !image.LoadFromMemory(bytes.data, bytes.size)) {
        error(UndecodableReason(bytes));
        return picture;
    }
    const int w = image.GetWidth(), h = image.GetHeight();
    const std::wstring size = Number(w) + L" × " + Number(h);
    picture.frameHeight = h / rule.frames;
    if (h % rule.frames != 0) {
        error(L"is " + size + L"; it holds " + Number(rule.frames) +
              L" states of equal height stacked top to bottom (normal, hover, pressed), so its "
              L"height must be a multiple of " + Number(rule.frames));
        return picture;
    }
    picture.measured = true;
    const std::wstring width = L"is " + Number(w) + L" pixels wide; ";
    const std::wstring keeps = Number(rule.ends / 2) + L" pixels at each side are kept";
    switch (rule.sizing) {
        case SkinSizing::kWindow:
            if (w != kSkinWindowWidth || h != kSkinWindowHeight)
                error(L"is " + size + L"; it must be exactly " + Number(kSkinWindowWidth) + L" × " +
                      Number(kSkinWindowHeight) + L", the window's size (other sizes are stretched)");
            return picture;
        case SkinSizing::kFixedWidth:
            if (w != rule.width)
                error(width + L"it must be exactly " + Number(rule.width) + L" wide: it is drawn " +
                      Number(rule.width) + L" wide whatever its width");
            break;
        case SkinSizing::kStretched:
            if (w <= rule.ends)
                error(width + L"it must be more than " + Number(rule.ends) + L" wide: " + keeps +
                      L" and the middle is stretched");
            break;
        case SkinSizing::kOwn:
            if (w < rule.ends) error(width + L"it must be at least " + Number(rule.ends) + L" wide: " + keeps);
            if (w > MaxWidth(rule))
                error(width + L"at most " + Number(MaxWidth(rule)) + L" fit: " +
                      (rule.maxWidth ? rule.limitReason : L"the window is that wide"));
            break;
    }
    if (picture.frameHeight > MaxHeight(rule))
        error((rule.frames > 1 ? L"is " + size + L", each state " : L"is ") +
              Number(picture.frameHeight) + L" high; at most " + Number(MaxHeight(rule)) +
              L" fit: " + (rule.maxHeight ? rule.limitReason : L"the window is that high"));
    return picture;
}

// A picture drawn in or over the place of another (checked earlier) must
// agree with that one's height.
void CheckRelation(const std::wstring& folder, const SkinPicture& rule, const Picture& a,
                   const std::map<std::wstring, Picture>& checked,
                   std::vector<SkinFinding>* findings) {
    if (rule.relation == SkinRelation::kNone) return;
    auto other = checked.find(rule.other);
    if (other == checked.end() || !a.measured || !other->second.measured) return;
    const Picture& b = other->second;
    const std::wstring facts = (rule.frames > 1 ? L"its states are " : L"it is ") +
                               Number(a.frameHeight) + L" high, " + rule.other + L"'s " +
                               Number(b.frameHeight);
    const std::wstring path = folder + L"\\" + rule.file;
    if (rule.relation == SkinRelation::kSameHeight && a.frameHeight != b.frameHeight)
        findings->push_back({true, path, facts + L"; it is drawn in the place of " + rule.other +
                                             L", so they must be as high"});
    if (rule.relation == SkinRelation::kNotTaller && a.frameHeight > b.frameHeight)
        findings->push_back({true, path, facts + L"; it is drawn inside " + rule.other +
                                             L" and would be cut at its edges"});
}

// --- theme.txt

bool IsColour(const wchar_t* value, int length) {
    int start = length > 0 && value[0] == L'#' ? 1 : 0;
    int digits = length - start;
    if (digits < 1 || digits > 8) return false;
    for (int i = start; i < length; ++i)
        if (!std::iswxdigit(value[i])) return false;
    return true;
}

// The theme's text as the window reads it; false, with the finding, when
// the window would get no colours from it.
bool ReadTheme(const std::wstring& path, std::wstring* text, std::vector<SkinFinding>* findings) {
    auto error = [&](const std::wstring& reason) { findings->push_back({true, path, reason}); };
    XData bytes;
    if (!bytes.ReadFromFile(path.c_str()) || bytes.size < 2) {
        error(L"is empty; it holds the colours as {\"textcolor\":\"#AABBGGRR\", ...}");
        return false;
    }
    // Read exactly as the window reads it: UTF-16LE, half the byte count.
    text->assign(reinterpret_cast<const wchar_t*>(bytes.data), bytes.size / 2);
    CTheme theme;
    if (theme.ParseText(text->data(), int(text->size()))) return true;
    CTheme narrow;
    if (narrow.ParseTextA(reinterpret_cast<const char*>(bytes.data), int(bytes.size)))
        error(L"is 8-bit text (UTF-8 or ANSI); the installer reads it as UTF-16LE, so it does "
              L"not parse");
    else
        error(L"does not parse: it holds no '{'; the colours are written "
              L"{\"textcolor\":\"#AABBGGRR\", ...}");
    return false;
}

void CheckThemeColours(const std::wstring& path, const std::wstring& text,
                       std::vector<SkinFinding>* findings) {
    auto error = [&](const std::wstring& reason) { findings->push_back({true, path, reason}); };
    // The theme reader takes each value with GetQuotedKeyValue after the first
    // '{' (stopping at a NUL) and reads it as hexadecimal digits.
    const wchar_t* begin = text.data();
    const wchar_t* end = begin + text.size();
    const wchar_t* brace = begin;
    while (brace < end && *brace && *brace != L'{') ++brace;
    int named = 0;
    for (const wchar_t* key : kThemeKeys) {
        wchar_t value[kThemeValueMax + 1] = {};
        int n = GetQuotedKeyValue(value, kThemeValueMax, key, brace + 1, end);
        if (n <= 0) continue;
        ++named;
        if (!IsColour(value, n))
            error(std::wstring(key) + L" \"" + std::wstring(value, value + n) +
                  L"\" is not a colour: '#' and up to 8 hexadecimal digits, #AABBGGRR");
    }
    if (named == 0)
        error(L"names none of forecolor, backcolor, textcolor; the installer would keep its "
              L"default colours");
}

void CheckTheme(const std::wstring& folder, std::vector<SkinFinding>* findings) {
    const std::wstring path = folder + L"\\" + kSkinThemeFile;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        findings->push_back({false, path, L"is missing; the installer keeps its default colours "
                                          L"(black text)"});
        return;
    }
    std::wstring text;
    if (ReadTheme(path, &text, findings)) CheckThemeColours(path, text, findings);
}

// --- the folder

bool IsSkinFile(const std::wstring& name) {
    std::wstring lower = Lower(name);
    if (lower == kSkinThemeFile) return true;
    return std::any_of(std::begin(kSkinPictures), std::end(kSkinPictures),
                       [&](const SkinPicture* p) { return lower == p->file; });
}

void CheckExtras(const std::wstring& folder, std::vector<SkinFinding>* findings) {
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return;
    std::vector<SkinFinding> extras;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            extras.push_back({false, folder + L"\\" + name, L"sub-folders of the skin are not packed"});
        else if (!IsSkinFile(name))
            extras.push_back({false, folder + L"\\" + name,
                              L"is not read by the installer window (it is packed all the same)"});
    } while (FindNextFileW(find.get(), &data));
    std::sort(extras.begin(), extras.end(),
              [](const SkinFinding& a, const SkinFinding& b) { return a.file < b.file; });
    findings->insert(findings->end(), extras.begin(), extras.end());
}

std::wstring Cell(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) out += c == L'|' ? std::wstring(L"\\|") : std::wstring(1, c);
    return out;
}

}  // namespace

std::vector<SkinFinding> CheckSkinFolder(const std::wstring& folder) {
    std::vector<SkinFinding> findings;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        findings.push_back({true, folder, L"is not a folder"});
        return findings;
    }
    std::map<std::wstring, Picture> pictures;
    for (const SkinPicture* rule : kSkinPictures) {
        Picture picture = CheckPicture(folder, *rule, &findings);
        CheckRelation(folder, *rule, picture, pictures, &findings);
        pictures[rule->file] = picture;
    }
    CheckTheme(folder, &findings);
    CheckExtras(folder, &findings);
    return findings;
}

std::wstring SkinTableMarkdown() {
    std::wstring table =
        L"| File | What it is | Where the window draws it | States | Size |\n"
        L"|---|---|---|---|---|\n";
    for (const SkinPicture* p : kSkinPictures)
        table += L"| `" + std::wstring(p->file) + L"` | " + Cell(p->shows) + L" | " +
                 Cell(p->where) + L" | " + Cell(StatesRule(*p)) + L" | " + Cell(SizeRule(*p)) +
                 L" |\n";
    return table;
}
