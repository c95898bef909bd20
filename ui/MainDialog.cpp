#include "MainDialog.h"

#include "AboutDialog.h"
#include "DialogUnits.h"
#include "ImageSettingsDialog.h"
#include "MessageBoxes.h"
#include "ProgressWindow.h"
#include "Resources.h"
#include "Strings.h"
#include "text/EventText.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimerEvent>
#include <QUrl>

namespace clipwright::ui {

namespace {

constexpr int kJobEndTickMilliseconds = 100;
// Fix needs a path of at least this many characters.
constexpr qsizetype kShortestPath = 5;

// The template, in dialog units.
constexpr QRect kDialog(0, 0, 276, 135);
// The top left of what the dialog holds: the path's left, the button frame's top.
constexpr QPoint kContent(7, 3);
constexpr QRect kBannerPlace(7, 7, 204, 100);
constexpr QRect kDescription(8, 71, 151, 37);
constexpr QRect kPathEdit(7, 115, 262, 13);
constexpr QRect kButtonFrame(163, 3, 106, 104);
constexpr QRect kCheckFrame(168, 9, 95, 39);
constexpr QRect kReplaceBox(175, 18, 74, 10);
constexpr QRect kNewFileBox(175, 33, 57, 10);
constexpr QRect kSelectButton(169, 53, 94, 14);
constexpr QRect kFixButton(169, 70, 94, 14);
constexpr QRect kExitButton(169, 87, 94, 14);
// Room the check boxes keep from their frame's right edge.
constexpr int kCheckBoxRightRoom = 2;
// Room the banner keeps from the button frame and from the description.
constexpr int kBannerRoomX = 4;
constexpr int kBannerRoomY = 2;

QPushButton* AddButton(QWidget* parent, const char* text, const DialogUnits& units, const QRect& place,
                       const char* name) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setFixedSize(units.Size(place));
    return button;
}

QCheckBox* AddCheckBox(QWidget* parent, const char* text, const char* name) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromUtf8(name));
    return box;
}

// `widget` placed `indent` pixels right of where its layout begins.
QHBoxLayout* Indented(QWidget* widget, int indent) {
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addSpacing(indent);
    row->addWidget(widget);
    row->addStretch();
    return row;
}

QGroupBox* AddFrame(QWidget* parent, const DialogUnits& units, const QRect& place) {
    auto* frame = new QGroupBox(parent);
    frame->setFocusPolicy(Qt::NoFocus);
    frame->setFixedSize(units.Size(place));
    return frame;
}

} // namespace

QList<ChosenFile> ChosenFilesFromSelection(const QStringList& selectedPaths) {
    QList<ChosenFile> chosen;
    for (const QString& selected : selectedPaths) {
        // CLIP.AVI is an AVI file too: appending ".avi" would name a file that does not exist.
        const bool isAvi = QFileInfo(selected).suffix().compare(QString::fromUtf8(strings::kAviExtension),
                                                                Qt::CaseInsensitive) == 0;
        ChosenFile file;
        file.path = isAvi ? selected : selected + QStringLiteral(".") + strings::kAviExtension;
        file.fileName = QFileInfo(file.path).fileName();
        chosen.append(file);
    }
    return chosen;
}

MainDialog::MainDialog(RepairEngine& engine, QWidget* parent)
    : QDialog(parent), engine_(engine), appIcon(resources::AppIcon()), job(engine) {
    setObjectName(QStringLiteral("mainDialog"));
    setWindowTitle(QString::fromUtf8(strings::kMainCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAccessibleDescription(QString::fromUtf8(strings::kAboutHint));
    setAcceptDrops(true);
    BuildLayout();

    connect(&job, &RepairJob::finished, this, &MainDialog::OnJobFinished);
    connect(&job, &RepairJob::messageRequested, this, &MainDialog::OnMessageRequested);
    connect(&job, &RepairJob::findingsShown, this, &MainDialog::OnFindingsShown);
    connect(&job, &RepairJob::imageSettingsRequested, this, &MainDialog::OnImageSettingsRequested);
    connect(&job, &RepairJob::progressVisibilityRequested, this, &MainDialog::OnProgressVisibilityRequested);
    connect(&job, &RepairJob::folderRefused, this, &MainDialog::OnFolderRefused);
    connect(&job, &RepairJob::progressReported, this,
            [this](ProgressPhase phase, quint64 done, quint64 total) {
                if (progressWindow != nullptr)
                    progressWindow->ShowProgress(phase, done, total);
            });

    // Linux window menus take no entries of a program's own: the about box is on F1 and on the
    // dialog's right-click menu.
    aboutAction = new QAction(QString::fromUtf8(strings::kAboutEntry), this);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(aboutAction, &QAction::triggered, this, &MainDialog::OnAbout);
    addAction(aboutAction);
    folderAction = new QAction(QString::fromUtf8(strings::kChooseFolderEntry), this);
    folderAction->setObjectName(QStringLiteral("folderAction"));
    connect(folderAction, &QAction::triggered, this, &MainDialog::OnChooseOutputFolder);
    addAction(folderAction);

    InitDialog();
}

void MainDialog::BuildLayout() {
    const DialogUnits units(font());

    // The banner shows at its own size, or smaller when the font leaves it less room than that.
    banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("banner"));
    const QSize bannerRoom(units.X(kButtonFrame.x()) - units.X(kBannerPlace.x()) - units.X(kBannerRoomX),
                           units.Y(kDescription.y()) - units.Y(kBannerPlace.y()) - units.Y(kBannerRoomY));
    QSize bannerSize = resources::kBannerSize;
    if (bannerSize.width() > bannerRoom.width() || bannerSize.height() > bannerRoom.height())
        bannerSize.scale(bannerRoom, Qt::KeepAspectRatio);
    const QPixmap bannerImage = resources::Picture(resources::kBanner, bannerSize, devicePixelRatioF());
    banner->setPixmap(bannerImage);
    banner->setFixedSize(bannerImage.deviceIndependentSize().toSize());
    banner->setAccessibleName(QString::fromUtf8(strings::kBannerName));
    banner->setAccessibleDescription(QString::fromUtf8(strings::kBannerDescription));
    banner->setToolTip(QString::fromUtf8(strings::kAboutHint));

    description = new QLabel(QString::fromUtf8(strings::kDescription), this);
    description->setObjectName(QStringLiteral("description"));
    description->setTextFormat(Qt::PlainText);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    description->setContentsMargins(
        units.X(kDescription.x()) - units.X(kPathEdit.x()), 0,
        units.X(kButtonFrame.x()) - units.X(kDescription.x() + kDescription.width()), 0);

    pathEdit = new QLineEdit(this);
    pathEdit->setObjectName(QStringLiteral("pathEdit"));
    pathEdit->setReadOnly(true);
    pathEdit->setFixedSize(units.Size(kPathEdit));
    pathEdit->setAccessibleName(QString::fromUtf8(strings::kPathFieldName));
    // A file dropped on the path goes to the dialog, which takes it as chosen.
    pathEdit->setAcceptDrops(false);

    buttonFrame = AddFrame(this, units, kButtonFrame);
    checkFrame = AddFrame(buttonFrame, units, kCheckFrame);
    // The frame has no title to show, but a screen reader names the two modes' group by it.
    checkFrame->setObjectName(QStringLiteral("modeFrame"));
    checkFrame->setAccessibleName(QString::fromUtf8(strings::kModeGroupName));
    replaceBox = AddCheckBox(checkFrame, strings::kReplaceOriginalFile, "replaceBox");
    connect(replaceBox, &QCheckBox::clicked, this, &MainDialog::OnReplaceClicked);
    newFileBox = AddCheckBox(checkFrame, strings::kMakeNewFile, "newFileBox");
    connect(newFileBox, &QCheckBox::clicked, this, &MainDialog::OnNewFileClicked);
    selectButton = AddButton(buttonFrame, strings::kSelectAviFile, units, kSelectButton, "selectButton");
    connect(selectButton, &QPushButton::clicked, this, &MainDialog::OnSelectFile);
    fixButton = AddButton(buttonFrame, strings::kFix, units, kFixButton, "fixButton");
    connect(fixButton, &QPushButton::clicked, this, &MainDialog::OnFix);
    exitButton = AddButton(buttonFrame, strings::kExit, units, kExitButton, "exitButton");
    exitButton->setDefault(true);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* checkLayout = new QVBoxLayout(checkFrame);
    QMargins checkMargins = units.Inset(kCheckFrame, kReplaceBox);
    checkMargins.setRight(units.X(kCheckBoxRightRoom));
    checkMargins.setBottom(0);
    checkLayout->setContentsMargins(InsideFrame(checkMargins, *checkFrame));
    checkLayout->setSpacing(0);
    checkLayout->addWidget(replaceBox);
    checkLayout->addSpacing(units.GapY(kReplaceBox, replaceBox->sizeHint().height(), kNewFileBox));
    checkLayout->addWidget(newFileBox);
    checkLayout->addStretch();

    // Everything is placed from the top left, where the template's numbers count from.
    auto* buttonLayout = new QVBoxLayout(buttonFrame);
    QMargins buttonMargins = units.Inset(kButtonFrame, kCheckFrame);
    buttonMargins.setRight(0);
    buttonMargins.setBottom(0);
    buttonLayout->setContentsMargins(InsideFrame(buttonMargins, *buttonFrame));
    buttonLayout->setSpacing(0);
    buttonLayout->addWidget(checkFrame, 0, Qt::AlignLeft);
    const int buttonIndent = units.X(kSelectButton.x()) - units.X(kCheckFrame.x());
    buttonLayout->addSpacing(units.GapY(kCheckFrame, checkFrame->height(), kSelectButton));
    buttonLayout->addLayout(Indented(selectButton, buttonIndent));
    buttonLayout->addSpacing(units.GapY(kSelectButton, selectButton->height(), kFixButton));
    buttonLayout->addLayout(Indented(fixButton, buttonIndent));
    buttonLayout->addSpacing(units.GapY(kFixButton, fixButton->height(), kExitButton));
    buttonLayout->addLayout(Indented(exitButton, buttonIndent));
    buttonLayout->addStretch();

    auto* leftColumn = new QVBoxLayout;
    leftColumn->setSpacing(0);
    leftColumn->addSpacing(units.Y(kBannerPlace.y()) - units.Y(kContent.y()));
    leftColumn->addWidget(banner, 0, Qt::AlignLeft);
    leftColumn->addSpacing(units.GapY(kBannerPlace, banner->height(), kDescription));
    leftColumn->addWidget(description, 1);

    auto* topRow = new QHBoxLayout;
    topRow->setSpacing(0);
    topRow->addLayout(leftColumn);
    topRow->addWidget(buttonFrame, 0, Qt::AlignTop);
    topRow->addStretch();
    description->setFixedWidth(units.X(kButtonFrame.x()) - units.X(kContent.x()));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(units.X(kContent.x()), units.Y(kContent.y()), 0, 0);
    layout->setSpacing(0);
    layout->addLayout(topRow);
    layout->addSpacing(units.GapY(kButtonFrame, buttonFrame->height(), kPathEdit));
    layout->addWidget(pathEdit, 0, Qt::AlignLeft);
    layout->addStretch();

    setTabOrder(exitButton, pathEdit);
    setTabOrder(pathEdit, selectButton);
    setTabOrder(selectButton, fixButton);
    setTabOrder(fixButton, replaceBox);
    setTabOrder(replaceBox, newFileBox);

    setFixedSize(units.Size(kDialog));
}

MainDialog::~MainDialog() {
    // The job may be waiting for this dialog: stopping it answers it, and the job ends before the
    // index list, the windows and the engine's host go.
    job.Stop();
}

void MainDialog::InitDialog() {
    setWindowIcon(appIcon);
    replaceBox->setChecked(false);
    newFileBox->setChecked(true);
    exitButton->setFocus();
}

bool MainDialog::JobRunning() const {
    return progressWindow != nullptr || job.IsRunning();
}

void MainDialog::OnReplaceClicked() {
    newFileBox->setChecked(false);
}

void MainDialog::OnNewFileClicked() {
    replaceBox->setChecked(false);
}

void MainDialog::OnAbout() {
    if (JobRunning())
        return;
    AboutDialog about(this);
    about.exec();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (JobRunning())
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("aboutMenu"));
    menu.addAction(folderAction);
    menu.addAction(aboutAction);
    menu.exec(event->globalPos());
}

void MainDialog::OnSelectFile() {
    QList<ChosenFile> chosen;
    // After a cancel the earlier choice stands.
    if (!BrowseForAvi(chosen))
        return;
    SetChosen(chosen);
}

void MainDialog::SetChosen(const QList<ChosenFile>& files) {
    chosenFiles = files;
    if (files.isEmpty())
        return;
    fileName = files.first().fileName;
    if (files.size() == 1) {
        pathText = files.first().path;
    } else {
        QStringList names;
        for (const ChosenFile& file : files)
            names << file.fileName;
        pathText =
            QString::fromUtf8(strings::kSeveralFiles).arg(files.size()).arg(names.join(QStringLiteral(", ")));
    }
    pathEdit->setText(pathText);
    pathEdit->setCursorPosition(0);
}

void MainDialog::SetOutputFolder(const QString& folder) {
    outputFolder = folder;
    const QString where = folder.isEmpty() ? QString::fromUtf8(strings::kNewFilesGoBeside)
                                           : QString::fromUtf8(strings::kNewFilesGoTo).arg(folder);
    newFileBox->setToolTip(where);
    newFileBox->setAccessibleDescription(where);
}

void MainDialog::OnChooseOutputFolder() {
    if (JobRunning())
        return;
    const QString start = outputFolder.isEmpty() && !chosenFiles.isEmpty()
                              ? QFileInfo(chosenFiles.first().path).absolutePath()
                              : outputFolder;
    const QString folder =
        QFileDialog::getExistingDirectory(this, QString::fromUtf8(strings::kChooseFolderCaption), start);
    if (!folder.isEmpty())
        SetOutputFolder(folder);
}

bool MainDialog::BrowseForAvi(QList<ChosenFile>& chosen) {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QString::fromUtf8(strings::kAviFilter));
    dialog.setDefaultSuffix(QString::fromUtf8(strings::kAviExtension));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    chosen = ChosenFilesFromSelection(dialog.selectedFiles());
    return !chosen.isEmpty();
}

void MainDialog::ChooseFile(const QString& path) {
    if (!path.isEmpty())
        ChooseFiles({path});
}

void MainDialog::ChooseFiles(const QStringList& paths) {
    // Dropped or given files are used as named: the ".avi" rule belongs to the Open dialog, whose
    // user may type a name without it. Paths are made whole, as the Open dialog's are.
    QList<ChosenFile> files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        files.append({info.absoluteFilePath(), info.fileName()});
    }
    SetChosen(files);
}

QStringList MainDialog::DroppedFiles(const QMimeData* mime) const {
    if (mime == nullptr || !mime->hasUrls())
        return {};
    QStringList paths;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!JobRunning() && !DroppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QStringList paths = JobRunning() ? QStringList() : DroppedFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    // A picture or a movie of another kind dropped by mistake is refused here, with the reason,
    // rather than after Fix.
    QStringList taken;
    QStringList refusals;
    for (const QString& path : paths) {
        const ForeignKind kind = ForeignKindAtStart(QFile::encodeName(path).toStdString());
        if (kind == ForeignKind::Unknown) {
            taken << path;
            continue;
        }
        refusals << QFileInfo(path).fileName() + QStringLiteral(": ") +
                        QString::fromStdString(EventText({.code = EventCode::NotAvi, .foreign = kind}));
    }
    if (!taken.isEmpty())
        ChooseFiles(taken);
    event->acceptProposedAction();
    if (!refusals.isEmpty())
        OpenMessageBox(this, refusals.join(QStringLiteral("\n\n")), QMessageBox::Warning);
}

void MainDialog::OnFix() {
    // One repair at a time, whoever asks.
    if (JobRunning())
        return;
    pathText = pathEdit->text();
    if (pathText.size() < kShortestPath) {
        ShowMessageBox(this, QString::fromUtf8(strings::kSelectFileFirst), QMessageBox::NoIcon);
        return;
    }
    if (resultWindow != nullptr)
        resultWindow->close();
    pending = chosenFiles.size() > 1 ? chosenFiles : QList<ChosenFile>{{pathText, fileName}};
    results.clear();
    closeAfterJob = false;
    currentMode = replaceBox->isChecked() ? OutputMode::ReplaceOriginal : OutputMode::NewFile;
    SetControlsEnabled(false);
    StartNext();
}

void MainDialog::StartNext() {
    current = pending.takeFirst();
    runAgain = false;
    progressWindow = new ProgressWindow(this);
    connect(progressWindow, &ProgressWindow::startRequested, this, &MainDialog::StartJob);
    connect(progressWindow, &ProgressWindow::cancelRequested, this, [this] { job.Cancel(); });
    connect(progressWindow, &QDialog::finished, this, &MainDialog::OnProgressClosed);
    progressWindow->Run();
}

void MainDialog::StartJob() {
    try {
        FixRequest request{QFile::encodeName(current.path).toStdString(),
                           QFile::encodeName(current.fileName).toStdString(), currentMode};
        if (currentMode == OutputMode::NewFile && !outputFolder.isEmpty())
            request.outputFolder = QFile::encodeName(outputFolder).toStdString();
        if (job.Start(std::move(request)))
            return;
    } catch (...) {
        // No thread or no memory for the job: said below, and the window closes as after any job.
    }
    try {
        QMessageBox* box = OpenMessageBox(MessageOwner(), QString::fromUtf8(strings::kJobUnexpectedError),
                                          QMessageBox::Warning);
        connect(box, &QDialog::finished, this, &MainDialog::OnJobFinished);
    } catch (...) {
        OnJobFinished();
    }
}

void MainDialog::OnJobFinished() {
    jobEndTimer.start(kJobEndTickMilliseconds, this);
}

void MainDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() != jobEndTimer.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    if (progressWindow == nullptr)
        return;
    jobEndTimer.stop();
    progressWindow->JobFinished(engine_.LastOutcome().status == FixStatus::Cancelled &&
                                job.CancelRequested());
}

void MainDialog::OnProgressClosed() {
    ProgressWindow* closed = progressWindow;
    const bool wasActive = QApplication::activeWindow() == closed || QApplication::activeWindow() == nullptr;
    progressWindow = nullptr;
    if (closed != nullptr)
        closed->deleteLater();
    const bool cancelled = job.CancelRequested();
    if (runAgain && !cancelled) {
        pending.prepend(current);
    } else {
        results.append({current.path, currentMode, engine_.LastOutcome()});
    }
    // Cancel ends the whole run: the files not reached yet stay as they are.
    if (cancelled || closeAfterJob)
        pending.clear();
    if (closeAfterJob) {
        QDialog::reject();
        return;
    }
    if (!pending.isEmpty()) {
        StartNext();
        return;
    }
    SetControlsEnabled(true);
    ShowResults();
    if (wasActive)
        activateWindow();
    // Exit is the default button: with the focus left to it, Enter for the next repair would end the
    // program.
    fixButton->setFocus();
}

void MainDialog::ShowResults() {
    // One recording that wrote nothing has had its say in a message box already.
    bool anyWritten = false;
    for (const JobResult& result : results)
        anyWritten = anyWritten || !OutputOf(result).isEmpty();
    if (results.size() < 2 && !anyWritten)
        return;
    resultWindow = new ResultWindow(this, results);
    resultWindow->show();
    resultWindow->activateWindow();
}

void MainDialog::OnFolderRefused(const QString& text, const QString& /*filePath*/, Acknowledgement reply) {
    try {
        QMessageBox* box = OpenMessageBox(MessageOwner(), text, QMessageBox::Warning);
        QPushButton* choose =
            box->addButton(QString::fromUtf8(strings::kChooseAnotherFolder), QMessageBox::AcceptRole);
        choose->setObjectName(QStringLiteral("chooseFolderButton"));
        connect(box, &QDialog::finished, this, [this, box, choose, reply] {
            const bool chosen = box->clickedButton() == choose;
            reply.Give(Done{});
            if (!chosen)
                return;
            // Not in the folder that refused, when it is no folder at all.
            const QString start =
                QFileInfo(outputFolder).isDir() ? outputFolder : QFileInfo(current.path).absolutePath();
            const QString folder = QFileDialog::getExistingDirectory(
                this, QString::fromUtf8(strings::kChooseFolderCaption), start);
            if (folder.isEmpty())
                return;
            SetOutputFolder(folder);
            runAgain = true;
        });
    } catch (...) {
        reply.Decline();
    }
}

void MainDialog::OnMessageRequested(const QString& text, const QString& /*filePath*/, Acknowledgement reply) {
    try {
        QMessageBox* box = OpenMessageBox(MessageOwner(), text, QMessageBox::Warning);
        connect(box, &QDialog::finished, this, [reply] { reply.Give(Done{}); });
    } catch (...) {
        reply.Decline();
    }
}

void MainDialog::OnFindingsShown(const QString& text, const QString& /*filePath*/, Acknowledgement reply) {
    try {
        QMessageBox* box = OpenMessageBox(MessageOwner(), text, QMessageBox::Information);
        connect(box, &QDialog::finished, this, [reply] { reply.Give(Done{}); });
    } catch (...) {
        reply.Decline();
    }
}

void MainDialog::OnImageSettingsRequested(const std::optional<ImageSettings>& readFromVideo,
                                          ImageSettingsReply reply) {
    try {
        auto* prompt = new ImageSettingsDialog(this, readFromVideo);
        prompt->setAttribute(Qt::WA_DeleteOnClose);
        connect(prompt, &QDialog::finished, this, [prompt, reply] {
            if (prompt->Settings())
                reply.Give({prompt->Settings(), {}});
            else if (!prompt->Reference().isEmpty())
                reply.Give({std::nullopt, QFile::encodeName(prompt->Reference()).toStdString()});
            else
                reply.Decline();
        });
        prompt->setWindowModality(Qt::ApplicationModal);
        prompt->show();
    } catch (...) {
        reply.Decline();
    }
}

void MainDialog::OnProgressVisibilityRequested(bool visible, Acknowledgement reply) {
    if (progressWindow != nullptr)
        progressWindow->setVisible(visible);
    reply.Give(Done{});
}

QWidget* MainDialog::MessageOwner() {
    if (progressWindow != nullptr && progressWindow->isVisible())
        return progressWindow;
    return this;
}

void MainDialog::SetControlsEnabled(bool enabled) {
    // The controls, not the dialog: a disabled dialog would disable the windows it owns, the image
    // settings prompt and the message boxes of the job among them. The banner and the text take no
    // input and keep their colours.
    for (QWidget* control : {static_cast<QWidget*>(exitButton), static_cast<QWidget*>(pathEdit),
                             static_cast<QWidget*>(selectButton), static_cast<QWidget*>(fixButton),
                             static_cast<QWidget*>(replaceBox), static_cast<QWidget*>(newFileBox)})
        control->setEnabled(enabled);
    aboutAction->setEnabled(enabled);
    folderAction->setEnabled(enabled);
}

bool MainDialog::AskToStopJob() {
    const auto answer = QMessageBox::question(this, QString::fromUtf8(strings::kAppTitle),
                                              QString::fromUtf8(strings::kJobRunningQuestion),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes && JobRunning();
}

void MainDialog::reject() {
    // Escape ends the program, but not in the middle of a repair: there it is too easily pressed.
    if (JobRunning())
        return;
    QDialog::reject();
}

void MainDialog::closeEvent(QCloseEvent* event) {
    // Closing the window during a repair asks first; a yes stops the job at its next safe point,
    // and the program ends once the recording stands as it was.
    if (JobRunning()) {
        event->ignore();
        if (!closeAfterJob && AskToStopJob()) {
            closeAfterJob = true;
            job.Cancel();
        }
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace clipwright::ui
