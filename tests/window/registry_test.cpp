// The window registry, the windowing layer's start-up and shutdown, and the
// application message loop.
#include <gtest/gtest.h>

#include "tests/window/window_fixtures.h"
#include "window/app.h"
#include "window/window_map.h"

namespace {

int g_idleCalls = 0;
bool CountIdleAndRefuse(IWindow*) {
    ++g_idleCalls;
    return false;
}

}  // namespace

TEST(WindowMap, AddFindRemove) {
    CWindowMap map;
    auto first = MakeHost();
    auto second = MakeHost();
    const int32_t expected =
        int32_t(uint32_t(reinterpret_cast<uintptr_t>(first->GetHandle())) + 0x10000000u);
    EXPECT_EQ(map.Add(-1, first.get()), expected);
    EXPECT_EQ(first->GetId(), expected);
    EXPECT_EQ(first->GetRegistry(), &map);
    EXPECT_EQ(map.Find(expected), first.get());

    EXPECT_EQ(map.Add(expected, second.get()), -1) << "the id is taken";
    EXPECT_EQ(map.Find(expected), first.get()) << "the first entry stays";
    EXPECT_EQ(second->GetRegistry(), nullptr);
    EXPECT_EQ(map.Add(5, nullptr), -1);
    EXPECT_EQ(map.Add(5, second.get()), 5);

    EXPECT_FALSE(map.Remove(12345));
    EXPECT_EQ(map.Count(), 2u);
    EXPECT_TRUE(map.Remove(5));
    EXPECT_FALSE(IsWindow(second->GetHandle())) << "removal destroys the window";
    EXPECT_EQ(map.Find(5), nullptr);
    EXPECT_FALSE(map.Remove(5));
    map.DestroyAll();
}

TEST(WindowMap, AllIdleAsksEveryWindow) {
    CWindowMap map;
    EXPECT_TRUE(map.AllIdle()) << "empty registry";
    auto first = MakeHost();
    auto second = MakeHost();
    WindowHandler refuse = {};
    refuse.onIdle = &CountIdleAndRefuse;
    first->SetHandler(&refuse);
    second->SetHandler(&refuse);
    map.Add(1, first.get());
    map.Add(2, second.get());
    g_idleCalls = 0;
    EXPECT_FALSE(map.AllIdle());
    EXPECT_EQ(g_idleCalls, 2) << "no early stop";
    second->SetHandler(nullptr);
    EXPECT_FALSE(map.AllIdle());
    first->SetHandler(nullptr);
    EXPECT_TRUE(map.AllIdle());
    map.DestroyAll();
}

TEST(WindowMap, RenderAllPaintsInIdOrder) {
    CWindowMap map;
    auto first = MakeHost(50, 50);
    auto second = MakeHost(50, 50);
    ProbeLayer* a = AddProbe(*first, nullptr, "a", {0, 0, 50, 50});
    ProbeLayer* b = AddProbe(*second, nullptr, "b", {0, 0, 50, 50});
    map.Add(2, first.get());
    map.Add(1, second.get());
    EXPECT_TRUE(map.RenderAll());
    EXPECT_EQ(a->paints, 1);
    EXPECT_EQ(b->paints, 1);
    EXPECT_FALSE(map.RenderAll()) << "nothing dirty";
    map.DestroyAll();
}

TEST(WindowMap, DestroyingWindowsLeavesNoDanglingEntry) {
    CWindowMap map;
    auto first = MakeHost();
    auto second = MakeHost();
    auto third = MakeHost();
    map.Add(1, first.get());
    map.Add(2, second.get());
    map.Add(3, third.get());
    bool released = false;
    AddProbe(*first, nullptr, "p", {0, 0, 10, 10})->released = &released;

    // A window closed by the user leaves the registry through its WM_DESTROY.
    DestroyWindow(second->GetHandle());
    EXPECT_EQ(map.Find(2), nullptr);
    EXPECT_EQ(map.Count(), 2u);
    EXPECT_EQ(second->GetHandle(), nullptr);

    map.DestroyAllExcept(3);
    EXPECT_EQ(map.Count(), 1u);
    EXPECT_TRUE(released) << "Destroy releases the layers";
    EXPECT_EQ(first->GetRender(), nullptr) << "and the renderer";
    // DestroyAll re-enters Remove through every WM_DESTROY; the map copes.
    map.DestroyAll();
    EXPECT_EQ(map.Count(), 0u);
    EXPECT_FALSE(IsWindow(third->GetHandle()));
    // A deleted window object leaves its registry first.
    auto fourth = MakeHost();
    map.Add(4, fourth.get());
    fourth.reset();
    EXPECT_EQ(map.Find(4), nullptr);
}

TEST(AppInit, IconsAndDefaultFrame) {
    struct Case {
        int metric, expected;
    };
    for (Case c : {Case{32, 32}, Case{40, 48}, Case{16, 16}, Case{17, 32}, Case{48, 48}})
        EXPECT_EQ(RoundIconSize(c.metric), c.expected) << c.metric;

    ASSERT_TRUE(AppInit(TestInstance()));
    WindowingState& state = Windowing();
    EXPECT_EQ(state.instance, TestInstance());
    EXPECT_EQ(state.uiThreadId, GetCurrentThreadId());
    EXPECT_NE(state.bigIcon.get(), nullptr);
    EXPECT_NE(state.smallIcon.get(), nullptr);
    ASSERT_NE(state.defaultFrame, nullptr);
    EXPECT_EQ(state.defaultFrame->GetWidth(), 18);
    EXPECT_EQ(state.defaultFrameWidth, 6);
    EXPECT_FALSE(state.defaultFrameCentre);
    EXPECT_FALSE(LoadDefaultFrame(TestInstance(), 99)) << "no such resource";
    EXPECT_NE(state.defaultFrame, nullptr) << "a failed load keeps the frame";

    {
        CWindow window;
        ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
        EXPECT_EQ(window.GetFrameImage(), state.defaultFrame);
        EXPECT_EQ(window.GetFrameWidth(), 6);
        EXPECT_TRUE(window.HasFrame());
        EXPECT_EQ(window.GetIcon(true), state.bigIcon.get());
        EXPECT_EQ(window.GetIcon(false), state.smallIcon.get());
    }

    AppShutdown();
    EXPECT_EQ(state.defaultFrame, nullptr);
    EXPECT_EQ(state.defaultFrameWidth, 0);
    EXPECT_EQ(state.bigIcon.get(), nullptr);
    EXPECT_EQ(state.instance, nullptr);
    EXPECT_FALSE(state.hotkeyForwarding);
    state.hotkeyForwarding = true;
}

namespace {

ProbeLayer* g_loopProbe = nullptr;
int g_loopIdle = 0;
bool CloseOncePainted(IWindow* window) {
    ++g_loopIdle;
    if (g_loopProbe->paints > 0) window->Close();
    return true;
}

struct MainWindowSwap {
    explicit MainWindowSwap(HWND replacement) : saved(Windowing().mainWindow) {
        Windowing().mainWindow = replacement;
    }
    ~MainWindowSwap() { Windowing().mainWindow = saved; }
    HWND saved;
};

}  // namespace

TEST(MessageLoop, EndsAtOnceWithoutAMainWindow) {
    MainWindowSwap swap(nullptr);
    ASSERT_EQ(g_windowMap.Count(), 0u);
    RunMessageLoop();
    EXPECT_FALSE(Windowing().loopRunning);
}

TEST(MessageLoop, RendersWhileIdleAndEndsWithTheMainWindow) {
    auto main = MakeHost(100, 80);
    auto other = MakeHost(100, 80);
    MainWindowSwap swap(main->GetHandle());
    g_loopProbe = AddProbe(*main, nullptr, "p", {0, 0, 100, 80});
    g_loopIdle = 0;
    WindowHandler handler = {};
    handler.onIdle = &CloseOncePainted;
    main->SetHandler(&handler);
    ASSERT_NE(g_windowMap.Add(-1, main.get()), -1);
    ASSERT_NE(g_windowMap.Add(-1, other.get()), -1);

    RunMessageLoop();

    EXPECT_GE(g_loopIdle, 1);
    EXPECT_FALSE(IsWindow(main->GetHandle()));
    EXPECT_FALSE(IsWindow(other->GetHandle())) << "the main window's end destroys every window";
    EXPECT_EQ(g_windowMap.Count(), 0u);
    EXPECT_FALSE(Windowing().loopRunning);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop took it";
}

TEST(MessageLoop, EndsOnQuit) {
    auto main = MakeHost(100, 80);
    MainWindowSwap swap(main->GetHandle());
    PostQuitMessage(0);
    RunMessageLoop();
    EXPECT_TRUE(IsWindow(main->GetHandle()));
}
