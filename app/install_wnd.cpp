#include "app/install_wnd.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
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

}  // namespace

CInstallWnd::CInstallWnd() {
    theme.SetForecolor(0xFF808080);
    theme.SetBackcolor(0xFFFFFFFF);
    theme.SetTextcolor(0xFF000000);
}

CInstallWnd::~CInstallWnd() {
    worker.reset();  // stops a running worker before the members it reads go
    record.Clear();
    payload.Close();
    payloadBuffer.Free();
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
    if (!::OpenPayloadOf(exe, payload, payloadBuffer)) return false;
    // Without the resource the archive came from the neighbouring file; the
    // worker reads the inner archive from there again, piece by piece.
    if (payloadBuffer.size == 0) PayloadZipPath(exe, payloadPath_, 1024);
    return true;
}

bool CInstallWnd::LoadWindowConfig() {
    if (clientConfig.LoadFromModule(Windowing().instance, L"app", 1)) return true;
    XData text;
    if (!payload.ExtractByName(L"app.txt", &text)) return false;
    return clientConfig.LoadFromData(text.data, text.size);
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
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        ScopeExit release([argv] { LocalFree(argv); });
        silent = argc > 1 && std::wcscmp(argv[1], L"silent") == 0;
    }
    payloadOpen = OpenPayload();
    // The skin, the client and its manifest all come from the payload: a
    // package without a usable one is damaged, and its built-in defaults
    // would speak for another product. Nothing is read or written for it.
    if (!payloadOpen || !LoadWindowConfig()) {
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
    if (ReadProductValue(clientConfig.GetCompany(), clientConfig.GetApp(), L"path", previous,
                         1024)) {
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

    if (silent) {
        // Unattended: the version check decides before anything is written,
        // and asks nothing (an equal version is repaired, a newer one kept).
        CheckInstalledVersion();
        if (state == kStateReady) StartInstall();
    } else {
        CheckInstalledVersion();
    }
}

void CInstallWnd::BuildControls() {
    RECT parent = {};
    GetClientRect(GetHandle(), &parent);
    const uint32_t textColor = theme.GetTextcolor();
    int bottom = 0;  // B: rows above the copyright picture and the path row
    int linkLeft = 0;  // L: the agreement link follows the agreement picture

    auto add = [&](int kind) -> ILayer* {
        int index = AddLayerOfType(kind);
        return index >= 0 ? GetLayer(index) : nullptr;
    };
    auto indexOf = [&]() { return GetLayerCount() - 1; };
    auto place = [&](ILayer* layer, const Anchor& anchor) {
        layer->SetAnchor(anchor);
        layer->Layout(parent);
    };

    // 1 background: keeps the ID the host gave (0), so pressing it drags.
    if (auto* bg = static_cast<CImageUI*>(add(kLayerImage))) {
        LoadSkinImage(&bg->image, kSkinBackground.file);
        place(bg, MakeAnchor(0, 0, 0, 0, 0, 0, 0, 0));
    }
    // 2 logo
    if (auto* logo = static_cast<CImageUI*>(add(kLayerImage))) {
        LoadSkinImage(&logo->image, kSkinLogo.file);
        place(logo, MakeAnchor(20, 0, 10, 0, logo->image.GetWidth(), 0, logo->image.GetHeight(), 0));
        logo->SetCursorKind(kCursorHand);
        logo->SetID(kCmdHomepage);
    }
    // 3 close, 4 minimise
    struct TopButton {
        const SkinPicture& picture;
        int right;
        int id;
    };
    for (const TopButton& b : {TopButton{kSkinClose, 10, kCmdClose},
                               TopButton{kSkinMinimize, 35, kCmdMinimize}}) {
        if (auto* button = static_cast<CImageUI*>(add(kLayerImage))) {
            LoadSkinImage(&button->image, b.picture.file);
            button->frameCount = b.picture.frames;
            place(button, MakeAnchor(-1, 0, 10, 0, button->image.GetWidth(), b.right,
                                     button->image.GetHeight() / button->frameCount, 0));
            button->SetCursorKind(kCursorHand);
            button->SetID(b.id);
        }
    }
    // 5 copyright
    if (auto* copyright = static_cast<CImageUI*>(add(kLayerImage))) {
        LoadSkinImage(&copyright->image, kSkinCopyright.file);
        place(copyright, MakeAnchor(-1, 0, -1, 0, copyright->image.GetWidth(), 20,
                                    copyright->image.GetHeight(), 10));
        copyright->SetID(-1);
        bottom = 40;
    }
    // 6 waiting picture
    if (auto* waiting = static_cast<CImageUI*>(add(kLayerImage))) {
        waitingIndex = indexOf();
        LoadSkinImage(&waiting->image, kSkinWaiting.file);
        waiting->SetVisible(false);
        place(waiting, MakeAnchor(-1, -1, -1, -1, waiting->image.GetWidth(), 0,
                                  waiting->image.GetHeight(), 0));
    }
    if (!silent) {
        // 7 start button
        if (auto* start = static_cast<CImageUI*>(add(kLayerImage))) {
            startIndex = indexOf();
            LoadSkinImage(&start->image, kSkinStart.file);
            start->frameCount = kSkinStart.frames;
            start->SetAlphaFlag(true);
            place(start, MakeAnchor(-1, -1, -1, -1, kSkinStart.width, 0,
                                    start->image.GetHeight() / start->frameCount, 0));
            start->SetCursorKind(kCursorHand);
            start->SetID(kCmdStart);
        }
        // 8 path field
        if (auto* edit = static_cast<CEditUI*>(add(kLayerEdit))) {
            editIndex = indexOf();
            LoadSkinImage(&edit->image, kSkinEdit.file);
            edit->text.Assign(installDir.c_str());
            edit->SetColor(textColor);
            edit->font.CreateHandle();
            edit->margins = {kSkinEdit.ends / 2, 0, kSkinEdit.ends / 2, 0};
            place(edit, MakeAnchor(20, 0, -1, 0, 0, 90, edit->image.GetHeight(), bottom));
            edit->SetCursorKind(kCursorText);
            edit->SetID(-1);
        }
        // 9 browse button
        if (auto* browse = static_cast<CImageUI*>(add(kLayerImage))) {
            LoadSkinImage(&browse->image, kSkinBrowse.file);
            browse->SetColor(textColor);
            browse->margins = {kSkinBrowse.ends / 2, 0, kSkinBrowse.ends / 2, 0};
            browse->frameCount = kSkinBrowse.frames;
            int frameHeight = browse->image.GetHeight() / browse->frameCount;
            place(browse, MakeAnchor(-1, 0, -1, 0, browse->image.GetWidth(), 20, frameHeight, bottom));
            browse->SetCursorKind(kCursorHand);
            browse->SetID(kCmdBrowse);
            bottom += frameHeight + 10;
        }
        // 10 agreement check box
        if (auto* check = static_cast<CCheckUI*>(add(kLayerCheck))) {
            checkIndex = indexOf();
            LoadSkinImage(&check->image, kSkinCheck.file);
            LoadSkinImage(&check->checkedImage, kSkinChecked.file);
            check->frameCount = kSkinCheck.frames;
            check->SetChecked(true);
            place(check, MakeAnchor(20, 0, -1, 0, kSkinCheck.width, 0,
                                    check->image.GetHeight() / check->frameCount, bottom));
            check->SetCursorKind(kCursorHand);
            check->SetID(kCmdToggleAgreement);
        }
        // 11 agreement text
        if (auto* agree = static_cast<CImageUI*>(add(kLayerImage))) {
            LoadSkinImage(&agree->image, kSkinAgree.file);
            agree->frameCount = kSkinAgree.frames;
            agree->SetAlphaFlag(true);
            place(agree, MakeAnchor(36, 0, -1, 0, agree->image.GetWidth(), 0,
                                    agree->image.GetHeight(), bottom));
            agree->SetCursorKind(kCursorHand);
            agree->SetID(kCmdToggleAgreement);
            linkLeft = agree->image.GetWidth() + 36;
        }
        // 12 agreement link
        if (auto* link = static_cast<CImageUI*>(add(kLayerImage))) {
            LoadSkinImage(&link->image, kSkinProtocol.file);
            link->frameCount = kSkinProtocol.frames;
            link->SetAlphaFlag(true);
            place(link, MakeAnchor(linkLeft + 6, 0, -1, 0, link->image.GetWidth(), 0,
                                   link->image.GetHeight() / link->frameCount, bottom));
            link->SetCursorKind(kCursorHand);
            link->SetID(kCmdProtocol);
        }
    }
    // 13 status line, 14 percentage, 16 size and speed line (15 is the bar)
    auto text = [&](int32_t* index, const wchar_t* value, int fontHeight, bool bold,
                    const Anchor& anchor) {
        auto* layer = static_cast<CTextUI*>(add(kLayerText));
        if (!layer) return;
        *index = indexOf();
        layer->text.Assign(value);
        layer->SetColor(textColor);
        layer->font.height = fontHeight;
        layer->font.bold = bold;
        layer->font.CreateHandle();
        place(layer, anchor);
        layer->SetVisible(false);
        layer->SetID(-1);
    };
    text(&statusIndex, kWelcomeText, 15, false, MakeAnchor(20, 0, -1, 0, 0, 90, 15, 72));
    // A deep path is shortened in its middle so the file's own name stays
    // visible; an "&" in a name is shown, not taken as a mnemonic.
    if (auto* status = static_cast<CTextUI*>(LayerOrNull(statusIndex)))
        status->format = kStatusTextFormat;
    text(&percentIndex, L"0%", kPercentFontHeight, true,
         MakeAnchor(-1, 0, -1, 0, kPercentFieldWidth, 20, 32, 59));
    // "100%" does not fit 60 pixels in that font: the field takes the width
    // of its widest text, and the status line beside it gives way.
    if (auto* percent = static_cast<CTextUI*>(LayerOrNull(percentIndex))) {
        const int width = PercentFieldWidth(percent->font.Handle(), kPercentFieldWidth);
        place(percent, MakeAnchor(-1, 0, -1, 0, width, 20, 32, 59));
        if (auto* status = LayerOrNull(statusIndex))
            place(status, MakeAnchor(20, 0, -1, 0, 0, 20 + width + 10, 15, 72));  // 90 at 60
    }
    if (auto* bar = static_cast<CProgressUI*>(add(kLayerProgress))) {
        progressIndex = indexOf();
        LoadSkinImage(&bar->image, kSkinProgressSink.file);
        LoadSkinImage(&bar->fillImage, kSkinProgressFill.file);
        LoadSkinImage(&bar->dotImage, kSkinProgressDot.file);
        bar->frameCount = 1;
        bar->SetChecked(true);
        bar->margins = {kSkinProgressSink.ends / 2, 0, kSkinProgressSink.ends / 2, 0};
        bar->value = 0;
        bar->maximum = 100;
        place(bar, MakeAnchor(20, 0, -1, 0, 0, 20, bar->image.GetHeight(), 54));
        bar->SetVisible(false);
        bar->SetID(-1);
    }
    text(&speedIndex, kWelcomeText, 15, false, MakeAnchor(20, 0, -1, 0, 0, 90, 15, 30));
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
                if (auto* edit = static_cast<CEditUI*>(LayerOrNull(editIndex))) {
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
            if (ILayer* check = LayerOrNull(checkIndex)) {
                check->SetChecked(!check->IsChecked());
                check->SetNeedsRedraw(true);
                if (ILayer* start = LayerOrNull(startIndex)) {
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
    for (int i = 5; i <= 24; ++i)
        if (ILayer* layer = LayerOrNull(i)) layer->SetVisible(false);
    for (int index : {progressIndex, statusIndex, percentIndex, speedIndex, waitingIndex})
        if (ILayer* layer = LayerOrNull(index)) {
            layer->SetVisible(true);
            layer->SetNeedsRedraw(true);
        }
    if (!silent) {
        auto* edit = static_cast<CEditUI*>(LayerOrNull(editIndex));
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
    if (!worker) worker.reset(new CInstallThread(this));
    worker->Start();
}

InstallJob CInstallWnd::MakeJob() {
    InstallJob job;
    job.installDir = installDir.c_str();
    job.archiveName = archiveName.c_str();
    job.manifestUrl = manifestUrl.c_str();
    job.payload = &payload;
    if (payloadBuffer.size > 0) {
        job.payloadBytes = payloadBuffer.data;
        job.payloadSize = payloadBuffer.size;
    } else if (payloadPath_[0]) {
        job.payloadPath = payloadPath_;
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
    FormatSizeLine(progress_.speed, 128, bytesTotal, bytesDone, speed);
    progress_.maximum = total ? total : 1;
    progress_.value = total ? done : 1;
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
    auto setText = [&](int index, const wchar_t* text) {
        if (auto* layer = static_cast<CTextUI*>(LayerOrNull(index))) {
            layer->text.Assign(text);
            layer->SetNeedsRedraw(true);
        }
    };
    if (snapshot.statusChanged) setText(statusIndex, snapshot.status);
    setText(percentIndex, snapshot.percent);
    setText(speedIndex, snapshot.speed);
    if (auto* bar = static_cast<CProgressUI*>(LayerOrNull(progressIndex))) {
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
    if (auto* status = static_cast<CTextUI*>(LayerOrNull(statusIndex))) {
        status->text.Assign(text);
        status->SetVisible(true);
        status->SetNeedsRedraw(true);
    }
}

void CInstallWnd::ShowFinished() {
    for (int i = 5; i <= 24; ++i)
        if (ILayer* layer = LayerOrNull(i)) layer->SetVisible(false);
    if (ILayer* waiting = LayerOrNull(waitingIndex)) waiting->SetVisible(false);
    if (!silent) {
        if (auto* start = static_cast<CImageUI*>(LayerOrNull(startIndex))) {
            LoadSkinImage(&start->image, kSkinFinish.file);
            start->SetID(kCmdFinish);
            start->SetVisible(true);
            start->SetNeedsRedraw(true);
        }
    }
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
    for (int i = 5; i <= 24; ++i)
        if (ILayer* layer = LayerOrNull(i)) layer->SetVisible(false);
    if (ILayer* waiting = LayerOrNull(waitingIndex)) waiting->SetVisible(false);
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
    exitCode_ = kExitInstallFailure;
    if (!silent) MessageBoxW(GetHandle(), kDamagedPackageText, kErrorCaption, MB_OK);
    Close();
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

void CInstallWnd::StopWorker(DWORD milliseconds) {
    if (worker && worker->IsRunning()) worker->Stop(milliseconds);
}
