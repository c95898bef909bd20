#include "RepairJob.h"

#include "Strings.h"

#include <exception>
#include <new>

namespace clipwright::ui {

RepairJob::RepairJob(RepairEngine& fixer, QObject* parent) : QObject(parent), engine(fixer), host(*this) {
    connect(this, &RepairJob::mailPosted, this, &RepairJob::DeliverMail, Qt::QueuedConnection);
    engine.SetHost(&host);
}

RepairJob::~RepairJob() {
    Stop();
    if (engine.Host() == &host)
        engine.SetHost(nullptr);
}

bool RepairJob::Start(FixRequest request) {
    if (running)
        return false;
    if (worker.joinable())
        worker.join(); // a job that has ended or was stopped
    const unsigned jobNumber = ++startedJobs;
    cancelRequested = false;
    worker = std::jthread([this, jobNumber, job = std::move(request)](std::stop_token stop) mutable {
        Run(std::move(job), std::move(stop), jobNumber);
    });
    running = true;
    return true;
}

void RepairJob::Stop() {
    if (worker.joinable()) {
        worker.request_stop();
        worker.join();
    }
    running = false;
    // What the stopped job left undelivered is declined as it goes.
    std::vector<Delivery> undelivered;
    std::lock_guard<std::mutex> lock(mailboxLock);
    undelivered.swap(mailbox);
}

void RepairJob::Run(FixRequest request, std::stop_token stop, unsigned jobNumber) {
    host.BeginJob(stop);
    std::string path;
    bool failed = false;
    bool outOfMemory = false;
    std::string detail;
    try {
        path = request.path;
        if (runner)
            runner(engine, std::move(request), stop);
        else
            engine.RunFixJob(std::move(request));
    } catch (const std::bad_alloc&) {
        // Memory is short until the job's stack is gone: nothing here may allocate.
        failed = true;
        outOfMemory = true;
    } catch (const std::exception& error) {
        failed = true;
        try {
            detail = error.what();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    } catch (...) {
        failed = true;
    }
    if (failed) {
        ReportFailure(outOfMemory, detail, path);
    }
    try {
        Post([this, jobNumber] { Collect(jobNumber); });
    } catch (const std::bad_alloc&) {
        // With no memory even for this, the dialog learns of the end when it stops the job.
    }
}

void RepairJob::ReportFailure(bool outOfMemory, const std::string& detail, const std::string& path) {
    try {
        std::string text = outOfMemory ? strings::kJobOutOfMemory : strings::kJobUnexpectedError;
        if (!outOfMemory && !detail.empty())
            text += "\n\n" + detail;
        host.ShowProblem(text, path);
    } catch (...) {
        // Not even the message could be made: the job still ends, and the window with it.
    }
}

void RepairJob::Post(Delivery delivery) {
    {
        std::lock_guard<std::mutex> lock(mailboxLock);
        mailbox.push_back(std::move(delivery));
    }
    emit mailPosted(QPrivateSignal());
}

void RepairJob::DeliverMail() {
    std::vector<Delivery> delivered;
    {
        std::lock_guard<std::mutex> lock(mailboxLock);
        delivered.swap(mailbox);
    }
    for (const Delivery& delivery : delivered) {
        try {
            delivery();
        } catch (...) {
            // A handler that failed leaves its question unanswered: it is declined as the delivery goes.
        }
    }
}

void RepairJob::Collect(unsigned jobNumber) {
    // A job that was stopped, or an earlier one, has nothing left to report.
    if (!running || jobNumber != startedJobs)
        return;
    worker.join();
    running = false;
    emit finished();
}

} // namespace clipwright::ui
