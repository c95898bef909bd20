// The main dialog: choose a recording, choose how it is repaired, press Fix. While a job runs it is
// the meeting point of the progress window and the job's worker.
#pragma once

#include "CAviFixer.h"
#include "DialogFixerHost.h"
#include "JobThreads.h"

#include <QBasicTimer>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <thread>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace clipwright::ui {

class CProgressDlg;

// How the worker runs a job; the engine's own RunFixJob unless replaced.
using FixJobRunner = std::function<void(CAviFixer& engine, FixRequest request)>;

// The path and name that an Open dialog selection stands for.
struct ChosenFile {
    QString path;
    QString fileName;
};
// The extension rule: a path whose extension is "avi" in any case stays as it is, any other gets
// ".avi" appended; with several paths the last one counts. Empty for an empty selection.
ChosenFile ChosenFileFromSelection(const QStringList& selectedPaths);

class CRepairDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRepairDlg(CAviFixer& engine, QWidget* parent = nullptr);
    ~CRepairDlg() override;

    void SetJobRunner(FixJobRunner runner) { jobRunner = std::move(runner); }
    bool JobRunning() const { return jobRunning; }
    const QString& FileName() const { return fileName; }
    const QString& PathText() const { return pathText; }

    // For the job's roles (JobThreads.h).
    void AttachProgressDialog(CProgressDlg* dialog);
    void ProgressDialogClosed(CProgressDlg* dialog);
    int ReadReplaceTick();
    void RunJob(FixRequest request);
    IndexEntryList& IndexEntries() { return indexEntries; }
    FixerHost& Host() { return host; }
    void StartJobEndTimer();
    // The window a message box of the job is owned by: the progress window while it shows.
    QWidget* MessageOwner();

public slots:
    void OnFix();
    void OnSelectFile();
    void OnAbout();
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void InitDialog();
    void OnReplaceClicked();
    void OnNewFileClicked();
    bool BrowseForAvi(ChosenFile& chosen);
    void HandlePrivateMessage(QEvent* event);
    void SetControlsEnabled(bool enabled);

    CAviFixer& engine;
    DialogFixerHost host;
    FixJobRunner jobRunner;
    QPointer<CProgressDlg> progressDialog;
    QString fileName;
    QPointer<QWidget> progressWindow;
    IndexEntryList indexEntries;
    FixThreadArgs threadArgs;
    QString pathText;
    QIcon appIcon;
    QBasicTimer jobEndTimer;
    std::thread worker;
    bool jobRunning = false;

    QPushButton* exitButton = nullptr;
    QLabel* banner = nullptr;
    QLabel* description = nullptr;
    QLineEdit* pathEdit = nullptr;
    QPushButton* selectButton = nullptr;
    QPushButton* fixButton = nullptr;
    QCheckBox* replaceBox = nullptr;
    QCheckBox* newFileBox = nullptr;
    QAction* aboutAction = nullptr;
};

} // namespace clipwright::ui
