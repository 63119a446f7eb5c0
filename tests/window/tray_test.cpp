// The tray icon of a window and the watcher that reports the cursor entering
// and leaving it. Wine keeps tray icons in its own notification area (in the
// desktop process) and reports the calls' success, but a test cannot look at
// the icon itself: what is checked is the window's tray state, the messages
// and the timer.
#include <gtest/gtest.h>

#include "tests/window/window_fixtures.h"
#include "window/tray.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 7;

class CountingWatcher : public CTrayPos {
public:
    ~CountingWatcher() override { StopWatching(); }
    void OnEnter() override { ++enters; }
    void OnLeave() override { ++leaves; }
    std::atomic<int> enters{0};
    std::atomic<int> leaves{0};
};

struct TrayEvent {
    UINT id;
    UINT event;
};
std::vector<TrayEvent> g_trayEvents;
std::vector<UINT_PTR> g_timers;

void RecordTray(IWindow*, UINT id, UINT event) { g_trayEvents.push_back({id, event}); }
void RecordTimer(IWindow*, UINT_PTR id) { g_timers.push_back(id); }

HICON SolidIcon(COLORREF colour) {
    CImage image;
    uint32_t pixels[16 * 16];
    for (uint32_t& p : pixels) p = 0xFF000000u | colour;
    image.Create(16, 16, 32, pixels);
    return image.CreateIcon();
}

class TrayTest : public testing::Test {
protected:
    void SetUp() override {
        host = MakeHost(100, 80);
        handler.onTrayNotify = &RecordTray;
        handler.onTimer = &RecordTimer;
        host->SetHandler(&handler);
        g_trayEvents.clear();
        g_timers.clear();
        red = SolidIcon(RGB(255, 0, 0));
        green = SolidIcon(RGB(0, 255, 0));
        if (!host->AddTrayIcon(3, red, L"提示", kTrayMessage))
            GTEST_SKIP() << "this Wine has no notification area";
    }
    void TearDown() override {
        host->RemoveTrayIcon();
        DestroyIcon(red);
        DestroyIcon(green);
    }

    std::unique_ptr<TestHost> host;
    WindowHandler handler = {};
    HICON red = nullptr, green = nullptr;
};

}  // namespace

TEST_F(TrayTest, AddReplaceModifyRemove) {
    EXPECT_EQ(host->GetTrayIconId(), 3u);
    EXPECT_EQ(host->GetTrayIcon(), red);
    ASSERT_NE(host->GetTrayWatcher(), nullptr);
    CMsgTrayPos* watcher = host->GetTrayWatcher();

    // A second icon replaces the first; the watcher stays.
    ASSERT_TRUE(host->AddTrayIcon(4, green, nullptr, kTrayMessage));
    EXPECT_EQ(host->GetTrayIconId(), 4u);
    EXPECT_EQ(host->GetTrayIcon(), green);
    EXPECT_EQ(host->GetTrayWatcher(), watcher);

    EXPECT_FALSE(host->ModifyTrayIcon(nullptr, nullptr)) << "nothing to change";
    EXPECT_TRUE(host->ModifyTrayIcon(red, nullptr));
    EXPECT_EQ(host->GetTrayIcon(), red);
    EXPECT_TRUE(host->ModifyTrayIcon(nullptr, std::wstring(100, L'x').c_str())) << "long tip is cut";
    EXPECT_TRUE(host->SetTrayTip(nullptr));
    EXPECT_TRUE(host->SetTrayIcon(green));
    EXPECT_EQ(host->GetTrayIcon(), green);

    EXPECT_TRUE(host->RemoveTrayIcon());
    EXPECT_EQ(host->GetTrayIconId(), 0u);
    EXPECT_EQ(host->GetTrayWatcher(), nullptr);
    EXPECT_FALSE(host->RemoveTrayIcon());
    EXPECT_FALSE(host->SetTrayIcon(red)) << "no icon shown";
    EXPECT_FALSE(host->SetTrayTip(L"x"));
}

TEST_F(TrayTest, NotificationsAndHover) {
    HWND h = host->GetHandle();
    SendMessageW(h, kTrayMessage, 3, WM_MOUSEMOVE);
    EXPECT_TRUE(host->GetTrayWatcher()->IsHovering());
    SendMessageW(h, kTrayMessage, 3, WM_LBUTTONUP);
    PumpMessages();  // the watcher's posted enter
    ASSERT_EQ(g_trayEvents.size(), 3u);
    EXPECT_EQ(g_trayEvents[0].event, UINT(WM_MOUSEMOVE));
    EXPECT_EQ(g_trayEvents[1].event, UINT(WM_LBUTTONUP));
    EXPECT_EQ(g_trayEvents[2].id, 3u);
    EXPECT_EQ(g_trayEvents[2].event, UINT(WM_MOUSEHOVER));
}

TEST_F(TrayTest, FlashAndStopShowTheRememberedIcon) {
    ASSERT_TRUE(host->StartTrayFlash(green));
    EXPECT_TRUE(host->IsFlashing());
    auto flashTicks = [] {
        int ticks = 0;
        for (UINT_PTR id : g_timers) ticks += id == kFlashTimerId;
        return ticks;
    };
    EXPECT_TRUE(PumpUntil([&] { return flashTicks() >= 2; })) << "the 400 ms flash timer runs";
    EXPECT_EQ(host->GetTrayIcon(), red) << "flashing leaves the remembered icon alone";
    EXPECT_EQ(host->StopTrayFlash(), 0);
    EXPECT_FALSE(host->IsFlashing());
    EXPECT_EQ(host->GetTrayIcon(), red);
    // The window has no such timer any more (KillTimer finds none).
    EXPECT_FALSE(KillTimer(host->GetHandle(), kFlashTimerId)) << "the timer is gone";
}

TEST_F(TrayTest, DestroyingTheWindowRemovesTheIcon) {
    DestroyWindow(host->GetHandle());
    EXPECT_EQ(host->GetTrayIconId(), 0u);
    EXPECT_EQ(host->GetTrayWatcher(), nullptr);
}

// The watcher itself needs no shell.
TEST(TrayWatcher, EnterOnceLeaveWhenTheCursorMovesAway) {
    SetCursorPos(20, 20);
    CountingWatcher watcher;
    EXPECT_TRUE(watcher.IsRunning());
    watcher.NoteHover();
    watcher.NoteHover();
    EXPECT_EQ(watcher.enters, 1);
    watcher.Poll();
    EXPECT_EQ(watcher.leaves, 0) << "the cursor has not moved";
    SetCursorPos(40, 40);
    watcher.Poll();
    EXPECT_EQ(watcher.leaves, 1);
    watcher.Poll();
    EXPECT_EQ(watcher.leaves, 1) << "not hovering any more";
}

TEST(TrayWatcher, PopupKeepsTheHover) {
    HWND popup = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_NOTIFY,
                                 400, 100, 100, 100, nullptr, nullptr, TestInstance(), nullptr);
    ASSERT_NE(popup, nullptr);
    PumpFor(100);
    SetCursorPos(420, 120);
    CountingWatcher watcher;
    watcher.SetPopup(popup);
    watcher.NoteHover();
    SetCursorPos(450, 150);
    POINT inside = {450, 150};
    if (WindowFromPoint(inside) != popup) {
        DestroyWindow(popup);
        GTEST_SKIP() << "the popup is not under the cursor on this display";
    }
    watcher.Poll();
    EXPECT_EQ(watcher.leaves, 0) << "still over the popup";
    SetCursorPos(700, 700);
    watcher.Poll();
    EXPECT_EQ(watcher.leaves, 1);
    DestroyWindow(popup);
}

TEST(TrayWatcher, ThreadPostsTheLeaveToTheWindow) {
    auto host = MakeHost(50, 50);
    HWND h = host->GetHandle();
    SetCursorPos(30, 600);
    CMsgTrayPos watcher;
    watcher.SetTarget(h, 9, kTrayMessage);
    watcher.NoteHover();
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, h, kTrayMessage, kTrayMessage, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(msg.lParam, WM_MOUSEHOVER);
    SetCursorPos(60, 650);
    // The thread polls once a second.
    bool left = false;
    for (int i = 0; i < 40 && !left; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
        left = PeekMessageW(&msg, h, kTrayMessage, kTrayMessage, PM_REMOVE);
    }
    ASSERT_TRUE(left);
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(msg.lParam, WM_MOUSELEAVE);
}
