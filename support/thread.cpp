#include "support/thread.h"

XThread::~XThread() { Stop(0); }

DWORD WINAPI XThread::Routine(void* self) {
    auto* thread = static_cast<XThread*>(self);
    int phase = kCreated;
    if (!thread->phase_.compare_exchange_strong(phase, kRunning)) return 0;  // stopped before Run
    thread->Run();
    phase = kRunning;
    if (!thread->phase_.compare_exchange_strong(phase, kFinishing)) {
        // The owner has claimed a forcible end at this very moment: let it happen.
        for (;;) Sleep(INFINITE);
    }
    thread->OnFinished();
    return 0;
}

bool XThread::Start() {
    if (handle_.load() != nullptr) return false;
    waitHandle_.reset();  // the previous run has ended; its duplicate is stale
    stopRequested_.store(false);
    if (stopEvent_) ResetEvent(stopEvent_.get());
    phase_.store(kCreated);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Routine, this, CREATE_SUSPENDED, &id);
    if (!thread) return false;
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        // Without the owner's handle the run could not be waited for: let the
        // thread leave without running it.
        phase_.store(kAbandoned);
        ResumeThread(thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return false;
    }
    waitHandle_.reset(duplicate);
    threadId_.store(id);
    handle_.store(thread);
    ResumeThread(thread);
    return true;
}

void XThread::Stop(DWORD milliseconds) {
    RequestStop();
    // From the worker itself: only the request makes sense.
    if (GetCurrentThreadId() == threadId_.load() && handle_.load() != nullptr) return;
    HANDLE thread = handle_.exchange(nullptr);
    if (!thread) {
        // The run already ended by itself; its handle is closed.
        threadId_.store(0);
        return;
    }
    if (milliseconds != 0) WaitForSingleObject(thread, milliseconds);
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        int phase = kCreated;
        if (!phase_.compare_exchange_strong(phase, kAbandoned) && phase == kRunning &&
            phase_.compare_exchange_strong(phase, kKilled))
            TerminateThread(thread, 0);
        // Termination completes asynchronously, and a thread let go is still
        // leaving: the object may be freed right after this.
        WaitForSingleObject(thread, INFINITE);
    }
    CloseHandle(thread);
    threadId_.store(0);
}

void XThread::Wait(DWORD milliseconds) {
    if (!waitHandle_ || GetCurrentThreadId() == threadId_.load()) return;
    if (handle_.load() == nullptr) return;
    WaitForSingleObject(waitHandle_.get(), milliseconds);
}

void XThread::OnFinished() {
    HANDLE thread = handle_.exchange(nullptr);
    if (thread) CloseHandle(thread);
}
