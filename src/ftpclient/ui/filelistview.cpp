#include "ftpclient/ui/filelistview.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

// One of the two Qt views inside FileListView. Drags, drops and the Enter key
// are handed to the owner, so both views behave the same whatever Qt's
// built-in item moving would do.
template <class Base>
class FileListViewPart : public Base {
public:
    explicit FileListViewPart(FileListView *owner) : Base(owner), m_owner(owner) {}

protected:
    void startDrag(Qt::DropActions supported) override { m_owner->startDragFromView(supported); }

    void dragEnterEvent(QDragEnterEvent *event) override { acceptOrIgnore(event); }
    void dragMoveEvent(QDragMoveEvent *event) override { acceptOrIgnore(event); }
    void dropEvent(QDropEvent *event) override
    {
        if (!m_owner->canAccept(event->mimeData(), event->source())) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        const QModelIndex index = this->indexAt(event->position().toPoint());
        m_owner->deliverDrop(event->mimeData(), index.isValid() ? index.row() : -1);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            const QModelIndex current = this->currentIndex();
            if (current.isValid() && this->state() != QAbstractItemView::EditingState) {
                emit m_owner->activated(current.row());
                event->accept();
                return;
            }
        }
        Base::keyPressEvent(event);
    }

private:
    void acceptOrIgnore(QDragMoveEvent *event)
    {
        if (m_owner->canAccept(event->mimeData(), event->source())) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
    }

    FileListView *m_owner;
};

FileListView::FileListView(QWidget *parent) : QWidget(parent)
{
    m_stack = new QStackedWidget(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    m_iconView = new FileListViewPart<QListView>(this);
    m_iconView->setResizeMode(QListView::Adjust);
    m_iconView->setUniformItemSizes(false);

    auto *report = new FileListViewPart<QTreeView>(this);
    report->setRootIsDecorated(false);
    report->setItemsExpandable(false);
    report->setUniformRowHeights(true);
    report->setAllColumnsShowFocus(true);
    report->setSortingEnabled(false);
    report->header()->setStretchLastSection(false);
    report->header()->setSectionsMovable(false);
    m_reportView = report;

    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_iconView),
                                    static_cast<QAbstractItemView *>(m_reportView)})
        wireView(view);

    m_stack->addWidget(m_iconView);
    m_stack->addWidget(m_reportView);
    m_stack->setCurrentWidget(m_reportView);
    setFocusProxy(m_reportView);
}

FileListView::~FileListView() = default;

void FileListView::wireView(QAbstractItemView *view)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDefaultDropAction(Qt::CopyAction);
    view->setDropIndicatorShown(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            emit activated(index.row());
    });
    connect(view, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            emit clicked(index.row());
    });
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint &pos) {
        emit contextMenuRequested(view->viewport()->mapToGlobal(pos));
    });
}

void FileListView::setModel(QAbstractItemModel *model)
{
    QItemSelectionModel *previous = m_selection;
    m_model = model;
    m_selection = model ? new QItemSelectionModel(model, this) : nullptr;
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_iconView),
                                    static_cast<QAbstractItemView *>(m_reportView)}) {
        view->setModel(model);
        QItemSelectionModel *own = view->selectionModel();
        if (m_selection) {
            view->setSelectionModel(m_selection);
            if (own && own != m_selection && own != previous)
                delete own;
        }
    }
    if (m_selection) {
        connect(m_selection, &QItemSelectionModel::selectionChanged, this,
                [this] { emit selectionChanged(); });
    }
    delete previous;
    if (m_mode != Report)
        setViewMode(m_mode); // the icon views show column 0 of the new model
}

QAbstractItemModel *FileListView::model() const { return m_model; }

QItemSelectionModel *FileListView::selectionModel() const { return m_selection; }

void FileListView::setViewMode(int mode)
{
    if (mode < LargeIcons || mode > Report)
        return;
    const bool hadFocus = currentView()->hasFocus();
    switch (mode) {
    case LargeIcons:
        m_iconView->setViewMode(QListView::IconMode);
        m_iconView->setIconSize(QSize(32, 32));
        m_iconView->setFlow(QListView::LeftToRight);
        m_iconView->setWrapping(true);
        m_iconView->setWordWrap(true);
        m_iconView->setGridSize(QSize(88, 68));
        break;
    case SmallIcons:
        m_iconView->setViewMode(QListView::ListMode);
        m_iconView->setIconSize(QSize(16, 16));
        m_iconView->setFlow(QListView::LeftToRight);
        m_iconView->setWrapping(true);
        m_iconView->setWordWrap(false);
        m_iconView->setGridSize(QSize(160, 20));
        break;
    case List:
        m_iconView->setViewMode(QListView::ListMode);
        m_iconView->setIconSize(QSize(16, 16));
        m_iconView->setFlow(QListView::TopToBottom);
        m_iconView->setWrapping(true);
        m_iconView->setWordWrap(false);
        m_iconView->setGridSize(QSize());
        break;
    default:
        break;
    }
    // QListView's icon mode turns on free moving of the items; rows keep the
    // model's order in every view.
    m_iconView->setMovement(QListView::Static);
    m_iconView->setDragDropMode(QAbstractItemView::DragDrop);
    m_iconView->setModelColumn(0);

    QAbstractItemView *shown = mode == Report ? static_cast<QAbstractItemView *>(m_reportView)
                                              : static_cast<QAbstractItemView *>(m_iconView);
    m_stack->setCurrentWidget(shown);
    setFocusProxy(shown);
    if (hadFocus)
        shown->setFocus();
    const bool changed = mode != m_mode;
    m_mode = mode;
    if (m_selection && m_selection->currentIndex().isValid())
        shown->scrollTo(m_selection->currentIndex());
    if (changed)
        emit viewModeChanged(mode);
}

int FileListView::viewMode() const { return m_mode; }

void FileListView::setColumnWidth(int column, int width)
{
    if (width <= 0) {
        m_reportView->setColumnHidden(column, true);
        return;
    }
    m_reportView->setColumnHidden(column, false);
    m_reportView->setColumnWidth(column, width);
}

int FileListView::columnWidth(int column) const
{
    return m_reportView->isColumnHidden(column) ? 0 : m_reportView->columnWidth(column);
}

QList<int> FileListView::selectedRows() const
{
    QList<int> rows;
    if (!m_selection)
        return rows;
    const QModelIndexList indexes = m_selection->selectedIndexes();
    for (const QModelIndex &index : indexes) {
        if (!rows.contains(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int FileListView::currentRow() const
{
    if (!m_selection)
        return -1;
    const QModelIndex current = m_selection->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void FileListView::selectRow(int row)
{
    if (!m_selection || !m_model)
        return;
    if (row < 0 || row >= m_model->rowCount()) {
        m_selection->clear();
        return;
    }
    m_selection->setCurrentIndex(m_model->index(row, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FileListView::setRowSelected(int row, bool selected)
{
    if (!m_selection || !m_model || row < 0 || row >= m_model->rowCount())
        return;
    m_selection->select(m_model->index(row, 0),
                        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                            | QItemSelectionModel::Rows);
}

void FileListView::selectAll()
{
    if (!m_selection || !m_model || m_model->rowCount() == 0)
        return;
    const QItemSelection all(m_model->index(0, 0),
                             m_model->index(m_model->rowCount() - 1, m_model->columnCount() - 1));
    m_selection->select(all, QItemSelectionModel::ClearAndSelect);
}

void FileListView::clearSelection()
{
    if (m_selection)
        m_selection->clearSelection();
}

void FileListView::setDragEncoder(DragEncoder encoder) { m_encoder = std::move(encoder); }

void FileListView::setAcceptedDropTypes(const QStringList &mimeTypes) { m_dropTypes = mimeTypes; }

QStringList FileListView::acceptedDropTypes() const { return m_dropTypes; }

QAbstractItemView *FileListView::currentView() const
{
    return m_mode == Report ? static_cast<QAbstractItemView *>(m_reportView)
                            : static_cast<QAbstractItemView *>(m_iconView);
}

void FileListView::startDragFromView(Qt::DropActions supported)
{
    if (!m_encoder || m_dragging)
        return;
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    QMimeData *data = m_encoder(rows);
    if (!data)
        return;
    auto *drag = new QDrag(currentView());
    drag->setMimeData(data);
    m_dragging = true;
    emit dragStarted();
    const Qt::DropAction action = drag->exec(supported | Qt::CopyAction, Qt::CopyAction);
    m_dragging = false;
    emit dragFinished(action);
}

bool FileListView::canAccept(const QMimeData *data, const QObject *source) const
{
    if (!data || m_dragging)
        return false;
    // A drag that started in this view is never dropped back on it.
    if (source == m_iconView || source == m_reportView || source == this)
        return false;
    return std::any_of(m_dropTypes.cbegin(), m_dropTypes.cend(),
                       [data](const QString &type) { return data->hasFormat(type); });
}

void FileListView::deliverDrop(const QMimeData *data, int row) { emit dropReceived(data, row); }
