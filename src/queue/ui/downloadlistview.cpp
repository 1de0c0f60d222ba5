#include "queue/ui/downloadlistview.h"

#include "queue/ui/listsort.h"

#include <QApplication>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStyledItemDelegate>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>

#include <algorithm>
#include <functional>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>
#include <QUrl>

namespace {

using Column = DownloadListModel::Column;

bool isCentred(int column)
{
    return column == Column::Progress || column == Column::Size || column == Column::Received
        || column == Column::Status;
}

// An icon drawn at 16 and 32 pixels on a 16-unit canvas.
QIcon drawIcon(const std::function<void(QPainter &)> &paint)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        paint(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A downward arrow into a tray: a download that is queued or running.
QIcon drawQueuedIcon()
{
    return drawIcon([](QPainter &p) {
        QPainterPath arrow;
        arrow.moveTo(6, 1);
        arrow.lineTo(10, 1);
        arrow.lineTo(10, 6);
        arrow.lineTo(13, 6);
        arrow.lineTo(8, 11.5);
        arrow.lineTo(3, 6);
        arrow.lineTo(6, 6);
        arrow.closeSubpath();
        p.fillPath(arrow, QColor(0x1f, 0x6f, 0xd1));
        p.setPen(QPen(QColor(0x55, 0x5a, 0x64), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2, 11), QPointF(2, 14.5), QPointF(14, 14.5), QPointF(14, 11)}));
    });
}

// A tick in a green disc: a completed download.
QIcon drawCompleteIcon()
{
    return drawIcon([](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2e, 0x9d, 0x4f));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4.5, 8.2), QPointF(7, 10.7), QPointF(11.5, 5.5)}));
    });
}

} // namespace

// ---------------------------------------------------------------- proxy

DownloadListProxy::DownloadListProxy(QLocale locale, QObject *parent)
    : QSortFilterProxyModel(parent), m_locale(std::move(locale)), m_queuedIcon(drawQueuedIcon()),
      m_completeIcon(drawCompleteIcon())
{
}

QIcon DownloadListProxy::iconFor(int icon) const
{
    switch (icon) {
    case 1:
        return m_queuedIcon;
    case 4:
        return m_completeIcon;
    default:
        return {};
    }
}

QVariant DownloadListProxy::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DecorationRole) {
        if (index.column() != Column::SavePath)
            return {};
        const QIcon icon = iconFor(QSortFilterProxyModel::data(index, DownloadListModel::IconRole).toInt());
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment((isCentred(index.column()) ? Qt::AlignHCenter : Qt::AlignLeft)
                                                 | Qt::AlignVCenter));
    if (role == Qt::ToolTipRole && index.column() == Column::SavePath)
        return QSortFilterProxyModel::data(index, Qt::DisplayRole);
    if (role == Qt::DisplayRole && index.column() == Column::SavePath) {
        // The name says which file it is; the tooltip has the whole path.
        const QString path = QSortFilterProxyModel::data(index, role).toString();
        const QString name = path.section(QLatin1Char('/'), -1);
        return name.isEmpty() ? path : name;
    }
    if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && index.column() == Column::Status && m_live) {
        if (role == Qt::ToolTipRole)
            return QSortFilterProxyModel::data(index, Qt::DisplayRole);
        const QString status = QSortFilterProxyModel::data(index, role).toString();
        const auto *list = qobject_cast<const DownloadListModel *>(sourceModel());
        const QString live = list ? m_live(list->idAt(mapToSource(index).row())) : QString();
        // A running row's rate and time left say more than "Downloading...",
        // and both fit the cell.
        return live.isEmpty() ? status : live;
    }
    return QSortFilterProxyModel::data(index, role);
}

QVariant DownloadListProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment((isCentred(section) ? Qt::AlignHCenter : Qt::AlignLeft)
                                                 | Qt::AlignVCenter));
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

bool DownloadListProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    return compareListCells(left.column(), left.data(Qt::DisplayRole).toString(),
                            right.data(Qt::DisplayRole).toString(), m_locale)
        < 0;
}

// ---------------------------------------------------------------- "%" cell

int progressCellValue(const QString &text)
{
    static const QRegularExpression percent(QStringLiteral("^(\\d{1,3})%$"));
    const QRegularExpressionMatch m = percent.match(text);
    if (!m.hasMatch())
        return -1;
    return std::min(100, m.captured(1).toInt());
}

namespace {

// Draws the "%" cell as a progress bar with its text.
class ProgressCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        const int value = progressCellValue(text);
        if (value < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        // The row's selection background first, then the bar inside it.
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(3, 2, -3, -2);
        bar.state = option.state | QStyle::State_Horizontal;
        bar.direction = option.direction;
        bar.fontMetrics = option.fontMetrics;
        bar.palette = option.palette;
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = value;
        bar.text = text;
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
};

} // namespace

// ---------------------------------------------------------------- view

DownloadListView::DownloadListView(DownloadListModel &model, Kind kind, QWidget *parent)
    : QTreeView(parent), m_model(model), m_kind(kind)
{
    m_model.setHeaders({QString(),
                        kind == Kind::Downloads ? QStringLiteral("Filename") : QStringLiteral("Complete"),
                        QStringLiteral("%"), QStringLiteral("Size"), QStringLiteral("Recieved"),
                        QStringLiteral("Status"), QStringLiteral("URL"), QStringLiteral("Date")});
    m_proxy.setSourceModel(&m_model);
    setModel(&m_proxy);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideMiddle);
    setIconSize(QSize(16, 16));
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    setContextMenuPolicy(Qt::CustomContextMenu);

    setItemDelegateForColumn(Column::Progress, new ProgressCellDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    for (int c = Column::SavePath; c <= Column::Date; ++c)
        setColumnWidth(c, ColumnTwips[c - Column::SavePath] * dpi / 1440);
    // The row's main text is not shown; the date is kept but not visible.
    // (Hidden after the widths are set: resizing a section re-counts the
    // hidden ones in front of it.)
    setColumnHidden(Column::MainText, true);
    setColumnHidden(Column::Date, true);

    header()->setSectionsClickable(kind == Kind::Downloads);
    if (kind == Kind::Downloads)
        connect(header(), &QHeaderView::sectionClicked, this, &DownloadListView::sortByHeader);
}

QList<DownloadListModel::RowId> DownloadListView::selectedRowIds() const
{
    QList<DownloadListModel::RowId> ids;
    const QItemSelectionModel *selection = selectionModel();
    if (!selection)
        return ids;
    for (int row = 0; row < m_proxy.rowCount(); ++row) {
        const QModelIndex shown = m_proxy.index(row, Column::SavePath);
        if (selection->isRowSelected(row, {}) || selection->isSelected(shown))
            ids.append(m_model.idAt(m_proxy.mapToSource(shown).row()));
    }
    return ids;
}

DownloadListModel::RowId DownloadListView::currentRowId() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return DownloadListModel::NoRow;
    return m_model.idAt(m_proxy.mapToSource(current).row());
}

void DownloadListView::setRowSelected(DownloadListModel::RowId id, bool selected)
{
    const int row = m_model.indexOf(id);
    if (row < 0)
        return;
    const QModelIndex shown = m_proxy.mapFromSource(m_model.index(row, Column::SavePath));
    selectionModel()->select(shown, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                                        | QItemSelectionModel::Rows);
}

void DownloadListView::setCurrentRowId(DownloadListModel::RowId id)
{
    const int row = m_model.indexOf(id);
    if (row < 0)
        return;
    selectionModel()->setCurrentIndex(m_proxy.mapFromSource(m_model.index(row, Column::SavePath)),
                                      QItemSelectionModel::NoUpdate);
}

void DownloadListView::sortByHeader(int column)
{
    if (m_kind != Kind::Downloads || column < Column::SavePath || column >= DownloadListModel::ColumnCount)
        return;
    m_sortColumn = column;
    m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, m_sortOrder);
    // From now on the list keeps itself sorted as rows change.
    m_proxy.setDynamicSortFilter(true);
    m_proxy.sort(column, m_sortOrder);
}

void DownloadListView::updateGeometries()
{
    QTreeView::updateGeometries();
    // Sideways the view would step by a whole column's average width; an
    // arrow click or a wheel notch moves a few characters, as lists do.
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 3));
}

void DownloadListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedText(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DownloadListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!droppedText(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DownloadListView::dropEvent(QDropEvent *event)
{
    const QString text = droppedText(event->mimeData());
    if (text.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Q_EMIT textDropped(text);
}

QString droppedText(const QMimeData *mime)
{
    if (!mime)
        return {};
    if (mime->hasText() && !mime->text().isEmpty())
        return mime->text();
    // Several dropped links: one URL a line, each taken on its own.
    QStringList urls;
    for (const QUrl &url : mime->urls())
        urls.append(url.toString());
    return urls.join(QLatin1Char('\n'));
}
