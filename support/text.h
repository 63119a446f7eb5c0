// Small text routines of the file formats: key=value; entries of the
// configuration text, the quoted-name:value pairs of the theme text,
// byte-order marks, and the percent-encoding of download addresses. Narrow
// and wide forms behave alike.
#pragma once

#include <cstdint>
#include <string>

enum TextEncoding : int {
    kEncodingNone = 0,
    kEncodingUtf8 = 1,
    kEncodingUtf16LE = 2,
    kEncodingUtf16BE = 3,
    kEncodingUtf32LE = 4,
    kEncodingUtf32BE = 5,
};

// Writes first, sepA, second (secondLength chars, -1 = all), sepB; no NUL.
// Answers the characters written, 0 when anything is missing or it would not fit.
int JoinWithSeparators(wchar_t* out, int capacity, const wchar_t* first, const wchar_t* second,
                       int secondLength, wchar_t sepA, wchar_t sepB);

// A scan of `"key": value, ...` text (the theme's), not a JSON parser: a key
// that is a prefix of name matches too, values are not interpreted. text
// points after the opening '{'; end bounds the search.
const char* FindQuotedKey(int* length, const char* name, const char* text, const char* end);
const wchar_t* FindQuotedKey(int* length, const wchar_t* name, const wchar_t* text,
                             const wchar_t* end);
// Copies min(length, capacity) characters; NUL only when fewer than capacity.
int GetQuotedKeyValue(char* out, int capacity, const char* name, const char* text, const char* end);
int GetQuotedKeyValue(wchar_t* out, int capacity, const wchar_t* name, const wchar_t* text,
                 const wchar_t* end);
// Writes "name":"value" without NUL; answers its length or 0.
int FormatJsonPair(char* out, int capacity, const char* name, const char* value, int valueLength);
int FormatJsonPair(wchar_t* out, int capacity, const wchar_t* name, const wchar_t* value,
                   int valueLength);

int BomSize(int encoding);
int WriteBom(int encoding, uint8_t* out);
// Needs at least four readable bytes.
int DetectBom(const uint8_t* bytes);

// Download addresses are requested and written percent-encoded as UTF-8
// (RFC 3986), so names with blanks or Chinese characters reach the server.
// A character outside the Basic Multilingual Plane is its surrogate pair;
// an unpaired surrogate has no UTF-8 form and becomes U+FFFD.
//
// The path of an address made from local names: the unreserved characters
// A-Z a-z 0-9 - . _ ~ and "/" stay, every other character (a "%", "#", "+"
// or "&" of a file name too) becomes %XX per UTF-8 byte.
std::wstring EncodeUrlPath(const wchar_t* path);
// A whole address from elsewhere, made ready for a request: what a URL may
// hold stays (unreserved and reserved characters, and a "%" that begins a
// %XX escape, so an address encoded before is left as it is), every other
// character becomes %XX per UTF-8 byte. Null gives an empty text.
std::wstring EncodeUrl(const wchar_t* address);
