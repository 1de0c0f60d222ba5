#include "queue/ui/queuecommands.h"

#include "queue/downloadmanager.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "download/urlmodel.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

#include <algorithm>

QueueCommands::QueueCommands(DownloadListModel &mainList, DownloadListModel &completeList,
                             DownloadWindowTable &windows, DownloadManager &manager, CaptionLookup captions,
                             Callbacks callbacks, Options options, QWidget *viewParent, QObject *parent)
    : QObject(parent), lstMain(new DownloadListView(mainList, DownloadListView::Kind::Downloads, viewParent)),
      lstComplete(new DownloadListView(completeList, DownloadListView::Kind::Completed, viewParent)),
      m_mainList(mainList), m_completeList(completeList), m_windows(&windows), m_manager(&manager),
      m_captions(captions ? std::move(captions) : defaultCaptions()), m_callbacks(std::move(callbacks)),
      m_options(std::move(options)), m_mainView(lstMain), m_completeView(lstComplete)
{
    lstMain->setObjectName(QStringLiteral("lstMain"));
    lstComplete->setObjectName(QStringLiteral("lstComplete"));
    lstMode.setObjectName(QStringLiteral("lstMode"));

    connect(lstMain, &DownloadListView::textDropped, this, &QueueCommands::dropText);
    connect(lstComplete, &DownloadListView::textDropped, this, &QueueCommands::dropText);
    connect(lstMain, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (m_mainView)
            showMenu(buildQueueMenu(m_mainView), m_mainView->viewport()->mapToGlobal(pos));
    });
    connect(lstComplete, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (m_completeView)
            showMenu(buildCompleteMenu(m_completeView), m_completeView->viewport()->mapToGlobal(pos));
    });

    for (DownloadListView *view : {lstMain, lstComplete}) {
        connect(view, &QAbstractItemView::doubleClicked, this, [this, view](const QModelIndex &index) {
            const QModelIndex source = view->proxy().mapToSource(index);
            activateRow(view, view->listModel().idAt(source.row()));
        });
    }
    // A running row shows its rate and time left beside its status.
    lstMain->proxy().setLiveText([this](DownloadListModel::RowId row) -> QString {
        DownloadManager *manager = m_manager.data();
        const DownloadId id = manager ? manager->idOfRow(row) : 0;
        const TransferJob *job = id ? manager->job(id) : nullptr;
        if (!job || manager->state(id) != DownloadState::Running || job->state() != TransferState::Downloading)
            return {};
        const TransferProgress progress = job->progress();
        if (progress.rate <= 0)
            return {};
        QString text = FormatSize(progress.rate, m_options.locale) + QStringLiteral("/s");
        if (progress.size >= 0)
            text += QStringLiteral(", ") + FormatTime(progress.secondsLeft) + QStringLiteral(" left");
        return text;
    });

    m_rateTimer.setInterval(m_options.ratePeriod);
    connect(&m_rateTimer, &QTimer::timeout, this, &QueueCommands::updateTotalRate);
    m_rateTimer.start();
}

QueueCommands::QueueCommands(DownloadListModel &mainList, DownloadListModel &completeList,
                             DownloadWindowTable &windows, DownloadManager &manager, CaptionLookup captions,
                             Callbacks callbacks, QWidget *viewParent)
    : QueueCommands(mainList, completeList, windows, manager, std::move(captions), std::move(callbacks), Options{},
                    viewParent)
{
}

QueueCommands::~QueueCommands()
{
    for (DownloadListView *view : {m_mainView.data(), m_completeView.data()}) {
        if (view && !view->parent())
            delete view;
    }
}

// ---------------------------------------------------------------- walks

void QueueCommands::yieldEvents()
{
    for (int i = 0; i < m_options.yieldsPerSide; ++i)
        QCoreApplication::processEvents();
}

void QueueCommands::walk(void (DownloadManager::*command)())
{
    // Pending events run before and after the walk, so transfers and other
    // commands go on; anything may change meanwhile, this object included.
    const QPointer<QueueCommands> self(this);
    yieldEvents();
    if (!self || !m_manager)
        return;
    (m_manager->*command)();
    yieldEvents();
    if (self)
        RefreshControls();
}

void QueueCommands::PauseAll()
{
    walk(&DownloadManager::pauseAll);
}

void QueueCommands::ResumeAll()
{
    walk(&DownloadManager::resumeAll);
}

void QueueCommands::StopAll()
{
    // A stop may ask a question whose message box runs events; anything,
    // this object included, may be gone afterwards.
    const QPointer<QueueCommands> self(this);
    if (m_manager)
        m_manager->stopAll();
    if (self)
        RefreshControls();
}

// ---------------------------------------------------------------- re-download

QString QueueCommands::urlFromScheme(const QString &text)
{
    return UrlFromScheme(text);
}

void QueueCommands::RedownloadRow(const QString &url, const QString &savePath, int rowIndex,
                                  DownloadListModel::RowId row)
{
    if (!m_windows || !m_manager || !m_mainList.contains(row))
        return;
    // A row refused by a filter has no save path (its first value is the
    // refusal): its URL goes to the intake again as the user's own choice,
    // through the save rules or the save prompt, and the new row replaces it.
    const DownloadId refused = m_manager->idOfRow(row);
    if (refused && m_manager->state(refused) == DownloadState::Refused) {
        if (!m_callbacks.downloadUrl)
            return;
        m_mainList.removeRowById(row);
        m_callbacks.downloadUrl(url);
        return;
    }
    int slot = -1;
    // A running download is left alone (a second transfer would write the
    // same file); the window of one that stopped, failed or paused gives up
    // its slot to the new start.
    if (const DownloadId id = m_manager->idOfRow(row)) {
        if (m_manager->state(id) == DownloadState::Running)
            return;
        if (frmDownload *window = m_windows->windowOf(id)) {
            slot = m_windows->slotOf(window);
            m_manager->cancel(id);
            m_windows->release(slot);
        }
    }
    if (slot < 0)
        slot = DownloadWindowTable::isValidSlot(rowIndex) && !m_windows->at(rowIndex) ? rowIndex
                                                                                         : m_windows->firstFreeSlot();
    // Every slot is taken: the row stays as it is.
    if (slot < 0)
        return;
    if (m_callbacks.restartRow)
        m_callbacks.restartRow({url, savePath, slot, row});
}

QList<QueueCommands::SelectedUrl> QueueCommands::selectedUrls(DownloadListView *view, DownloadListModel &list) const
{
    QList<SelectedUrl> out;
    if (!view || list.count() == 0)
        return out;
    // The rows are taken first: a start may add or remove rows meanwhile.
    for (DownloadListModel::RowId row : view->selectedRowIds()) {
        const QString url = urlFromScheme(list.value(row, DownloadListModel::Url));
        if (url.isEmpty())
            break; // a row without a URL ends the walk
        out.append({row, url, list.value(row, DownloadListModel::SavePath)});
    }
    return out;
}

void QueueCommands::ReDownload()
{
    const QPointer<QueueCommands> self(this);
    for (const SelectedUrl &s : selectedUrls(m_mainView, m_mainList)) {
        if (!self)
            return;
        if (m_mainList.contains(s.row))
            RedownloadRow(s.url, s.savePath, m_mainList.indexOf(s.row), s.row);
    }
}

void QueueCommands::ReDownloadCompleted()
{
    const QPointer<QueueCommands> self(this);
    for (const SelectedUrl &s : selectedUrls(m_completeView, m_completeList)) {
        if (!self)
            return;
        if (m_completeList.contains(s.row) && m_callbacks.beginDownload)
            m_callbacks.beginDownload(s.url, s.savePath);
    }
}

// ---------------------------------------------------------------- removal and selection

void QueueCommands::removeSelected(DownloadListView &view)
{
    view.setFocus();
    // Windows keep their rows' ids; a window whose row goes on running
    // writes to a row that is no longer there, and its completion skips it.
    const QList<DownloadListModel::RowId> rows = view.selectedRowIds();
    for (DownloadListModel::RowId row : rows)
        view.listModel().removeRowById(row);
    view.unsetCursor();
    view.viewport()->update();
}

void QueueCommands::RemoveSelection()
{
    if (m_mainView)
        removeSelected(*m_mainView);
}

void QueueCommands::RemoveCompletedSelection()
{
    if (m_completeView)
        removeSelected(*m_completeView);
}

void QueueCommands::ClearQueue()
{
    m_mainList.clear();
}

void QueueCommands::RemoveAllCompleted()
{
    m_completeList.clear();
}

void QueueCommands::SelectAll()
{
    if (!m_mainView)
        return;
    m_mainView->setFocus();
    m_mainView->selectAll();
}

void QueueCommands::DeSelectAll()
{
    if (!m_mainView)
        return;
    m_mainView->setFocus();
    m_mainView->clearSelection();
}

void QueueCommands::Refresh()
{
    if (m_mainView)
        m_mainView->viewport()->update();
}

void QueueCommands::RefreshControls()
{
    for (DownloadListView *view : {m_mainView.data(), m_completeView.data()}) {
        if (view) {
            view->header()->viewport()->update();
            view->viewport()->update();
        }
    }
}

// ---------------------------------------------------------------- drops and menus

void QueueCommands::dropText(const QString &text)
{
    if (!text.isEmpty() && m_callbacks.downloadUrl)
        m_callbacks.downloadUrl(text);
}

void QueueCommands::PauseSelection()
{
    if (!m_mainView || !m_manager)
        return;
    for (DownloadListModel::RowId row : m_mainView->selectedRowIds()) {
        if (const DownloadId id = m_manager ? m_manager->idOfRow(row) : 0)
            m_manager->pause(id);
    }
}

void QueueCommands::ResumeSelection()
{
    if (!m_mainView || !m_manager)
        return;
    for (DownloadListModel::RowId row : m_mainView->selectedRowIds()) {
        const DownloadId id = m_manager ? m_manager->idOfRow(row) : 0;
        if (!id)
            continue;
        // A paused or stopped job goes on; a download without a job (its
        // window closed, or restored from the history) starts again.
        const DownloadState state = m_manager->state(id);
        const TransferJob *job = m_manager->job(id);
        if (job && !job->isFinished())
            m_manager->resume(id);
        else if (state == DownloadState::Stopped || state == DownloadState::Paused || state == DownloadState::Failed)
            RedownloadRow(urlFromScheme(m_mainList.value(row, DownloadListModel::Url)),
                          m_mainList.value(row, DownloadListModel::SavePath), m_mainList.indexOf(row), row);
    }
}

void QueueCommands::OpenSelection(DownloadListView *view)
{
    if (!view || !m_callbacks.openFile)
        return;
    for (DownloadListModel::RowId row : view->selectedRowIds())
        m_callbacks.openFile(view->listModel().value(row, DownloadListModel::SavePath));
}

void QueueCommands::OpenSelectionFolder(DownloadListView *view)
{
    if (!view || !m_callbacks.showFolder)
        return;
    for (DownloadListModel::RowId row : view->selectedRowIds())
        m_callbacks.showFolder(view->listModel().value(row, DownloadListModel::SavePath));
}

void QueueCommands::CopySelectionUrls(DownloadListView *view)
{
    if (!view)
        return;
    QStringList urls;
    for (DownloadListModel::RowId row : view->selectedRowIds())
        urls.append(urlFromScheme(view->listModel().value(row, DownloadListModel::Url)));
    if (QClipboard *clipboard = QGuiApplication::clipboard(); clipboard && !urls.isEmpty())
        clipboard->setText(urls.join(QLatin1Char('\n')));
}

void QueueCommands::activateRow(DownloadListView *view, DownloadListModel::RowId row)
{
    if (!view || !view->listModel().contains(row))
        return;
    if (view->kind() == DownloadListView::Kind::Completed) {
        if (m_callbacks.openFile)
            m_callbacks.openFile(view->listModel().value(row, DownloadListModel::SavePath));
        return;
    }
    const DownloadId id = m_manager ? m_manager->idOfRow(row) : 0;
    frmDownload *window = id && m_windows ? m_windows->windowOf(id) : nullptr;
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

QMenu *QueueCommands::buildQueueMenu(QWidget *parent)
{
    auto *menu = new QMenu(QStringLiteral("Queue Menu"), parent);
    menu->addAction(QStringLiteral("Refresh"), this, &QueueCommands::Refresh);
    menu->addAction(QStringLiteral("Clear Queue"), this, &QueueCommands::ClearQueue);
    menu->addAction(QStringLiteral("Select All"), this, &QueueCommands::SelectAll);
    menu->addAction(QStringLiteral("De-Select All"), this, &QueueCommands::DeSelectAll);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Re-Download URL..."), this, &QueueCommands::ReDownload);
    menu->addAction(QStringLiteral("Remove Selection"), this, &QueueCommands::RemoveSelection);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Pause"), this, &QueueCommands::PauseSelection);
    menu->addAction(QStringLiteral("Resume"), this, &QueueCommands::ResumeSelection);
    menu->addAction(QStringLiteral("Open"), this, [this] { OpenSelection(m_mainView); });
    menu->addAction(QStringLiteral("Open Folder"), this, [this] { OpenSelectionFolder(m_mainView); });
    menu->addAction(QStringLiteral("Copy URL"), this, [this] { CopySelectionUrls(m_mainView); });
    return menu;
}

QMenu *QueueCommands::buildCompleteMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(QStringLiteral("Remove selection"), this, &QueueCommands::RemoveCompletedSelection);
    menu->addAction(QStringLiteral("Remove All"), this, &QueueCommands::RemoveAllCompleted);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Re-Download URL..."), this, &QueueCommands::ReDownloadCompleted);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Open"), this, [this] { OpenSelection(m_completeView); });
    menu->addAction(QStringLiteral("Open Folder"), this, [this] { OpenSelectionFolder(m_completeView); });
    menu->addAction(QStringLiteral("Copy URL"), this, [this] { CopySelectionUrls(m_completeView); });
    return menu;
}

QMenu *QueueCommands::buildDownloadsMenu(QWidget *parent)
{
    auto *menu = new QMenu(QStringLiteral("Downloads"), parent);
    menu->addAction(QStringLiteral("Re-Download"), this, &QueueCommands::ReDownload);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Pause All"), this, &QueueCommands::PauseAll);
    menu->addAction(QStringLiteral("Resume All"), this, &QueueCommands::ResumeAll);
    menu->addAction(QStringLiteral("Stop All"), this, &QueueCommands::StopAll);
    return menu;
}

void QueueCommands::showMenu(QMenu *menu, const QPoint &globalPos)
{
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void QueueCommands::addDropArea(QWidget *area)
{
    if (!area)
        return;
    area->setAcceptDrops(true);
    area->installEventFilter(this);
}

bool QueueCommands::eventFilter(QObject *watched, QEvent *event)
{
    auto *area = qobject_cast<QWidget *>(watched);
    if (!area)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (droppedText(drag->mimeData()).isEmpty())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString text = droppedText(drop->mimeData());
        if (text.isEmpty())
            return false;
        drop->acceptProposedAction();
        dropText(text);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() != Qt::RightButton)
            return false;
        showMenu(buildQueueMenu(area), press->globalPosition().toPoint());
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

bool QueueCommands::runToolbarCommand(const QString &command)
{
    if (command == QLatin1String("IDC_FS_ReDownload"))
        ReDownload();
    else if (command == QLatin1String("IDC_FS_PauseAll"))
        PauseAll();
    else if (command == QLatin1String("IDC_FS_ResumeAll"))
        ResumeAll();
    else if (command == QLatin1String("IDC_FS_StopAll"))
        StopAll();
    else
        return false;
    return true;
}

// ---------------------------------------------------------------- total rate

void QueueCommands::updateTotalRate()
{
    // Every running download counts, also one whose row was removed, and
    // an empty list shows zero once the last download has ended.
    m_totalRate = m_manager ? m_manager->totalRate() : 0.0;
    Q_EMIT totalRateChanged(m_totalRate, totalRateText());
}

QString QueueCommands::totalRateText() const
{
    return m_captions(QStringLiteral("01008"), QStringLiteral("Total Transfer Rate: "))
        + m_options.locale.toString(m_totalRate / 1000.0, 'f', 2) + QStringLiteral(" KB/s");
}
