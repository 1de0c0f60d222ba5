#pragma once

#include <QStringListModel>

class frmDownload;

// The main window's hidden list with one entry per download-window slot
// (0 to 100). A download writes its slot's entry, for example "Error" when
// an FTP server has no such file. No view shows it.
class ModeList : public QStringListModel {
    Q_OBJECT

public:
    static constexpr int SlotCount = 101;

    explicit ModeList(QObject *parent = nullptr);

    QString entry(int slot) const;
    // Entries outside 0 to 100 are ignored.
    void setEntry(int slot, const QString &text);
    // Lets a download window write its slot's entries from now on.
    void watch(frmDownload &window);
};
