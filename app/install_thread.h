// The worker thread of the installer window.
#pragma once

#include "app/install_worker.h"
#include "support/thread.h"

class CInstallWnd;

class CInstallThread : public XNotifyThread, private IInstallReport {
public:
    explicit CInstallThread(CInstallWnd* window) : window_(window) {}
    // Run reads window_ and this object: stop before they go.
    ~CInstallThread() override { Stop(0); }

    void Run() override;

private:
    void Progress(const wchar_t* name, uint32_t total, uint32_t done, uint64_t bytesTotal,
                  uint64_t bytesDone) override;
    bool StopRequested() override { return XThread::StopRequested(); }
    void Notice(const wchar_t* name, const wchar_t* text) override;
    bool WaitUnlessStopped(uint32_t ms) override;

    CInstallWnd* window_;  // not owned; the window owns this thread
};

// The worker's whole run for a window; on the worker thread.
void InstallWorker(CInstallWnd* window, IInstallReport& report, const XThread& thread);
