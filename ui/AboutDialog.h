// The about box: the program's icon, its version and the legal notice.
#pragma once

#include <QDialog>

namespace clipwright::ui {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace clipwright::ui
