// The about box: the program's icon, its version and the legal notice.
#pragma once

#include <QDialog>

namespace clipwright::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace clipwright::ui
