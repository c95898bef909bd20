// The main dialog: choose recordings, choose how they are repaired, press Fix. It owns the repair
// job, runs it for each chosen recording in turn with the progress window showing, answers what the
// engine asks during it, and shows what was written where once the last has ended.
#pragma once

#include "RepairJob.h"
#include "ResultWindow.h"
#include "repair/RepairEngine.h"

#include <QBasicTimer>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;

namespace clipwright::ui {

class ProgressWindow;

// The path and name that an Open dialog selection stands for.
struct ChosenFile {
    QString path;
    QString fileName;
};
// The extension rule, for each path: one whose extension is "avi" in any case stays as it is, any
// other gets ".avi" appended.
QList<ChosenFile> ChosenFilesFromSelection(const QStringList& selectedPaths);

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(RepairEngine& engine, QWidget* parent = nullptr);
    // Stops the job, if one runs, before anything it uses goes.
    ~MainDialog() override;

    // Takes `path` as if it had been chosen with "Select AVI File", as named.
    void ChooseFile(const QString& path);
    // Several files, repaired one after the other by Fix.
    void ChooseFiles(const QStringList& paths);
    const QList<ChosenFile>& ChosenFiles() const { return chosenFiles; }
    // Where "Make new file" writes, for this session; empty: beside each recording.
    const QString& OutputFolder() const { return outputFolder; }
    void SetOutputFolder(const QString& folder);

    RepairJob& Job() { return job; }
    // From Fix until the progress window has closed.
    bool JobRunning() const;
    const QString& FileName() const { return fileName; }
    const QString& PathText() const { return pathText; }

public slots:
    void OnFix();
    void OnSelectFile();
    void OnAbout();
    void OnChooseOutputFolder();
    void reject() override;

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildLayout();
    void InitDialog();
    void OnReplaceClicked();
    void OnNewFileClicked();
    bool BrowseForAvi(QList<ChosenFile>& chosen);
    void StartNext();
    void StartJob();
    void ShowResults();
    // Asks whether to stop the running job; true when the user chose to.
    bool AskToStopJob();
    void OnJobFinished();
    void OnProgressClosed();
    void OnMessageRequested(const QString& text, const QString& filePath, Acknowledgement reply);
    void OnFindingsShown(const QString& text, const QString& filePath, Acknowledgement reply);
    void OnImageSettingsRequested(const std::optional<ImageSettings>& readFromVideo,
                                  ImageSettingsReply reply);
    void OnProgressVisibilityRequested(bool visible, Acknowledgement reply);
    void OnFolderRefused(const QString& text, const QString& filePath, Acknowledgement reply);
    void SetControlsEnabled(bool enabled);
    // The window a box of the job is owned by: the progress window while it shows.
    QWidget* MessageOwner();
    // The local files a drop carries, or nothing when it carries anything else.
    QStringList DroppedFiles(const QMimeData* mime) const;
    void SetChosen(const QList<ChosenFile>& files);

    QString fileName;
    QString pathText;
    QList<ChosenFile> chosenFiles;
    // The run Fix started: what is still to come, the file now repaired, and what each one did.
    QList<ChosenFile> pending;
    ChosenFile current;
    OutputMode currentMode = OutputMode::NewFile;
    QList<JobResult> results;
    QString outputFolder;
    // The folder refused the new file and the user chose another: the file runs again.
    bool runAgain = false;
    bool closeAfterJob = false;
    RepairEngine& engine_;
    QIcon appIcon;
    RepairJob job;
    QPointer<ProgressWindow> progressWindow;
    QBasicTimer jobEndTimer;

    QPushButton* exitButton = nullptr;
    QLabel* banner = nullptr;
    QLabel* description = nullptr;
    QLineEdit* pathEdit = nullptr;
    QGroupBox* buttonFrame = nullptr;
    QGroupBox* checkFrame = nullptr;
    QPushButton* selectButton = nullptr;
    QPushButton* fixButton = nullptr;
    QCheckBox* replaceBox = nullptr;
    QCheckBox* newFileBox = nullptr;
    QAction* aboutAction = nullptr;
    QAction* folderAction = nullptr;
    QPointer<ResultWindow> resultWindow;
};

} // namespace clipwright::ui
