// The installer's worker thread: runs one install job and tells a listener
// what happened. It knows nothing of the window that listens.
#pragma once

#include "app/install_worker.h"
#include "support/thread.h"

// Told from the worker thread; nothing is told once a stop was requested.
class IInstallListener {
public:
    // The report protocol of IInstallReport::Progress.
    virtual void ReportProgress(const wchar_t* name, uint32_t total, uint32_t done,
                                uint64_t bytesTotal, uint64_t bytesDone) = 0;
    // A word about a file for the status line.
    virtual void ReportNotice(const wchar_t* name, const wchar_t* text) = 0;
    // The run ended on its own (not stopped): its result.
    virtual void OnWorkerFinished(const InstallResult& result) = 0;

protected:
    ~IInstallListener() = default;
};

class CInstallThread : public XThread, private IInstallReport {
public:
    explicit CInstallThread(IInstallListener& listener) : listener_(listener) {}
    // Run reads the job's pointers and the listener: stop before they go.
    ~CInstallThread() override { Stop(0); }

    // The job of the next Start; what it points at must outlive the run.
    void SetJob(const InstallJob& job) { job_ = job; }
    void Run() override;

private:
    void Progress(const wchar_t* name, uint32_t total, uint32_t done, uint64_t bytesTotal,
                  uint64_t bytesDone) override;
    bool StopRequested() override { return XThread::StopRequested(); }
    void Notice(const wchar_t* name, const wchar_t* text) override;
    bool WaitUnlessStopped(uint32_t ms) override;

    IInstallListener& listener_;
    InstallJob job_;
};
