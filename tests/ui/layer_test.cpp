// The anchor rule, window-placement helpers, and the base layer: layout,
// hit testing, held keys, defaults and the factory.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dialogs.h"
#include "tests/common/test_util.h"
#include "ui/controls.h"
#include "ui/layer.h"

namespace {

Anchor MakeAnchor(int16_t x, int16_t xMode, int16_t y, int16_t yMode, int16_t w, int16_t right,
                  int16_t h, int16_t bottom) {
    Anchor a;
    a.x = Anchor::Pack(x, xMode);
    a.y = Anchor::Pack(y, yMode);
    a.width = Anchor::Pack(w, right);
    a.height = Anchor::Pack(h, bottom);
    return a;
}

std::string Str(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

struct LayerDeleter {
    void operator()(ILayer* layer) const { layer->Release(); }
};
using LayerPtr = std::unique_ptr<ILayer, LayerDeleter>;

}  // namespace

TEST(AnchorTest, Rules) {
    struct Case {
        const char* name;
        RECT parent;
        Anchor anchor;
        RECT want;
    };
    Anchor centred32;
    centred32.x = -1;
    centred32.y = -1;
    centred32.width = 600;
    centred32.height = 400;
    const RECT p = {0, 0, 600, 400};
    const Case cases[] = {
        {"all zero fills", p, Anchor{}, {0, 0, 600, 400}},
        {"right with margin", p, MakeAnchor(-1, 0, 10, 0, 30, 10, 20, 0), {560, 10, 590, 30}},
        {"centred", p, MakeAnchor(-1, -1, -1, -1, 200, 0, 100, 0), {200, 150, 400, 250}},
        {"stretched to margin", p, MakeAnchor(20, 0, 0, 0, 0, 20, 0, 0), {20, 0, 580, 400}},
        {"half width", p, MakeAnchor(20, 0, 0, 0, -1, 0, 0, 0), {20, 0, 320, 400}},
        {"negative margins: empty", p, MakeAnchor(20, 0, 5, 0, 0, -1, 0, -1), {20, 5, 20, 5}},
        {"32-bit centring on a screen", {0, 0, 1920, 1080}, centred32, {660, 340, 1260, 740}},
        {"bottom with negative margin", {0, 0, 500, 300}, MakeAnchor(0, 0, -1, 0, 10, 0, 50, -5),
         {0, 250, 10, 300}},
        {"right with negative margin", p, MakeAnchor(-1, 0, 0, 0, 30, -7, 10, 0), {570, 0, 600, 10}},
        {"half of an odd width", {0, 0, 301, 10}, MakeAnchor(0, 0, 0, 0, -1, 0, 5, 0), {0, 0, 150, 5}},
        {"half of 601", {0, 0, 601, 10}, MakeAnchor(0, 0, 0, 0, -1, 0, 5, 0), {0, 0, 300, 5}},
        {"offset parent", {100, 50, 300, 150}, MakeAnchor(-1, -1, 10, 0, 50, 0, 0, 10),
         {175, 60, 225, 140}},
        {"centre rounds down", {0, 0, 5, 5}, MakeAnchor(-1, -1, -1, -1, 2, 0, 2, 0), {1, 1, 3, 3}},
        // A parent wider than 32767 wraps as a 16-bit value: half of -30000 is -15000.
        {"16-bit parent width", {0, 0, 35536, 10}, MakeAnchor(0, 0, 0, 0, -1, 0, 1, 0),
         {0, 0, -15000, 1}},
    };
    for (const Case& c : cases) {
        RECT got;
        AnchoredRect(&got, c.parent, c.anchor);
        EXPECT_EQ(Str(got), Str(c.want)) << c.name;
    }
}

TEST(AnchorTest, LayerLayoutUsesTheRule) {
    LayerPtr layer(new CLayer(0, 0));
    layer->SetAnchor(MakeAnchor(-1, 0, 10, 0, 30, 10, 20, 0));
    EXPECT_EQ(Str(*layer->GetRect()), "0,0,0,0");  // no layout until asked
    layer->Layout(RECT{0, 0, 600, 400});
    EXPECT_EQ(Str(*layer->GetRect()), "560,10,590,30");
    EXPECT_EQ(Anchor::Low(layer->GetAnchor()->width), 30);
    EXPECT_EQ(Anchor::High(layer->GetAnchor()->width), 10);
}

TEST(LayerTest, HitTestIsHalfOpen) {
    LayerPtr layer(new CLayer(0, 0));
    layer->SetRect(RECT{10, 20, 30, 40});
    struct Case {
        int x, y;
        bool hit;
    } cases[] = {{10, 20, true}, {29, 39, true}, {30, 25, false}, {15, 40, false},
                 {9, 25, false}, {15, 19, false}};
    for (auto& c : cases) EXPECT_EQ(layer->HitTest(c.x, c.y), c.hit) << c.x << "," << c.y;
    layer->SetRect(RECT{10, 10, 10, 30});
    EXPECT_FALSE(layer->HitTest(10, 15));  // an empty rectangle is never hit
}

namespace {

// Records the key events the held-key logic produces.
class KeyLayer : public CLayer {
public:
    KeyLayer() : CLayer(0, 0) {}
    bool OnKeyDown(UINT key, UINT info, UINT) override {
        log.push_back("down " + std::to_string(key) + "/" + std::to_string(info));
        return key != 'N';
    }
    bool OnKeyUp(UINT key, UINT info, UINT) override {
        log.push_back("up " + std::to_string(key) + "/" + std::to_string(info));
        return true;
    }
    void OnRectChanged() override { ++rectChanges; }
    std::vector<std::string> log;
    int rectChanges = 0;
};

}  // namespace

TEST(LayerTest, HeldKeysBecomeSingleKeyEvents) {
    auto* layer = new KeyLayer;
    LayerPtr owner(layer);
    EXPECT_TRUE(layer->PressKey('A', 1));
    EXPECT_TRUE(layer->PressKey('A', 2));  // repeat swallowed
    EXPECT_EQ(layer->GetHeldKey(), 'A');
    EXPECT_FALSE(layer->PressKey('N', 3));  // releases A first; answers N's OnKeyDown
    EXPECT_TRUE(layer->ReleaseKey('N', 4));
    EXPECT_EQ(layer->GetHeldKey(), 0);
    EXPECT_TRUE(layer->PressKey('A', 5));  // held again after the release
    const std::vector<std::string> want = {"down 65/1", "up 65/0", "down 78/3", "up 78/4",
                                           "down 65/5"};
    EXPECT_EQ(layer->log, want);

    layer->SetRect(RECT{1, 2, 3, 4});
    layer->Layout(RECT{0, 0, 5, 5});
    EXPECT_EQ(layer->rectChanges, 2);
}

TEST(LayerTest, DefaultsAndStorage) {
    LayerPtr layer(new CLayer(77, 9));
    EXPECT_EQ(layer->GetKind(), 77);
    EXPECT_EQ(layer->GetOwnerId(), 9);
    EXPECT_EQ(layer->GetID(), 0);
    EXPECT_TRUE(layer->IsVisible());
    EXPECT_TRUE(layer->NeedsRedraw());
    EXPECT_TRUE(layer->GetAlphaFlag());
    EXPECT_EQ(layer->GetAlpha(), 255);
    EXPECT_EQ(layer->GetColor(), 0x00FFFFFFu);
    EXPECT_EQ(layer->GetUserValue3(), 100);
    EXPECT_FALSE(layer->IsChecked());
    EXPECT_EQ(layer->GetState(), 0);
    ASSERT_NE(layer->GetText(), nullptr);
    EXPECT_STREQ(layer->GetText(), L"");
    layer->SetText(L"文本");
    layer->SetCaption(nullptr);
    EXPECT_STREQ(layer->GetText(), L"文本");
    EXPECT_STREQ(layer->GetCaption(), L"");
    EXPECT_FALSE(layer->LoadContentA(5));
    EXPECT_EQ(layer->QueryB(1, 2), 0);
    EXPECT_TRUE(layer->IsIdle());
    EXPECT_TRUE(layer->WantsIme());
    RECT caret;
    EXPECT_FALSE(layer->GetCaretRect(&caret));
    EXPECT_FALSE(layer->OnMouse(WM_LBUTTONDOWN, 1, 1, 0));
    EXPECT_EQ(layer->GetState(), 0);  // the plain layer has no state machine
}

TEST(LayerTest, PlainLayerPaintEndsRepainting) {
    // A layer of an unknown kind draws nothing; once painted it must not keep
    // the window repainting (and burning CPU) forever.
    LayerPtr layer(CreateLayerOfKind(99, 0));
    ASSERT_TRUE(layer);
    EXPECT_TRUE(layer->NeedsRedraw());
    layer->Paint(nullptr);
    EXPECT_FALSE(layer->NeedsRedraw());
}

TEST(LayerTest, FactoryMapsKindCodes) {
    struct Case {
        int kind;
        bool (*is)(ILayer*);
    } cases[] = {
        {1, [](ILayer* l) { return dynamic_cast<CTextUI*>(l) != nullptr; }},
        {2, [](ILayer* l) { return dynamic_cast<CEditUI*>(l) != nullptr; }},
        {3, [](ILayer* l) { return dynamic_cast<CImageUI*>(l) != nullptr && !dynamic_cast<CCheckUI*>(l); }},
        {4, [](ILayer* l) { return dynamic_cast<CButtonUI*>(l) != nullptr; }},
        {5, [](ILayer* l) { return dynamic_cast<CCheckUI*>(l) != nullptr; }},
        {6, [](ILayer* l) { return dynamic_cast<CProgressUI*>(l) != nullptr; }},
    };
    for (auto& c : cases) {
        LayerPtr layer(CreateLayerOfKind(c.kind, 3));
        ASSERT_TRUE(layer);
        EXPECT_TRUE(c.is(layer.get())) << c.kind;
        EXPECT_EQ(layer->GetKind(), 0) << c.kind;
        EXPECT_EQ(layer->GetOwnerId(), 3);
    }
    LayerPtr plain(CreateLayerOfKind(42, 3));
    EXPECT_EQ(plain->GetKind(), 42);
    EXPECT_EQ(dynamic_cast<CLayerUI*>(plain.get()), nullptr);
}

TEST(DialogsTest, FileFilterFromExtensionList) {
    struct Case {
        const wchar_t* list;
        std::wstring want;  // NULs written as '|'
    } cases[] = {
        {L"png,jpg", L"png,jpg(*.png;*.jpg;)|*.png;*.jpg;||"},
        {L"png", L"png(*.png;)|*.png;||"},
        {L"png,", L"png,(*.png;)|*.png;||"},
        {L"", L"All files(*.*)|*.*||"},
        {L",,,", L"All files(*.*)|*.*||"},
        {L",exe,,zip", L",exe,,zip(*.exe;*.zip;)|*.exe;*.zip;||"},
    };
    for (auto& c : cases) {
        wchar_t filter[300];
        const int n = BuildFileFilter(filter, 300, c.list);
        std::wstring got(filter, n > 0 ? n : 0);
        for (auto& ch : got)
            if (ch == 0) ch = L'|';
        EXPECT_EQ(got, c.want) << testing::PrintToString(std::wstring(c.list));
    }
    // Does not fit: nothing is written past the capacity.
    wchar_t small[8];
    EXPECT_EQ(BuildFileFilter(small, 8, L"png,jpg"), 0);
    // An item over 63 characters is cut; the pattern list stops before 260.
    std::wstring longList;
    for (int i = 0; i < 40; ++i) longList += L"abcdefgh,";
    wchar_t big[2048];
    const int n = BuildFileFilter(big, 2048, longList.c_str());
    ASSERT_GT(n, 0);
    const std::wstring pattern(big + wcslen(big) + 1);
    EXPECT_LE(pattern.size(), 259u);
    EXPECT_EQ(pattern.size() % 11, 0u);  // whole "*.abcdefgh;" items only
}

namespace {

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

}  // namespace

TEST(DialogsTest, WindowHelpers) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    EXPECT_FALSE(RegisterWindowClass(instance, nullptr, PlainProc, false));
    EXPECT_FALSE(RegisterWindowClass(instance, L"ui-test", nullptr, false));
    ASSERT_TRUE(RegisterWindowClass(instance, L"ui-test", PlainProc, true));
    EXPECT_TRUE(RegisterWindowClass(instance, L"ui-test", PlainProc, false));  // already there
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExW(instance, L"ui-test", &wc));
    EXPECT_EQ(wc.style, UINT(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));

    HWND reference = CreateWindowExW(0, L"ui-test", L"", WS_POPUP, 100, 50, 400, 300, nullptr,
                                     nullptr, instance, nullptr);
    HWND window = CreateWindowExW(0, L"ui-test", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  instance, nullptr);
    ASSERT_TRUE(reference && window);
    EXPECT_TRUE(CenterWindow(window, reference, 101, 51, false));
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(Str(r), Str(RECT{249, 174, 350, 225}));  // (400-101)/2 = 149, (300-51)/2 = 124
    EXPECT_TRUE(CenterWindow(window, nullptr, 200, 100, false));
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 200) >> 1);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 100) >> 1);

    EXPECT_TRUE(StartWindowDrag(window));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, window, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE));
    EXPECT_EQ(msg.wParam, WPARAM(HTCAPTION));
    EXPECT_EQ(msg.lParam, LPARAM(0x000A0064));
    DestroyWindow(window);
    DestroyWindow(reference);
    EXPECT_FALSE(StartWindowDrag(window));

    EXPECT_TRUE(PointInRect(RECT{0, 0, 2, 2}, 1, 1));
    EXPECT_FALSE(PointInRect(RECT{0, 0, 2, 2}, 2, 1));
}

namespace {
uint32_t FixedClock() { return 4242; }
}  // namespace

TEST(DialogsTest, TickSourceCanBeReplaced) {
    EXPECT_EQ(SetTickSource(FixedClock), nullptr);
    EXPECT_EQ(TickNow(), 4242u);
    EXPECT_EQ(SetTickSource(nullptr), FixedClock);
    const uint32_t now = TickNow(), system = GetTickCount();
    EXPECT_LE(system - now, 1000u);
    // Whole seconds of the performance counter, never going back.
    LARGE_INTEGER frequency, counter;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    const uint64_t first = SecondsNow();
    ASSERT_TRUE(QueryPerformanceCounter(&counter));
    const uint64_t expected = uint64_t(counter.QuadPart) / uint64_t(frequency.QuadPart);
    EXPECT_LE(first, expected);
    EXPECT_LE(expected - first, 1u);
    EXPECT_GE(SecondsNow(), first);
}

namespace {

BOOL CALLBACK FindOwnDialog(HWND w, LPARAM out) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (pid == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog() {
    for (int i = 0; i < 300; ++i) {
        Sleep(50);
        HWND found = nullptr;
        EnumWindows(FindOwnDialog, LPARAM(&found));
        if (found) return found;
    }
    return nullptr;
}

// Closes the first dialog box of this process that appears.
DWORD WINAPI CancelDialog(void*) {
    HWND dialog = WaitForDialog();
    if (!dialog) return 0;
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    return 1;
}

// Types the file name text into the open-file dialog and confirms it.
DWORD WINAPI ChooseFiles(void* text) {
    HWND dialog = WaitForDialog();
    if (!dialog) return 0;
    // The dialog fills its controls before it is shown; text typed earlier
    // would be overwritten.
    for (int i = 0; i < 500 && !(IsWindowVisible(dialog) && GetDlgItem(dialog, cmb13)); ++i) Sleep(20);
    SetDlgItemTextW(dialog, cmb13, static_cast<const wchar_t*>(text));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return 1;
}

}  // namespace

TEST(DialogsTest, OpenFileDialogAnswersTheChosenFile) {
    testing_util::TempDir dir;
    ASSERT_TRUE(testing_util::WriteAll(dir / L"a.png", "x", 1));
    ASSERT_TRUE(testing_util::WriteAll(dir / L"b.png", "y", 1));
    struct Case {
        std::wstring typed;
        bool multiple;
        std::wstring want;
    } cases[] = {{dir / L"a.png", false, dir / L"a.png"},
                 // Several files: only the directory, which comes without a backslash.
                 {L"\"" + (dir / L"a.png") + L"\" \"" + (dir / L"b.png") + L"\"", true,
                  dir.path().substr(0, dir.path().size() - 1)}};
    for (auto& c : cases) {
        wchar_t path[2048] = L"unchanged";
        HANDLE thread = CreateThread(nullptr, 0, ChooseFiles, const_cast<wchar_t*>(c.typed.c_str()), 0, nullptr);
        const bool ok = OpenFileDialog(path, nullptr, L"png", c.multiple);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_TRUE(ok) << testing_util::Narrow(c.typed);
        EXPECT_EQ(std::wstring(path), c.want);
    }
}

TEST(DialogsTest, CancelledDialogsLeaveThePath) {
    wchar_t path[2048] = L"C:\\keep\\";
    HANDLE thread = CreateThread(nullptr, 0, CancelDialog, nullptr, 0, nullptr);
    EXPECT_FALSE(OpenFileDialog(path, nullptr, L"png,jpg", false));
    WaitForSingleObject(thread, INFINITE);
    DWORD closed = 0;
    GetExitCodeThread(thread, &closed);
    CloseHandle(thread);
    EXPECT_EQ(closed, 1u) << "the open-file dialog never appeared";
    EXPECT_STREQ(path, L"C:\\keep\\");
    EXPECT_FALSE(OpenFileDialog(nullptr, nullptr, L"png", false));
    EXPECT_FALSE(OpenFileDialog(path, nullptr, nullptr, false));

    thread = CreateThread(nullptr, 0, CancelDialog, nullptr, 0, nullptr);
    EXPECT_TRUE(BrowseForFolder(path, nullptr, nullptr));  // cancelled, but path was non-empty
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &closed);
    CloseHandle(thread);
    EXPECT_EQ(closed, 1u) << "the folder browser never appeared";
    EXPECT_STREQ(path, L"C:\\keep\\");
}
