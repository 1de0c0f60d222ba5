#include "shell/corvane/frmmain.h"

#include "config/cregister.h"
#include "ftp/listing.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/remotelistmodel.h"
#include "ftpclient/remoteops.h"
#include "ftpclient/ui/filelistview.h"
#include "ftpclient/ui/frmConnectionInfo.h"
#include "ftpclient/ui/frmftpexist.h"
#include "ftpclient/ui/frmremotechangemode.h"
#include "ftpclient/ui/localpane.h"
#include "platform/certificatequestion.h"
#include "platform/programdir.h"
#include "platform/prompts.h"
#include "platform/ui/skinform.h"
#include "platform/ui/toolbarmovie.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString ProgramTitle = QStringLiteral("FTP Client");
const QString QueryTitle = ProgramTitle + QStringLiteral("[Query]");
const QString ConfirmTitle = ProgramTitle + QStringLiteral("[Confirm]");
const QString ConnectedVar = QStringLiteral("_root.Connected");
const QString StatusVar = QStringLiteral("_root.status_txt.text");
const QString ProgressVar = QStringLiteral("_root.Progress_mc._xscale");
const QString ProgramVar = QStringLiteral("_root.Program");
const QString DefaultPort = QStringLiteral("21");
// How often, and how many times, a disconnect waiting for an aborted call
// looks at the component's state (30 s in all).
constexpr std::chrono::milliseconds DisconnectCheckPeriod{50};
constexpr int DisconnectChecks = 600;

// The hourglass while long work runs; the normal pointer when it ends.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

bool isNumeric(const QString &text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

QPushButton *makeButton(const QString &name, const QString &text)
{
    auto *button = new QPushButton(text);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *makeEdit(const QString &name)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(name);
    return edit;
}

QGroupBox *makeFrame(const QString &name, const QString &caption)
{
    auto *frame = new QGroupBox(caption);
    frame->setObjectName(name);
    return frame;
}

// The remote rows with the icons of their kinds (file, folder, link) and the
// real name as the name cell's tooltip.
class RemoteIconModel final : public QIdentityProxyModel {
public:
    RemoteIconModel(QAbstractItemModel *rows, QObject *parent) : QIdentityProxyModel(parent)
    {
        setSourceModel(rows);
        const QStyle *style = QApplication::style();
        m_icons[0] = style->standardIcon(QStyle::SP_FileIcon);
        m_icons[1] = style->standardIcon(QStyle::SP_DirIcon);
        m_icons[2] = style->standardIcon(QStyle::SP_FileLinkIcon);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (index.column() == RemoteListModel::NameColumn) {
            if (role == Qt::DecorationRole) {
                switch (RemoteKind(index.data(RemoteListModel::KindRole).toInt())) {
                case RemoteKind::File: return m_icons[0];
                case RemoteKind::Folder: return m_icons[1];
                case RemoteKind::Link: return m_icons[2];
                case RemoteKind::None: return {};
                }
            }
            if (role == Qt::ToolTipRole)
                return index.data(RemoteListModel::NameRole);
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    QIcon m_icons[3];
};

} // namespace

QString frmMain::remoteRowsMimeType()
{
    return QStringLiteral("application/x-corvane-remote-rows");
}

frmMain::frmMain(Services services, QWidget *parent) : QMainWindow(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmMain"));
    // The window caption and the tray's tooltip take the title; the window
    // and the tray show the program's mark.
    setWindowTitle(m_services.appTitle);
    setWindowIcon(tintedToolbarIcon(QStringLiteral("corvane"), 64, QColor(0x1f, 0x5f, 0x9f), QColor(Qt::gray)));
    strLocalPath = m_services.localPath.isEmpty() ? QDir::homePath() : m_services.localPath;
    if (!strLocalPath.endsWith(QLatin1Char('/')))
        strLocalPath += QLatin1Char('/');

    RemoteOps::Services rs;
    rs.xFtp = m_services.xFtp;
    rs.prompts = m_services.prompts;
    rs.owner = this;
    rs.abort = [this] { Abort(); };
    m_remote = std::make_unique<RemoteOps>(rs);

    Transfers::Services ts;
    ts.xFtp = m_services.xFtp;
    ts.remote = m_remote.get();
    ts.prompts = m_services.prompts;
    ts.owner = this;
    ts.reg = m_services.reg;
    ts.clock = m_services.clock;
    ts.existPrompt = m_services.existPrompt;
    if (!ts.existPrompt) {
        // The window's own prompt, loaded on first use and kept hidden
        // between uses.
        ts.existPrompt = [this](const ExistRequest &request) {
            auto *dialog = findChild<corvane::frmExist *>();
            if (!dialog)
                dialog = new corvane::frmExist(m_services.reg, this);
            return dialog->ask(request);
        };
    }
    m_transfers = std::make_unique<Transfers>(ts);

    buildControls();
    buildMenus();
    updateHookActions();
    buildCommands();
    connectComponent();
    connectEngines();
    buildTray();

    // The toolbar knows which program it is in; the progress starts at 0.
    setMovieVariable(ProgramVar, QStringLiteral("FTP"));
    if (m_services.hooks.logMaintenance)
        m_services.hooks.logMaintenance();
    // The ASCII extensions of the automatic mode, read once.
    m_transfers->LoadAutoTypes();
    m_languageFile = m_services.reg ? m_services.reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection,
                                                                    QStringLiteral("Language"), QString())
                                    : QString();
    if (m_languageFile.isEmpty())
        m_languageFile = QStringLiteral("English.ini");

    SetConnectedState(false);
    SetAbortEnabled(false);
    UpdateRemoteCommands();
    setProgress(0);
    showOverlay(false);
    frameCustomCommand->hide(); // the panel's Close
    optAuto->setChecked(true);
    m_transfers->setMode(TransferMode::Auto);
    // The local folder: the drives, then the start folder, listed.
    m_local->start(strLocalPath);
    strLocalPath = m_local->currentPath();
    UpdateLocalCommands();
    restoreGeometryFromStore();
    SkinForm(this, MainWindowSkinName, SkinFlavour::CorvaneMain);
}

frmMain::~frmMain()
{
    // The lists go before the rows they show.
    delete takeCentralWidget();
}

void frmMain::buildControls()
{
    m_toolbar = new ToolbarMovie;
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->load(joinPath(m_services.programDir, QStringLiteral("QFTP.swf")));
    connect(m_toolbar, &ToolbarMovie::commandTriggered, this, &frmMain::runCommand);

    frameQuickConnect = makeFrame(QStringLiteral("frameQuickConnect"), QStringLiteral("Quick Connect"));
    txtQaddress = makeEdit(QStringLiteral("txtQaddress"));
    txtQport = makeEdit(QStringLiteral("txtQport"));
    txtQport->setText(DefaultPort);
    txtQport->setMaximumWidth(70);
    txtQuser = makeEdit(QStringLiteral("txtQuser"));
    txtQpassword = makeEdit(QStringLiteral("txtQpassword"));
    txtQpassword->setEchoMode(QLineEdit::Password);
    cmdQConnect = makeButton(QStringLiteral("cmdQConnect"), QStringLiteral("Q Connect"));
    connect(txtQport, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!isNumeric(text))
            txtQport->setText(DefaultPort);
    });
    connect(cmdQConnect, &QPushButton::clicked, this, &frmMain::QuickConnect);
    for (QLineEdit *edit : {txtQaddress, txtQport, txtQuser, txtQpassword})
        connect(edit, &QLineEdit::returnPressed, cmdQConnect, &QPushButton::click);
    cmdConnect = makeButton(QStringLiteral("cmdConnect"), QStringLiteral("&Connect"));
    cmdConnect->setToolTip(QStringLiteral("Open the site manager"));
    cmdDisconnect = makeButton(QStringLiteral("cmdDisconnect"), QStringLiteral("&Disconnect"));
    cmdAbort = makeButton(QStringLiteral("cmdAbort"), QStringLiteral("Abort"));
    connect(cmdConnect, &QPushButton::clicked, this, &frmMain::ConnectFromProfile);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmMain::DisconnectFromServer);
    connect(cmdAbort, &QPushButton::clicked, this, &frmMain::Abort);
    auto *quick = new QHBoxLayout(frameQuickConnect);
    quick->addWidget(new QLabel(QStringLiteral("Host")));
    quick->addWidget(txtQaddress, 3);
    quick->addWidget(new QLabel(QStringLiteral("Port")));
    quick->addWidget(txtQport);
    quick->addWidget(new QLabel(QStringLiteral("User")));
    quick->addWidget(txtQuser, 2);
    quick->addWidget(new QLabel(QStringLiteral("Password")));
    quick->addWidget(txtQpassword, 2);
    quick->addWidget(cmdQConnect);
    quick->addSpacing(12);
    quick->addWidget(cmdConnect);
    quick->addWidget(cmdDisconnect);
    quick->addWidget(cmdAbort);

    // The file lists: the local pane, the transfer buttons and modes, the
    // remote pane.
    LocalPane::Services ls;
    ls.prompts = m_services.prompts;
    ls.shell = m_services.shell;
    ls.appTitle = m_services.appTitle;
    m_local = new LocalPane(ls);
    m_local->setObjectName(QStringLiteral("localPane"));

    cmdSend = makeButton(QStringLiteral("cmdSend"), QStringLiteral("->"));
    cmdSend->setToolTip(QStringLiteral("Upload File(s)"));
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::SendSelectedFiles);
    cmdReceive = makeButton(QStringLiteral("cmdReceive"), QStringLiteral("<-"));
    cmdReceive->setToolTip(QStringLiteral("Download File(s)"));
    connect(cmdReceive, &QPushButton::clicked, this, &frmMain::ReceiveSelectedFiles);
    optAscii = new QRadioButton(QStringLiteral("ASCII"));
    optAscii->setObjectName(QStringLiteral("optAscii"));
    optAscii->setToolTip(QStringLiteral("ASCII transfer mode"));
    optBinary = new QRadioButton(QStringLiteral("Binary"));
    optBinary->setObjectName(QStringLiteral("optBinary"));
    optBinary->setToolTip(QStringLiteral("Binary transfer mode"));
    optAuto = new QRadioButton(QStringLiteral("Auto"));
    optAuto->setObjectName(QStringLiteral("optAuto"));
    auto *modes = new QButtonGroup(this);
    modes->addButton(optAscii);
    modes->addButton(optBinary);
    modes->addButton(optAuto);
    connect(optAscii, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_transfers->setMode(TransferMode::Ascii);
    });
    connect(optBinary, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_transfers->setMode(TransferMode::Binary);
    });
    connect(optAuto, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_transfers->setMode(TransferMode::Auto);
    });
    auto *middle = new QWidget;
    auto *middleLayout = new QVBoxLayout(middle);
    middleLayout->setContentsMargins(2, 0, 2, 0);
    middleLayout->addStretch();
    middleLayout->addWidget(cmdSend);
    middleLayout->addWidget(cmdReceive);
    middleLayout->addSpacing(12);
    middleLayout->addWidget(optAscii);
    middleLayout->addWidget(optBinary);
    middleLayout->addWidget(optAuto);
    middleLayout->addStretch();

    FrameMainLists = makeFrame(QStringLiteral("FrameMainLists"), QString());
    m_panesSplitter = new QSplitter(Qt::Horizontal);
    m_panesSplitter->setObjectName(QStringLiteral("panesSplitter"));
    m_panesSplitter->setChildrenCollapsible(false);
    m_panesSplitter->addWidget(m_local);
    m_panesSplitter->addWidget(middle);
    m_panesSplitter->addWidget(buildRemotePane());
    m_panesSplitter->setStretchFactor(0, 1);
    m_panesSplitter->setStretchFactor(1, 0);
    m_panesSplitter->setStretchFactor(2, 1);
    auto *listsLayout = new QVBoxLayout(FrameMainLists);
    listsLayout->setContentsMargins(4, 4, 4, 4);
    listsLayout->addWidget(m_panesSplitter);

    frameLog = makeFrame(QStringLiteral("frameLog"), QStringLiteral("Connection Log"));
    lstConnectionInfo = new QListWidget;
    lstConnectionInfo->setObjectName(QStringLiteral("lstConnectionInfo"));
    lstConnectionInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto *logLayout = new QVBoxLayout(frameLog);
    logLayout->addWidget(lstConnectionInfo);

    // The custom command panel's place; the panel itself is put into it.
    frameCustomCommand = makeFrame(QStringLiteral("frameCustomCommand"), QStringLiteral("Custom Command"));
    new QVBoxLayout(frameCustomCommand);

    m_listsSplitter = new QSplitter(Qt::Vertical);
    m_listsSplitter->setObjectName(QStringLiteral("listsSplitter"));
    m_listsSplitter->setChildrenCollapsible(false);
    m_listsSplitter->addWidget(FrameMainLists);
    m_listsSplitter->addWidget(frameLog);
    m_listsSplitter->addWidget(frameCustomCommand);
    m_listsSplitter->setStretchFactor(0, 3);
    m_listsSplitter->setStretchFactor(1, 1);
    m_listsSplitter->setStretchFactor(2, 0);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->addWidget(m_toolbar);
    layout->addWidget(frameQuickConnect);
    layout->addWidget(m_listsSplitter, 1);
    setCentralWidget(central);

    lblStatus = new QLabel;
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(100);
    lblRate = new QLabel;
    lblRate->setObjectName(QStringLiteral("lblRate"));
    prgStatus = new QProgressBar;
    prgStatus->setObjectName(QStringLiteral("prgStatus"));
    prgStatus->setRange(0, 100);
    prgStatus->setMaximumWidth(200);
    statusBar()->addWidget(lblStatus, 1);
    statusBar()->addPermanentWidget(lblRate);
    statusBar()->addPermanentWidget(prgStatus);

    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    tmrRefresh->setSingleShot(true);
    tmrRefresh->setInterval(m_services.refreshDelay);
    connect(tmrRefresh, &QTimer::timeout, this, [this] {
        asCall([this] { m_remote->RefreshRemoteList(); });
        UpdateRemoteCommands();
    });
    tmrDisconnect = new QTimer(this);
    tmrDisconnect->setObjectName(QStringLiteral("tmrDisconnect"));
    tmrDisconnect->setInterval(DisconnectCheckPeriod);
    connect(tmrDisconnect, &QTimer::timeout, this, &frmMain::disconnectCheck);
    resize(1000, 720);
}

QWidget *frmMain::buildRemotePane()
{
    cboRemotePath = new QComboBox;
    cboRemotePath->setObjectName(QStringLiteral("cboRemotePath"));
    cboRemotePath->setEditable(true);
    cboRemotePath->setInsertPolicy(QComboBox::NoInsert);
    cboRemotePath->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboRemotePath->setMinimumContentsLength(10);
    connect(cboRemotePath->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { RemotePathEntered(cboRemotePath->currentText()); });
    connect(cboRemotePath, &QComboBox::activated, this,
            [this](int index) { RemotePathEntered(cboRemotePath->itemText(index)); });
    cmdUpFtp = new QToolButton;
    cmdUpFtp->setObjectName(QStringLiteral("cmdUpFtp"));
    cmdUpFtp->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    cmdUpFtp->setToolTip(QStringLiteral("Go Up a Directory Level"));
    connect(cmdUpFtp, &QToolButton::clicked, this, &frmMain::GoUpOneLevel);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(cboRemotePath, 1);
    pathRow->addWidget(cmdUpFtp);

    lstRemoteFileList = new FileListView;
    lstRemoteFileList->setObjectName(QStringLiteral("lstRemoteFileList"));
    lstRemoteFileList->setModel(new RemoteIconModel(m_remote->pane(), this));
    lstRemoteFileList->setViewMode(FileListView::Report);
    lstRemoteFileList->setColumnWidth(RemoteListModel::NameColumn, 200);
    lstRemoteFileList->setColumnWidth(RemoteListModel::SizeColumn, 90);
    lstRemoteFileList->setColumnWidth(RemoteListModel::DateColumn, 150);
    lstRemoteFileList->setColumnWidth(RemoteListModel::KindColumn, 0);
    lstRemoteFileList->setDragEncoder([this](const QList<int> &rows) { return encodeRemoteRows(rows); });
    lstRemoteFileList->setAcceptedDropTypes({LocalPane::DragMimeType, QStringLiteral("text/uri-list")});
    connect(lstRemoteFileList, &FileListView::activated, this, &frmMain::RemoteDoubleClick);
    connect(lstRemoteFileList, &FileListView::selectionChanged, this, &frmMain::UpdateRemoteCommands);
    connect(lstRemoteFileList, &FileListView::contextMenuRequested, this, [this](const QPoint &pos) {
        if (miRemote->isEnabled())
            miRemote->popup(pos);
    });
    connect(lstRemoteFileList, &FileListView::dropReceived, this,
            [this](const QMimeData *data, int) { remoteDrop(data); }, Qt::DirectConnection);

    auto *pane = new QWidget;
    auto *paneLayout = new QVBoxLayout(pane);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->addLayout(pathRow);
    paneLayout->addWidget(lstRemoteFileList, 1);

    // The overlay: a snapshot of the pane that stays in front while long
    // operations keep changing the remote folder.
    cmbDel = new QComboBox;
    cmbDel->setObjectName(QStringLiteral("cmbDel"));
    cmbDel->setEditable(true);
    cmbDel->setEnabled(false);
    lstDel = new FileListView;
    lstDel->setObjectName(QStringLiteral("lstDel"));
    lstDel->setModel(new RemoteIconModel(m_remote->overlay(), this));
    lstDel->setColumnWidth(RemoteListModel::NameColumn, 200);
    lstDel->setColumnWidth(RemoteListModel::SizeColumn, 90);
    lstDel->setColumnWidth(RemoteListModel::DateColumn, 150);
    lstDel->setColumnWidth(RemoteListModel::KindColumn, 0);
    auto *overlay = new QWidget;
    auto *overlayLayout = new QVBoxLayout(overlay);
    overlayLayout->setContentsMargins(0, 0, 0, 0);
    overlayLayout->addWidget(cmbDel);
    overlayLayout->addWidget(lstDel, 1);

    m_remoteStack = new QStackedWidget;
    m_remoteStack->setObjectName(QStringLiteral("remotePane"));
    m_remoteStack->addWidget(pane);
    m_remoteStack->addWidget(overlay);
    return m_remoteStack;
}

void frmMain::showOverlay(bool visible)
{
    if (visible) {
        cmbDel->setEditText(cboRemotePath->currentText());
        lstDel->setViewMode(lstRemoteFileList->viewMode());
    }
    m_remoteStack->setCurrentIndex(visible ? 1 : 0);
    lstDel->setVisible(visible);
    cmbDel->setVisible(visible);
}

void frmMain::connectEngines()
{
    RemoteOps *remote = m_remote.get();
    connect(remote, &RemoteOps::status, this, &frmMain::StatusBarInfo);
    connect(remote, &RemoteOps::message, this, &frmMain::DisplayMessage);
    connect(remote, &RemoteOps::abortEnabled, this, &frmMain::SetAbortEnabled);
    connect(remote, &RemoteOps::remotePathAdded, this,
            [this](const QString &path) { AddPathToComboBox(path, cboRemotePath); });
    connect(remote, &RemoteOps::remotePathShown, this, [this](const QString &path) { cboRemotePath->setEditText(path); });
    connect(remote, &RemoteOps::overlayVisible, this, &frmMain::showOverlay);
    connect(remote, &RemoteOps::remoteCommandsChanged, this, &frmMain::UpdateRemoteCommands);

    Transfers *transfers = m_transfers.get();
    connect(transfers, &Transfers::status, this, &frmMain::StatusBarInfo);
    connect(transfers, &Transfers::message, this, &frmMain::DisplayMessage);
    connect(transfers, &Transfers::abortEnabled, this, &frmMain::SetAbortEnabled);
    connect(transfers, &Transfers::progress, this, &frmMain::setProgress);
    connect(transfers, &Transfers::rate, this, &frmMain::showRate);
    connect(transfers, &Transfers::localRelistRequested, this, [this] { m_local->RefreshLocalList(); });

    // The hourglass follows the engines' own busy state.
    connect(remote, &RemoteOps::busyChanged, this, &frmMain::setWaitCursor);
    connect(transfers, &Transfers::busyChanged, this, &frmMain::setWaitCursor);

    connect(m_local, &LocalPane::statusText, this, &frmMain::StatusBarInfo);
    connect(m_local, &LocalPane::messageLine, this, &frmMain::DisplayMessage);
    connect(m_local, &LocalPane::sendItemsRequested, this, &frmMain::SendItems);
    connect(m_local, &LocalPane::currentPathChanged, this, [this](const QString &path) { strLocalPath = path; });
    connect(m_local->lstLocalFileList, &FileListView::selectionChanged, this, &frmMain::UpdateLocalCommands);
    m_local->lstLocalFileList->setAcceptedDropTypes({remoteRowsMimeType()});
    connect(m_local->lstLocalFileList, &FileListView::dropReceived, this, [this](const QMimeData *data, int) {
        // The dropped rows are the remote pane's selection: receive it once
        // the drag has ended.
        if (data->hasFormat(remoteRowsMimeType()))
            QTimer::singleShot(0, this, [this] { ReceiveSelectedFiles(); });
    }, Qt::DirectConnection);
}

// ---- reporting ----

void frmMain::StatusBarInfo(const QString &sMessage)
{
    lblStatus->setText(sMessage);
    setMovieVariable(StatusVar, sMessage);
}

void frmMain::UpdateAction(const QString &sMessage)
{
    StatusBarInfo(sMessage);
}

void frmMain::DisplayMessage(const QString &sMessage)
{
    const int index = AddMessageLine(lstConnectionInfo, sMessage);
    lstConnectionInfo->setCurrentRow(index);
    lstConnectionInfo->scrollToItem(lstConnectionInfo->item(index));

    // Every message line also goes to the transfer log.
    if (m_services.hooks.transferLog) {
        m_services.hooks.transferLog(sMessage);
        return;
    }
    const QString path = transferLogPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile log(path);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(sMessage.toUtf8() + '\n');
}

int frmMain::AddMessageLine(QListWidget *list, const QString &text)
{
    // The list widens its horizontal scroll range to its widest line itself.
    list->addItem(text);
    return list->count() - 1;
}

void frmMain::ClearLog()
{
    lstConnectionInfo->clear();
}

QString frmMain::transferLogPath() const
{
    return joinPath(m_services.programDir, QStringLiteral("log/transfer.log"));
}

void frmMain::setMovieVariable(const QString &name, const QString &value)
{
    m_movie.insert(name, value);
    m_toolbar->setVariable(name, value);
}

void frmMain::setProgress(int value)
{
    value = qBound(0, value, 100);
    prgStatus->setValue(value);
    setMovieVariable(ProgressVar, QString::number(value));
}

void frmMain::showRate(qint64 bytesPerSecond, qint64 secondsLeft)
{
    // 0: no transfer runs; below 0: not known yet.
    lblRate->setText(bytesPerSecond > 0 ? rateText(bytesPerSecond, secondsLeft) : QString());
}

void frmMain::buildMenus()
{
    const auto remote = [this](QAction *action) {
        m_remoteActions.append(action);
        return action;
    };

    miFile = menuBar()->addMenu(QStringLiteral("&File"));
    miFile->setObjectName(QStringLiteral("miFile"));
    miConnect = miFile->addAction(QStringLiteral("Connect"), this, &frmMain::ConnectFromProfile);
    miDisconnect = miFile->addAction(QStringLiteral("Disconnect"), this, &frmMain::DisconnectFromServer);
    miFile->addSeparator();
    miExit = miFile->addAction(QStringLiteral("Exit"), this, &QWidget::close);

    // The local pane's own menu; its upload entry asks the window to send
    // (sendItemsRequested), its synchronise entry is the window's to wire.
    miLocal = m_local->localMenu();
    menuBar()->addMenu(miLocal);
    miLocalUp = m_local->actUpLevel;
    miLocalRefresh = m_local->actRefresh;
    miLocalOpen = m_local->actOpenFile;
    miLocalErase = m_local->actErase;
    miLocalTrash = m_local->actRecycle;
    miLocalRename = m_local->actRename;
    miLocalCreateFolder = m_local->actCreateFolder;
    miLocalFind = m_local->actFindFiles;
    miLocalProperties = m_local->actProperties;
    miLocalDefineTypes = m_local->actDefineTypes;
    miEmptyTrash = m_local->actEmptyRecycleBin;
    miUpload = m_local->actUpload;
    miSyncRemoteFromLocal = m_local->actSynchronize;
    // Synchronising is a later part's: its hook, wired in one place below.
    connect(miSyncRemoteFromLocal, &QAction::triggered, this, [this] {
        if (m_services.hooks.syncRemoteFromLocal)
            asCall(m_services.hooks.syncRemoteFromLocal);
    });
    m_hookActions.append({miSyncRemoteFromLocal, [this] { return bool(m_services.hooks.syncRemoteFromLocal); }});
    remote(miSyncRemoteFromLocal);

    miRemote = menuBar()->addMenu(QStringLiteral("&Remote"));
    miRemote->setObjectName(QStringLiteral("miRemote"));
    miRemoteRefresh = remote(miRemote->addAction(QStringLiteral("Refresh"), this, [this] {
        asCall([this] { m_remote->RefreshRemoteList(); });
        UpdateRemoteCommands();
    }));
    miRemoteUp = remote(miRemote->addAction(QStringLiteral("Go Up a Directory Level"), this, &frmMain::GoUpOneLevel));
    miDownload = remote(miRemote->addAction(QStringLiteral("Download File(s)"), this, &frmMain::ReceiveSelectedFiles));
    miSyncLocalFromRemote = remote(hookAction(miRemote, QStringLiteral("Synchronize Directory"), &Services::Hooks::syncLocalFromRemote));
    miRemote->addSeparator();
    miManualReceive = remote(hookAction(miRemote, QStringLiteral("Manual File Receive"), &Services::Hooks::manualReceive));
    miManualSend = remote(hookAction(miRemote, QStringLiteral("Manual File Send"), &Services::Hooks::manualSend));
    miCustomCommand = remote(hookAction(miRemote, QStringLiteral("Send Custom Command"), &Services::Hooks::customCommand));
    miFtpCommands = miRemote->addMenu(QStringLiteral("FTP Commands"));
    miFtpCommands->setObjectName(QStringLiteral("miFtpCommands"));
    for (const char *command : {"HELP", "CWD", "PWD", "SYST", "QUOTE", "LIST", "NLST", "RETR", "STOR"}) {
        const QString text = QLatin1String(command);
        QAction *entry = miFtpCommands->addAction(text);
        connect(entry, &QAction::triggered, this, [this, text] {
            if (m_services.hooks.ftpCommand)
                asCall([&] { m_services.hooks.ftpCommand(text); });
        });
        m_hookActions.append({entry, [this] { return bool(m_services.hooks.ftpCommand); }});
        remote(entry);
    }
    miRemote->addSeparator();
    miRemoteDelete = remote(miRemote->addAction(QStringLiteral("Delete"), this, &frmMain::DeleteSelectedRemoteItems));
    miRemoteRename = remote(miRemote->addAction(QStringLiteral("Rename File"), this, &frmMain::RenameRemoteItem));
    miRemoteCreateFolder =
        remote(miRemote->addAction(QStringLiteral("Create Folder"), this, &frmMain::CreateRemoteFolder));
    miRemoteMove =
        remote(miRemote->addAction(QStringLiteral("Move File(s) / Folder(s)"), this, &frmMain::MoveSelectedRemoteItems));
    miRemoteGoTo =
        remote(miRemote->addAction(QStringLiteral("Go To Remote Directory"), this, &frmMain::GoToRemoteDirectory));
    QMenu *filters = miRemote->addMenu(QStringLiteral("Directory Filters"));
    miRemoteAllFiles =
        remote(filters->addAction(QStringLiteral("All Files (*.*)"), this, &frmMain::ShowAllRemoteFiles));
    miRemoteDefineTypes =
        remote(filters->addAction(QStringLiteral("Define Types (*.?)"), this, &frmMain::DefineRemoteTypes));
    miRemoteChmod = remote(
        miRemote->addAction(QStringLiteral("Chmod File(s) or Folders(s)"), this, &frmMain::ChmodSelectedRemoteItems));

    miTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    miTools->setObjectName(QStringLiteral("miTools"));
    const QStringList views{QStringLiteral("Show Big Icons"), QStringLiteral("Show Small Icons"),
                            QStringLiteral("Show List"), QStringLiteral("Show Report")};
    QMenu *localViews = m_local->viewMenu();
    localViews->setTitle(QStringLiteral("Local"));
    miTools->addMenu(localViews);
    miLocalViews = m_local->actViews;
    QMenu *remoteViews = miTools->addMenu(QStringLiteral("Remote"));
    for (int mode = 0; mode < int(views.size()); ++mode)
        miRemoteViews.append(
            remoteViews->addAction(views.at(mode), this, [this, mode] { lstRemoteFileList->setViewMode(mode); }));
    miTools->addSeparator();
    miTools->addAction(miEmptyTrash);
    miClearLog = miTools->addAction(QStringLiteral("Clear Log"), this, &frmMain::ClearLog);
    miTools->addSeparator();
    miOptions = hookAction(miTools, QStringLiteral("Options..."), &Services::Hooks::options);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    miUserGuide = help->addAction(QStringLiteral("User's Guide"), this, &frmMain::openHelp);
    help->addAction(QStringLiteral("About Corvane"), this, [this] { runCommand(QStringLiteral("IDC_FS_openAbout")); });
}

QAction *frmMain::hookAction(QMenu *menu, const QString &text, std::function<void()> Services::Hooks::*hook)
{
    // An entry of a later part: present, and off until its hook is given.
    QAction *action = menu->addAction(text);
    connect(action, &QAction::triggered, this, [this, hook] {
        if (m_services.hooks.*hook)
            asCall(m_services.hooks.*hook);
    });
    m_hookActions.append({action, [this, hook] { return bool(m_services.hooks.*hook); }});
    return action;
}

void frmMain::setHooks(const Services::Hooks &hooks)
{
    m_services.hooks = hooks;
    updateHookActions();
    SetConnectedState(m_connected);
}

void frmMain::updateHookActions()
{
    for (const auto &[action, available] : std::as_const(m_hookActions)) {
        action->setProperty("needsHook", !available());
        if (!m_remoteActions.contains(action))
            action->setEnabled(available() && !isBusy());
    }
}

void frmMain::setWaitCursor(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void frmMain::connectComponent()
{
    FtpComponent *ftp = m_services.xFtp;
    connect(ftp, &FtpComponent::logLine, this, &frmMain::DisplayMessage);
    // The questions are answered while the component waits: direct
    // connections. The transfer events and the replace question are the
    // transfers' own.
    connect(
        ftp, &FtpComponent::accountRequired, this,
        [this](QString *account) {
            *account = m_services.prompts
                           ->input({QStringLiteral("An account is required for this server."), QueryTitle, {}, false, this})
                           .value_or(QString());
        },
        Qt::DirectConnection);
    connect(
        ftp, &FtpComponent::invalidPassword, this,
        [this](QString *newPassword) {
            *newPassword = m_services.prompts
                               ->input({QStringLiteral("Please enter the correct password"), QueryTitle, {}, true, this})
                               .value_or(QString());
        },
        Qt::DirectConnection);
    // A server certificate that did not verify: the same question as the
    // download manager's, and only a yes trusts it.
    connect(
        ftp, &FtpComponent::certificateRejected, this,
        [this](const TlsFailure &failure, bool *trust) {
            *trust = m_services.prompts->ask(certificateQuestionText(failure.host, failure.errors, failure.peer),
                                             ConfirmTitle, PromptButtons::YesNo, PromptIcon::Warning, this)
                     == PromptAnswer::Yes;
        },
        Qt::DirectConnection);
    connect(ftp, &FtpComponent::processFinished, this, [this](quint32 result) {
        if (result == FtpErrors::Aborted)
            m_services.prompts->inform(QStringLiteral("Operation Aported Succesfully"), m_services.appTitle,
                                       PromptIcon::None, this);
    });
    connect(ftp, &FtpComponent::disconnected, this, [this] {
        cboRemotePath->clear();
        StatusBarInfo(QStringLiteral("Disconnected from ") + host());
        ClearRemoteList();
        SetConnectedState(false);
        UpdateRemoteCommands();
    });
}

// ---- session ----

QString frmMain::host() const
{
    return m_services.xFtp->serverAddress;
}

QString frmMain::errorDescription() const
{
    return m_services.xFtp->lastError().description;
}

bool frmMain::checkPort(const QString &port, quint16 *value)
{
    bool ok = false;
    const int number = port.trimmed().toInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        StatusBarInfo(QStringLiteral("The port must be a number from 1 to 65535, not \"%1\".").arg(port));
        return false;
    }
    *value = quint16(number);
    return true;
}

bool frmMain::askDisconnectFirst()
{
    return m_services.prompts->ask(QStringLiteral("Cant connect to server, Do you want to Disconnect First?"),
                                   m_services.appTitle, PromptButtons::YesNo, PromptIcon::Warning, this)
           == PromptAnswer::Yes;
}

void frmMain::ApplyConnectionOptions()
{
    FtpComponent *ftp = m_services.xFtp;
    const auto get = [this](const QString &key, const QString &def) {
        return m_services.reg ? m_services.reg->REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, def)
                              : def;
    };
    if (get(QStringLiteral("Firewall Use"), QStringLiteral("0")).trimmed().toInt() != 1) {
        ftp->proxyType = 0;
        ftp->proxyHost.clear();
        ftp->proxyPassword.clear();
        ftp->proxyUserName.clear();
        ftp->proxyPort = 1080;
        return;
    }
    ftp->proxyHost = get(QStringLiteral("Firewall Host Name"), QString());
    ftp->proxyUserName = get(QStringLiteral("Firewall User Name"), QString());
    ftp->proxyPassword = get(QStringLiteral("Firewall Password"), QString());
    ftp->proxyType = get(QStringLiteral("Firewall Type"), QString()) == QLatin1String("SOCKS 4") ? 4 : 5;
    bool ok = false;
    const uint port = get(QStringLiteral("Firewall Proxy Port"), QString()).trimmed().toUInt(&ok);
    ftp->proxyPort = ok && port >= 1 && port <= 65535 ? quint16(port) : quint16(1080);
}

void frmMain::ConnectFromProfile()
{
    if (isBusy())
        return;
    setMovieVariable(ConnectedVar, QStringLiteral("0"));
    const bool chosen = [this] {
        frmConnectionInfo dialog({m_services.programDir, m_services.prompts, m_services.appTitle}, this);
        return dialog.ShowForm(strHost, strPort, strUser, strPassword, blnAnonymous, blnPassive, &security);
    }();
    if (!chosen) {
        StatusBarInfo(QStringLiteral("Connect operation cancelled."));
        return;
    }
    WaitCursor wait;
    quint16 port = 0;
    if (!checkPort(strPort, &port))
        return;
    FtpComponent *ftp = m_services.xFtp;
    if (ftp->currentState() != FtpComponent::NotConnected) {
        if (!askDisconnectFirst())
            return;
        DisconnectFromServer();
    }
    txtQaddress->setText(strHost);
    txtQport->setText(strPort);
    txtQuser->setText(strUser);
    txtQpassword->setText(strPassword);

    ftp->serverAddress = strHost;
    ftp->serverPort = port;
    ftp->userName = blnAnonymous ? QStringLiteral("anonymous") : strUser;
    ftp->password = blnAnonymous ? QStringLiteral("quill") : strPassword;
    ftp->passiveMode = blnPassive;
    ftp->security = security;
    ApplyConnectionOptions();
    connectWithFields();
}

void frmMain::QuickConnect()
{
    if (isBusy())
        return;
    if (txtQaddress->text().isEmpty() || txtQuser->text().isEmpty() || txtQport->text().isEmpty()) {
        m_services.prompts->inform(QStringLiteral("Please enter conncetion information"), m_services.appTitle,
                                   PromptIcon::None, this);
        return;
    }
    quint16 port = 0;
    if (!checkPort(txtQport->text(), &port))
        return;
    FtpComponent *ftp = m_services.xFtp;
    if (ftp->currentState() != FtpComponent::NotConnected) {
        if (!askDisconnectFirst())
            return;
        DisconnectFromServer();
    }
    WaitCursor wait;
    strHost = txtQaddress->text();
    strUser = txtQuser->text();
    strPassword = txtQpassword->text();
    strPort = txtQport->text();
    // Passive mode, anonymity and encryption stay as the last profile set them.
    ftp->serverAddress = strHost;
    ftp->serverPort = port;
    ftp->userName = strUser;
    ftp->password = strPassword;
    ApplyConnectionOptions();
    connectWithFields();
}

void frmMain::connectWithFields()
{
    BusyScope busy(this);
    StatusBarInfo(QStringLiteral("Connecting to ") + host());
    ConnectToServer();
    if (m_services.xFtp->currentState() == FtpComponent::Idle) {
        ListFilesOnServer();
        SetConnectedState(true);
        StatusBarInfo(QStringLiteral("Connected to ") + host());
    } else {
        StatusBarInfo(QStringLiteral("Could not connect to ") + host());
    }
}

void frmMain::ConnectToServer()
{
    FtpComponent *ftp = m_services.xFtp;
    if (ftp->currentState() != FtpComponent::NotConnected) {
        StatusBarInfo(QStringLiteral("Already connected to ") + host() + QLatin1Char('!'));
        setMovieVariable(ConnectedVar, QStringLiteral("1"));
        return;
    }
    if (!ftp->connectToServer()) {
        setMovieVariable(ConnectedVar, QStringLiteral("0"));
        DisplayMessage(QStringLiteral("Error while connecting to '") + host() + QStringLiteral("'. Description: ")
                       + errorDescription());
        StatusBarInfo(QStringLiteral("Error connecting to ") + host());
        return;
    }
    QString folder;
    if (!ftp->currentFolder(folder)) {
        setMovieVariable(ConnectedVar, QStringLiteral("0"));
        DisplayMessage(QStringLiteral("Error while obtaining current remote folder after connection. Description: ")
                       + errorDescription());
        StatusBarInfo(QStringLiteral("Error obtaining current remote folder."));
        return;
    }
    AddPathToComboBox(folder, cboRemotePath);
    setMovieVariable(ConnectedVar, QStringLiteral("1"));
}

bool frmMain::isSettled() const
{
    const qint32 state = m_services.xFtp->currentState();
    return m_busy == 0 && (state == FtpComponent::NotConnected || state == FtpComponent::Idle);
}

void frmMain::DisconnectFromServer()
{
    FtpComponent *ftp = m_services.xFtp;
    if (!isSettled()) {
        // A call is running, and this handler runs inside it (the window's
        // events are served while the call waits). Abort it, and disconnect
        // once it has returned: tmrDisconnect checks the state until then.
        ftp->setAbort(true);
        if (!tmrDisconnect->isActive()) {
            m_disconnectChecks = 0;
            tmrDisconnect->start();
        }
        return;
    }
    tmrDisconnect->stop();
    if (ftp->currentState() == FtpComponent::NotConnected)
        return;
    StatusBarInfo(QStringLiteral("Disconnecting from ") + host());
    ftp->disconnectFromServer();
}

void frmMain::disconnectCheck()
{
    if (isSettled()) {
        tmrDisconnect->stop();
        DisconnectFromServer();
        if (m_launchWhenDisconnected)
            LaunchTessel();
        else if (m_closeWhenDisconnected)
            close();
        return;
    }
    // A call that does not end after its abort is left to its own time-outs.
    if (++m_disconnectChecks > DisconnectChecks) {
        tmrDisconnect->stop();
        m_closeWhenDisconnected = false;
        m_launchWhenDisconnected = false;
        StatusBarInfo(QStringLiteral("Cannot disconnect: the current operation does not end."));
    }
}

void frmMain::Abort()
{
    m_services.xFtp->setAbort(true);
    StatusBarInfo(QStringLiteral("Aborting current operaion."));
    tmrRefresh->start();
}

void frmMain::SetConnectedState(bool connected)
{
    m_connected = connected;
    const bool idle = !isBusy();
    for (QWidget *w : std::initializer_list<QWidget *>{cmdUpFtp, cboRemotePath})
        w->setEnabled(connected && idle);
    // The transfer mode may change while a transfer runs: it is used from
    // the next file on.
    for (QWidget *w : std::initializer_list<QWidget *>{optAscii, optBinary, optAuto})
        w->setEnabled(connected);
    // Disconnect stays live during a call: it aborts the call first.
    cmdDisconnect->setEnabled(connected);
    miDisconnect->setEnabled(connected);
    miRemote->setEnabled(connected);
    miRemote->menuAction()->setEnabled(connected);
    for (QAction *action : std::as_const(m_remoteActions))
        action->setEnabled(connected && idle && !action->property("needsHook").toBool());
    cmdConnect->setEnabled(!connected && idle);
    cmdQConnect->setEnabled(!connected && idle);
    miConnect->setEnabled(!connected && idle);
    UpdateRemoteCommands();
    UpdateLocalCommands();
}

void frmMain::SetAbortEnabled(bool enabled)
{
    m_abortEnabled = enabled;
    cmdAbort->setEnabled(enabled);
}

void frmMain::UpdateRemoteCommands()
{
    const QList<int> rows = lstRemoteFileList->selectedRows();
    const int n = int(rows.size());
    const bool selected = n > 0;
    const RemoteKind k = n == 1 ? rowKind(rows.first()) : KindNone;
    const bool on = m_connected && !isBusy();
    miRemoteDelete->setEnabled(on && selected && (k == KindFile || k == KindFolder || n > 1));
    miRemoteRename->setEnabled(on && selected && (k == KindFile || k == KindFolder));
    miRemoteMove->setEnabled(on && selected);
    miRemoteChmod->setEnabled(on && selected);
    cmdReceive->setEnabled(on && n >= 1);
    miDownload->setEnabled(on && n >= 1);
}

void frmMain::UpdateLocalCommands()
{
    m_local->setConnected(m_connected);
    m_local->setBusy(isBusy());
    m_local->UpdateLocalCommands();
    cmdSend->setEnabled(miUpload->isEnabled());
}

void frmMain::ClearRemoteList()
{
    m_remote->ClearRemoteList();
}

int frmMain::CountSelectedItems(FileListView *list) const
{
    return int(list->selectedRows().size());
}

frmMain::RemoteKind frmMain::rowKind(int row) const
{
    return RemoteKind(int(m_remote->pane()->kind(row)));
}

QStringList frmMain::remoteNames() const
{
    QStringList names;
    for (const RemoteRow &row : m_remote->pane()->rows())
        names.append(row.name);
    return names;
}

// ---- remote folder ----

QString frmMain::GetRemoteFolder()
{
    return m_remote->GetRemoteFolder();
}

bool frmMain::ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive)
{
    return m_remote->ChangeCurrentRemoteFolder(sNewRemotePath, bInteractive);
}

bool frmMain::FindPathInCombo(const QString &path, QComboBox *combo) const
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).compare(path, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void frmMain::AddPathToComboBox(const QString &sPathToAdd, QComboBox *combo)
{
    if (FindPathInCombo(sPathToAdd, combo)) {
        combo->setEditText(sPathToAdd);
        return;
    }
    combo->addItem(sPathToAdd);
    combo->setCurrentIndex(combo->count() - 1);
}

void frmMain::ListFilesOnServer()
{
    m_remote->ListFilesOnServer();
}

void frmMain::RefreshRemoteList()
{
    m_remote->RefreshRemoteList();
}

void frmMain::RemotePathEntered(const QString &text)
{
    asCall([&] { m_remote->RemotePathEntered(text); });
}

void frmMain::GoUpOneLevel()
{
    asCall([&] { m_remote->GoUpOneLevel(); });
}

void frmMain::RemoteDoubleClick(int row)
{
    if (row < 0 || row >= m_remote->pane()->rowCount() || m_services.xFtp->currentState() != FtpComponent::Idle)
        return;
    const QString name = m_remote->pane()->row(row).name;
    const RemoteKind kind = rowKind(row);
    asCall([&] {
        switch (kind) {
        case KindFile:
            m_transfers->ReceiveSelectedFiles(currentLocalPath(), {row});
            break;
        case KindFolder:
            if (m_remote->EnterRemoteFolder(name, true))
                StatusBarInfo(QStringLiteral("Changed current remote folder."));
            else
                StatusBarInfo(QStringLiteral("Unable to change current remote folder."));
            break;
        case KindLink:
            // A link to a folder is entered; any other link is received.
            if (m_remote->EnterRemoteFolder(name, false))
                StatusBarInfo(QStringLiteral("Changed current remote folder."));
            else
                m_transfers->ReceiveSelectedFiles(currentLocalPath(), {row});
            break;
        case KindNone:
            break;
        }
    });
    UpdateRemoteCommands();
}

// ---- remote operations ----

void frmMain::DeleteSelectedRemoteItems()
{
    asCall([this] { m_remote->DeleteSelectedRemoteItems(lstRemoteFileList->selectedRows()); });
}

void frmMain::RenameRemoteItem()
{
    const QList<int> rows = lstRemoteFileList->selectedRows();
    if (rows.isEmpty())
        return;
    const int current = lstRemoteFileList->currentRow();
    asCall([&] { m_remote->RenameRemoteItem(rows.contains(current) ? current : rows.first()); });
}

void frmMain::CreateRemoteFolder()
{
    asCall([this] { m_remote->CreateRemoteFolder(); });
}

void frmMain::MoveSelectedRemoteItems()
{
    const QList<int> rows = lstRemoteFileList->selectedRows();
    if (rows.isEmpty())
        return;
    const int current = lstRemoteFileList->currentRow();
    asCall([&] { m_remote->MoveSelectedRemoteItems(rows, rows.contains(current) ? current : rows.first()); });
}

void frmMain::GoToRemoteDirectory()
{
    asCall([this] { m_remote->GoToRemoteDirectory(); });
}

void frmMain::ShowAllRemoteFiles()
{
    asCall([this] { m_remote->ShowAllFiles(); });
}

void frmMain::DefineRemoteTypes()
{
    asCall([this] { m_remote->DefineTypes(); });
}

void frmMain::ChmodSelectedRemoteItems()
{
    const QList<int> rows = lstRemoteFileList->selectedRows();
    if (rows.isEmpty())
        return;
    asCall([&] {
        std::optional<int> mode;
        if (m_services.chmodPrompt) {
            mode = m_services.chmodPrompt(0);
        } else {
            frmRemoteChangeMode dialog(m_services.reg, this);
            mode = dialog.ask(0);
        }
        if (mode)
            m_remote->ChmodSelectedRemoteItems(rows, *mode);
    });
}

// ---- transfers ----

QString frmMain::currentLocalPath() const
{
    return m_local->currentPath();
}

void frmMain::SendSelectedFiles()
{
    SendItems(m_local->selectedItems());
}

void frmMain::SendItems(const QList<LocalItem> &items)
{
    if (m_services.xFtp->currentState() == FtpComponent::NotConnected) {
        StatusBarInfo(QStringLiteral("Cannot upload file(s) when not connected."));
        return;
    }
    if (items.isEmpty())
        return;
    // Folder by folder, in the order the items came: the local pane's
    // selection is one group; files dropped from the desktop may be several.
    QList<std::pair<QString, QList<LocalItem>>> groups;
    for (const LocalItem &item : items) {
        QString folder = item.path.isEmpty() ? currentLocalPath() : QFileInfo(item.path).absolutePath();
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        if (groups.isEmpty() || groups.last().first != folder)
            groups.append({folder, {}});
        groups.last().second.append(item);
    }
    asCall([&] {
        for (const auto &[folder, group] : std::as_const(groups)) {
            m_transfers->SendSelectedFiles(folder, group);
            if (m_services.xFtp->lastError().number == FtpErrors::Aborted)
                break;
        }
    });
    UpdateRemoteCommands();
}

void frmMain::ReceiveSelectedFiles()
{
    const QList<int> rows = lstRemoteFileList->selectedRows();
    asCall([&] { m_transfers->ReceiveSelectedFiles(currentLocalPath(), rows); });
}

QMimeData *frmMain::encodeRemoteRows(const QList<int> &rows) const
{
    QStringList names;
    for (int row : rows)
        names.append(m_remote->pane()->row(row).name);
    auto *data = new QMimeData;
    data->setData(remoteRowsMimeType(), names.join(QLatin1Char('\n')).toUtf8());
    data->setText(names.join(QLatin1Char('\n')));
    return data;
}

void frmMain::remoteDrop(const QMimeData *data)
{
    // The drop runs inside the drag of the other pane: the transfer starts
    // once the drag has ended. Rows of the local pane are its selection; the
    // desktop's files are read now, while the data is there.
    if (data->hasFormat(LocalPane::DragMimeType)) {
        QTimer::singleShot(0, this, [this] { SendSelectedFiles(); });
        return;
    }
    const QList<LocalItem> items = LocalPane::itemsFromMimeData(data);
    if (!items.isEmpty())
        QTimer::singleShot(0, this, [this, items] { SendItems(items); });
}

