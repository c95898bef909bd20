#include "ResultWindow.h"

#include "Strings.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>

namespace clipwright::ui {

namespace {

bool SomethingWritten(const JobResult& result) {
    const FixOutcome& outcome = result.outcome;
    if (outcome.status != FixStatus::Repaired && outcome.status != FixStatus::Partial)
        return false;
    if (outcome.otherRecorder && outcome.otherRecorder->neededNoRepair)
        return false;
    return !outcome.outputPath.empty();
}

QString Full(const std::string& path) {
    return QDir::toNativeSeparators(QFileInfo(QString::fromStdString(path)).absoluteFilePath());
}

} // namespace

QString OutputOf(const JobResult& result) {
    return SomethingWritten(result) ? Full(result.outcome.outputPath) : QString();
}

QString WrittenAs(const JobResult& result) {
    if (!SomethingWritten(result))
        return {};
    const bool replaced = OutputOf(result) == QFileInfo(result.recording).absoluteFilePath();
    return QString::fromUtf8(replaced ? strings::kWrittenReplaced : strings::kWrittenNewFile);
}

QString ResultLine(const JobResult& result) {
    const QString name = QFileInfo(result.recording).fileName();
    const FixOutcome& outcome = result.outcome;
    QString line;
    switch (outcome.status) {
    case FixStatus::Repaired:
        if (outcome.otherRecorder && outcome.otherRecorder->neededNoRepair) {
            line = QString::fromUtf8(strings::kResultNoRepairNeeded);
            break;
        }
        line = QString::fromUtf8(strings::kResultRepaired).arg(WrittenAs(result), OutputOf(result));
        // "Replace original file" was chosen, but a recording whose settings were lost is never
        // written over: the user must know where the repair went.
        if (result.mode == OutputMode::ReplaceOriginal && WrittenAs(result) != strings::kWrittenReplaced)
            line += QString::fromUtf8(strings::kResultNewFileInstead);
        break;
    case FixStatus::Partial:
        line = QString::fromUtf8(strings::kResultPartial).arg(WrittenAs(result), OutputOf(result));
        break;
    case FixStatus::Cancelled:
        line = QString::fromUtf8(strings::kResultCancelled);
        break;
    case FixStatus::Failed:
    case FixStatus::NotRun:
        line = QString::fromUtf8(strings::kResultNotRepaired);
        break;
    }
    return name + QStringLiteral(": ") + line;
}

ResultWindow::ResultWindow(QWidget* owner, const QList<JobResult>& results)
    : QDialog(owner), results_(results) {
    setObjectName(QStringLiteral("resultWindow"));
    setWindowTitle(QString::fromUtf8(strings::kResultCaption));
    setAttribute(Qt::WA_DeleteOnClose);

    qsizetype repaired = 0;
    for (const JobResult& result : results_)
        repaired +=
            result.outcome.status == FixStatus::Repaired || result.outcome.status == FixStatus::Partial;
    heading = new QLabel(
        QString::fromUtf8(strings::kResultHeading).arg(repaired).arg(results_.size() - repaired), this);
    heading->setObjectName(QStringLiteral("resultHeading"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);

    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("resultList"));
    list->setAccessibleName(QString::fromUtf8(strings::kResultListName));
    list->setWordWrap(true);
    list->setTextElideMode(Qt::ElideNone);
    for (const JobResult& result : results_) {
        auto* item = new QListWidgetItem(ResultLine(result), list);
        item->setToolTip(item->text());
    }
    heading->setBuddy(list);

    openFolderButton = new QPushButton(QString::fromUtf8(strings::kOpenFolder), this);
    openFolderButton->setObjectName(QStringLiteral("openFolderButton"));
    playButton = new QPushButton(QString::fromUtf8(strings::kPlay), this);
    playButton->setObjectName(QStringLiteral("playButton"));
    closeButton = new QPushButton(QString::fromUtf8(strings::kClose), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    connect(openFolderButton, &QPushButton::clicked, this, &ResultWindow::OpenFolder);
    connect(playButton, &QPushButton::clicked, this, &ResultWindow::Play);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(list, &QListWidget::currentRowChanged, this, &ResultWindow::OnSelectionChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openFolderButton);
    buttons->addWidget(playButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);
    resize(fontMetrics().averageCharWidth() * 90, sizeHint().height());

    // The first result that wrote something is the one the buttons act on.
    int first = 0;
    for (int row = 0; row < results_.size(); ++row) {
        if (SomethingWritten(results_[row])) {
            first = row;
            break;
        }
    }
    list->setCurrentRow(first);
    OnSelectionChanged();
    closeButton->setFocus();
}

QString ResultWindow::SelectedOutput() const {
    const int row = list->currentRow();
    return row >= 0 && row < results_.size() ? OutputOf(results_[row]) : QString();
}

void ResultWindow::OnSelectionChanged() {
    const bool written = !SelectedOutput().isEmpty();
    openFolderButton->setEnabled(written);
    playButton->setEnabled(written);
}

void ResultWindow::OpenFolder() {
    const QString output = SelectedOutput();
    if (!output.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(output).absolutePath()));
}

void ResultWindow::Play() {
    const QString output = SelectedOutput();
    if (!output.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(output));
}

} // namespace clipwright::ui
