// "Image Setting Needed": asks for the capture resolution and frame rate of a recording whose
// header lost them. After "Next", Settings() holds the answer; after "Cancel" it holds nothing.
#pragma once

#include "avi/CameraLayout.h"

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

class ImageSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // `initial`: the choice the dialog opens with (the recording's own settings, when they could be
    // read); VGA at 15 frames per second without it.
    explicit ImageSettingsDialog(QWidget* parent = nullptr,
                                 std::optional<ImageSettings> initial = std::nullopt);

    const std::optional<ImageSettings>& Settings() const { return settings; }
    // After "Take the settings from another recording...": the recording chosen; empty otherwise.
    const QString& Reference() const { return reference; }

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InitDialog(const std::optional<ImageSettings>& initial);

    // Lets the user pick a healthy recording whose stream headers stand in for the lost header.
    void ChooseReference();

    std::optional<ImageSettings> settings;
    QString reference;
    QPushButton* referenceButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QRadioButton* vgaButton = nullptr;
    QRadioButton* qvgaButton = nullptr;
    QRadioButton* qqvgaButton = nullptr;
    QComboBox* frameRateList = nullptr;
};

} // namespace clipwright::ui
