// Worker threads: start, natural end and restart, refusal while running,
// cooperative and forcible stop, destruction of a running thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "support/handle.h"
#include "support/thread.h"

namespace {

// Runs until released by its owner, counting its runs.
class GatedThread : public XThread {
public:
    GatedThread() : gate_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~GatedThread() override { Stop(0); }
    void Open() { SetEvent(gate_.get()); }
    void Close() { ResetEvent(gate_.get()); }
    void Run() override {
        started.fetch_add(1);
        WaitForSingleObject(gate_.get(), INFINITE);
        finished.fetch_add(1);
    }
    std::atomic<int> started{0};
    std::atomic<int> finished{0};

private:
    UniqueKernelHandle gate_;
};

// Works in steps and checks the stop request between them; a step is never
// cut in half by a cooperative stop.
class SteppingThread : public XThread {
public:
    ~SteppingThread() override { Stop(0); }
    void Run() override {
        while (!StopRequested()) {
            stepsBegun.fetch_add(1);
            Sleep(5);  // one "file"
            stepsDone.fetch_add(1);
        }
        endedByItself.store(true);
    }
    std::atomic<int> stepsBegun{0};
    std::atomic<int> stepsDone{0};
    std::atomic<bool> endedByItself{false};
};

// Never looks at the stop request: only a forcible end stops it.
class StubbornThread : public XThread {
public:
    ~StubbornThread() override { Stop(0); }
    void Run() override {
        for (;;) {
            loops.fetch_add(1);
            Sleep(1);
        }
    }
    std::atomic<int> loops{0};
};

bool WaitUntil(const std::atomic<int>& value, int atLeast) {
    for (int i = 0; i < 1000 && value.load() < atLeast; ++i) Sleep(5);
    return value.load() >= atLeast;
}

// An independent handle to the worker, to see whether it has ended.
UniqueKernelHandle OpenWorker(const XThread& thread) {
    return UniqueKernelHandle(OpenThread(SYNCHRONIZE, FALSE, thread.ThreadId()));
}

TEST(XThread, NaturalEndLeavesItIdleAndItCanRunAgain) {
    GatedThread thread;
    thread.Open();
    for (int run = 1; run <= 3; ++run) {
        ASSERT_TRUE(thread.Start()) << run;
        thread.Wait(INFINITE);
        EXPECT_EQ(run, thread.finished.load());
        // The routine's own end released the handle.
        for (int i = 0; i < 200 && thread.IsRunning(); ++i) Sleep(5);
        EXPECT_FALSE(thread.IsRunning());
    }
    EXPECT_EQ(3, thread.started.load());
}

TEST(XThread, StartWhileRunningIsRefused) {
    GatedThread thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitUntil(thread.started, 1));
    DWORD id = thread.ThreadId();
    EXPECT_FALSE(thread.Start());
    EXPECT_EQ(id, thread.ThreadId());
    EXPECT_EQ(1, thread.started.load());
    thread.Wait(50);  // times out: still gated
    EXPECT_TRUE(thread.IsRunning());
    thread.Open();
    thread.Wait(INFINITE);
    EXPECT_EQ(1, thread.finished.load());
}

TEST(XThread, IdleObjectIgnoresStopAndWait) {
    GatedThread thread;
    thread.Stop(0);
    thread.Stop(100);
    thread.Wait(INFINITE);  // returns at once
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(0, thread.started.load());
}

TEST(XThread, CooperativeStopEndsBetweenSteps) {
    SteppingThread thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitUntil(thread.stepsDone, 3));
    UniqueKernelHandle worker = OpenWorker(thread);
    ASSERT_TRUE(worker);
    thread.Stop(10000);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.get(), 0));
    EXPECT_TRUE(thread.endedByItself.load());
    EXPECT_EQ(thread.stepsBegun.load(), thread.stepsDone.load());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(0u, thread.ThreadId());

    // A new run starts with the request cleared.
    thread.endedByItself.store(false);
    ASSERT_TRUE(thread.Start());
    int before = thread.stepsDone.load();
    ASSERT_TRUE(WaitUntil(thread.stepsDone, before + 2));
    EXPECT_FALSE(thread.endedByItself.load());
    thread.RequestStop();
    thread.Wait(10000);
    EXPECT_TRUE(thread.endedByItself.load());
}

// A Run that pauses on the stop event: the stop request ends the pause at
// once, and a new run starts with the event cleared.
class PausingThread : public XThread {
public:
    ~PausingThread() override { Stop(0); }
    void Run() override {
        pausing.store(true);
        result.store(WaitForSingleObject(StopEvent(), 60000));
    }
    std::atomic<bool> pausing{false};
    std::atomic<DWORD> result{0};
};

TEST(XThread, TheStopEventEndsAPauseAndIsClearedByTheNextStart) {
    PausingThread thread;
    ASSERT_NE(nullptr, thread.StopEvent());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        thread.pausing.store(false);
        ASSERT_TRUE(thread.Start());
        for (int i = 0; i < 1000 && !thread.pausing.load(); ++i) Sleep(5);
        ASSERT_TRUE(thread.pausing.load());
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread.StopEvent(), 0));
        UniqueKernelHandle worker = OpenWorker(thread);
        ASSERT_TRUE(worker);
        thread.RequestStop();
        // Far below the minute of the pause: only the event can have ended it.
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.get(), 10000));
        EXPECT_EQ(DWORD(WAIT_OBJECT_0), thread.result.load());
        thread.Wait(10000);
    }
}

TEST(XThread, StopEndsAWorkerThatIgnoresTheRequest) {
    StubbornThread thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitUntil(thread.loops, 2));
    UniqueKernelHandle worker = OpenWorker(thread);
    ASSERT_TRUE(worker);
    thread.Stop(30);
    // The worker's own handle is signalled: the thread has ended, so its
    // loop cannot go on.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.get(), 0));
    EXPECT_FALSE(thread.IsRunning());
}

TEST(XThread, DestroyingARunningThreadEndsItWithoutWaiting) {
    auto thread = std::make_unique<StubbornThread>();
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(WaitUntil(thread->loops, 1));
    UniqueKernelHandle worker = OpenWorker(*thread);
    ASSERT_TRUE(worker);
    thread.reset();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.get(), 0));
}

// The lowest free handle slot: it moves when a handle leaks.
HANDLE ProbeHandleSlot() {
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return probe;
}

// The object of a thread that ended by itself releases what it held, and
// only that, without waiting.
TEST(XThread, DestroyingAFinishedThreadTouchesNothing) {
    UniqueKernelHandle bystander(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE slot = ProbeHandleSlot();
    auto thread = std::make_unique<GatedThread>();
    thread->Open();
    ASSERT_TRUE(thread->Start());
    thread->Wait(INFINITE);
    for (int i = 0; i < 200 && thread->IsRunning(); ++i) Sleep(5);
    ASSERT_FALSE(thread->IsRunning());
    EXPECT_EQ(1, thread->finished.load());
    thread.reset();
    EXPECT_EQ(slot, ProbeHandleSlot());
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(bystander.get(), &flags));
}

// Owner and worker end a run at the same moment, many times: each handle is
// closed exactly once, none leaks and no other handle gets closed by mistake.
TEST(XThread, RacingEndsCloseEachHandleOnce) {
    GatedThread thread;
    thread.Open();
    UniqueKernelHandle bystander(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // After every run the object keeps the owner's duplicate until the next Start.
    ASSERT_TRUE(thread.Start());
    thread.Stop(INFINITE);
    const HANDLE slot = ProbeHandleSlot();
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(thread.Start()) << i;
        if (i % 3 == 0) {
            thread.Stop(0);  // may meet the worker's start or its own end
        } else if (i % 3 == 1) {
            thread.Stop(INFINITE);
        } else {
            thread.Wait(INFINITE);
            for (int k = 0; k < 200 && thread.IsRunning(); ++k) Sleep(1);
        }
        ASSERT_FALSE(thread.IsRunning()) << i;
    }
    EXPECT_EQ(slot, ProbeHandleSlot());
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(bystander.get(), &flags));
}

// Stop called by the worker itself only raises the request.
class SelfStoppingThread : public XThread {
public:
    ~SelfStoppingThread() override { Stop(0); }
    void Run() override {
        Stop(INFINITE);
        sawRequest.store(StopRequested());
        survived.store(true);
    }
    std::atomic<bool> sawRequest{false};
    std::atomic<bool> survived{false};
};

TEST(XThread, StopFromTheWorkerItselfOnlyRequests) {
    SelfStoppingThread thread;
    ASSERT_TRUE(thread.Start());
    thread.Wait(10000);
    EXPECT_TRUE(thread.survived.load());
    EXPECT_TRUE(thread.sawRequest.load());
}

}  // namespace
