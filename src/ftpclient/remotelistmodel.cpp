#include "ftpclient/remotelistmodel.h"

#include <QLocale>
#include <QMimeData>

#include <algorithm>

RemoteListModel::RemoteListModel(QObject *parent) : QAbstractTableModel(parent) {}

void RemoteListModel::addEntry(const QString &name, const QDateTime &date, qint64 size, int type, const QString &)
{
    static constexpr RemoteKind kinds[] = {RemoteKind::File, RemoteKind::Folder, RemoteKind::Link};
    if (type < 0 || type > 2)
        return;
    addRow({name, size < 0 ? 0 : size, date, kinds[type]});
}

void RemoteListModel::addRow(const RemoteRow &row)
{
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.append(row);
    endInsertRows();
}

void RemoteListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void RemoteListModel::setRows(const QList<RemoteRow> &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

RemoteRow RemoteListModel::row(int index) const
{
    if (index < 0 || index >= m_rows.size())
        return {QString(), 0, QDateTime(), RemoteKind::None};
    return m_rows.at(index);
}

QList<RemoteRow> RemoteListModel::rowsAt(const QList<int> &indexes) const
{
    QList<int> order;
    for (int i : indexes)
        if (i >= 0 && i < m_rows.size() && !order.contains(i))
            order.append(i);
    std::sort(order.begin(), order.end());
    QList<RemoteRow> rows;
    for (int i : std::as_const(order))
        rows.append(m_rows.at(i));
    return rows;
}

QString RemoteListModel::kindLetter(RemoteKind kind)
{
    switch (kind) {
    case RemoteKind::File:
        return QStringLiteral("F");
    case RemoteKind::Folder:
        return QStringLiteral("D");
    case RemoteKind::Link:
        return QStringLiteral("E");
    case RemoteKind::None:
        break;
    }
    return {};
}

QString RemoteListModel::dateText(const QDateTime &date)
{
    return date.isValid() ? QLocale().toString(date.toLocalTime(), QLocale::ShortFormat) : QString();
}

int RemoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RemoteListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RemoteListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const RemoteRow &r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return r.name;
        case SizeColumn:
            return QString::number(r.size);
        case DateColumn:
            return dateText(r.date);
        case KindColumn:
            return kindLetter(r.kind);
        default:
            return {};
        }
    case Qt::ToolTipRole:
        return index.column() == NameColumn ? QVariant(r.name) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == SizeColumn ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    case KindRole:
        return int(r.kind);
    case NameRole:
        return r.name;
    case SizeRole:
        return r.size;
    case DateRole:
        return r.date;
    default:
        return {};
    }
}

QVariant RemoteListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeColumn:
        return QStringLiteral("Size (bytes)");
    case DateColumn:
        return QStringLiteral("Date");
    case KindColumn:
        return QString();
    default:
        return {};
    }
}

Qt::ItemFlags RemoteListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QStringList RemoteListModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

QMimeData *RemoteListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        rows.append(index.row());
    QStringList names;
    for (const RemoteRow &r : rowsAt(rows))
        names.append(r.name);
    auto *data = new QMimeData;
    data->setText(names.join(QLatin1Char('\n')));
    return data;
}

bool CopyRemoteListToDelList(const RemoteListModel &pane, RemoteListModel &overlay)
{
    if (pane.rows().isEmpty())
        return false;
    overlay.setRows(pane.rows());
    return true;
}
