// XThread: an object that owns one thread running its Run operation.
//
// Who closes the thread handle: the handle field is handed over with an
// atomic exchange. Whoever takes it out of the field (the worker's own
// OnFinished at the end of a run, or the owner's Stop) is its only closer;
// the other side then finds the field empty and does nothing. No lock is
// involved, so ending the thread forcibly can never leave a lock held.
// Start creates the thread suspended and stores the handle before the thread
// runs, so a run that ends at once still finds its handle to close.
// Wait uses a duplicate handle that only the owner touches, so it never waits
// on a handle the worker may be closing at that moment.
//
// Stopping: Stop(ms) first raises a stop request that Run should check
// between its steps (StopRequested), waits up to ms for the run to end by
// itself, and only then ends the thread forcibly. So an owner that can spare
// a moment ends its worker between two files, never in the middle of one.
// Stop(0), used by the destructor, does not wait for Run.
//
// A forcible end is only ever made while Run is executing. A thread caught
// before Run (still starting) skips Run and leaves; one caught after Run
// (in OnFinished or leaving) is let go. Stop waits for those, which takes
// no time worth mentioning: ending a thread inside its start-up or exit code
// would corrupt the runtime's per-thread state. Which phase the thread is in
// is settled by compare-and-swap, so the owner and the worker never both
// believe they own the end. Ending a Run forcibly is still unsafe if Run
// holds a lock (the heap's, say) at that moment: owners that can, use the
// cooperative request with a grace period.
//
// A derived class whose Run uses members of its own must call Stop in its
// own destructor: by the time this destructor runs they are already gone.
// An override of OnFinished must call this one last and touch the object no
// more afterwards: the owner may destroy it from then on.
#pragma once

#include <windows.h>

#include <atomic>

#include "support/handle.h"

class XThread {
public:
    XThread() = default;
    virtual ~XThread();
    XThread(const XThread&) = delete;
    XThread& operator=(const XThread&) = delete;

    // False when a run is in progress or the thread cannot be created.
    virtual bool Start();
    virtual void Stop(DWORD milliseconds);
    virtual void Wait(DWORD milliseconds);
    virtual void OnFinished();
    virtual void Run() = 0;

    // Asks the running Run to end at its next check; does not wait.
    void RequestStop() {
        stopRequested_.store(true);
        if (stopEvent_) SetEvent(stopEvent_.get());
    }
    bool StopRequested() const { return stopRequested_.load(); }
    // Signalled with the stop request (reset by Start), so a Run that pauses
    // can wait on it and end the pause at once; null if it could not be made.
    HANDLE StopEvent() const { return stopEvent_.get(); }
    bool IsRunning() const { return handle_.load() != nullptr; }
    DWORD ThreadId() const { return threadId_.load(); }

private:
    static DWORD WINAPI Routine(void* self);

    // Not a UniqueHandle: two threads race to take it, see above.
    std::atomic<HANDLE> handle_{nullptr};
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> stopRequested_{false};
    enum Phase : int { kCreated, kRunning, kFinishing, kAbandoned, kKilled };
    std::atomic<int> phase_{kCreated};
    UniqueKernelHandle waitHandle_;  // owner's duplicate; owner thread only
    UniqueKernelHandle stopEvent_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

