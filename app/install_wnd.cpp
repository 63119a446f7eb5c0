#include "app/install_wnd.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/progress_text.h"
#include "app/skin_layout.h"
#include "client/registry.h"
#include "client/version.h"
#include "support/dialogs.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/payload.h"
#include "support/shell.h"
#include "ui/controls.h"
#include "ui/image.h"
#include "ui/render.h"
#include "window/app.h"

namespace {

constexpr wchar_t kPromptCaption[] = L"安装提示";
constexpr wchar_t kErrorCaption[] = L"错误提示";
// The entry's own words for a package that fails its check.
constexpr wchar_t kDamagedPackageText[] = L"文件校验错误！请到官网下载新版本！";
constexpr wchar_t kWelcomeText[] = L"正在为您开启精彩游戏世界...";

int32_t Pack(int low, int high) { return Anchor::Pack(int16_t(low), int16_t(high)); }

Anchor MakeAnchor(int x, int xMode, int y, int yMode, int width, int right, int height,
                  int bottom) {
    Anchor a;
    a.x = Pack(x, xMode);
    a.y = Pack(y, yMode);
    a.width = Pack(width, right);
    a.height = Pack(height, bottom);
    return a;
}

bool EndsWithBackslash(const wchar_t* text) {
    size_t n = std::wcslen(text);
    return n > 0 && text[n - 1] == L'\\';
}

// The size of the recorded files, in KiB rounded up, for the system's
// program list.
uint32_t RecordedKiB(const CAppFile& record, const wchar_t* installDir) {
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < record.count; ++i) {
        wchar_t path[MAX_PATH];
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (record.entries[i] && JoinInstallPath(path, installDir, record.entries[i]->c_str()) &&
            GetFileAttributesExW(path, GetFileExInfoStandard, &data) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bytes += uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    }
    uint64_t kib = (bytes + 1023) / 1024;
    return kib > UINT32_MAX ? UINT32_MAX : uint32_t(kib);
}

}  // namespace

CInstallWnd::CInstallWnd() {
    for (int32_t& index : layerOf_) index = -1;
    theme.SetForecolor(0xFF808080);
    theme.SetBackcolor(0xFFFFFFFF);
    theme.SetTextcolor(0xFF000000);
}

CInstallWnd::~CInstallWnd() {
    worker.reset();  // stops a running worker before the members it reads go
    record.Clear();
    payload.Close();
}

LRESULT CInstallWnd::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kProgressTimerId) {
        ApplyProgress();
        return 0;
    }
    if (message == kMsgInstallFailed) {
        OnInstallFailed();
        return 0;
    }
    return CDirectUI::HandleMessage(window, message, wParam, lParam);
}

// --- construction

bool CInstallWnd::OpenPayload() {
    wchar_t exe[1024] = {};
    DWORD n = GetModuleFileNameW(nullptr, exe, 1023);
    if (n == 0 || n >= 1023) return false;
    if (!::OpenPayloadOf(exe, payload, payloadBytes)) return false;
    // The worker reads the inner archive piece by piece from a file: the
    // neighbouring archive, or this program's own file where the resource
    // lies in it.
    if (payloadBytes.size == 0) {
        PayloadZipPath(exe, payloadPath_, 1024);
    } else if (payloadBytes.fileOffset != PayloadBytes::kNotInFile) {
        std::wmemcpy(payloadPath_, exe, n + 1);
        payloadOffset_ = payloadBytes.fileOffset;
    }
    return true;
}

bool CInstallWnd::LoadSkinImage(IImage* image, const wchar_t* entry) {
    if (!image) return false;
    if (!payloadOpen) return image->LoadFromResource(Windowing().instance, 0, L"image");
    XData bytes;
    if (!payload.ExtractByName(entry, &bytes)) return false;
    return image->LoadFromMemory(bytes.data, bytes.size);
}

void CInstallWnd::ComposeInstallDir(const wchar_t* base) {
    wchar_t dir[1024];
    // Each name is one folder level: a configuration whose company or app
    // holds a separator or ".." cannot lead the directory elsewhere.
    const wchar_t* company = IsPlainFileName(clientConfig.GetCompany()) ? clientConfig.GetCompany() : L"";
    const wchar_t* app = IsPlainFileName(clientConfig.GetApp()) ? clientConfig.GetApp() : L"";
    _snwprintf(dir, 1024, L"%s%s%s%s%s%s", base, EndsWithBackslash(base) ? L"" : L"\\", company,
               company[0] ? L"\\" : L"", app, app[0] ? L"\\" : L"");
    dir[1023] = 0;
    installDir.Assign(dir);
}

void CInstallWnd::OnCreated() {
    CDirectUI::OnCreated();
    SetSubtitle(L"准备安装");
    if (HICON icon = LoadIconW(Windowing().instance, MAKEINTRESOURCEW(1))) {
        SetIcon(icon, true);
        SetIcon(icon, false);
    }
    if (!payloadOpen) payloadOpen = OpenPayload();
    // The skin, the client and its manifest all come from the payload: a
    // package without a usable one is damaged. Nothing is read or written
    // for it.
    if (!payloadOpen) {
        RefuseDamagedPackage();
        return;
    }

    wchar_t subtitle[640];
    _snwprintf(subtitle, 640, L"安装%s", clientConfig.GetName());
    subtitle[639] = 0;
    SetSubtitle(subtitle);

    innerArchivePresent =
        clientConfig.GetArchive()[0] && payload.Find(clientConfig.GetArchive(), nullptr) >= 0;

    wchar_t previous[1024] = {};
    if (preview && !installDir.empty()) {
        // the folder the tool was asked to show
    } else if (!preview && ReadProductValue(clientConfig.GetCompany(), clientConfig.GetApp(),
                                            L"path", previous, 1024)) {
        installDir.Assign(previous);
    } else {
        wchar_t folder[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) {
            Close();
            return;
        }
        ComposeInstallDir(folder);
    }

    XData themeText;
    if (payload.ExtractByName(L"theme.txt", &themeText))
        theme.ParseText(reinterpret_cast<const wchar_t*>(themeText.data), int(themeText.size / 2));

    BuildControls();

    if (preview) return;
    if (silent) {
        // Unattended: the version check decides before anything is written,
        // and asks nothing (an equal version is repaired, a newer one kept).
        CheckInstalledVersion();
        if (state == kStateReady) StartInstall();
    } else {
        CheckInstalledVersion();
    }
}

namespace {

// Which controls each face shows. The start control shows in the ready face
// only while the agreement is ticked, and as the finish button in the
// finished face; the status line shows a message in any face (ShowStatus).
struct FaceRow {
    Control control;
    bool ready, installing, finished, failed;
};
constexpr FaceRow kFaceTable[] = {
    {Control::kBackground, true, true, true, true},
    {Control::kLogo, true, true, true, true},
    {Control::kClose, true, true, true, true},
    {Control::kMinimize, true, true, true, true},
    {Control::kCopyright, true, true, true, true},
    {Control::kWaiting, false, true, false, false},
    {Control::kStart, true, false, true, false},
    {Control::kPathField, true, false, false, false},
    {Control::kBrowse, true, false, false, false},
    {Control::kAgreementBox, true, false, false, false},
    {Control::kAgreementText, true, false, false, false},
    {Control::kAgreementLink, true, false, false, false},
    {Control::kStatus, false, true, false, false},
    {Control::kPercent, false, true, false, false},
    {Control::kProgress, false, true, false, false},
    {Control::kSizeLine, false, true, false, false},
};
static_assert(sizeof(kFaceTable) / sizeof(kFaceTable[0]) == size_t(Control::kCount),
              "every control has a row");

bool ShownIn(const FaceRow& row, Face face) {
    switch (face) {
        case Face::kReady: return row.ready;
        case Face::kInstalling: return row.installing;
        case Face::kFinished: return row.finished;
        case Face::kFailed: return row.failed;
    }
    return false;
}

}  // namespace

ILayer* CInstallWnd::Layer(Control control) {
    int index = layerOf_[int(control)];
    return index >= 0 ? GetLayer(index) : nullptr;
}

ILayer* CInstallWnd::AddControl(Control control, int kind) {
    int index = AddLayerOfType(kind);
    layerOf_[int(control)] = index;
    return index >= 0 ? GetLayer(index) : nullptr;
}

void CInstallWnd::ShowFace(Face face) {
    for (const FaceRow& row : kFaceTable) {
        ILayer* layer = Layer(row.control);
        if (!layer) continue;
        bool visible = ShownIn(row, face);
        if (row.control == Control::kStart && face == Face::kReady) {
            ILayer* box = Layer(Control::kAgreementBox);
            visible = box && box->IsChecked();
        }
        if (layer->IsVisible() != visible || visible) layer->SetNeedsRedraw(true);
        layer->SetVisible(visible);
    }
}

void CInstallWnd::BuildControls() {
    int bottom = BuildFrameControls();
    if (!silent) BuildChoiceControls(bottom);
    BuildProgressControls();
    ShowFace(Face::kReady);
}

namespace {

void PlaceLayer(ILayer* layer, const Anchor& anchor, HWND window) {
    RECT parent = {};
    GetClientRect(window, &parent);
    layer->SetAnchor(anchor);
    layer->Layout(parent);
}

}  // namespace

int CInstallWnd::BuildFrameControls() {
    const HWND window = GetHandle();
    // Keeps the ID the host gave (0), so pressing it drags the window.
    if (auto* bg = static_cast<CImageUI*>(AddControl(Control::kBackground, kLayerImage))) {
        LoadSkinImage(&bg->image, kSkinBackground.file);
        PlaceLayer(bg, MakeAnchor(0, 0, 0, 0, 0, 0, 0, 0), window);
    }
    if (auto* logo = static_cast<CImageUI*>(AddControl(Control::kLogo, kLayerImage))) {
        LoadSkinImage(&logo->image, kSkinLogo.file);
        PlaceLayer(logo, MakeAnchor(20, 0, 10, 0, logo->image.GetWidth(), 0,
                                    logo->image.GetHeight(), 0), window);
        logo->SetCursorKind(kCursorHand);
        logo->SetID(kCmdHomepage);
    }
    struct TopButton {
        Control control;
        const SkinPicture& picture;
        int right;
        int id;
    };
    for (const TopButton& b : {TopButton{Control::kClose, kSkinClose, 10, kCmdClose},
                               TopButton{Control::kMinimize, kSkinMinimize, 35, kCmdMinimize}}) {
        if (auto* button = static_cast<CImageUI*>(AddControl(b.control, kLayerImage))) {
            LoadSkinImage(&button->image, b.picture.file);
            button->frameCount = b.picture.frames;
            const int height = button->image.GetHeight() / button->frameCount;
            PlaceLayer(button,
                       MakeAnchor(-1, 0, 10, 0, button->image.GetWidth(), b.right, height, 0),
                       window);
            button->SetCursorKind(kCursorHand);
            button->SetID(b.id);
        }
    }
    int bottom = 0;
    if (auto* copyright = static_cast<CImageUI*>(AddControl(Control::kCopyright, kLayerImage))) {
        LoadSkinImage(&copyright->image, kSkinCopyright.file);
        PlaceLayer(copyright, MakeAnchor(-1, 0, -1, 0, copyright->image.GetWidth(), 20,
                                         copyright->image.GetHeight(), 10), window);
        copyright->SetID(-1);
        bottom = 40;
    }
    if (auto* waiting = static_cast<CImageUI*>(AddControl(Control::kWaiting, kLayerImage))) {
        LoadSkinImage(&waiting->image, kSkinWaiting.file);
        PlaceLayer(waiting, MakeAnchor(-1, -1, -1, -1, waiting->image.GetWidth(), 0,
                                       waiting->image.GetHeight(), 0), window);
    }
    return bottom;
}

void CInstallWnd::BuildChoiceControls(int bottom) {
    const HWND window = GetHandle();
    const uint32_t textColor = theme.GetTextcolor();
    if (auto* start = static_cast<CImageUI*>(AddControl(Control::kStart, kLayerImage))) {
        LoadSkinImage(&start->image, kSkinStart.file);
        start->frameCount = kSkinStart.frames;
        start->SetAlphaFlag(true);
        PlaceLayer(start, MakeAnchor(-1, -1, -1, -1, kSkinStart.width, 0,
                                     start->image.GetHeight() / start->frameCount, 0), window);
        start->SetCursorKind(kCursorHand);
        start->SetID(kCmdStart);
    }
    if (auto* edit = static_cast<CEditUI*>(AddControl(Control::kPathField, kLayerEdit))) {
        LoadSkinImage(&edit->image, kSkinEdit.file);
        edit->text.Assign(installDir.c_str());
        edit->SetColor(textColor);
        edit->font.CreateHandle();
        edit->margins = {kSkinEdit.ends / 2, 0, kSkinEdit.ends / 2, 0};
        PlaceLayer(edit, MakeAnchor(20, 0, -1, 0, 0, 90, edit->image.GetHeight(), bottom), window);
        edit->SetCursorKind(kCursorText);
        edit->SetID(-1);
    }
    // The browse button sits on the path's row; the agreement row above it.
    if (auto* browse = static_cast<CImageUI*>(AddControl(Control::kBrowse, kLayerImage))) {
        LoadSkinImage(&browse->image, kSkinBrowse.file);
        browse->SetColor(textColor);
        browse->margins = {kSkinBrowse.ends / 2, 0, kSkinBrowse.ends / 2, 0};
        browse->frameCount = kSkinBrowse.frames;
        int frameHeight = browse->image.GetHeight() / browse->frameCount;
        PlaceLayer(browse, MakeAnchor(-1, 0, -1, 0, browse->image.GetWidth(), 20, frameHeight,
                                      bottom), window);
        browse->SetCursorKind(kCursorHand);
        browse->SetID(kCmdBrowse);
        bottom += frameHeight + 10;
    }
    if (auto* check = static_cast<CCheckUI*>(AddControl(Control::kAgreementBox, kLayerCheck))) {
        LoadSkinImage(&check->image, kSkinCheck.file);
        LoadSkinImage(&check->checkedImage, kSkinChecked.file);
        check->frameCount = kSkinCheck.frames;
        check->SetChecked(true);
        PlaceLayer(check, MakeAnchor(20, 0, -1, 0, kSkinCheck.width, 0,
                                     check->image.GetHeight() / check->frameCount, bottom), window);
        check->SetCursorKind(kCursorHand);
        check->SetID(kCmdToggleAgreement);
    }
    int linkLeft = 0;  // the link follows the agreement's text
    if (auto* agree = static_cast<CImageUI*>(AddControl(Control::kAgreementText, kLayerImage))) {
        LoadSkinImage(&agree->image, kSkinAgree.file);
        agree->frameCount = kSkinAgree.frames;
        agree->SetAlphaFlag(true);
        PlaceLayer(agree, MakeAnchor(36, 0, -1, 0, agree->image.GetWidth(), 0,
                                     agree->image.GetHeight(), bottom), window);
        agree->SetCursorKind(kCursorHand);
        agree->SetID(kCmdToggleAgreement);
        linkLeft = agree->image.GetWidth() + 36;
    }
    if (auto* link = static_cast<CImageUI*>(AddControl(Control::kAgreementLink, kLayerImage))) {
        LoadSkinImage(&link->image, kSkinProtocol.file);
        link->frameCount = kSkinProtocol.frames;
        link->SetAlphaFlag(true);
        PlaceLayer(link, MakeAnchor(linkLeft + 6, 0, -1, 0, link->image.GetWidth(), 0,
                                    link->image.GetHeight() / link->frameCount, bottom), window);
        link->SetCursorKind(kCursorHand);
        link->SetID(kCmdProtocol);
    }
}

void CInstallWnd::BuildProgressControls() {
    const HWND window = GetHandle();
    const uint32_t textColor = theme.GetTextcolor();
    auto text = [&](Control control, const wchar_t* value, int fontHeight, bool bold,
                    const Anchor& anchor) -> CTextUI* {
        auto* layer = static_cast<CTextUI*>(AddControl(control, kLayerText));
        if (!layer) return nullptr;
        layer->text.Assign(value);
        layer->SetColor(textColor);
        layer->font.height = fontHeight;
        layer->font.bold = bold;
        layer->font.CreateHandle();
        PlaceLayer(layer, anchor, window);
        layer->SetID(-1);
        return layer;
    };
    // A deep path is shortened in its middle so the file's own name stays
    // visible; an "&" in a name is shown, not taken as a mnemonic.
    CTextUI* status = text(Control::kStatus, kWelcomeText, 15, false,
                           MakeAnchor(20, 0, -1, 0, 0, 90, 15, 72));
    if (status) status->format = kStatusTextFormat;
    // "100%" does not fit 60 pixels in that font: the field takes the width
    // of its widest text, and the status line beside it gives way.
    if (CTextUI* percent = text(Control::kPercent, L"0%", kPercentFontHeight, true,
                                MakeAnchor(-1, 0, -1, 0, kPercentFieldWidth, 20, 32, 59))) {
        const int width = PercentFieldWidth(percent->font.Handle(), kPercentFieldWidth);
        PlaceLayer(percent, MakeAnchor(-1, 0, -1, 0, width, 20, 32, 59), window);
        if (status)  // 90 at 60
            PlaceLayer(status, MakeAnchor(20, 0, -1, 0, 0, 20 + width + 10, 15, 72), window);
    }
    if (auto* bar = static_cast<CProgressUI*>(AddControl(Control::kProgress, kLayerProgress))) {
        LoadSkinImage(&bar->image, kSkinProgressSink.file);
        LoadSkinImage(&bar->fillImage, kSkinProgressFill.file);
        LoadSkinImage(&bar->dotImage, kSkinProgressDot.file);
        bar->frameCount = 1;
        bar->SetChecked(true);
        bar->margins = {kSkinProgressSink.ends / 2, 0, kSkinProgressSink.ends / 2, 0};
        bar->value = 0;
        bar->maximum = 100;
        PlaceLayer(bar, MakeAnchor(20, 0, -1, 0, 0, 20, bar->image.GetHeight(), 54), window);
        bar->SetID(-1);
    }
    text(Control::kSizeLine, kWelcomeText, 15, false, MakeAnchor(20, 0, -1, 0, 0, 90, 15, 30));
}

// --- commands

bool CInstallWnd::OnClickCommand(int id) {
    switch (id) {
        case kCmdClose:
            if (state == kStateInstalling) {
                int answer = MessageBoxW(GetHandle(),
                                         L"注意：中止当前安装有可能导致软件无法使用！\n确定要中止吗？",
                                         kPromptCaption, MB_YESNO | MB_DEFBUTTON2);
                if (answer != IDYES) return true;
                state = kStateReady;
            }
            Close();
            return true;
        case kCmdMinimize:
            Show(SW_MINIMIZE);
            return true;
        case kCmdStart:
            if (state == kStateReady) StartInstall();
            return true;
        case kCmdFinish:
            if (state == kStateFinished) {
                state = kStateClientStarted;
                clientConfig.RunMain();
                Close();
            }
            return true;
        case kCmdInstallComplete:
            if (state == kStateInstalling) FinishInstall();
            return true;
        case kCmdBrowse: {
            wchar_t folder[MAX_PATH] = {};
            if (BrowseForFolder(folder, GetHandle(), L"请选择安装目录：")) {
                if (auto* edit = static_cast<CEditUI*>(Layer(Control::kPathField))) {
                    ComposeInstallDir(folder);
                    edit->text.Assign(installDir.c_str());
                    edit->SetNeedsRedraw(true);
                }
            }
            return true;
        }
        case kCmdHomepage:
            RunProgram(clientConfig.GetHomepage(), nullptr, true, nullptr);
            return true;
        case kCmdProtocol:
            RunProgram(clientConfig.GetProtocol(), nullptr, true, nullptr);
            return true;
        case kCmdToggleAgreement:
            if (ILayer* check = Layer(Control::kAgreementBox)) {
                check->SetChecked(!check->IsChecked());
                check->SetNeedsRedraw(true);
                if (ILayer* start = Layer(Control::kStart)) {
                    start->SetVisible(check->IsChecked());
                    start->SetNeedsRedraw(true);
                }
            }
            return true;
        default:
            return CDirectUI::OnClickCommand(id);
    }
}

bool CInstallWnd::OnCloseQuery() { return state != kStateInstalling; }

void CInstallWnd::StartInstall() {
    state = kStateInstalling;
    ShowFace(Face::kInstalling);
    if (!silent) {
        auto* edit = static_cast<CEditUI*>(Layer(Control::kPathField));
        if (!edit) return;
        installDir.Assign(edit->text.c_str());
    }
    // Every later join ("uninst.dat", the registry's path + main program)
    // expects the trailing backslash, which a registry value may lack.
    if (!installDir.empty() && !EndsWithBackslash(installDir.c_str()) &&
        installDir.length() < installDir.kCapacity) {
        wchar_t dir[1024];
        _snwprintf(dir, 1024, L"%s\\", installDir.c_str());
        dir[1023] = 0;
        installDir.Assign(dir);
    }
    manifestUrl.Assign(clientConfig.GetConfig());
    archiveName.Assign(innerArchivePresent ? clientConfig.GetArchive() : L"");
    clientConfig.SetInstallPath(installDir.c_str());
    record.Clear();
    failed_ = 0;
    speed_.Start(SecondsNow());
    {
        std::lock_guard<std::mutex> lock(progressLock_);
        progress_ = ProgressSnapshot();
    }
    SetTimer(GetHandle(), kProgressTimerId, kProgressIntervalMs, nullptr);
    if (!worker) worker.reset(new CInstallThread(*this));
    worker->SetJob(MakeJob());
    worker->Start();
}

InstallJob CInstallWnd::MakeJob() {
    InstallJob job;
    job.installDir = installDir.c_str();
    job.archiveName = archiveName.c_str();
    job.manifestUrl = manifestUrl.c_str();
    job.payload = &payload;
    if (payloadBytes.size > 0) {
        job.payloadBytes = payloadBytes.data;
        job.payloadSize = payloadBytes.size;
    }
    if (payloadPath_[0]) {
        job.payloadPath = payloadPath_;
        job.payloadOffset = payloadOffset_;
    }
    job.downloadProgress = &downloadProgress;
    return job;
}

void CInstallWnd::OnInstallProgress(const wchar_t* name, uint32_t total, uint32_t done) {
    ReportProgress(name, total, done, total, done);
}

void CInstallWnd::ReportProgress(const wchar_t* name, uint32_t total, uint32_t done,
                                 uint64_t bytesTotal, uint64_t bytesDone) {
    // The record is the worker's alone until the completion is handled.
    if (name) record.AddEntry(name);

    uint32_t speed = speed_.Update(SecondsNow(), bytesDone);

    std::lock_guard<std::mutex> lock(progressLock_);
    if (name) {
        _snwprintf(progress_.status, 1024, L"%s%s", installDir.c_str(), name[0] ? name : L"...");
        progress_.status[1023] = 0;
        progress_.statusChanged = true;
    }
    FormatPercent(progress_.percent, 16, total, done);
    uint32_t left = speed_.SecondsLeft(bytesTotal > bytesDone ? bytesTotal - bytesDone : 0);
    FormatSizeLine(progress_.speed, 128, bytesTotal, bytesDone, speed, left);
    progress_.maximum = total ? total : 1;
    progress_.value = total ? done : 1;
    progress_.fresh = true;
}

void CInstallWnd::ReportNotice(const wchar_t* name, const wchar_t* text) {
    std::lock_guard<std::mutex> lock(progressLock_);
    _snwprintf(progress_.status, 1024, L"%s%s  %s", installDir.c_str(), name ? name : L"",
               text ? text : L"");
    progress_.status[1023] = 0;
    progress_.statusChanged = true;
    progress_.fresh = true;
}

void CInstallWnd::ApplyProgress() {
    ProgressSnapshot snapshot;
    {
        std::lock_guard<std::mutex> lock(progressLock_);
        if (!progress_.fresh) return;
        snapshot = progress_;
        progress_.statusChanged = false;
        progress_.fresh = false;
    }
    if (state != kStateInstalling) return;
    auto setText = [&](Control control, const wchar_t* text) {
        if (auto* layer = static_cast<CTextUI*>(Layer(control))) {
            layer->text.Assign(text);
            layer->SetNeedsRedraw(true);
        }
    };
    if (snapshot.statusChanged) setText(Control::kStatus, snapshot.status);
    setText(Control::kPercent, snapshot.percent);
    setText(Control::kSizeLine, snapshot.speed);
    if (auto* bar = static_cast<CProgressUI*>(Layer(Control::kProgress))) {
        bar->maximum = snapshot.maximum;
        bar->value = snapshot.value;
        bar->SetNeedsRedraw(true);
    }
    // The message loop renders only when idle; under a modal message box
    // (the close question) the progress would otherwise stand still.
    Render(nullptr);
}

void CInstallWnd::OnWorkerFinished(const InstallResult& result) {
    failed_ = result.failed;
    // Not one file in place (a damaged or foreign archive, every download
    // refused) is a failed installation, not one to register.
    bool complete = result.completed && !result.NothingInstalled();
    // Completion is handed over only once the worker is done with the
    // record, so FinishInstall never races a late report.
    PostMessageW(GetHandle(), complete ? WM_COMMAND : kMsgInstallFailed,
                 complete ? kCmdInstallComplete : 0, 0);
}

void CInstallWnd::ShowStatus(const wchar_t* text) {
    if (auto* status = static_cast<CTextUI*>(Layer(Control::kStatus))) {
        status->text.Assign(text);
        status->SetVisible(true);
        status->SetNeedsRedraw(true);
    }
}

void CInstallWnd::ShowFinished() {
    // The start button becomes the finish button.
    if (auto* start = static_cast<CImageUI*>(Layer(Control::kStart))) {
        LoadSkinImage(&start->image, kSkinFinish.file);
        start->SetID(kCmdFinish);
    }
    ShowFace(Face::kFinished);
    InvalidateLayers(true);
}

void CInstallWnd::FinishInstall() {
    KillTimer(GetHandle(), kProgressTimerId);
    state = kStateFinished;
    ShowFinished();
    uint32_t failed = failed_.load();
    if (failed > 0) {
        wchar_t text[128];
        _snwprintf(text, 128, L"安装完成，但有 %u 个文件未能安装。", failed);
        text[127] = 0;
        ShowStatus(text);
    }

    wchar_t path[MAX_PATH];
    if (JoinInstallPath(path, installDir.c_str(), L"uninst.dat")) {
        // A repair keeps what the earlier installation recorded and is
        // still there, so the uninstaller removes that too.
        KeepEarlierEntries(record, path, installDir.c_str());
        SaveUninstallRecord(record, path);
    }

    if (innerArchivePresent) {
        XData manifest;
        if (payload.ExtractByName(L"update.xml", &manifest)) {
            wchar_t digest[33] = {};
            if (DigestOfBuffer(digest, manifest.data, manifest.size)) clientConfig.SetDigest(digest);
        }
    } else {
        clientConfig.SetDigest(downloadProgress.digest);
    }
    clientConfig.SetInstallPath(installDir.c_str());
    clientConfig.SetLaunchProgram(clientConfig.GetMain());
    clientConfig.estimatedKiB = RecordedKiB(record, installDir.c_str());
    // Without its product key and uninstall entry the client is installed
    // but unknown to the system: no repair, no update check, no removal.
    bool registered = clientConfig.WriteRegistry();
    if (!registered) ShowStatus(L"安装失败：无法写入注册表，请以管理员身份重新运行安装程序。");

    if (silent) {
        exitCode_ = failed > 0 || !registered ? kExitInstallFailure : 0;
        clientConfig.RunMain();
        Close();
    }
}

// The worker ended without a completion, or without installing a single
// file. No records are written; the window stays open with the reason.
void CInstallWnd::OnInstallFailed() {
    if (state != kStateInstalling) return;
    KillTimer(GetHandle(), kProgressTimerId);
    state = kStateFinished;
    ShowFace(Face::kFailed);
    ShowStatus(archiveName.empty() ? L"安装失败：未能获取安装文件，请检查网络后重新运行安装程序。"
                                   : L"安装失败：安装文件已损坏，请到官网下载新版本。");
    InvalidateLayers(true);
    if (silent) {
        exitCode_ = kExitInstallFailure;
        Close();
    }
}

void CInstallWnd::RefuseDamagedPackage() {
    state = kStateFinished;
    exitCode_ = ReportDamagedPackage(GetHandle(), silent);
    Close();
}

int ReportDamagedPackage(HWND owner, bool silent) {
    if (!silent) MessageBoxW(owner, kDamagedPackageText, kErrorCaption, MB_OK);
    return kExitInstallFailure;
}

bool IsSilentCommandLine(const wchar_t* commandLine) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    if (!argv) return false;
    ScopeExit release([argv] { LocalFree(argv); });
    return argc > 1 && std::wcscmp(argv[1], L"silent") == 0;
}

void CInstallWnd::DeclineInstall() {
    state = kStateFinished;
    ShowFinished();
    clientConfig.SetInstallPath(installDir.c_str());
    clientConfig.SetLaunchProgram(clientConfig.GetMain());
    if (silent) {
        clientConfig.RunMain();
        Close();
    }
}

void CInstallWnd::CheckInstalledVersion() {
    // The download way installs the configured version as much as the
    // archive way does: the same rule protects a newer installation.
    if (installDir.empty()) return;
    // No readable version (no value, another type, longer than the field) or
    // an empty one: nothing tells which release is there, so it counts as
    // not installed and the package installs. Refusing instead would leave
    // a damaged record with no way to install over it.
    wchar_t installed[128] = {};
    if (!ReadProductValue(clientConfig.GetCompany(), clientConfig.GetApp(), L"version", installed,
                          127) ||
        !installed[0])
        return;
    int order = CompareVersions(installed, clientConfig.GetVersion());
    wchar_t text[1024];
    if (order > 0) {
        if (!silent) {
            _snwprintf(text, 1024,
                       L"对不起！您的电脑里已经安装了更新版本（%s）的%s。\n当前安装包版本（%s）过旧无法安装！\n",
                       installed, clientConfig.GetName(), clientConfig.GetVersion());
            text[1023] = 0;
            MessageBoxW(GetHandle(), text, kPromptCaption, MB_OK);
        }
        DeclineInstall();
    } else if (order == 0 && !silent) {
        _snwprintf(text, 1024, L"您的电脑里已经安装了当前版本（%s）的%s，需要修复吗？\n", installed,
                   clientConfig.GetName());
        text[1023] = 0;
        if (MessageBoxW(GetHandle(), text, kPromptCaption, MB_YESNO) != IDYES) Close();
    }
}

// --- pictures for the packaging tool

bool CInstallWnd::OpenPayloadBytes(const void* bytes, size_t size) {
    payload.Close();
    payloadOpen = false;
    payloadBytes = PayloadBytes();
    XData& copy = payloadBytes.copy;
    if (!bytes || size == 0 || size > UINT32_MAX - 2 || !copy.Resize(uint32_t(size), true))
        return false;
    std::memcpy(copy.data, bytes, size);
    copy.SetSize(uint32_t(size));
    payloadBytes.data = copy.data;
    payloadBytes.size = copy.size;
    payloadOpen = payload.OpenFromMemory(copy.data, copy.size, GetArchivePassword());
    return payloadOpen;
}

void CInstallWnd::ShowPreview(PreviewState preview) {
    ILayer* box = Layer(Control::kAgreementBox);
    switch (preview) {
        case PreviewState::kReady:
        case PreviewState::kUnticked:
            state = kStateReady;
            if (box) box->SetChecked(preview == PreviewState::kReady);
            ShowFace(Face::kReady);
            break;
        case PreviewState::kInstalling: {
            state = kStateInstalling;
            ShowFace(Face::kInstalling);
            auto setText = [&](Control control, const wchar_t* text) {
                if (auto* layer = static_cast<CTextUI*>(Layer(control))) layer->text.Assign(text);
            };
            wchar_t text[1024];
            _snwprintf(text, 1024, L"%s%s", installDir.c_str(), L"data\\maps\\level01.dat");
            text[1023] = 0;
            setText(Control::kStatus, text);
            FormatPercent(text, 1024, 2, 1);
            setText(Control::kPercent, text);
            const uint64_t total = 1536ull << 20;
            FormatSizeLine(text, 1024, total, total / 2, 12u << 20);
            setText(Control::kSizeLine, text);
            if (auto* bar = static_cast<CProgressUI*>(Layer(Control::kProgress))) {
                bar->maximum = 100;
                bar->value = 50;
            }
            break;
        }
        case PreviewState::kFinished:
            state = kStateFinished;
            ShowFinished();
            break;
        case PreviewState::kFailed:
            state = kStateFinished;
            ShowFace(Face::kFailed);
            ShowStatus(L"安装失败：安装文件已损坏，请到官网下载新版本。");
            break;
    }
}

bool CInstallWnd::RenderPicture(std::vector<uint32_t>* pixels, int* width, int* height) {
    InvalidateLayers(true);
    if (!Render(nullptr)) return false;
    IRender* render = GetRender();
    if (!render || !render->GetBits()) return false;
    *width = render->GetWidth();
    *height = render->GetHeight();
    const auto* bits = static_cast<const uint32_t*>(render->GetBits());
    pixels->assign(bits, bits + size_t(*width) * size_t(*height));
    return true;
}

void CInstallWnd::StopWorker(DWORD milliseconds) {
    if (worker && worker->IsRunning()) worker->Stop(milliseconds);
}
