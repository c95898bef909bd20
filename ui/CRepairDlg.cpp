#include "CRepairDlg.h"

#include "CAboutDlg.h"
#include "CProgressDlg.h"
#include "DialogUnits.h"
#include "GuiThreadCall.h"
#include "MessageBoxes.h"
#include "PrivateMessages.h"
#include "Resources.h"
#include "Strings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTimerEvent>
#include <algorithm>

namespace clipwright::ui {

namespace {

constexpr int kJobEndTickMilliseconds = 100;
// Fix needs a path of at least this many characters.
constexpr qsizetype kShortestPath = 5;

QPushButton* AddButton(QWidget* parent, const char* text, const QRect& where, const char* name) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(where);
    return button;
}

// A check box keeps the template's place; it only grows when the font needs more room for its text.
QCheckBox* AddCheckBox(QWidget* parent, const char* text, const QRect& where, int widest, const char* name) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromUtf8(name));
    const int width = std::min(std::max(where.width(), box->sizeHint().width()), widest);
    box->setGeometry(where.x(), where.y(), width, std::max(where.height(), box->sizeHint().height()));
    return box;
}

QGroupBox* AddFrame(QWidget* parent, const QRect& where) {
    auto* frame = new QGroupBox(parent);
    frame->setGeometry(where);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

} // namespace

ChosenFile ChosenFileFromSelection(const QStringList& selectedPaths) {
    ChosenFile chosen;
    for (const QString& selected : selectedPaths) {
        // CLIP.AVI is an AVI file too: appending ".avi" would name a file that does not exist.
        const bool isAvi = QFileInfo(selected).suffix().compare(QString::fromUtf8(strings::kAviExtension),
                                                                Qt::CaseInsensitive) == 0;
        chosen.path = isAvi ? selected : selected + QStringLiteral(".") + strings::kAviExtension;
        chosen.fileName = QFileInfo(chosen.path).fileName();
    }
    return chosen;
}

CRepairDlg::CRepairDlg(CAviFixer& fixer, QWidget* parent)
    : QDialog(parent), engine(fixer), host(*this), appIcon(resources::kAppIcon) {
    appIcon.addFile(resources::kAppIconLarge);
    setObjectName(QStringLiteral("repairDialog"));
    setWindowTitle(QString::fromUtf8(strings::kMainCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAccessibleDescription(QString::fromUtf8(strings::kAboutHint));
    const DialogUnits units(font());
    setFixedSize(units.Size(276, 135));

    // The frames first: siblings made later lie above them and take the clicks.
    const QRect buttonFrame = units.Rect(163, 3, 106, 104);
    const QRect checkFrame = units.Rect(168, 9, 95, 39);
    AddFrame(this, buttonFrame);
    AddFrame(this, checkFrame);

    exitButton = AddButton(this, strings::kExit, units.Rect(169, 87, 94, 14), "exitButton");
    exitButton->setDefault(true);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::accept);

    // The banner takes the size of its picture.
    banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("banner"));
    const QPixmap bannerImage(resources::kBanner);
    banner->setPixmap(bannerImage);
    banner->setGeometry(
        QRect(units.Rect(7, 7, 204, 100).topLeft(), bannerImage.size().expandedTo(QSize(1, 1))));
    banner->setAccessibleName(QString::fromUtf8(strings::kBannerName));
    banner->setAccessibleDescription(QString::fromUtf8(strings::kBannerDescription));
    banner->setToolTip(QString::fromUtf8(strings::kAboutHint));

    description = new QLabel(QString::fromUtf8(strings::kDescription), this);
    description->setObjectName(QStringLiteral("description"));
    description->setTextFormat(Qt::PlainText);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    description->setGeometry(units.Rect(8, 71, 151, 37));

    pathEdit = new QLineEdit(this);
    pathEdit->setObjectName(QStringLiteral("pathEdit"));
    pathEdit->setReadOnly(true);
    pathEdit->setGeometry(units.Rect(7, 115, 262, 13));
    pathEdit->setAccessibleName(QString::fromUtf8(strings::kPathFieldName));

    selectButton = AddButton(this, strings::kSelectAviFile, units.Rect(169, 53, 94, 14), "selectButton");
    connect(selectButton, &QPushButton::clicked, this, &CRepairDlg::OnSelectFile);
    fixButton = AddButton(this, strings::kFix, units.Rect(169, 70, 94, 14), "fixButton");
    connect(fixButton, &QPushButton::clicked, this, &CRepairDlg::OnFix);

    const int checkBoxRoom = checkFrame.right() - units.X(175) - units.X(2);
    replaceBox = AddCheckBox(this, strings::kReplaceOriginalFile, units.Rect(175, 18, 74, 10), checkBoxRoom,
                             "replaceBox");
    connect(replaceBox, &QCheckBox::clicked, this, &CRepairDlg::OnReplaceClicked);
    newFileBox =
        AddCheckBox(this, strings::kMakeNewFile, units.Rect(175, 33, 57, 10), checkBoxRoom, "newFileBox");
    connect(newFileBox, &QCheckBox::clicked, this, &CRepairDlg::OnNewFileClicked);

    setTabOrder(exitButton, pathEdit);
    setTabOrder(pathEdit, selectButton);
    setTabOrder(selectButton, fixButton);
    setTabOrder(fixButton, replaceBox);
    setTabOrder(replaceBox, newFileBox);

    // Linux window menus take no entries of a program's own: the about box is on F1 and on the
    // dialog's right-click menu.
    aboutAction = new QAction(QString::fromUtf8(strings::kAboutEntry), this);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(aboutAction, &QAction::triggered, this, &CRepairDlg::OnAbout);
    addAction(aboutAction);

    InitDialog();
}

CRepairDlg::~CRepairDlg() {
    if (worker.joinable())
        worker.join();
    if (engine.GetNotifyWindow() == &host)
        engine.SetNotifyWindow(nullptr);
}

void CRepairDlg::InitDialog() {
    setWindowIcon(appIcon);
    engine.SetNotifyWindow(&host);
    replaceBox->setChecked(false);
    newFileBox->setChecked(true);
    exitButton->setFocus();
}

void CRepairDlg::OnReplaceClicked() {
    newFileBox->setChecked(false);
}

void CRepairDlg::OnNewFileClicked() {
    replaceBox->setChecked(false);
}

void CRepairDlg::OnAbout() {
    if (jobRunning)
        return;
    CAboutDlg about(this);
    about.exec();
}

void CRepairDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (jobRunning)
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("aboutMenu"));
    menu.addAction(aboutAction);
    menu.exec(event->globalPos());
}

void CRepairDlg::OnSelectFile() {
    ChosenFile chosen;
    // After a cancel the earlier choice stands.
    if (!BrowseForAvi(chosen))
        return;
    pathText = chosen.path;
    fileName = chosen.fileName;
    pathEdit->setText(pathText);
}

bool CRepairDlg::BrowseForAvi(ChosenFile& chosen) {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QString::fromUtf8(strings::kAviFilter));
    dialog.setDefaultSuffix(QString::fromUtf8(strings::kAviExtension));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    chosen = ChosenFileFromSelection(dialog.selectedFiles());
    return !chosen.path.isEmpty();
}

void CRepairDlg::OnFix() {
    pathText = pathEdit->text();
    if (pathText.size() >= kShortestPath)
        ProgressThreadProc(this);
    else
        ShowMessageBox(this, QString::fromUtf8(strings::kSelectFileFirst), QMessageBox::NoIcon);
}

void CRepairDlg::AttachProgressDialog(CProgressDlg* dialog) {
    progressDialog = dialog;
    jobRunning = true;
    SetControlsEnabled(false);
}

void CRepairDlg::ProgressDialogClosed(CProgressDlg* dialog) {
    const bool wasActive = QApplication::activeWindow() == dialog || QApplication::activeWindow() == nullptr;
    jobRunning = false;
    SetControlsEnabled(true);
    if (wasActive)
        activateWindow();
    dialog->deleteLater();
}

void CRepairDlg::SetControlsEnabled(bool enabled) {
    // The controls, not the dialog: a disabled dialog would disable the windows it owns, the image
    // settings prompt and the message boxes of the job among them. The banner and the text take no
    // input and keep their colours.
    for (QWidget* control : {static_cast<QWidget*>(exitButton), static_cast<QWidget*>(pathEdit),
                             static_cast<QWidget*>(selectButton), static_cast<QWidget*>(fixButton),
                             static_cast<QWidget*>(replaceBox), static_cast<QWidget*>(newFileBox)})
        control->setEnabled(enabled);
    aboutAction->setEnabled(enabled);
}

int CRepairDlg::ReadReplaceTick() {
    int tick = 0;
    CallOnOwnerThread(this, [this, &tick] { tick = replaceBox->isChecked() ? 1 : 0; });
    return tick;
}

void CRepairDlg::RunJob(FixRequest request) {
    if (jobRunner)
        jobRunner(engine, std::move(request));
    else
        engine.RunFixJob(std::move(request));
}

void CRepairDlg::StartJobEndTimer() {
    CallOnOwnerThread(this, [this] { jobEndTimer.start(kJobEndTickMilliseconds, this); });
}

QWidget* CRepairDlg::MessageOwner() {
    if (progressDialog != nullptr && progressDialog->isVisible())
        return progressDialog;
    return this;
}

bool CRepairDlg::event(QEvent* event) {
    HandlePrivateMessage(event);
    return QDialog::event(event);
}

void CRepairDlg::HandlePrivateMessage(QEvent* event) {
    if (event->type() == WM_PROGRESS_READY) {
        progressWindow = static_cast<PrivateMessage*>(event)->LParam();
    } else if (event->type() == WM_START_FIX) {
        threadArgs = FixThreadArgs{};
        threadArgs.owner = this;
        threadArgs.path = QFile::encodeName(pathText).toStdString();
        threadArgs.fileName = QFile::encodeName(fileName).toStdString();
        worker = std::thread(FixWorkerProc, &threadArgs);
    } else if (event->type() == WM_SHOW_PROGRESS) {
        if (progressDialog != nullptr)
            progressDialog->setVisible(static_cast<PrivateMessage*>(event)->WParam() != SW_HIDE);
    }
}

void CRepairDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() != jobEndTimer.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    if (progressWindow == nullptr)
        return;
    jobEndTimer.stop();
    // The worker's last act was to set this timer.
    if (worker.joinable())
        worker.join();
    PrivateMessage fixFinished(WM_FIX_FINISHED, 0, nullptr);
    QCoreApplication::sendEvent(progressWindow, &fixFinished);
    progressWindow = nullptr;
}

void CRepairDlg::reject() {
    // Escape and the close box end the program, but not in the middle of a repair.
    if (jobRunning)
        return;
    QDialog::reject();
}

void CRepairDlg::closeEvent(QCloseEvent* event) {
    if (jobRunning) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace clipwright::ui
