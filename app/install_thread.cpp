#include "app/install_thread.h"

void CInstallThread::Run() {
    InstallResult result = RunInstall(job_, *this);
    // A stopped worker leaves its listener alone: it may be going away.
    if (!XThread::StopRequested()) listener_.OnWorkerFinished(result);
}

void CInstallThread::Progress(const wchar_t* name, uint32_t total, uint32_t done,
                              uint64_t bytesTotal, uint64_t bytesDone) {
    if (!XThread::StopRequested()) listener_.ReportProgress(name, total, done, bytesTotal, bytesDone);
}

void CInstallThread::Notice(const wchar_t* name, const wchar_t* text) {
    if (!XThread::StopRequested()) listener_.ReportNotice(name, text);
}

bool CInstallThread::WaitUnlessStopped(uint32_t ms) {
    if (!StopEvent()) return IInstallReport::WaitUnlessStopped(ms);
    return WaitForSingleObject(StopEvent(), ms) == WAIT_TIMEOUT && !XThread::StopRequested();
}
