#include "CAboutDlg.h"

#include "DialogUnits.h"
#include "Resources.h"
#include "Strings.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace clipwright::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QString::fromUtf8(strings::kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());
    setFixedSize(units.Size(235, 55));

    // A static icon shows at its own size; the template's box only places it.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    const QPixmap iconImage(resources::kAppIcon);
    icon->setPixmap(iconImage);
    icon->setGeometry(QRect(units.Rect(11, 17, 20, 20).topLeft(), iconImage.size().expandedTo(QSize(1, 1))));
    icon->setAccessibleName(QString::fromUtf8(strings::kAppIconName));

    auto* version = new QLabel(QString::fromUtf8(strings::kAboutVersion), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setTextFormat(Qt::PlainText);
    version->setGeometry(units.Rect(48, 18, 119, 8));

    auto* legal = new QLabel(QString::fromUtf8(strings::kLegalNotice), this);
    legal->setObjectName(QStringLiteral("aboutLegal"));
    legal->setTextFormat(Qt::PlainText);
    legal->setGeometry(units.Rect(48, 33, 119, 8));

    auto* ok = new QPushButton(QString::fromUtf8(strings::kOk), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setGeometry(units.Rect(178, 34, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

} // namespace clipwright::ui
