#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

// One list of download rows: the download list or the completed list.
//
// A row has an empty main text and six values (columns 1 to 6): save path,
// progress, size, received, status, URL; rows restored from the history also
// carry a date (column 7, hidden by the views). Progress doubles as a marker:
// "0%" not started, "100%" finished, "0 %" refused by a filter.
//
// Every row has an id that stays valid while other rows are inserted or
// removed, so a download window keeps its row for its whole life.
class DownloadListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using RowId = quint64;
    static constexpr RowId NoRow = 0;

    enum Column { MainText = 0, SavePath = 1, Progress = 2, Size = 3, Received = 4, Status = 5, Url = 6, Date = 7 };
    static constexpr int ColumnCount = 8;
    static constexpr int IconRole = Qt::UserRole + 1;

    explicit DownloadListModel(QObject *parent = nullptr);

    // Appends a row with values for columns 1 to 6 (and 7 when given).
    RowId addRow(const QStringList &values, int icon = 1);
    bool removeRowById(RowId id);
    void clear();

    int indexOf(RowId id) const;   // -1 when the row is gone
    RowId idAt(int row) const;     // NoRow when out of range
    bool contains(RowId id) const { return indexOf(id) >= 0; }
    int count() const { return int(m_rows.size()); }

    QString value(RowId id, int column) const;
    void setValue(RowId id, int column, const QString &text);
    // Columns 1 to 7 of a row.
    QStringList values(RowId id) const;
    int icon(RowId id) const;
    void setIcon(RowId id, int icon);

    void setHeaders(const QStringList &captions);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        RowId id = NoRow;
        int icon = 1;
        QStringList cells; // ColumnCount entries
    };

    QList<Row> m_rows;
    QStringList m_headers;
    RowId m_nextId = 1;
};
