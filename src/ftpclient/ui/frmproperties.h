#pragma once

#include "ftpclient/localpaths.h"

#include <QDialog>

class QLabel;

// The properties of one local file, folder or link: name, kind, size, the
// dates, permissions, owner and the full path. Read once when it opens.
class frmProperties : public QDialog {
    Q_OBJECT

public:
    explicit frmProperties(const LocalProperties &properties, QWidget *parent = nullptr);

    const LocalProperties &shownProperties() const { return m_properties; }
    // The text shown beside a caption ("Name", "Kind", "Size", "Created",
    // "Modified", "Accessed", "Permissions", "Owner", "Full path", "Link
    // target"); empty when the dialog has no such line.
    QString fieldText(const QString &caption) const;

private:
    LocalProperties m_properties;
    QList<QPair<QString, QLabel *>> m_fields;
};
