#pragma once

#include <QByteArray>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// A read-only view of what a server said during a download: the response
// headers and control replies the download logged, with a button that puts
// the text on the clipboard.
class frmServerData : public QWidget {
    Q_OBJECT

public:
    explicit frmServerData(QWidget *parent = nullptr);

    // Replaces the shown text with the log (bytes as the server sent them).
    void setLog(const QByteArray &log);
    QString text() const;

    QPlainTextEdit *const txtData;
    QPushButton *const cmdCopy;
    QPushButton *const cmdExit;

public Q_SLOTS:
    void copyToClipboard();
};
