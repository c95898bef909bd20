// The main dialog: choose a recording, choose how it is repaired, press Fix. It owns the repair job,
// shows the progress window while the job runs and answers what the engine asks during it.
#pragma once

#include "RepairJob.h"
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
// The extension rule: a path whose extension is "avi" in any case stays as it is, any other gets
// ".avi" appended; with several paths the last one counts. Empty for an empty selection.
ChosenFile ChosenFileFromSelection(const QStringList& selectedPaths);

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(RepairEngine& engine, QWidget* parent = nullptr);
    // Stops the job, if one runs, before anything it uses goes.
    ~MainDialog() override;

    // Takes `path` as if it had been chosen with "Select AVI File".
    void ChooseFile(const QString& path);

    RepairJob& Job() { return job; }
    // From Fix until the progress window has closed.
    bool JobRunning() const;
    const QString& FileName() const { return fileName; }
    const QString& PathText() const { return pathText; }

public slots:
    void OnFix();
    void OnSelectFile();
    void OnAbout();
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
    bool BrowseForAvi(ChosenFile& chosen);
    void StartJob();
    void OnJobFinished();
    void OnProgressClosed();
    void OnMessageRequested(const QString& text, const QString& filePath, Acknowledgement reply);
    void OnFindingsShown(const QString& text, const QString& filePath, Acknowledgement reply);
    void OnImageSettingsRequested(const std::optional<ImageSettings>& readFromVideo,
                                  ImageSettingsReply reply);
    void OnProgressVisibilityRequested(bool visible, Acknowledgement reply);
    void SetControlsEnabled(bool enabled);
    // The window a box of the job is owned by: the progress window while it shows.
    QWidget* MessageOwner();
    // The one local file a drop carries, or nothing.
    QString DroppedFile(const QMimeData* mime) const;

    QString fileName;
    QString pathText;
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
};

} // namespace clipwright::ui
