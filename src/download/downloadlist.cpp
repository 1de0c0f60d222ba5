#include "download/downloadlist.h"

DownloadListModel::DownloadListModel(QObject *parent) : QAbstractTableModel(parent) {}

DownloadListModel::RowId DownloadListModel::addRow(const QStringList &values, int icon)
{
    Row row;
    row.id = m_nextId++;
    row.icon = icon;
    row.cells.reserve(ColumnCount);
    row.cells.append(QString());
    for (int c = 1; c < ColumnCount; ++c)
        row.cells.append(values.value(c - 1));
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.append(row);
    endInsertRows();
    return row.id;
}

bool DownloadListModel::removeRowById(RowId id)
{
    const int at = indexOf(id);
    if (at < 0)
        return false;
    beginRemoveRows({}, at, at);
    m_rows.removeAt(at);
    endRemoveRows();
    return true;
}

void DownloadListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int DownloadListModel::indexOf(RowId id) const
{
    if (id == NoRow)
        return -1;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).id == id)
            return i;
    }
    return -1;
}

DownloadListModel::RowId DownloadListModel::idAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).id : NoRow;
}

QString DownloadListModel::value(RowId id, int column) const
{
    const int at = indexOf(id);
    if (at < 0 || column < 0 || column >= ColumnCount)
        return {};
    return m_rows.at(at).cells.at(column);
}

void DownloadListModel::setValue(RowId id, int column, const QString &text)
{
    const int at = indexOf(id);
    if (at < 0 || column < 0 || column >= ColumnCount || m_rows.at(at).cells.at(column) == text)
        return;
    m_rows[at].cells[column] = text;
    const QModelIndex cell = index(at, column);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

QStringList DownloadListModel::values(RowId id) const
{
    const int at = indexOf(id);
    if (at < 0)
        return {};
    return m_rows.at(at).cells.mid(1);
}

int DownloadListModel::icon(RowId id) const
{
    const int at = indexOf(id);
    return at < 0 ? 0 : m_rows.at(at).icon;
}

void DownloadListModel::setIcon(RowId id, int icon)
{
    const int at = indexOf(id);
    if (at < 0)
        return;
    m_rows[at].icon = icon;
    Q_EMIT dataChanged(index(at, 0), index(at, 0), {IconRole});
}

void DownloadListModel::setHeaders(const QStringList &captions)
{
    m_headers = captions;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int DownloadListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DownloadListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DownloadListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return row.cells.value(index.column());
    if (role == IconRole)
        return row.icon;
    return {};
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_headers.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}
