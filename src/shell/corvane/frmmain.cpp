#include "shell/corvane/frmmain.h"

#include "config/cregister.h"
#include "ftp/listing.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/ui/frmConnectionInfo.h"
#include "platform/certificatequestion.h"
#include "platform/programdir.h"
#include "platform/prompts.h"
#include "platform/ui/skinform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString ProgramTitle = QStringLiteral("FTP Client");
const QString QueryTitle = ProgramTitle + QStringLiteral("[Query]");
const QString ConfirmTitle = ProgramTitle + QStringLiteral("[Confirm]");
const QString ConnectedVar = QStringLiteral("_root.Connected");
const QString StatusVar = QStringLiteral("_root.status_txt.text");
const QString ProgressVar = QStringLiteral("_root.Progress_mc._xscale");
const QString DefaultPort = QStringLiteral("21");
constexpr int KindColumn = 3;
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

} // namespace

frmMain::frmMain(Services services, QWidget *parent) : QMainWindow(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(m_services.appTitle);
    strLocalPath = m_services.localPath.isEmpty() ? QDir::homePath() : m_services.localPath;
    if (!strLocalPath.endsWith(QLatin1Char('/')))
        strLocalPath += QLatin1Char('/');

    buildControls();
    buildMenus();
    connectComponent();

    setMovieVariable(QStringLiteral("_root.Program"), QStringLiteral("FTP"));
    SetConnectedState(false);
    SetAbortEnabled(false);
    UpdateRemoteCommands();
    setProgress(0);
    SkinForm(this, MainWindowSkinName, SkinFlavour::CorvaneMain);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    frameQuickConnect = new QGroupBox(QStringLiteral("Quick Connect"));
    frameQuickConnect->setObjectName(QStringLiteral("frameQuickConnect"));
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

    cmdConnect = makeButton(QStringLiteral("cmdConnect"), QStringLiteral("&Connect"));
    cmdDisconnect = makeButton(QStringLiteral("cmdDisconnect"), QStringLiteral("&Disconnect"));
    cmdAbort = makeButton(QStringLiteral("cmdAbort"), QStringLiteral("Abort"));
    connect(cmdConnect, &QPushButton::clicked, this, &frmMain::ConnectFromProfile);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmMain::DisconnectFromServer);
    connect(cmdAbort, &QPushButton::clicked, this, &frmMain::Abort);
    auto *session = new QHBoxLayout;
    session->addWidget(cmdConnect);
    session->addWidget(cmdDisconnect);
    session->addWidget(cmdAbort);
    session->addStretch();

    cboRemotePath = new QComboBox;
    cboRemotePath->setObjectName(QStringLiteral("cboRemotePath"));
    cboRemotePath->setEditable(true);
    cboRemotePath->setInsertPolicy(QComboBox::NoInsert);
    connect(cboRemotePath->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { RemotePathEntered(cboRemotePath->currentText()); });
    connect(cboRemotePath, &QComboBox::activated, this,
            [this](int index) { RemotePathEntered(cboRemotePath->itemText(index)); });
    cmdUpFtp = makeButton(QStringLiteral("cmdUpFtp"), QStringLiteral("Up"));
    cmdUpFtp->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    cmdUpFtp->setToolTip(QStringLiteral("Go Up a Directory Level"));
    connect(cmdUpFtp, &QPushButton::clicked, this, &frmMain::GoUpOneLevel);
    cmdReceive = makeButton(QStringLiteral("cmdReceive"), QStringLiteral("<-"));
    cmdReceive->setToolTip(QStringLiteral("Download File(s)"));
    connect(cmdReceive, &QPushButton::clicked, this, &frmMain::ReceiveSelectedFiles);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(cmdReceive);
    pathRow->addWidget(cboRemotePath, 1);
    pathRow->addWidget(cmdUpFtp);

    lstRemoteFileList = new QTreeWidget;
    lstRemoteFileList->setObjectName(QStringLiteral("lstRemoteFileList"));
    lstRemoteFileList->setRootIsDecorated(false);
    lstRemoteFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstRemoteFileList->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Size (bytes)"), QStringLiteral("Date"), QString()});
    lstRemoteFileList->header()->resizeSection(0, 260);
    lstRemoteFileList->header()->resizeSection(1, 110);
    lstRemoteFileList->header()->resizeSection(2, 160);
    lstRemoteFileList->setColumnHidden(KindColumn, true);
    connect(lstRemoteFileList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *row) { RemoteDoubleClick(row); });
    connect(lstRemoteFileList, &QTreeWidget::itemSelectionChanged, this, &frmMain::UpdateRemoteCommands);

    auto *lists = new QGroupBox(QStringLiteral("Remote Site"));
    lists->setObjectName(QStringLiteral("FrameMainLists"));
    auto *listsLayout = new QVBoxLayout(lists);
    listsLayout->addLayout(pathRow);
    listsLayout->addWidget(lstRemoteFileList, 1);

    frameLog = new QGroupBox(QStringLiteral("Connection Log"));
    frameLog->setObjectName(QStringLiteral("frameLog"));
    lstConnectionInfo = new QListWidget;
    lstConnectionInfo->setObjectName(QStringLiteral("lstConnectionInfo"));
    lstConnectionInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto *logLayout = new QVBoxLayout(frameLog);
    logLayout->addWidget(lstConnectionInfo);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(frameQuickConnect);
    layout->addLayout(session);
    layout->addWidget(lists, 3);
    layout->addWidget(frameLog, 1);
    setCentralWidget(central);

    lblStatus = new QLabel;
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    prgStatus = new QProgressBar;
    prgStatus->setObjectName(QStringLiteral("prgStatus"));
    prgStatus->setRange(0, 100);
    prgStatus->setMaximumWidth(200);
    statusBar()->addWidget(lblStatus, 1);
    statusBar()->addPermanentWidget(prgStatus);

    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    tmrRefresh->setSingleShot(true);
    tmrRefresh->setInterval(m_services.refreshDelay);
    connect(tmrRefresh, &QTimer::timeout, this, [this] {
        RefreshRemoteList();
        UpdateRemoteCommands();
    });
    tmrDisconnect = new QTimer(this);
    tmrDisconnect->setObjectName(QStringLiteral("tmrDisconnect"));
    tmrDisconnect->setInterval(DisconnectCheckPeriod);
    connect(tmrDisconnect, &QTimer::timeout, this, &frmMain::disconnectCheck);
    resize(760, 600);
}

void frmMain::buildMenus()
{
    miFile = menuBar()->addMenu(QStringLiteral("&File"));
    miConnect = miFile->addAction(QStringLiteral("Connect"), this, &frmMain::ConnectFromProfile);
    miDisconnect = miFile->addAction(QStringLiteral("Disconnect"), this, &frmMain::DisconnectFromServer);
    miFile->addSeparator();
    miFile->addAction(QStringLiteral("Exit"), this, &QWidget::close);

    miRemote = menuBar()->addMenu(QStringLiteral("&Remote"));
    miRemote->setObjectName(QStringLiteral("miRemote"));
    miRemote->addAction(QStringLiteral("Refresh"), this, [this] {
        RefreshRemoteList();
        UpdateRemoteCommands();
    });
    miRemote->addAction(QStringLiteral("Go Up a Directory Level"), this, &frmMain::GoUpOneLevel);
    miRemote->addAction(QStringLiteral("Download File(s)"), this, &frmMain::ReceiveSelectedFiles);

    QMenu *tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->addAction(QStringLiteral("Clear Log"), this, &frmMain::ClearLog);
}

void frmMain::connectComponent()
{
    FtpComponent *ftp = m_services.xFtp;
    connect(ftp, &FtpComponent::listingEntry, this,
            [this](const QString &name, const QDateTime &date, qint64 size, int type, const QString &) {
                addRemoteRow(name, date, size, type);
            });
    connect(ftp, &FtpComponent::logLine, this, &frmMain::DisplayMessage);
    connect(ftp, &FtpComponent::transferStatus, this,
            [this](const QString &first, const QString &, qint64 fileSize, qint64 bytesDone, int percent, qint64,
                   qint64) { transferStatus(fileSize, bytesDone, percent, first); });
    connect(ftp, &FtpComponent::receivingFile, this,
            [this](const QString &name) { StatusBarInfo(QStringLiteral("Receiving ") + name); });
    connect(ftp, &FtpComponent::sendingFile, this,
            [this](const QString &name) { StatusBarInfo(QStringLiteral("Sending ") + name); });
    connect(ftp, &FtpComponent::scanningFolder, this,
            [this](const QString &name) { StatusBarInfo(QStringLiteral("Scanning this folder ") + name); });
    connect(ftp, &FtpComponent::skippingFile, this, [this](const QString &first, const QString &second, int reason) {
        const QString name = first.isEmpty() ? second : first;
        DisplayMessage(name + QStringLiteral(" was skipped. Reason code: 0x")
                       + QString::number(quint32(reason), 16).toUpper());
    });
    // The questions are answered while the component waits: direct connections.
    connect(
        ftp, &FtpComponent::replacingFile, this,
        [this](const QString &name, bool *replace) {
            *replace = m_services.prompts->ask(name + QStringLiteral(" already exits. Do you want to replace it?"),
                                               ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question, this)
                       == PromptAnswer::Yes;
        },
        Qt::DirectConnection);
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

    // Stand-in for the transfer log: every message line, appended.
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
}

void frmMain::setProgress(int value)
{
    prgStatus->setValue(value);
    setMovieVariable(ProgressVar, QString::number(value));
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
    return state == FtpComponent::NotConnected || state == FtpComponent::Idle;
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
        if (m_closeWhenDisconnected)
            close();
        return;
    }
    // A call that does not end after its abort is left to its own time-outs.
    if (++m_disconnectChecks > DisconnectChecks) {
        tmrDisconnect->stop();
        m_closeWhenDisconnected = false;
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
    for (QWidget *w : std::initializer_list<QWidget *>{cmdDisconnect, cmdUpFtp, cboRemotePath})
        w->setEnabled(connected);
    miDisconnect->setEnabled(connected);
    miRemote->menuAction()->setEnabled(connected);
    miRemote->setEnabled(connected);
    cmdConnect->setEnabled(!connected);
    cmdQConnect->setEnabled(!connected);
    miConnect->setEnabled(!connected);
}

void frmMain::SetAbortEnabled(bool enabled)
{
    cmdAbort->setEnabled(enabled);
}

void frmMain::UpdateRemoteCommands()
{
    const int n = CountSelectedItems(lstRemoteFileList);
    cmdReceive->setEnabled(n >= 1);
}

void frmMain::ClearRemoteList()
{
    lstRemoteFileList->clear();
}

int frmMain::CountSelectedItems(QTreeWidget *list) const
{
    return int(list->selectedItems().size());
}

// ---- remote folder ----

QString frmMain::GetRemoteFolder()
{
    QString folder;
    if (!m_services.xFtp->currentFolder(folder)) {
        DisplayMessage(QStringLiteral("Error while querying current remote folder. Description: ") + errorDescription());
        return {};
    }
    return folder;
}

bool frmMain::ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive)
{
    FtpComponent *ftp = m_services.xFtp;
    if (!ftp->changeFolder(sNewRemotePath)) {
        if (bInteractive) {
            DisplayMessage(QStringLiteral("Error while attempting to change current remote folder to '")
                           + sNewRemotePath + QStringLiteral("'. Description: ") + errorDescription());
            StatusBarInfo(QStringLiteral("Could not change current remote folder."));
        }
        return false;
    }
    QString folder;
    if (!ftp->currentFolder(folder)) {
        if (bInteractive) {
            DisplayMessage(QStringLiteral("Error obtaining new current remote folder while attempting to change "
                                          "current remote folder to '")
                           + sNewRemotePath + QStringLiteral("'. Description: ") + errorDescription());
            StatusBarInfo(QStringLiteral("Current folder changed but new path unknown."));
        }
        return false;
    }
    AddPathToComboBox(folder, cboRemotePath);
    StatusBarInfo(QStringLiteral("Remote folder changed to ") + folder);
    return true;
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
    FtpComponent *ftp = m_services.xFtp;
    SetAbortEnabled(true);
    ftp->listingOption = 1;
    StatusBarInfo(QStringLiteral("Obtaining remote folder's contents..."));
    if (!ftp->listFolderContents(QString())) {
        DisplayMessage(QStringLiteral("Error while listing remote folder's contents. Description: ")
                       + errorDescription());
        StatusBarInfo(QStringLiteral("Could not list remote folder's contents."));
        SetAbortEnabled(false);
        return;
    }
    SetAbortEnabled(false);
    StatusBarInfo(QStringLiteral("Listing of remote folder completed."));
}

void frmMain::RefreshRemoteList()
{
    WaitCursor wait;
    ClearRemoteList();
    SetAbortEnabled(true);
    ListFilesOnServer();
    SetAbortEnabled(false);
    cboRemotePath->setEditText(GetRemoteFolder());
}

void frmMain::RemotePathEntered(const QString &text)
{
    if (text == GetRemoteFolder())
        return;
    if (ChangeCurrentRemoteFolder(text, true)) {
        ClearRemoteList();
        ListFilesOnServer();
        UpdateRemoteCommands();
    }
}

void frmMain::GoUpOneLevel()
{
    FtpComponent *ftp = m_services.xFtp;
    QString before;
    if (!ftp->currentFolder(before) || !ftp->changeToParentFolder()) {
        DisplayMessage(QStringLiteral("Error while attempting to change current remote folder to its parent folder. "
                                      "Description: ")
                       + errorDescription());
        StatusBarInfo(QStringLiteral("Could not change to remote folder's parent."));
        return;
    }
    const QString after = GetRemoteFolder();
    if (after == before) {
        StatusBarInfo(QStringLiteral("Remote path already at a root folder."));
        return;
    }
    if (!ChangeCurrentRemoteFolder(after, true))
        return;
    ClearRemoteList();
    ListFilesOnServer();
    UpdateRemoteCommands();
    StatusBarInfo(QStringLiteral("Remote path now up one folder."));
}

frmMain::RemoteKind frmMain::rowKind(const QTreeWidgetItem *row)
{
    if (!row)
        return KindNone;
    const QString kind = row->text(KindColumn);
    if (kind == QLatin1String("F"))
        return KindFile;
    if (kind == QLatin1String("D"))
        return KindFolder;
    if (kind == QLatin1String("E"))
        return KindLink;
    return KindNone;
}

void frmMain::RemoteDoubleClick(QTreeWidgetItem *row)
{
    if (!row || m_services.xFtp->currentState() != FtpComponent::Idle)
        return;
    const QString name = row->text(0);
    const auto changed = [this] {
        ClearRemoteList();
        ListFilesOnServer();
        UpdateRemoteCommands();
        StatusBarInfo(QStringLiteral("Changed current remote folder."));
    };
    switch (rowKind(row)) {
    case KindFile:
        ReceiveSelectedFiles();
        break;
    case KindFolder:
        if (ChangeCurrentRemoteFolder(name, true))
            changed();
        else
            StatusBarInfo(QStringLiteral("Unable to change current remote folder."));
        break;
    case KindLink:
        if (ChangeCurrentRemoteFolder(name, false))
            changed();
        else
            ReceiveSelectedFiles();
        break;
    case KindNone:
        break;
    }
}

void frmMain::ReceiveSelectedFiles()
{
    FtpComponent *ftp = m_services.xFtp;
    WaitCursor wait;
    SetAbortEnabled(true);
    bool ok = true;
    QString description;
    for (int i = 0; ok && i < lstRemoteFileList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = lstRemoteFileList->topLevelItem(i);
        if (!row->isSelected())
            continue;
        const QString name = row->text(0);
        if (!isSafeLocalName(name)) {
            // A remote name never becomes a path outside the local folder.
            DisplayMessage(name + QStringLiteral(" was skipped: the name cannot be used as a local file name."));
            continue;
        }
        if (rowKind(row) == KindFolder) {
            const QString folder = strLocalPath + name + QLatin1Char('/');
            if (QFileInfo::exists(folder) || !QDir().mkdir(folder)) {
                ok = false;
                description = QStringLiteral("Cannot create the folder '%1'.").arg(folder);
                break;
            }
            const bool recurse =
                m_services.prompts->ask(QStringLiteral("Do you want to receive any subfolders that are contained in "
                                                       "the '")
                                            + name + QStringLiteral("' folder?"),
                                        ConfirmTitle, PromptButtons::YesNo, PromptIcon::Question, this)
                == PromptAnswer::Yes;
            ok = ftp->receiveFiles(name + QStringLiteral("/*"), folder, recurse);
        } else {
            ok = ftp->receiveFile(name, 0, strLocalPath + name);
        }
        if (!ok)
            description = errorDescription();
    }
    if (ok) {
        StatusBarInfo(QStringLiteral("File download(s) complete."));
    } else if (ftp->lastError().number == FtpErrors::Aborted) {
        DisplayMessage(QStringLiteral("Download successfully aborted."));
        StatusBarInfo(QStringLiteral("Download aborted."));
    } else {
        DisplayMessage(QStringLiteral("Error while downloading file(s). Description: ") + description);
        StatusBarInfo(QStringLiteral("Error downloading file(s)."));
    }
    setProgress(0);
    SetAbortEnabled(false);
}

void frmMain::addRemoteRow(const QString &name, const QDateTime &date, qint64 size, int type)
{
    static const char *const letters[] = {"F", "D", "E"};
    if (type < 0 || type > 2)
        return;
    const QStyle::StandardPixmap icons[] = {QStyle::SP_FileIcon, QStyle::SP_DirIcon, QStyle::SP_FileLinkIcon};
    auto *row = new QTreeWidgetItem(lstRemoteFileList);
    row->setText(0, name);
    row->setIcon(0, style()->standardIcon(icons[type]));
    row->setText(1, QString::number(size < 0 ? 0 : size));
    row->setText(2, date.isValid() ? QLocale().toString(date.toLocalTime(), QLocale::ShortFormat) : QString());
    row->setText(KindColumn, QLatin1String(letters[type]));
}

void frmMain::transferStatus(qint64 fileSize, qint64 bytesDone, int percent, const QString &name)
{
    const qint32 state = m_services.xFtp->currentState();
    QString what = QStringLiteral("Processing file '");
    if (state == FtpComponent::SendingFiles || state == FtpComponent::Sending)
        what = QStringLiteral("Uploading file '");
    else if (state == FtpComponent::ReceivingFiles || state == FtpComponent::Receiving)
        what = QStringLiteral("Downloading file '");
    StatusBarInfo(what + name + QStringLiteral("' (") + QString::number(bytesDone / 1024) + QStringLiteral(" of ")
                  + QString::number(fileSize / 1024) + QStringLiteral("K)"));
    setProgress(qBound(0, percent, 100));
}

void frmMain::closeEvent(QCloseEvent *event)
{
    DisconnectFromServer();
    if (!isSettled()) {
        // Closes once the aborted call has returned and the session is closed.
        m_closeWhenDisconnected = true;
        event->ignore();
        return;
    }
    event->accept();
}
