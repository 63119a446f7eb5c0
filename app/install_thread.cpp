#include "app/install_thread.h"

#include "app/install_wnd.h"

void CInstallThread::Run() {
    if (window_) InstallWorker(window_, *this, *this);
}

void CInstallThread::Progress(const wchar_t* name, uint32_t total, uint32_t done,
                              uint64_t bytesTotal, uint64_t bytesDone) {
    if (!XThread::StopRequested()) window_->ReportProgress(name, total, done, bytesTotal, bytesDone);
}

void CInstallThread::Notice(const wchar_t* name, const wchar_t* text) {
    if (!XThread::StopRequested()) window_->ReportNotice(name, text);
}

bool CInstallThread::WaitUnlessStopped(uint32_t ms) {
    if (!StopEvent()) return IInstallReport::WaitUnlessStopped(ms);
    return WaitForSingleObject(StopEvent(), ms) == WAIT_TIMEOUT && !XThread::StopRequested();
}

void InstallWorker(CInstallWnd* window, IInstallReport& report, const XThread& thread) {
    if (!window) return;
    InstallJob job = window->MakeJob();
    InstallResult result = RunInstall(job, report);
    // A stopped worker leaves the window alone: it may be going away.
    if (thread.StopRequested()) return;
    window->OnWorkerFinished(result);
}

