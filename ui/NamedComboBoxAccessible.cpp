#include "NamedComboBoxAccessible.h"

#include <QAccessibleWidget>
#include <QComboBox>

namespace clipwright::ui {

namespace {

constexpr const char* kNamedProperty = "clipwrightNamedBox";

class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        const auto* box = static_cast<const QComboBox*>(widget());
        switch (kind) {
        case QAccessible::Name:
            return box->accessibleName();
        case QAccessible::Value:
            return box->currentText();
        default:
            return QAccessibleWidget::text(kind);
        }
    }
};

QAccessibleInterface* NamedBoxFactory(const QString& /*className*/, QObject* object) {
    auto* box = qobject_cast<QComboBox*>(object);
    if (box == nullptr || !box->property(kNamedProperty).toBool())
        return nullptr;
    return new NamedComboBox(box);
}

} // namespace

void MarkNamed(QComboBox* box) {
    static const bool installed = [] {
        QAccessible::installFactory(NamedBoxFactory);
        return true;
    }();
    (void)installed;
    box->setProperty(kNamedProperty, true);
}

} // namespace clipwright::ui
