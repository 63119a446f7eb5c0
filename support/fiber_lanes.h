// Several readers' decryption done together on one thread: each reader runs
// in a fiber of its own, and a piece it asks to decrypt waits until every
// other fiber is waiting too (or has finished), so that all the pieces go
// through one interleaved pass (see DecryptTogether).
#pragma once

#include "support/zip_crypto.h"

#include <windows.h>

#include <atomic>

class FiberLanes : public IDecryptor {
public:
    using Body = void (*)(int lane, void* context);

    FiberLanes() = default;
    FiberLanes(const FiberLanes&) = delete;
    FiberLanes& operator=(const FiberLanes&) = delete;

    // Runs body(0 .. lanes - 1, context) in fibers of the calling thread
    // until every one has returned. Only a Decrypt switches between them, so
    // a body must never wait for another (a lock is taken and given back
    // between two Decrypts, never held across one). False, with nothing run,
    // when the fibers could not be made or lanes is out of 1 .. kMaxTogether.
    bool Run(int lanes, Body body, void* context);

    // From a body: returns once the bytes are decrypted. From another
    // thread, or with no Run going on: decrypts at once.
    void Decrypt(ZipCryptoKeys& keys, uint8_t* bytes, size_t count) override;

private:
    struct Lane {
        FiberLanes* owner = nullptr;
        int index = 0;
        void* fiber = nullptr;
        bool done = false;
        ZipCryptoKeys* keys = nullptr;  // a waiting request, or none
        uint8_t* bytes = nullptr;
        size_t count = 0;
    };
    static void CALLBACK Start(void* lane);
    void Schedule(int lanes);

    Lane lanes_[kMaxTogether];
    void* main_ = nullptr;
    Lane* current_ = nullptr;
    std::atomic<DWORD> thread_{0};  // the thread of a Run going on
    Body body_ = nullptr;
    void* context_ = nullptr;
};
