#include "Accessibility.h"

#include <QAccessibleWidget>
#include <QComboBox>

namespace {

const QString kShowList = QStringLiteral("showMenu"); // the action name screen readers know for combo boxes

class NamedComboBoxAccessible : public QAccessibleWidget {
public:
    explicit NamedComboBoxAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            // Without a name of its own the box is named after its text, as Qt does.
            return combo()->accessibleName().isEmpty() ? combo()->currentText() : combo()->accessibleName();
        case QAccessible::Value:
            return combo()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << kShowList; }

    void doAction(const QString& actionName) override
    {
        if (actionName == kShowList) {
            combo()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* namedComboBoxFactory(const QString&, QObject* object)
{
    // Made while the box is built, before it has its name; the name is read when asked.
    auto* combo = qobject_cast<QComboBox*>(object);
    return combo ? new NamedComboBoxAccessible(combo) : nullptr;
}

} // namespace

void installNamedComboBoxAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(namedComboBoxFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
