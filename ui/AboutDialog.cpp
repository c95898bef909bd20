#include "AboutDialog.h"

#include "DialogUnits.h"
#include "Resources.h"
#include "Strings.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

namespace clipwright::ui {

namespace {

// The template, in dialog units.
constexpr QRect kDialog(0, 0, 235, 55);
constexpr QRect kIconPlace(11, 17, 20, 20);
constexpr QRect kVersionText(48, 18, 119, 8);
constexpr QRect kLegalText(48, 33, 119, 8);
constexpr QRect kOkButton(178, 34, 50, 14);

QLabel* AddText(QWidget* parent, const char* text, const char* name) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QString::fromUtf8(strings::kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());

    // A static icon shows at its own size; the template's box only places it.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(resources::Picture(resources::kAppIcon, resources::kIconSize, devicePixelRatioF()));
    icon->setFixedSize(resources::kIconSize);
    icon->setAccessibleName(QString::fromUtf8(strings::kAppIconName));

    QLabel* version = AddText(this, strings::kAboutVersion, "aboutVersion");
    QLabel* legal = AddText(this, strings::kLegalNotice, "aboutLegal");

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString::fromUtf8(strings::kOk), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setFixedSize(units.Size(kOkButton));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    const QMargins iconInset = units.Inset(kDialog, kIconPlace);
    auto* layout = new QHBoxLayout(this);
    // Placed from the top left, where the template's numbers count from.
    layout->setContentsMargins(iconInset.left(), iconInset.top(), 0, 0);
    layout->setSpacing(0);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addSpacing(units.GapX(kIconPlace, resources::kIconSize.width(), kVersionText));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addSpacing(units.Y(kVersionText.y()) - units.Y(kIconPlace.y()));
    texts->addWidget(version);
    texts->addSpacing(units.GapY(kVersionText, version->sizeHint().height(), kLegalText));
    texts->addWidget(legal);
    texts->addStretch();
    layout->addLayout(texts);
    version->setFixedWidth(units.X(kOkButton.x()) - units.X(kVersionText.x()));
    legal->setFixedWidth(version->width());

    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->addSpacing(units.Y(kOkButton.y()) - units.Y(kIconPlace.y()));
    buttonColumn->addWidget(buttons);
    buttonColumn->addStretch();
    layout->addLayout(buttonColumn);
    layout->addStretch();

    setFixedSize(units.Size(kDialog));
    ok->setFocus();
}

} // namespace clipwright::ui
