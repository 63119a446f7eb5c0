#include "support/fiber_lanes.h"

#include <algorithm>

namespace {

// The fibers of one Run, deleted however it ends; the thread is turned back
// into a plain thread if Run made it a fiber.
class RunFibers {
public:
    ~RunFibers() {
        for (int i = 0; i < count_; ++i) DeleteFiber(fibers_[i]);
        if (converted_) ConvertFiberToThread();
    }
    // This thread made a fiber; null when it cannot be (or already is one:
    // a thread of someone else's fibers is left alone).
    void* Main() {
        void* main = ConvertThreadToFiber(nullptr);
        converted_ = main != nullptr;
        return main;
    }
    void* Add(LPFIBER_START_ROUTINE start, void* parameter) {
        // The program's default stack size: a body runs what a thread would.
        void* fiber = CreateFiber(0, start, parameter);
        if (fiber) fibers_[count_++] = fiber;
        return fiber;
    }

private:
    void* fibers_[kMaxTogether] = {};
    int count_ = 0;
    bool converted_ = false;
};

}  // namespace

bool FiberLanes::Run(int lanes, Body body, void* context) {
    if (lanes < 1 || lanes > kMaxTogether || !body || main_) return false;
    RunFibers fibers;
    void* main = fibers.Main();
    if (!main) return false;
    for (int i = 0; i < lanes; ++i) {
        lanes_[i] = Lane();
        lanes_[i].owner = this;
        lanes_[i].index = i;
        lanes_[i].fiber = fibers.Add(&FiberLanes::Start, &lanes_[i]);
        if (!lanes_[i].fiber) return false;
    }
    main_ = main;
    thread_ = GetCurrentThreadId();
    body_ = body;
    context_ = context;
    Schedule(lanes);
    main_ = nullptr;
    thread_ = 0;
    return true;
}

// Each fiber that is not waiting runs until it asks for decryption or
// returns; then every waiting piece is decrypted as far as the shortest of
// them, all together. A fiber whose piece is done goes on; the others keep
// waiting, so that the next pass has as many streams as there are fibers
// (entries are mostly small, and decrypting each piece whole would leave
// the large ones' pieces to run alone).
void FiberLanes::Schedule(int lanes) {
    for (;;) {
        ZipCryptoKeys* keys[kMaxTogether];
        uint8_t* bytes[kMaxTogether];
        size_t counts[kMaxTogether];
        Lane* waiting[kMaxTogether];
        int n = 0;
        for (int i = 0; i < lanes; ++i) {
            Lane& lane = lanes_[i];
            if (!lane.done && !lane.keys) {
                current_ = &lane;
                SwitchToFiber(lane.fiber);
                current_ = nullptr;
            }
            if (lane.keys) waiting[n++] = &lane;
        }
        if (n == 0) return;  // every body has returned
        size_t step = waiting[0]->count;
        for (int j = 1; j < n; ++j) step = std::min(step, waiting[j]->count);
        for (int j = 0; j < n; ++j) keys[j] = waiting[j]->keys, bytes[j] = waiting[j]->bytes, counts[j] = step;
        DecryptTogether(keys, bytes, counts, n);
        for (int j = 0; j < n; ++j) {
            Lane& lane = *waiting[j];
            lane.bytes += step;
            lane.count -= step;
            if (lane.count == 0) lane.keys = nullptr;
        }
    }
}

void CALLBACK FiberLanes::Start(void* parameter) {
    Lane* lane = static_cast<Lane*>(parameter);
    FiberLanes* owner = lane->owner;
    owner->body_(lane->index, owner->context_);
    lane->done = true;
    // A fiber's routine must not return: that would end the thread.
    SwitchToFiber(owner->main_);
}

void FiberLanes::Decrypt(ZipCryptoKeys& keys, uint8_t* bytes, size_t count) {
    Lane* lane = thread_ == GetCurrentThreadId() ? current_ : nullptr;
    if (!lane) {
        keys.Decrypt(bytes, count);
        return;
    }
    if (count == 0) return;
    lane->keys = &keys, lane->bytes = bytes, lane->count = count;
    SwitchToFiber(main_);
}
