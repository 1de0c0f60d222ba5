#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class QAbstractItemModel;
class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QMimeData;
class QModelIndex;
class QStackedWidget;
class QTreeView;

// The file list both panes of Corvane's window use. One item model is shown
// in one of four views that share a single selection model, so switching the
// view keeps the selection and the current row:
//   0  large icons   (icons with the name below, wrapping left to right)
//   1  small icons   (small icons with the name beside, wrapping left to right)
//   2  list          (small icons in columns, top to bottom)
//   3  report        (every column of the model, with a header)
// The icon views show column 0 of the model; the rows are what the model
// gives, in its order (the view never sorts). Several rows may be selected.
//
// Dragging: when the owner sets a drag encoder, dragging selected rows starts
// a drag whose data the encoder builds from the selected rows (in list order).
// Dropping: the view accepts data offering one of the accepted MIME types and
// reports it by dropReceived; data dragged out of this same view is never
// accepted, so dragging rows inside a pane does nothing.
class FileListView : public QWidget {
    Q_OBJECT

public:
    enum ViewMode { LargeIcons = 0, SmallIcons = 1, List = 2, Report = 3 };

    // Builds the data of a drag from the selected rows, in list order. The
    // view owns nothing of it: Qt's drag takes the returned object.
    using DragEncoder = std::function<QMimeData *(const QList<int> &rows)>;

    explicit FileListView(QWidget *parent = nullptr);
    ~FileListView() override;

    // The model shown by all four views. The view does not take ownership.
    // Setting a model replaces the selection model (a new one, owned by the
    // view) and clears the selection.
    void setModel(QAbstractItemModel *model);
    QAbstractItemModel *model() const;
    QItemSelectionModel *selectionModel() const;

    // Switches to view 0..3; other numbers are ignored. The selection and the
    // current row stay.
    void setViewMode(int mode);
    int viewMode() const;

    // Column widths of the report view; a width of 0 hides the column (the
    // panes' fourth, untitled kind column).
    void setColumnWidth(int column, int width);
    int columnWidth(int column) const;

    // The selected rows in ascending (list) order; empty when none.
    QList<int> selectedRows() const;
    // The row of the current item, -1 when there is none.
    int currentRow() const;
    // Makes row current and selects it alone (clearSelection when -1).
    void selectRow(int row);
    // Adds row to the selection (or removes it) without touching the others.
    void setRowSelected(int row, bool selected);
    void selectAll();
    void clearSelection();

    void setDragEncoder(DragEncoder encoder);
    // MIME types a drop may offer to be accepted ("text/uri-list" takes files
    // dragged from the desktop's file manager). Empty: no drops.
    void setAcceptedDropTypes(const QStringList &mimeTypes);
    QStringList acceptedDropTypes() const;

    // True between the start of a drag out of this view and its end.
    bool isDragging() const { return m_dragging; }

    // The view currently shown (for tests and overlays placed over the list).
    QAbstractItemView *currentView() const;

signals:
    // A double click on a row, or Enter / Return on the current row.
    void activated(int row);
    // A single click on a row.
    void clicked(int row);
    // The right mouse button or the menu key; pos is in global coordinates.
    void contextMenuRequested(const QPoint &globalPos);
    // The selected rows changed.
    void selectionChanged();
    void viewModeChanged(int mode);
    // Data offering an accepted MIME type was dropped on the view. row is the
    // row under the drop point, -1 on empty space. The data is valid only
    // during the emission: connect directly.
    void dropReceived(const QMimeData *data, int row);
    // A drag out of this view began / ended (dropped anywhere or cancelled).
    void dragStarted();
    void dragFinished(Qt::DropAction action);

private:
    template <class> friend class FileListViewPart;
    void startDragFromView(Qt::DropActions supported);
    bool canAccept(const QMimeData *data, const QObject *source) const;
    void deliverDrop(const QMimeData *data, int row);
    void wireView(QAbstractItemView *view);

    QStackedWidget *m_stack = nullptr;
    QListView *m_iconView = nullptr; // views 0, 1 and 2 share one list view
    QTreeView *m_reportView = nullptr;
    QAbstractItemModel *m_model = nullptr;
    QItemSelectionModel *m_selection = nullptr;
    int m_mode = Report;
    DragEncoder m_encoder;
    QStringList m_dropTypes;
    bool m_dragging = false;
};
