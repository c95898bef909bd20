// One repair on the engine, on a thread of its own. The main dialog owns the job: it starts it,
// answers what the engine asks through the job's signals, and stops it before it goes. Every
// question of the job carries a JobReply that the job waits for; a question that nobody answers (the
// dialog is gone, the job was told to stop) is taken as "Cancel", so the job never waits for ever.
#pragma once

#include "JobHost.h"
#include "JobReply.h"
#include "repair/RepairEngine.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace clipwright::ui {

using Acknowledgement = JobReply<Done>;
// The prompt's answer: the frame size and rate, or a healthy recording of the same device whose
// stream headers stand in for the lost header.
struct SettingsAnswer {
    std::optional<ImageSettings> settings;
    std::string referencePath;
};
using ImageSettingsReply = JobReply<SettingsAnswer>;

class RepairJob : public QObject {
    Q_OBJECT
public:
    // What runs on the job's thread: the engine's RunFixJob unless replaced.
    using Runner = std::function<void(RepairEngine& engine, FixRequest request, std::stop_token stop)>;

    // Registers the job's host with `engine` for as long as the job exists.
    explicit RepairJob(RepairEngine& engine, QObject* parent = nullptr);
    ~RepairJob() override;

    void SetRunner(Runner jobRunner) { runner = std::move(jobRunner); }

    // Runs `request` on the job's thread. False, and nothing done, while a job runs.
    bool Start(FixRequest request);
    // From Start() until finished() has been emitted, or until Stop().
    bool IsRunning() const { return running; }
    // Declines what the job asks from now on (an open question included) and waits for the engine
    // to return. No finished() follows.
    void Stop();
    // Asks the job to stop at its next safe point, leaving the recording as it was, and returns at
    // once; finished() follows as after any job, with the outcome Cancelled unless the job had got
    // past its last safe point.
    void Cancel() { cancelRequested = true; }
    bool CancelRequested() const { return cancelRequested.load(); }

signals:
    // Emitted on the GUI thread; the job waits until `reply` is answered.
    void messageRequested(const QString& text, const QString& filePath,
                          clipwright::ui::Acknowledgement reply);
    // What a repair that succeeded found; the job waits until `reply` is answered.
    void findingsShown(const QString& text, const QString& filePath, clipwright::ui::Acknowledgement reply);
    // `readFromVideo`: what the recording's own video and sound say, chosen when the prompt opens.
    void imageSettingsRequested(const std::optional<clipwright::ImageSettings>& readFromVideo,
                                clipwright::ui::ImageSettingsReply reply);
    void progressVisibilityRequested(bool visible, clipwright::ui::Acknowledgement reply);
    // How far the job has come in its phase.
    void progressReported(clipwright::ProgressPhase phase, quint64 done, quint64 total);
    // The folder the new file was to go to takes none: the user may choose another.
    void folderRefused(const QString& text, const QString& filePath, clipwright::ui::Acknowledgement reply);
    // The job has returned, whatever it did.
    void finished();
    // The job's thread has left something in the mailbox.
    void mailPosted(QPrivateSignal);

private:
    friend class JobHost;
    using Delivery = std::function<void()>;

    void Run(FixRequest request, std::stop_token stop, unsigned jobNumber);
    void ReportFailure(bool outOfMemory, const std::string& detail, const std::string& path);
    // On the job's thread: `delivery` runs on the GUI thread. What the job hands over travels in
    // the delivery, under the mailbox's lock, not in a queued signal's arguments.
    void Post(Delivery delivery);
    void DeliverMail();
    void Collect(unsigned jobNumber);

    RepairEngine& engine;
    JobHost host;
    Runner runner;
    std::jthread worker;
    unsigned startedJobs = 0;
    bool running = false;
    std::atomic<bool> cancelRequested{false};
    std::mutex mailboxLock;
    std::vector<Delivery> mailbox;
};

} // namespace clipwright::ui
