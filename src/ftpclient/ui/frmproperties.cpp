#include "ftpclient/ui/frmproperties.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace {

QString dateText(const QDateTime &when)
{
    return when.isValid() ? QLocale().toString(when, QLocale::LongFormat) : QStringLiteral("(not known)");
}

QString sizeText(qint64 bytes)
{
    const QString exact = QLocale().toString(bytes) + QStringLiteral(" bytes");
    if (bytes < 1024)
        return exact;
    return QLocale().formattedDataSize(bytes) + QStringLiteral(" (") + exact + QLatin1Char(')');
}

} // namespace

frmProperties::frmProperties(const LocalProperties &properties, QWidget *parent)
    : QDialog(parent), m_properties(properties)
{
    setWindowTitle(QStringLiteral("Properties of ") + properties.name);
    auto *form = new QFormLayout;
    auto add = [this, form](const QString &caption, const QString &text) {
        auto *value = new QLabel(text, this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        form->addRow(caption + QLatin1Char(':'), value);
        m_fields.append({caption, value});
    };
    add(QStringLiteral("Name"), properties.name);
    add(QStringLiteral("Kind"), properties.kind);
    if (!properties.linkTarget.isEmpty())
        add(QStringLiteral("Link target"), properties.linkTarget);
    if (properties.exists) {
        add(QStringLiteral("Size"), properties.kind == QLatin1String("Folder")
                                        ? sizeText(properties.size) + QStringLiteral(", files directly in it")
                                        : sizeText(properties.size));
        add(QStringLiteral("Created"), dateText(properties.created));
        add(QStringLiteral("Modified"), dateText(properties.modified));
        add(QStringLiteral("Accessed"), dateText(properties.accessed));
        add(QStringLiteral("Permissions"), properties.permissions);
        add(QStringLiteral("Owner"), properties.owner + QStringLiteral(" (group ") + properties.group + QLatin1Char(')'));
    }
    add(QStringLiteral("Full path"), properties.fullPath);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(380);
}

QString frmProperties::fieldText(const QString &caption) const
{
    for (const auto &[name, label] : m_fields) {
        if (name == caption)
            return label->text();
    }
    return {};
}
