// The layer host's input, driven by real window messages: hover order with
// layer-local coordinates, capture, clicks into WM_COMMAND, the drag on ID 0,
// keys and hot keys, the context menu, the wheel, the sizing grips, and the
// layer list's renumbering.
#include <gtest/gtest.h>

#include "tests/window/window_fixtures.h"
#include "ui/controls.h"
#include "window/app.h"

namespace {

// bg fills the window; a to d sit in a row; e overlaps d's lower part.
class InputTest : public testing::Test {
protected:
    void SetUp() override {
        host = MakeHost(300, 200);
        h = host->GetHandle();
        bg = AddProbe(*host, &log, "bg", {0, 0, 300, 200});
        a = AddProbe(*host, &log, "a", {10, 10, 60, 60});
        b = AddProbe(*host, &log, "b", {70, 10, 120, 60});
        c = AddProbe(*host, &log, "c", {130, 10, 180, 60});
        d = AddProbe(*host, &log, "d", {190, 10, 240, 60});
        e = AddProbe(*host, &log, "e", {190, 30, 290, 90});
        log.clear();
    }
    void TearDown() override {
        ReleaseCapture();
        MSG msg;  // a drag request must never reach the system's move loop
        while (PeekMessageW(&msg, h, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) {
        }
    }

    void Move(int x, int y, WPARAM keys = 0) { SendMessageW(h, WM_MOUSEMOVE, keys, MAKELPARAM(x, y)); }
    void Down(int x, int y) { SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
    void Up(int x, int y) { SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
    void Click(POINT press, POINT release) {
        Move(press.x, press.y);
        Down(press.x, press.y);
        Move(release.x, release.y, MK_LBUTTON);
        Up(release.x, release.y);
    }
    bool TakeDragRequest() {
        MSG msg;
        if (!PeekMessageW(&msg, h, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) return false;
        return msg.wParam == HTCAPTION;
    }

    EventLog log;
    std::unique_ptr<TestHost> host;
    HWND h = nullptr;
    ProbeLayer *bg, *a, *b, *c, *d, *e;
};

}  // namespace

TEST_F(InputTest, HoverLeaveThenEnterThenMoveInLayerCoordinates) {
    Move(80, 20);  // over b
    log.clear();
    Move(200, 80);  // over e only
    const EventLog expected = {
        {"b", WM_MOUSELEAVE, 200 - 70, 80 - 10},
        {"e", WM_MOUSEHOVER, 200 - 190, 80 - 30},
        {"e", WM_MOUSEMOVE, 200 - 190, 80 - 30},
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(host->GetHoverIndex(), 5);

    log.clear();
    Move(205, 85);  // same layer: a move only
    EXPECT_EQ(log, (EventLog{{"e", WM_MOUSEMOVE, 15, 55}}));
}

TEST_F(InputTest, ClicksBecomeCommands) {
    struct Case {
        const char* name;
        int id;  // given to c before the click
        POINT press, release;
        bool command;
        WPARAM wParam;
    };
    const Case cases[] = {
        {"same layer", 3, {150, 20}, {160, 40}, true, 3},
        {"released on another layer", 3, {150, 20}, {80, 20}, false, 0},
        {"released over the background", 3, {150, 20}, {299, 199}, false, 0},
        {"negative id", -1, {150, 20}, {150, 20}, false, 0},
        {"zero id drags instead", 0, {150, 20}, {150, 20}, false, 0},
        {"only the low 16 bits", 0x12345, {150, 20}, {150, 20}, true, 0x2345},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        host->commands.clear();
        c->SetID(k.id);
        Click(k.press, k.release);
        if (k.command) {
            ASSERT_EQ(host->commands.size(), 1u);
            EXPECT_EQ(host->commands[0].wParam, k.wParam);
            EXPECT_EQ(host->commands[0].lParam, reinterpret_cast<LPARAM>(c));
        } else {
            EXPECT_TRUE(host->commands.empty());
        }
        EXPECT_EQ(TakeDragRequest(), k.id == 0);
    }
}

TEST_F(InputTest, PressOnIdZeroStartsTheDrag) {
    Move(5, 150);
    Down(5, 150);  // bg, the first layer, has ID 0
    EXPECT_TRUE(TakeDragRequest());
    EXPECT_NE(GetCapture(), h) << "the drag gives the capture up";
    Up(5, 150);
    EXPECT_TRUE(host->commands.empty());
}

TEST_F(InputTest, CaptureKeepsThePressedLayer) {
    Move(20, 20);
    Down(20, 20);  // a
    EXPECT_EQ(GetCapture(), h);
    EXPECT_EQ(host->GetPressedIndex(), 1);
    log.clear();
    Move(80, 20, MK_LBUTTON);  // over b, button held
    Move(150, 20, MK_LBUTTON);  // over c
    const EventLog expected = {
        {"a", WM_MOUSEMOVE, 70, 10},
        {"a", WM_MOUSEMOVE, 140, 10},
    };
    EXPECT_EQ(log, expected) << "other layers hear nothing while the button is held";
    log.clear();
    Up(150, 20);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(log, (EventLog{{"a", WM_LBUTTONUP, 140, 10}}));
    EXPECT_TRUE(host->commands.empty());
    // The next move hovers what is under the cursor again.
    log.clear();
    Move(151, 20);
    EXPECT_EQ(log.front(), (LayerEvent{"a", WM_MOUSELEAVE, 141, 10}));
    EXPECT_EQ(log.back(), (LayerEvent{"c", WM_MOUSEMOVE, 21, 10}));
}

TEST_F(InputTest, ReleaseWithoutPressClicksNothing) {
    Click({150, 20}, {80, 20});  // pressed c, released on b
    host->commands.clear();
    // A later release over c (say after a press outside the window) is no click.
    Move(150, 20);
    Up(150, 20);
    EXPECT_TRUE(host->commands.empty());
}

TEST_F(InputTest, InvisibleLayersAreNeverHit) {
    e->SetVisible(false);
    EXPECT_EQ(host->HitTest(200, 40), 4);  // d under the hidden e
    EXPECT_EQ(host->HitTest(260, 80), 0);  // only bg
    Move(200, 40);
    Move(260, 80);
    for (const LayerEvent& event : log) EXPECT_NE(event.layer, "e") << event;
    e->SetVisible(true);
    EXPECT_EQ(host->HitTest(200, 40), 5);
    EXPECT_EQ(host->HitTest(-1, 40), -1);
    EXPECT_EQ(host->HitTest(300, 40), -1) << "right edge is exclusive";
}

TEST_F(InputTest, PressMovesTheKeyboardFocus) {
    EXPECT_EQ(host->GetFocusIndex(), 5) << "the last inserted layer has the focus";
    host->TakeFocus();  // the window's own focus goes to that layer
    Move(80, 20);
    log.clear();
    Down(80, 20);
    Up(80, 20);
    EXPECT_EQ(host->GetFocusIndex(), 2);
    const EventLog expected = {
        {"e", kEventBlur, 0, 0},
        {"b", kEventFocus, 0, 0},
        {"b", WM_LBUTTONDOWN, 10, 10},
        {"b", WM_LBUTTONUP, 10, 10},
    };
    EXPECT_EQ(log, expected);
    log.clear();
    SendMessageW(h, WM_KEYDOWN, 'A', MAKELPARAM(1, 0x1E));
    EXPECT_EQ(log, (EventLog{{"b", WM_KEYDOWN, 'A', 0x1E}}));
}

TEST_F(InputTest, KeysReachTheFocusedOrTheNamedLayer) {
    struct Step {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        EventLog expected;
    };
    const Step steps[] = {
        {WM_KEYDOWN, 'A', MAKELPARAM(1, 0x1E), {{"e", WM_KEYDOWN, 'A', 0x1E}}},
        {WM_CHAR, 'a', MAKELPARAM(1, 0x1E), {{"e", WM_CHAR, 'a', 0x1E}}},
        {WM_KEYUP, 'A', MAKELPARAM(1, 0xC01E), {{"e", WM_KEYUP, 'A', 0xC01E}}},
        // Layer index in the high word, key in the low byte, key information
        // in lParam's high word.
        {kMsgLayerKeyPress, MAKEWPARAM(0x4B, 2), MAKELPARAM(0, 0x25), {{"b", WM_KEYDOWN, 'K', 0x25}}},
        {kMsgLayerKeyRelease, MAKEWPARAM(0x4B, 2), MAKELPARAM(0, 0x25), {{"b", WM_KEYUP, 'K', 0x25}}},
        {kMsgLayerKeyPress, MAKEWPARAM(0x14B, 3), 0, {{"c", WM_KEYDOWN, 'K', 0}}},
        {kMsgLayerKeyPress, MAKEWPARAM('K', 9), 0, {}},  // no layer 9
    };
    for (const Step& step : steps) {
        log.clear();
        EXPECT_EQ(SendMessageW(h, step.message, step.wParam, step.lParam), 0);
        EXPECT_EQ(log, step.expected) << "message 0x" << std::hex << step.message;
    }
}

TEST_F(InputTest, HotKeysAreForwardedAsLayerKeyPress) {
    // Hot-key id 7 with layer 3 in its high word; Alt+Q.
    SendMessageW(h, WM_HOTKEY, MAKEWPARAM(7, 3), MAKELPARAM(MOD_ALT, 'Q'));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, h, kMsgLayerKeyPress, kMsgLayerKeyPress, PM_REMOVE));
    EXPECT_EQ(msg.wParam, WPARAM(MAKEWPARAM('Q', 3)));
    EXPECT_EQ(msg.lParam, 0);
    DispatchMessageW(&msg);
    EXPECT_EQ(log, (EventLog{{"c", WM_KEYDOWN, 'Q', 0}}));

    Windowing().hotkeyForwarding = false;
    SendMessageW(h, WM_HOTKEY, MAKEWPARAM(7, 3), MAKELPARAM(MOD_ALT, 'Q'));
    Windowing().hotkeyForwarding = true;
    EXPECT_FALSE(PeekMessageW(&msg, h, kMsgLayerKeyPress, kMsgLayerKeyPress, PM_REMOVE));
}

TEST_F(InputTest, ContextMenuReachesTheFocusedLayer) {
    SendMessageW(h, WM_CONTEXTMENU, WPARAM(h), MAKELPARAM(-1, -1));  // from the keyboard
    POINT point = {50, 60};
    ClientToScreen(h, &point);
    SendMessageW(h, WM_CONTEXTMENU, WPARAM(h), MAKELPARAM(point.x, point.y));
    const EventLog expected = {
        {"e", WM_CONTEXTMENU, -1, -1},
        {"e", WM_CONTEXTMENU, 50, 60},  // client coordinates
    };
    EXPECT_EQ(log, expected);
}

TEST_F(InputTest, WheelGoesToTheHoveredLayer) {
    Move(150, 20);
    log.clear();
    POINT point = {150, 30};
    ClientToScreen(h, &point);
    SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-120)), MAKELPARAM(point.x, point.y));
    const EventLog expected = {
        {"c", kEventWheel, 20, 20},
        {"c", kEventWheel, -120, 0},
    };
    EXPECT_EQ(log, expected);
}

TEST_F(InputTest, LeavingTheWindowLeavesTheHoveredLayer) {
    Move(150, 20);
    log.clear();
    SendMessageW(h, WM_MOUSELEAVE, 0, 0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].layer, "c");
    EXPECT_EQ(log[0].message, UINT(WM_MOUSELEAVE));
    EXPECT_EQ(host->GetHoverIndex(), -1);
}

TEST(InputGrips, SizingZonesOfAResizableWindow) {
    struct Case {
        const char* name;
        POINT point;
        WPARAM hit;  // 0: no grip
        LPCWSTR cursor;
    };
    const Case cases[] = {
        {"corner", {297, 197}, HTBOTTOMRIGHT, IDC_SIZENWSE},
        {"corner's top-left pixel", {293, 193}, HTBOTTOMRIGHT, IDC_SIZENWSE},
        {"right edge", {298, 100}, HTRIGHT, IDC_SIZEWE},
        {"inside the right edge", {296, 100}, 0, nullptr},
        {"bottom edge", {150, 198}, HTBOTTOM, IDC_SIZENS},
        {"above the bottom edge", {150, 196}, 0, nullptr},
    };
    auto host = MakeHost(300, 200);
    EventLog log;
    AddProbe(*host, &log, "bg", {0, 0, 300, 200});
    HWND h = host->GetHandle();
    for (bool resizable : {true, false}) {
        host->SetResizable(resizable);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            host->nonClient.clear();
            log.clear();
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(c.point.x, c.point.y));
            SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.point.x, c.point.y));
            SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(c.point.x, c.point.y));
            MSG msg;
            while (PeekMessageW(&msg, h, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) {
            }
            if (resizable && c.hit) {
                const std::vector<std::pair<UINT, WPARAM>> expected = {
                    {WM_NCMOUSEMOVE, c.hit}, {WM_NCLBUTTONDOWN, c.hit}};
                EXPECT_EQ(host->nonClient, expected);
                EXPECT_TRUE(log.empty() || log.back().message == WM_LBUTTONUP)
                    << "the grip takes the move and the press";
            } else {
                EXPECT_TRUE(host->nonClient.empty());
            }
        }
    }
    // The cursor shown over a grip.
    host->SetResizable(true);
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(297, 197));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_SIZENWSE));
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(150, 198));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_SIZENS));
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_SIZENS)) << "the replaced cursor comes back";

    // A maximized window has no grips.
    host->Maximize();
    RECT client;
    GetClientRect(h, &client);
    host->nonClient.clear();
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(client.right - 2, client.bottom - 2));
    EXPECT_TRUE(host->nonClient.empty());
    host->Show(SW_HIDE);
}

TEST(LayerList, RemovalRenumbersAndReleases) {
    auto host = MakeHost(300, 200);
    bool released[4] = {};
    ProbeLayer* probes[4];
    for (int i = 0; i < 4; ++i) {
        probes[i] = AddProbe(*host, nullptr, "p", {0, 0, 10, 10});
        probes[i]->released = &released[i];
        probes[i]->SetID((i + 1) * 10);
    }
    ASSERT_TRUE(host->RemoveLayer(1, false));
    EXPECT_TRUE(released[1]);
    ASSERT_EQ(host->GetLayerCount(), 3);
    EXPECT_EQ(host->GetLayer(0)->GetID(), 10) << "layers before the removed one keep their IDs";
    EXPECT_EQ(host->GetLayer(1)->GetID(), 1);
    EXPECT_EQ(host->GetLayer(2)->GetID(), 2);

    // Deferred: kept until purged, and told why.
    host->SetId(77);
    ASSERT_TRUE(host->RemoveLayer(0, true));
    EXPECT_FALSE(released[0]);
    ASSERT_EQ(probes[0]->queries.size(), 1u);
    EXPECT_EQ(probes[0]->queries[0].first, L"browser_layer_clear_destroyed(77);");
    EXPECT_EQ(probes[0]->queries[0].second, 1u);
    EXPECT_EQ(host->GetRemovedLayerCount(), 1u);
    host->PurgeRemovedLayers();
    EXPECT_TRUE(released[0]);

    EXPECT_FALSE(host->RemoveLayer(2, false)) << "index beyond the end";
    EXPECT_FALSE(host->RemoveLayer(-1, false));
    EXPECT_TRUE(host->RemoveLastLayer());
    EXPECT_TRUE(released[3]);
    EXPECT_TRUE(host->RemoveLastLayer());
    EXPECT_FALSE(host->RemoveLastLayer()) << "empty";
}

TEST(LayerList, InsertionChecksAndFocus) {
    auto host = MakeHost(300, 200);
    EventLog log;
    EXPECT_EQ(host->InsertLayer(0, nullptr), -1);
    auto* stray = new ProbeLayer(&log, "stray");
    EXPECT_EQ(host->InsertLayer(1, stray), -1) << "beyond the end";
    stray->Release();  // refused, so still ours
    ProbeLayer* first = AddProbe(*host, &log, "first", {0, 0, 300, 200});
    EXPECT_EQ(first->GetWindow(), host.get());
    EXPECT_EQ(first->GetID(), 0);
    RECT whole = {0, 0, 300, 200};
    EXPECT_TRUE(EqualRect(first->GetRect(), &whole)) << "a new layer fills the content";
    log.clear();
    ProbeLayer* second = AddProbe(*host, &log, "second", {0, 0, 10, 10});
    EXPECT_EQ(log, (EventLog{{"first", kEventBlur, 0, 0}, {"second", kEventFocus, 0, 0}}));
    // Inserted below: IDs are not renumbered, but the focus stays on its layer.
    auto* bottom = new ProbeLayer(&log, "bottom");
    EXPECT_EQ(host->InsertLayer(0, bottom), 0);
    EXPECT_EQ(host->GetLayer(2), second);
    EXPECT_EQ(host->GetFocusIndex(), 2);
    EXPECT_EQ(host->GetLayer(5), nullptr);
    EXPECT_EQ(host->GetLayerAlt(-1), nullptr);
    EXPECT_FALSE(host->SetLayerFocus(3, true));
    EXPECT_FALSE(host->LayoutLayer(3, Anchor{}));
}

TEST(LayerFactory, KindsOfTheHost) {
    CDirectUI host;
    ASSERT_TRUE(host.Create(WS_POPUP, 0, nullptr, TestInstance()));
    struct Case {
        int type;
        bool control;  // controls report kind 0
    };
    for (Case c : {Case{1, true}, Case{2, true}, Case{3, true}, Case{4, true}, Case{5, true},
                   Case{6, true}, Case{0, false}, Case{7, false}, Case{-3, false}}) {
        int index = host.AddLayerOfType(c.type);
        ASSERT_GE(index, 0);
        ILayer* layer = host.GetLayer(index);
        EXPECT_EQ(layer->GetKind(), c.control ? 0 : c.type) << "type " << c.type;
    }
    EXPECT_NE(dynamic_cast<CTextUI*>(host.GetLayer(0)), nullptr);
    EXPECT_NE(dynamic_cast<CEditUI*>(host.GetLayer(1)), nullptr);
    EXPECT_NE(dynamic_cast<CImageUI*>(host.GetLayer(2)), nullptr);
    EXPECT_NE(dynamic_cast<CButtonUI*>(host.GetLayer(3)), nullptr);
    EXPECT_NE(dynamic_cast<CCheckUI*>(host.GetLayer(4)), nullptr);
    EXPECT_NE(dynamic_cast<CProgressUI*>(host.GetLayer(5)), nullptr);
}

TEST_F(InputTest, InputStateFollowsItsLayerWhenTheListChanges) {
    Move(150, 20);  // hover c (index 3)
    Down(150, 20);  // pressed and focused c
    ASSERT_TRUE(host->RemoveLayer(1, false));  // a goes; c is now index 2
    EXPECT_EQ(host->GetHoverIndex(), 2);
    EXPECT_EQ(host->GetPressedIndex(), 2);
    EXPECT_EQ(host->GetFocusIndex(), 2);
    host->commands.clear();
    log.clear();
    Up(150, 20);
    ASSERT_EQ(host->commands.size(), 1u) << "the press and the release met the same layer";
    EXPECT_EQ(host->commands[0].lParam, reinterpret_cast<LPARAM>(c));
    Move(151, 20);
    for (const LayerEvent& event : log)
        EXPECT_TRUE(event.message != WM_MOUSELEAVE && event.message != WM_MOUSEHOVER) << event;

    // The hovered layer itself removed: nobody is hovered.
    ASSERT_TRUE(host->RemoveLayer(2, false));
    EXPECT_EQ(host->GetHoverIndex(), -1);
    EXPECT_EQ(host->GetFocusIndex(), -1);
    log.clear();
    Move(200, 80);  // over e, now index 3
    EXPECT_EQ(log.front(), (LayerEvent{"e", WM_MOUSEHOVER, 10, 50}));
}
