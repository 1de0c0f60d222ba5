#include "ftpclient/ui/localpane.h"

#include "ftpclient/ui/filelistview.h"
#include "ftpclient/ui/frmfindfiles.h"
#include "ftpclient/ui/frmproperties.h"
#include "platform/prompts.h"
#include "platform/ui/shell.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QStandardItemModel>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

const QString LocalPane::DragMimeType = QStringLiteral("application/x-corvane-local-items");

namespace {

const QString ConfirmTitle = QStringLiteral("FTP Client[Confirm]");

// The wait pointer while a longer file system operation runs; the normal
// pointer comes back however the operation ends.
class WaitPointer {
public:
    WaitPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitPointer() { QApplication::restoreOverrideCursor(); }
    WaitPointer(const WaitPointer &) = delete;
    WaitPointer &operator=(const WaitPointer &) = delete;
};

QString kindLetter(LocalKind kind) { return kind == LocalKind::Folder ? QStringLiteral("D") : QStringLiteral("F"); }

} // namespace

LocalPane::LocalPane(Services services, QWidget *parent) : QWidget(parent), m_services(std::move(services))
{
    m_xLocalPaths = new clsLocalPaths(m_services.prompts, this);

    cboLocalPath = new QComboBox(this);
    cboLocalPath->setObjectName(QStringLiteral("cboLocalPath"));
    cboLocalPath->setEditable(true);
    cboLocalPath->setInsertPolicy(QComboBox::NoInsert);
    cboLocalPath->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboLocalPath->setMinimumContentsLength(16);
    cboLocalPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Suggestions in a popup and by exact case: an inline completion would
    // turn a typed "/tmp/" into some longer, upper-case entry on Enter.
    if (QCompleter *completer = cboLocalPath->completer()) {
        completer->setCompletionMode(QCompleter::PopupCompletion);
        completer->setCaseSensitivity(Qt::CaseSensitive);
    }

    cmdUpLocal = new QToolButton(this);
    cmdUpLocal->setObjectName(QStringLiteral("cmdUpLocal"));

    localModel = new QStandardItemModel(0, 4, this);
    localModel->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Size (bytes)"), QStringLiteral("Date"), QString()});

    lstLocalFileList = new FileListView(this);
    lstLocalFileList->setObjectName(QStringLiteral("lstLocalFileList"));
    lstLocalFileList->setModel(localModel);
    lstLocalFileList->setColumnWidth(ColName, 220);
    lstLocalFileList->setColumnWidth(ColSize, 90);
    lstLocalFileList->setColumnWidth(ColDate, 140);
    lstLocalFileList->setColumnWidth(ColKind, 0);
    lstLocalFileList->setDragEncoder([this](const QList<int> &rows) { return mimeDataForRows(rows); });

    auto *pathRow = new QHBoxLayout;
    pathRow->setContentsMargins(0, 0, 0, 0);
    pathRow->addWidget(cboLocalPath, 1);
    pathRow->addWidget(cmdUpLocal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(pathRow);
    layout->addWidget(lstLocalFileList, 1);

    buildMenus();
    cmdUpLocal->setDefaultAction(actUpLevel);

    connect(m_xLocalPaths, &clsLocalPaths::UpdateLocalEntry, this, &LocalPane::addEntry);
    connect(m_xLocalPaths, &clsLocalPaths::AddToLocalPaths, this, [this](const QString &path) {
        addPathToComboBox(path, path.toUpper());
    });
    connect(m_xLocalPaths, &clsLocalPaths::LogicalDriveFound, this, [this](const QString &drive) {
        if (findPathInCombo(drive) < 0)
            appendComboEntry(drive, drive.toUpper());
    });
    connect(m_xLocalPaths, &clsLocalPaths::messageLine, this, &LocalPane::messageLine);

    connect(cboLocalPath, &QComboBox::activated, this, &LocalPane::pathPicked);
    connect(cboLocalPath->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { GoToTypedPath(cboLocalPath->currentText()); });

    connect(lstLocalFileList, &FileListView::activated, this, &LocalPane::activateRow);
    connect(lstLocalFileList, &FileListView::selectionChanged, this, &LocalPane::UpdateLocalCommands);
    connect(lstLocalFileList, &FileListView::clicked, this, &LocalPane::UpdateLocalCommands);
    connect(lstLocalFileList, &FileListView::contextMenuRequested, this,
            [this](const QPoint &pos) { miLocal->popup(pos); });
    connect(lstLocalFileList, &FileListView::viewModeChanged, this, [this](int mode) {
        if (mode >= 0 && mode < actViews.size())
            actViews.at(mode)->setChecked(true);
        emit viewModeChanged(mode);
    });
    actViews.at(lstLocalFileList->viewMode())->setChecked(true);
    UpdateLocalCommands();
}

LocalPane::~LocalPane() = default;

void LocalPane::buildMenus()
{
    auto action = [this](const QString &text, void (LocalPane::*slot)()) {
        auto *a = new QAction(text, this);
        if (slot)
            connect(a, &QAction::triggered, this, slot);
        return a;
    };
    actRefresh = action(QStringLiteral("Refresh"), nullptr);
    connect(actRefresh, &QAction::triggered, this, [this] {
        RefreshLocalList();
        UpdateLocalCommands();
    });
    actOpenFile = action(QStringLiteral("Open File"), &LocalPane::OpenFile);
    actUpload = action(QStringLiteral("Upload File(s)"), nullptr);
    connect(actUpload, &QAction::triggered, this, [this] {
        const QList<LocalItem> items = selectedItems();
        if (!m_busy && m_connected && !items.isEmpty())
            emit sendItemsRequested(items);
    });
    actSynchronize = action(QStringLiteral("Synchronize Directory"), nullptr);
    actSynchronize->setEnabled(false);
    actErase = action(QStringLiteral("Erase"), &LocalPane::Erase);
    actRecycle = action(QStringLiteral("Delete To Recycle Bin"), &LocalPane::DeleteToRecycleBin);
    actRename = action(QStringLiteral("Rename File"), &LocalPane::RenameFile);
    actCreateFolder = action(QStringLiteral("Create Folder"), &LocalPane::CreateFolder);
    actFindFiles = action(QStringLiteral("Find File(s)"), &LocalPane::FindFiles);
    actProperties = action(QStringLiteral("Properties"), &LocalPane::Properties);
    actUpLevel = action(QStringLiteral("Go up a Directory Level"), &LocalPane::UpLevel);
    actUpLevel->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    actUpLevel->setToolTip(QStringLiteral("Go up a Directory Level"));
    actAllFiles = action(QStringLiteral("All Files (*.*)"), &LocalPane::ShowAllFiles);
    actDefineTypes = action(QStringLiteral("DefineTypes (*.?)"), &LocalPane::DefineTypeFilter);
    actEmptyRecycleBin = action(QStringLiteral("Empty Local Recycle Bin"), &LocalPane::EmptyRecycleBin);

    miLocal = new QMenu(QStringLiteral("Local"), this);
    miLocal->setObjectName(QStringLiteral("miLocal"));
    miLocal->addAction(actRefresh);
    miLocal->addAction(actOpenFile);
    miLocal->addAction(actUpload);
    miLocal->addAction(actSynchronize);
    miLocal->addSeparator();
    miLocal->addAction(actErase);
    miLocal->addAction(actRecycle);
    miLocal->addAction(actRename);
    miLocal->addAction(actCreateFolder);
    miLocal->addSeparator();
    miLocal->addAction(actFindFiles);
    miLocal->addAction(actProperties);
    miLocal->addAction(actUpLevel);
    miLocalFilters = miLocal->addMenu(QStringLiteral("Directory Filters"));
    miLocalFilters->addAction(actAllFiles);
    miLocalFilters->addAction(actDefineTypes);

    miLocalViews = new QMenu(QStringLiteral("Local"), this);
    auto *group = new QActionGroup(this);
    const QStringList viewTexts{QStringLiteral("Show Big Icons"), QStringLiteral("Show Small Icons"),
                                QStringLiteral("Show List"), QStringLiteral("Show Report")};
    for (int mode = 0; mode < viewTexts.size(); ++mode) {
        auto *a = new QAction(viewTexts.at(mode), this);
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, mode] { setViewMode(mode); });
        miLocalViews->addAction(a);
        actViews.append(a);
    }
}

void LocalPane::start(const QString &folder)
{
    m_xLocalPaths->RetrieveLogicalDrives();
    const QString first = localpath::withTrailingSlash(folder.isEmpty() ? QDir::homePath() : folder);
    if (!goTo(first, first))
        goTo(localpath::withTrailingSlash(QDir::homePath()), localpath::withTrailingSlash(QDir::homePath()));
    UpdateLocalCommands();
}

QString LocalPane::rowPath(int row) const
{
    return m_strLocalPath + localModel->item(row, ColName)->data(RealNameRole).toString();
}

QList<LocalItem> LocalPane::selectedItems() const
{
    QList<LocalItem> items;
    const QList<int> rows = lstLocalFileList->selectedRows();
    for (int row : rows) {
        const QStandardItem *item = localModel->item(row, ColName);
        LocalItem local;
        local.name = item->data(RealNameRole).toString();
        local.path = m_strLocalPath + local.name;
        local.kind = LocalKind(item->data(KindRole).toInt());
        local.isLink = item->data(LinkRole).toBool();
        local.text = item->text();
        items.append(local);
    }
    return items;
}

QMimeData *LocalPane::mimeDataForRows(const QList<int> &rows) const
{
    QJsonArray array;
    QList<QUrl> urls;
    for (int row : rows) {
        const QStandardItem *item = localModel->item(row, ColName);
        if (!item)
            continue;
        const QString name = item->data(RealNameRole).toString();
        array.append(QJsonObject{{QStringLiteral("name"), name},
                                 {QStringLiteral("path"), m_strLocalPath + name},
                                 {QStringLiteral("kind"), item->data(KindRole).toInt()},
                                 {QStringLiteral("link"), item->data(LinkRole).toBool()},
                                 {QStringLiteral("text"), item->text()}});
        urls.append(QUrl::fromLocalFile(m_strLocalPath + name));
    }
    if (array.isEmpty())
        return nullptr;
    auto *data = new QMimeData;
    data->setData(DragMimeType, QJsonDocument(array).toJson(QJsonDocument::Compact));
    data->setUrls(urls); // so the desktop's file manager takes the files too
    return data;
}

QList<LocalItem> LocalPane::itemsFromMimeData(const QMimeData *data)
{
    QList<LocalItem> items;
    if (!data)
        return items;
    if (data->hasFormat(DragMimeType)) {
        const QJsonArray array = QJsonDocument::fromJson(data->data(DragMimeType)).array();
        for (const QJsonValue &value : array) {
            const QJsonObject object = value.toObject();
            LocalItem item;
            item.name = object.value(QStringLiteral("name")).toString();
            item.path = object.value(QStringLiteral("path")).toString();
            const int kind = object.value(QStringLiteral("kind")).toInt();
            item.kind = kind == int(LocalKind::Folder) ? LocalKind::Folder : LocalKind::File;
            item.isLink = object.value(QStringLiteral("link")).toBool();
            item.text = object.value(QStringLiteral("text")).toString();
            if (!item.name.isEmpty() && item.path.startsWith(QLatin1Char('/')))
                items.append(item);
        }
        return items;
    }
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!path.startsWith(QLatin1Char('/')) || path == QLatin1String("/"))
            continue;
        items.append(localpath::itemForPath(path));
    }
    return items;
}

void LocalPane::setConnected(bool connected)
{
    m_connected = connected;
    UpdateLocalCommands();
}

void LocalPane::setBusy(bool busy)
{
    m_busy = busy;
    UpdateLocalCommands();
}

void LocalPane::addEntry(const LocalEntry &entry)
{
    const LocalKind kind = entry.kind();
    const bool folder = kind == LocalKind::Folder;
    auto *name = new QStandardItem(folder ? entry.name.toUpper() : entry.name);
    name->setIcon(rowIcon(folder, entry.isLink));
    name->setData(entry.name, RealNameRole);
    name->setData(int(kind), KindRole);
    name->setData(entry.isLink, LinkRole);
    name->setToolTip(entry.isLink ? entry.name + QStringLiteral(" -> ") + entry.linkTarget : entry.name);
    name->setEditable(false);

    auto *size = new QStandardItem(folder || entry.attributes == -1 ? QString() : QString::number(entry.size));
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *date = new QStandardItem(entry.modified.isValid() ? QLocale().toString(entry.modified, QLocale::ShortFormat)
                                                            : QString());
    auto *letter = new QStandardItem(kindLetter(kind));
    for (QStandardItem *item : {size, date, letter})
        item->setEditable(false);
    localModel->appendRow({name, size, date, letter});
}

QIcon LocalPane::rowIcon(bool folder, bool link)
{
    const int key = (folder ? 2 : 0) + (link ? 1 : 0);
    if (m_icons[key].isNull()) {
        const QIcon plain = style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
        if (!link) {
            m_icons[key] = plain;
        } else {
            // The style draws its link marker at small sizes only; the big
            // icons view shows the plain picture instead of a shrunken one.
            const QIcon marked = style()->standardIcon(folder ? QStyle::SP_DirLinkIcon : QStyle::SP_FileLinkIcon);
            QIcon icon;
            icon.addPixmap(marked.pixmap(16, 16));
            icon.addPixmap(plain.pixmap(32, 32));
            m_icons[key] = icon;
        }
    }
    return m_icons[key];
}

int LocalPane::findPathInCombo(const QString &path) const
{
    // Real paths are compared exactly: this file system tells "a" from "A".
    for (int i = 0; i < cboLocalPath->count(); ++i) {
        if (cboLocalPath->itemData(i, RealPathRole).toString() == path)
            return i;
    }
    return -1;
}

void LocalPane::addPathToComboBox(const QString &path, const QString &display)
{
    int index = findPathInCombo(path);
    if (index < 0)
        index = appendComboEntry(path, display);
    cboLocalPath->setCurrentIndex(index);
}

int LocalPane::appendComboEntry(const QString &path, const QString &display)
{
    cboLocalPath->addItem(display);
    const int index = cboLocalPath->count() - 1;
    cboLocalPath->setItemData(index, path, RealPathRole);
    cboLocalPath->setItemData(index, path, Qt::ToolTipRole);
    return index;
}

bool LocalPane::ChangeCurrentLocalFolder(const QString &sNewLocalPath)
{
    return changeFolder(sNewLocalPath, sNewLocalPath);
}

bool LocalPane::changeFolder(const QString &sNewLocalPath, const QString &display)
{
    const QString path = localpath::withTrailingSlash(sNewLocalPath);
    const QFileInfo info(path);
    QString description;
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        description = QStringLiteral("The path is not a full path.");
    else if (!info.exists())
        description = QStringLiteral("The folder does not exist.");
    else if (!info.isDir())
        description = QStringLiteral("The path is not a folder.");
    if (!description.isEmpty()) {
        emit messageLine(QStringLiteral("Error while attempting to change current local folder to '") + path
                         + QStringLiteral("'. Description: ") + description);
        emit statusText(QStringLiteral("Could not change current local folder."));
        return false;
    }
    m_strLocalPath = path;
    addPathToComboBox(path, localpath::withTrailingSlash(display));
    emit statusText(QStringLiteral("Local folder changed to ") + path);
    emit currentPathChanged(path);
    return true;
}

bool LocalPane::goTo(const QString &path, const QString &display)
{
    if (!changeFolder(path, display))
        return false;
    ClearLocalList();
    m_xLocalPaths->RetrieveLocalFolderContents(m_strLocalPath);
    UpdateLocalCommands();
    return true;
}

void LocalPane::ClearLocalList()
{
    localModel->removeRows(0, localModel->rowCount());
}

void LocalPane::RefreshLocalList()
{
    if (m_strLocalPath.isEmpty())
        return;
    ClearLocalList();
    m_xLocalPaths->RetrieveLocalFolderContents(m_strLocalPath);
}

void LocalPane::UpdateLocalCommands()
{
    const QList<int> rows = lstLocalFileList->selectedRows();
    const int n = int(rows.size());
    const bool selected = n > 0;
    const LocalKind k = n == 1 ? LocalKind(localModel->item(rows.first(), ColName)->data(KindRole).toInt())
                               : LocalKind::None;
    const bool free = !m_busy;
    actErase->setEnabled(free && selected && (k == LocalKind::File || n > 1));
    actRename->setEnabled(free && selected && k == LocalKind::File);
    actCreateFolder->setEnabled(free);
    actUpload->setEnabled(free && m_connected && selected);
    actRecycle->setEnabled(free && selected);
    for (QAction *a : {actRefresh, actUpLevel, actFindFiles, actAllFiles, actDefineTypes, actEmptyRecycleBin})
        a->setEnabled(free);
    cboLocalPath->setEnabled(free);
}

void LocalPane::pathPicked(int index)
{
    if (m_busy || index < 0)
        return;
    const QString path = cboLocalPath->itemData(index, RealPathRole).toString();
    if (!path.isEmpty() && path != m_strLocalPath)
        goTo(path, cboLocalPath->itemText(index));
}

void LocalPane::GoToTypedPath(const QString &text)
{
    if (m_busy || text.trimmed().isEmpty())
        return;
    // An entry's upper-case text typed back (or left in the box) means the
    // entry's real folder, unless the text names a folder of its own.
    QString path = localpath::fromTyped(text, m_strLocalPath);
    if (!QFileInfo(path).isDir()) {
        for (int i = 0; i < cboLocalPath->count(); ++i) {
            if (cboLocalPath->itemText(i) == text.trimmed()) {
                path = cboLocalPath->itemData(i, RealPathRole).toString();
                break;
            }
        }
    }
    if (path == m_strLocalPath) {
        addPathToComboBox(path, path); // the box shows the folder again
        return;
    }
    goTo(path, path);
}

void LocalPane::UpLevel()
{
    if (m_busy)
        return;
    const QString parent = localpath::parentFolder(m_strLocalPath);
    if (parent.isEmpty()) {
        emit statusText(QStringLiteral("Local path already at root folder."));
        return;
    }
    goTo(parent, parent);
}

void LocalPane::activateRow(int row)
{
    if (m_busy || row < 0 || row >= localModel->rowCount())
        return;
    const QStandardItem *item = localModel->item(row, ColName);
    const QString name = item->data(RealNameRole).toString();
    if (LocalKind(item->data(KindRole).toInt()) == LocalKind::Folder) {
        const QString path = m_strLocalPath + name + QLatin1Char('/');
        const bool ok = goTo(path, path.toUpper());
        emit statusText(ok ? QStringLiteral("Local folder changed.") : QStringLiteral("Could not change local folder."));
        return;
    }
    if (!m_connected) {
        emit statusText(QStringLiteral("Cannot upload file(s) when not connected."));
        return;
    }
    const PromptAnswer answer = m_services.prompts->ask(QStringLiteral("Upload file '") + name + QStringLiteral("'?"),
                                                        ConfirmTitle, PromptButtons::YesNo);
    if (answer == PromptAnswer::Yes) {
        QList<LocalItem> items = selectedItems();
        if (items.isEmpty()) { // Enter on a current row that is not selected
            lstLocalFileList->selectRow(row);
            items = selectedItems();
        }
        emit sendItemsRequested(items);
    } else {
        emit statusText(QStringLiteral("File(s) not uploaded to FTP server."));
    }
}

QString LocalPane::ShowInputDialog(const QString &prompt, const QString &title, const QString &defaultText)
{
    return m_services.prompts->input({prompt, title, defaultText, false, this}).value_or(QString());
}

void LocalPane::OpenFile()
{
    const QList<LocalItem> items = selectedItems();
    if (items.isEmpty() || !m_services.shell)
        return;
    const int current = lstLocalFileList->currentRow();
    const bool currentSelected = lstLocalFileList->selectedRows().contains(current);
    m_services.shell->openFile(currentSelected ? rowPath(current) : items.first().path);
}

void LocalPane::Erase()
{
    if (m_busy)
        return;
    const QList<LocalItem> items = selectedItems();
    if (items.isEmpty())
        return;
    const PromptAnswer answer = m_services.prompts->ask(
        QStringLiteral("Are you sure you want to delete the selected local file(s)?"), ConfirmTitle,
        PromptButtons::YesNo);
    if (answer != PromptAnswer::Yes) {
        emit statusText(QStringLiteral("Local file(s) not deleted."));
        return;
    }
    for (const LocalItem &item : items)
        m_xLocalPaths->DeleteLocalFile(item.path);
    RefreshLocalList();
    UpdateLocalCommands();
    emit statusText(QStringLiteral("Local file(s) deleted."));
}

void LocalPane::DeleteToRecycleBin()
{
    if (m_busy)
        return;
    const QList<LocalItem> items = selectedItems();
    if (items.isEmpty())
        return;
    const PromptAnswer answer = m_services.prompts->ask(QStringLiteral("do u want to send this files to recycle bin"),
                                                        ConfirmTitle, PromptButtons::YesNo);
    if (answer != PromptAnswer::Yes)
        return;
    const WaitPointer wait;
    for (const LocalItem &item : items) {
        QString error;
        if (!localpath::moveToTrash(item.path, &error) && !error.isEmpty())
            emit messageLine(QStringLiteral("Error no") + QLatin1Char(' ') + error);
    }
    RefreshLocalList();
    UpdateLocalCommands();
}

void LocalPane::RenameFile()
{
    if (m_busy)
        return;
    const QList<int> rows = lstLocalFileList->selectedRows();
    if (rows.isEmpty())
        return;
    const int current = lstLocalFileList->currentRow();
    const QString path = rowPath(rows.contains(current) ? current : rows.first());
    const PromptAnswer answer = m_services.prompts->ask(QStringLiteral("Rename local file ") + path + QLatin1Char('?'),
                                                        ConfirmTitle, PromptButtons::YesNo);
    const QString newName =
        answer == PromptAnswer::Yes
            ? ShowInputDialog(QStringLiteral("Enter the new name for ") + path, m_services.appTitle, QString())
            : QString();
    if (newName.isEmpty()) {
        emit statusText(QStringLiteral("Local file not renamed."));
        return;
    }
    m_xLocalPaths->RenameLocalFile(path, m_strLocalPath + newName);
    RefreshLocalList();
    UpdateLocalCommands();
    emit statusText(QStringLiteral("Local file renamed."));
}

void LocalPane::CreateFolder()
{
    if (m_busy)
        return;
    const QString name = ShowInputDialog(QStringLiteral("Enter the name of the local folder you wish to create."),
                                         m_services.appTitle, QString());
    if (name.isEmpty()) {
        emit statusText(QStringLiteral("Local folder not renamed."));
        return;
    }
    m_xLocalPaths->CreateLocalFolder(m_strLocalPath + name);
    RefreshLocalList();
    UpdateLocalCommands();
    emit statusText(QStringLiteral("Local folder renamed."));
}

void LocalPane::FindFiles()
{
    if (m_busy)
        return;
    if (!m_findDialog) {
        m_findDialog = new frmFindFiles(m_services.prompts, m_strLocalPath, this);
        m_findDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_findDialog, &frmFindFiles::showFolderRequested, this,
                [this](const QString &folder, const QString &name) { showInFolder(folder, name); });
    } else {
        m_findDialog->setFolder(m_strLocalPath);
    }
    m_findDialog->show();
    m_findDialog->raise();
    m_findDialog->activateWindow();
}

bool LocalPane::showInFolder(const QString &folder, const QString &name)
{
    if (m_busy)
        return false;
    const QString path = localpath::withTrailingSlash(folder);
    if (path != m_strLocalPath && !goTo(path, path))
        return false;
    if (path == m_strLocalPath && localModel->rowCount() == 0)
        RefreshLocalList();
    for (int row = 0; row < localModel->rowCount(); ++row) {
        if (localModel->item(row, ColName)->data(RealNameRole).toString() == name) {
            lstLocalFileList->selectRow(row);
            lstLocalFileList->currentView()->scrollTo(localModel->index(row, 0));
            break;
        }
    }
    UpdateLocalCommands();
    return true;
}

void LocalPane::Properties()
{
    const QList<int> rows = lstLocalFileList->selectedRows();
    if (rows.isEmpty()) {
        m_services.prompts->inform(QStringLiteral("Properties of what, Please select an item?"), m_services.appTitle);
        return;
    }
    const int current = lstLocalFileList->currentRow();
    auto *dialog = new frmProperties(localpath::properties(rowPath(rows.contains(current) ? current : rows.first())),
                                     this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void LocalPane::ShowAllFiles()
{
    if (m_busy)
        return;
    ClearLocalList();
    m_xLocalPaths->RetrieveLocalFolderContents(m_strLocalPath);
    UpdateLocalCommands();
}

void LocalPane::DefineTypeFilter()
{
    if (m_busy)
        return;
    const QString mask = ShowInputDialog(QStringLiteral("Please enter the type ex: *.gif"),
                                         QStringLiteral("Define Type For Local Server Directory Listing"),
                                         QStringLiteral("*.*"));
    if (mask.isEmpty()) {
        m_services.prompts->inform(QStringLiteral("No command entered, quiting"), m_services.appTitle,
                                   PromptIcon::Information);
        return;
    }
    ClearLocalList();
    m_xLocalPaths->RetrieveDefinedLocalFolderContents(m_strLocalPath, mask);
    UpdateLocalCommands();
}

void LocalPane::EmptyRecycleBin()
{
    if (m_busy)
        return;
    const PromptAnswer answer = m_services.prompts->ask(
        QStringLiteral("Empty the local recycle bin? Everything in it will be deleted for good."), ConfirmTitle,
        PromptButtons::YesNo);
    if (answer != PromptAnswer::Yes)
        return;
    const WaitPointer wait;
    QString error;
    if (!localpath::emptyTrash(&error) && !error.isEmpty())
        emit messageLine(QStringLiteral("Error ") + error);
}

void LocalPane::setViewMode(int mode)
{
    lstLocalFileList->setViewMode(mode);
}

int LocalPane::viewMode() const { return lstLocalFileList->viewMode(); }
