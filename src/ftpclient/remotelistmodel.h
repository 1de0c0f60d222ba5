#pragma once

// The rows of Corvane's remote pane: one row per listing entry, in the order
// the component reported them, with the columns "Name", "Size (bytes)",
// "Date" and an untitled kind column ("F" file, "D" folder, "E" link). The
// kind is also given under KindRole so that views and operations never read
// cell texts. Icons are the view's business (Qt::DecorationRole is empty).

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QMimeData;

// Kinds of remote rows; the numbers are those of the pane's icons.
enum class RemoteKind { None = 0, File = 1, Folder = 2, Link = 3 };

struct RemoteRow {
    QString name; // as the server gave it
    qint64 size = 0;
    QDateTime date; // invalid when the listing gave none
    RemoteKind kind = RemoteKind::File;
    bool operator==(const RemoteRow &) const = default;
};

class RemoteListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn = 0, SizeColumn = 1, DateColumn = 2, KindColumn = 3, ColumnCount = 4 };
    enum Role {
        KindRole = Qt::UserRole + 1, // int: RemoteKind
        NameRole,                    // QString: the real name
        SizeRole,                    // qint64
        DateRole,                    // QDateTime
    };

    explicit RemoteListModel(QObject *parent = nullptr);

    // The component's listing entry: type 0 file, 1 folder, 2 link; any
    // other type adds nothing. Connect FtpComponent::listingEntry here.
    void addEntry(const QString &name, const QDateTime &date, qint64 size, int type, const QString &extra = {});
    void addRow(const RemoteRow &row);
    // ClearRemoteList: removes every row.
    void clear();
    // Replaces every row at once (the overlay's snapshot).
    void setRows(const QList<RemoteRow> &rows);

    const QList<RemoteRow> &rows() const { return m_rows; }
    // The row at index (a default row when out of range).
    RemoteRow row(int index) const;
    RemoteKind kind(int index) const { return row(index).kind; }
    // The rows at these indexes in list order; repeats and indexes out of
    // range are dropped (a selection as the operations take it).
    QList<RemoteRow> rowsAt(const QList<int> &indexes) const;

    // "F", "D", "E" (empty for None).
    static QString kindLetter(RemoteKind kind);
    // The "Date" column's text: the platform's default (locale short)
    // date-time text, in local time; empty for an invalid date.
    static QString dateText(const QDateTime &date);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Rows are selectable and can be dragged; a drag carries the names as
    // plain text, one a line (the drop side reads the other pane's
    // selection, not the text).
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

private:
    QList<RemoteRow> m_rows;
};

// CopyRemoteListToDelList: when the pane has rows, the overlay gets a copy
// of every row in order and true is returned (the caller then sets the
// overlay's path text to the remote path box's text and the overlay's view
// to the pane's). An empty pane changes nothing and gives false.
bool CopyRemoteListToDelList(const RemoteListModel &pane, RemoteListModel &overlay);
