// The installer's only window: the skinned face built from the payload, the
// commands of its controls, the progress display fed by the install worker,
// and the end of installation (install records, registry, shortcuts).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "app/install_thread.h"
#include "app/progress_text.h"
#include "client/app_file.h"
#include "client/client_info.h"
#include "support/fixed_string.h"
#include "support/payload.h"
#include "client/update_download.h"
#include "support/data.h"
#include "support/zip.h"
#include "ui/theme.h"
#include "window/direct_ui.h"

class IImage;

// Command ids of the window's controls, and the one the worker's end posts.
enum InstallCommand : int {
    kCmdClose = 4097,
    kCmdMinimize = 4098,
    kCmdStart = 4100,
    kCmdFinish = 4101,
    kCmdInstallComplete = 4102,
    kCmdBrowse = 4103,
    kCmdHomepage = 4104,
    kCmdProtocol = 4105,
    kCmdToggleAgreement = 4106,
};

// The window's controls, in the order they are made (and so drawn). A
// silent run makes no controls for choices: start, path, browse and the
// agreement.
enum class Control : int {
    kBackground,
    kLogo,
    kClose,
    kMinimize,
    kCopyright,
    kWaiting,
    kStart,  // also the finish button
    kPathField,
    kBrowse,
    kAgreementBox,
    kAgreementText,
    kAgreementLink,
    kStatus,
    kPercent,
    kProgress,
    kSizeLine,
    kCount
};

// What the window shows in each stage; the face table says which controls.
enum class Face : int { kReady, kInstalling, kFinished, kFailed };

// The pictures the packaging tool draws of a skin: the faces, and the ready
// face with the agreement unticked (no start button).
enum class PreviewState : int { kReady, kUnticked, kInstalling, kFinished, kFailed };

enum InstallState : int {
    kStateReady = 0,
    kStateInstalling = 1,
    kStateFinished = 2,
    kStateClientStarted = 3,
};

// The exit code of a silent run in which files could not be installed.
constexpr int kExitInstallFailure = 1603;

// True when the first argument is exactly "silent".
bool IsSilentCommandLine(const wchar_t* commandLine);
// A package that fails its check: the message (none when silent); answers
// the exit code.
int ReportDamagedPackage(HWND owner, bool silent);

class CInstallWnd : public CDirectUI, public IInstallListener {
public:
    CInstallWnd();
    ~CInstallWnd() override;

    bool OnClickCommand(int id) override;
    bool OnCloseQuery() override;
    void OnCreated() override;
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    bool OpenPayload();
    bool LoadSkinImage(IImage* image, const wchar_t* entry);
    void ComposeInstallDir(const wchar_t* base);

    void StartInstall();
    // The report without byte counts (they are then the counts themselves).
    void OnInstallProgress(const wchar_t* name, uint32_t total, uint32_t done);
    // The same with the bytes written so far (worker thread).
    void ReportProgress(const wchar_t* name, uint32_t total, uint32_t done, uint64_t bytesTotal,
                        uint64_t bytesDone) override;
    // A word about a file for the status line (worker thread).
    void ReportNotice(const wchar_t* name, const wchar_t* text) override;
    // The worker's last word (worker thread): completion or failure is posted.
    void OnWorkerFinished(const InstallResult& result) override;
    void ShowFinished();
    void FinishInstall();
    void DeclineInstall();
    // A package whose payload or configuration cannot be read: the check
    // message (none when silent), exit code 1603, the window closes.
    void RefuseDamagedPackage();
    void CheckInstalledVersion();

    // Asks a running worker to stop and waits up to the time given for it to
    // leave its current file; used when the program ends during installation.
    void StopWorker(DWORD milliseconds);

    // The process exit code the run asks for (silent failures).
    int ExitCode() const { return exitCode_; }

    // Members in the order the installer's design lists them.
    XZip payload;
    PayloadBytes payloadBytes;  // must outlive payload
    bool payloadOpen = false;
    bool silent = false;  // set by the entry before the window is made
    bool innerArchivePresent = false;
    std::unique_ptr<CInstallThread> worker;
    CTheme theme;
    // The package's configuration, which the entry loads before the window
    // is made; the one record of the run (the end of installation adds the
    // installation's path, digest and program to it).
    CClientInfo clientConfig;
    CAppFile record;
    DownloadProgress downloadProgress = {};
    FixedString<1023> installDir;
    FixedString<1023> manifestUrl;
    FixedString<1023> archiveName;
    int32_t state = kStateReady;

    // The worker's settings of one run, as InstallWorker hands them on.
    InstallJob MakeJob();

    // The control's layer; null when this run has no such control.
    ILayer* Layer(Control control);

    // A window that only shows its skin, for the packaging tool: set before
    // Create, with the payload opened from the given bytes (kept by the
    // window) and, optionally, installDir. No registry is read, no version
    // checked, no message box shown, nothing installed.
    bool preview = false;
    bool OpenPayloadBytes(const void* bytes, size_t size);
    // Puts the window into the state as a run shows it; the installing state
    // at half of a sample file with fixed sizes and speed.
    void ShowPreview(PreviewState state);
    // Draws the window as the screen shows it (the frame included) and
    // copies its premultiplied BGRA pixels, top row first.
    bool RenderPicture(std::vector<uint32_t>* pixels, int* width, int* height);

private:
    void BuildControls();
    // The frame answers the bottom offset of the lowest choice row (the
    // path's), which the copyright picture pushes up.
    int BuildFrameControls();
    void BuildChoiceControls(int bottom);
    void BuildProgressControls();
    // Makes a layer of the kind and records it as the control.
    ILayer* AddControl(Control control, int kind);
    // Shows the controls of the face and hides the others.
    void ShowFace(Face face);
    void ApplyProgress();
    void OnInstallFailed();
    void ShowStatus(const wchar_t* text);

    int32_t layerOf_[int(Control::kCount)];

    // The payload's file when it did not come from the resource.
    wchar_t payloadPath_[1024] = {};
    uint64_t payloadOffset_ = 0;  // where the payload starts in payloadPath_

    // Progress handed from the worker to the UI thread: the worker formats
    // the texts into this snapshot; a timer of the UI thread puts the latest
    // one into the layers. Layers are never touched by the worker, so
    // painting cannot race with it, and a timer (unlike a stream of posted
    // messages) never starves the user's input, message boxes included.
    struct ProgressSnapshot {
        bool fresh;
        wchar_t status[1024];
        bool statusChanged;
        wchar_t percent[16];
        wchar_t speed[128];
        uint32_t maximum;
        uint32_t value;
    };
    std::mutex progressLock_;
    ProgressSnapshot progress_ = {};

    // Speed of the size line; worker thread only while a run is going.
    SpeedMeter speed_{5};

    std::atomic<uint32_t> failed_{0};
    int exitCode_ = 0;
};

// Posted by the worker's end when nothing could be installed.
constexpr UINT kMsgInstallFailed = WM_APP + 0x41;
// The UI thread's look at the worker's progress.
constexpr UINT_PTR kProgressTimerId = 0x1A57;
constexpr UINT kProgressIntervalMs = 100;
// The percentage: its font's height (bold) and the skin's width of its field,
// which grows to fit "100%" in that font (PercentFieldWidth).
constexpr int kPercentFontHeight = 32;
constexpr int kPercentFieldWidth = 60;
// The status line: one line, vertically centred, long paths shortened in
// the middle, no mnemonic prefixes.
constexpr UINT kStatusTextFormat = DT_VCENTER | DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_NOPREFIX;
