// What a run of repairs wrote and where: one line per recording, with "Open Folder" (the file
// manager, through the desktop's handler for folders) and "Play" (the desktop's player) for the one
// chosen. Not modal: the main dialog stays usable beside it.
#pragma once

#include "repair/FixOutcome.h"

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QListWidget;
class QPushButton;

namespace clipwright::ui {

struct JobResult {
    QString recording; // the path as chosen
    OutputMode mode = OutputMode::NewFile;
    FixOutcome outcome;
};

// Where the result went, in the words the window shows: "new file", "replaced", or empty when
// nothing was written.
QString WrittenAs(const JobResult& result);
// The line the window shows for `result`.
QString ResultLine(const JobResult& result);
// The file a result wrote, with its full name; empty when nothing was written.
QString OutputOf(const JobResult& result);

class ResultWindow : public QDialog {
    Q_OBJECT
public:
    ResultWindow(QWidget* owner, const QList<JobResult>& results);

private:
    void OnSelectionChanged();
    void OpenFolder();
    void Play();
    QString SelectedOutput() const;

    QList<JobResult> results_;
    QLabel* heading = nullptr;
    QListWidget* list = nullptr;
    QPushButton* openFolderButton = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* closeButton = nullptr;
};

} // namespace clipwright::ui
