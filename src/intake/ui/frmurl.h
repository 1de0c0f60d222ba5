#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPushButton;

// The new-URL dialog: an editable drop-down box of earlier URLs and the
// button that takes the URL. Enter in the URL box is the same as the
// button. The dialog only collects the text; whoever opened it runs the
// checks when okRequested arrives.
class frmURL : public QDialog {
    Q_OBJECT

public:
    explicit frmURL(QWidget *parent = nullptr);

    // The URL box's text, unchanged.
    QString url() const;
    // Puts text into the URL box; select marks all of it.
    void setUrl(const QString &text, bool select = false);
    // Replaces the drop-down list (the box's text stays).
    void setHistory(const QStringList &urls);
    QStringList history() const;

    QComboBox *const cboURL;
    QPushButton *const cmdOk;
    QPushButton *const cmdCancel;

Q_SIGNALS:
    void okRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
