// Where the installer finds its payload: the packed "TAIL" resource of its
// own executable, else the .zip file of the same base name beside it.
#pragma once

#include <cstddef>

class XData;
class XZip;

// For the running executable. buffer receives the resource's bytes and must
// outlive the archive's use (the archive reads it in place).
bool OpenPayload(XZip& zip, XData& buffer);
// The same search for any executable file.
bool OpenPayloadOf(const wchar_t* executable, XZip& zip, XData& buffer);
// The neighbouring archive's path: everything after the last "." replaced
// by "zip". False when the path has no "." or the result does not fit.
bool PayloadZipPath(const wchar_t* executable, wchar_t* out, size_t capacity);
