// Files replaced whole: the new content goes to a temporary file beside the
// target and is then moved over it, so a reader finds the old file or the
// new one, never a part, and a failure leaves the old file as it was.
#pragma once

#include <cstdint>

// What SaveReplacing appends to the target's name for its temporary file.
// A fixed name: what a killed run left is overwritten by the next save, so
// nothing accumulates.
extern const wchar_t kReplacingSuffix[];

// Moves a finished temporary file over target (made or replaced).
//
// The temporary always lies beside its target, so this is a rename within
// one volume and only MOVEFILE_REPLACE_EXISTING is asked for:
// MOVEFILE_COPY_ALLOWED would quietly turn a caller's mistake into a copy,
// which is not atomic, and MOVEFILE_WRITE_THROUGH only flushes such a copy.
//
// A read-only target (an earlier release may have shipped one) is replaced
// too. On failure the target is untouched, the temporary stays for the
// caller to remove, and GetLastError tells why the move failed.
bool MoveOverTarget(const wchar_t* temporary, const wchar_t* target);

// The same for a temporary still open (file is a HANDLE with DELETE access):
// renamed through its handle, which spares the system opening it again.
// False when the rename is refused, a read-only target among other reasons:
// the caller then closes the file and calls MoveOverTarget.
bool RenameOpenFileOver(void* file, const wchar_t* target);

// Makes bytes the whole content of path: written to path + kReplacingSuffix,
// flushed (a rename can reach the disk before the data it names), then moved
// over path. For records that must survive a crash; on failure the
// temporary is removed. False when the temporary's name would not fit
// MAX_PATH.
bool SaveReplacing(const wchar_t* path, const void* bytes, uint32_t count);
