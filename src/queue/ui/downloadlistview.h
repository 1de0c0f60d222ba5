#pragma once

#include "download/downloadlist.h"

#include <QIcon>
#include <QList>
#include <QLocale>
#include <QSortFilterProxyModel>
#include <QTreeView>

#include <functional>

class QMimeData;

// Puts a DownloadListModel on the screen: the row icon and the file's name
// (its full path in the tooltip) in the first shown column, the centred
// columns, a running row's rate and time left in place of its status (in
// the tooltip), and the
// order of the rows (by value for the progress and size columns, by text for
// the others).
class DownloadListProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit DownloadListProxy(QLocale locale = QLocale(), QObject *parent = nullptr);

    // The picture of a row icon: 1 a row of the download list, 4 a completed
    // row; a null icon for any other number.
    QIcon iconFor(int icon) const;

    // What a running row adds to its status (its rate and time left); an
    // empty text for a row that is not running.
    using LiveText = std::function<QString(DownloadListModel::RowId)>;
    void setLiveText(LiveText live) { m_live = std::move(live); }

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QLocale m_locale;
    LiveText m_live;
    QIcon m_queuedIcon;
    QIcon m_completeIcon;
};

// The value a "%" cell shows as a bar: 0 to 100 for "37%", -1 for any
// other text (a refused row's "0 %", "N/A").
int progressCellValue(const QString &text);

// One of the main window's two lists: report style, one line a row, a
// progress bar in the "%" cell, several
// rows selectable at once, text dropped on it handed on as textDropped.
// The download list sorts when a header is clicked; the completed list
// keeps the order its rows arrived in.
class DownloadListView : public QTreeView {
    Q_OBJECT

public:
    enum class Kind { Downloads, Completed };

    // Sets the model's column captions ("Filename" or "Complete" first).
    DownloadListView(DownloadListModel &model, Kind kind, QWidget *parent = nullptr);

    DownloadListModel &listModel() const { return m_model; }
    DownloadListProxy &proxy() { return m_proxy; }
    Kind kind() const { return m_kind; }

    // The ids of the selected rows, in the order they are shown.
    QList<DownloadListModel::RowId> selectedRowIds() const;
    // The id of the current row; NoRow when there is none.
    DownloadListModel::RowId currentRowId() const;
    void setRowSelected(DownloadListModel::RowId id, bool selected);
    void setCurrentRowId(DownloadListModel::RowId id);

    // What a click on a column header does: the first click (and every
    // click after an ascending sort) sorts descending, the next ascending.
    void sortByHeader(int column);
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Column widths in twips (1440 to the inch), first shown column first.
    static constexpr int ColumnTwips[] = {3705, 1059, 1764, 1763, 2823, 5998, 0};

Q_SIGNALS:
    void textDropped(const QString &text);

protected:
    void updateGeometries() override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    DownloadListModel &m_model;
    DownloadListProxy m_proxy;
    Kind m_kind;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

// The text a drop carries: its plain text, or else its first URL.
QString droppedText(const QMimeData *mime);
