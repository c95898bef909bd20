// "Image Setting Needed": asks for the capture resolution and frame rate of a recording whose
// header lost them. "Next" leaves the answer in g_resolutionChoice and g_frameRateChoice.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace clipwright::ui {

// The frame rate the field's text stands for: a list entry, or a whole number from 1 to 120.
std::optional<uint32_t> FrameRateFromText(const QString& text);

class CImageSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CImageSettingDlg(QWidget* parent = nullptr);

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InitDialog();

    int frameRateIndex = -1;
    QPushButton* nextButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QRadioButton* vgaButton = nullptr;
    QRadioButton* qvgaButton = nullptr;
    QRadioButton* qqvgaButton = nullptr;
    QComboBox* frameRateList = nullptr;
};

} // namespace clipwright::ui
