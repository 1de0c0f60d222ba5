#include "config/ui/frmsettings.h"

#include "config/conversions.h"
#include "config/settingsmodel.h"
#include "download/urlmodel.h"
#include "intake/intakerules.h"
#include "platform/prompts.h"
#include "platform/skinelements.h"
#include "platform/ui/shell.h"
#include "platform/ui/skinform.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString CloseQuestion = QStringLiteral("settings changed , Are you sure you want to quit with out saving??");
const QString ExampleTestUrl = QStringLiteral("http://www.example.com/downloads/setup.zip");

// The role that keeps a login row's password; the cell shows it masked.
constexpr int PasswordRole = Qt::UserRole + 1;

QLabel *label(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setWordWrap(false);
    return l;
}

QLineEdit *shortField(QWidget *parent, int chars = 6)
{
    auto *edit = new QLineEdit(parent);
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * (chars + 3));
    return edit;
}

QHBoxLayout *row(std::initializer_list<QWidget *> widgets, bool stretch = true)
{
    auto *layout = new QHBoxLayout;
    for (QWidget *w : widgets)
        layout->addWidget(w);
    if (stretch)
        layout->addStretch();
    return layout;
}

void setNames(std::initializer_list<std::pair<QObject *, const char *>> objects)
{
    for (const auto &[object, name] : objects)
        object->setObjectName(QLatin1String(name));
}

} // namespace

frmSettings::frmSettings(Services services, QWidget *parent)
    : QDialog(parent),
      tabSettings(new QTabBar(this)),
      fraPages(new QStackedWidget(this)),
      m_services(std::move(services)),
      m(*m_services.model)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    tabSettings->setObjectName(QStringLiteral("tabSettings"));
    fraPages->setObjectName(QStringLiteral("fraPages"));

    const std::array<std::pair<QString, QWidget *(frmSettings::*)()>, 10> pages{{
        {QStringLiteral("Information"), &frmSettings::buildInformation},
        {QStringLiteral("Startup"), &frmSettings::buildStartup},
        {QStringLiteral("Monitor"), &frmSettings::buildMonitor},
        {QStringLiteral("Save To"), &frmSettings::buildSaveTo},
        {QStringLiteral("Proxy"), &frmSettings::buildProxy},
        {QStringLiteral("Connections"), &frmSettings::buildConnections},
        {QStringLiteral("Limits"), &frmSettings::buildLimits},
        {QStringLiteral("Login"), &frmSettings::buildLogin},
        {QStringLiteral("Download"), &frmSettings::buildDownload},
        {QStringLiteral("Auto Segment"), &frmSettings::buildAutoSegment},
    }};
    for (const auto &[title, build] : pages) {
        tabSettings->addTab(title);
        fraPages->addWidget((this->*build)());
    }
    tabSettings->setExpanding(false);
    tabSettings->setUsesScrollButtons(false);
    connect(tabSettings, &QTabBar::currentChanged, fraPages, &QStackedWidget::setCurrentIndex);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdApply = new QPushButton(QStringLiteral("&Apply"), this);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdHelp = new QPushButton(QStringLiteral("&Help"), this);
    setNames({{cmdOK, "cmdOK"}, {cmdApply, "cmdApply"}, {cmdCancel, "cmdCancel"}, {cmdHelp, "cmdHelp"}});
    for (QPushButton *b : {cmdOK, cmdApply, cmdCancel, cmdHelp})
        b->setAutoDefault(false);
    connect(cmdOK, &QPushButton::clicked, this, &frmSettings::OK);
    connect(cmdApply, &QPushButton::clicked, this, &frmSettings::Apply);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdHelp, &QPushButton::clicked, this, &frmSettings::Help);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdHelp);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdApply);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabSettings);
    layout->addWidget(fraPages, 1);
    layout->addLayout(buttons);

    // Opening: the store into the model, the model into the widgets.
    lblVersion->setText(m_services.version);
    lblLocation->setText(m_services.programDir);
    m.Populate();
    if (m.txtMonitorTypes.trimmed().isEmpty())
        m.txtMonitorTypes = RefillMonitorTypes;
    if (m.txtMonitorServer.trimmed().isEmpty())
        m.txtMonitorServer = DefaultMonitorServer;
    showModel();
    connectEdits();
    showPage(Information);
    SkinForm(this, SecondWindowSkinName);
    setChanged(false);
}

frmSettings::~frmSettings() = default;

QString frmSettings::caption(const char *id, const QString &defaultText) const
{
    return m_services.captions ? m_services.captions(QLatin1String(id), defaultText) : defaultText;
}

// ---------------------------------------------------------------------------
// Pages

QWidget *frmSettings::buildInformation()
{
    auto *page = new QWidget;
    lblVersion = new QLabel(page);
    lblLocation = new QLabel(page);
    lblLocation->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblLocation->setWordWrap(true);
    lblDownloads = new QLabel(page);
    lblAllBytes = new QLabel(page);
    setNames({{lblVersion, "lblVersion"}, {lblLocation, "lblLocation"}, {lblDownloads, "lblDownloads"},
              {lblAllBytes, "lblAllBytes"}});
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Version:"), lblVersion);
    form->addRow(QStringLiteral("Program location:"), lblLocation);
    auto *usage = new QGroupBox(QStringLiteral("Usage statistics"), page);
    auto *usageForm = new QFormLayout(usage);
    usageForm->addRow(QStringLiteral("Files downloaded:"), lblDownloads);
    usageForm->addRow(QStringLiteral("Bytes downloaded:"), lblAllBytes);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(usage);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildStartup()
{
    auto *page = new QWidget;
    chkStartup = new QCheckBox(QStringLiteral("Start Tessel when I log in to the desktop."), page);
    chkStartup->setObjectName(QStringLiteral("chkStartup"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(chkStartup);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildMonitor()
{
    auto *page = new QWidget;
    chkClickCapture = new QCheckBox(
        QStringLiteral("Monitor clicks in Firefox, Chromium and Chrome (with the Tessel extension)."), page);
    chkClipboard = new QCheckBox(QStringLiteral("Monitor clipboard for URL's to download."), page);
    txtMonitorTypes = new QPlainTextEdit(page);
    txtMonitorServer = new QPlainTextEdit(page);
    for (QPlainTextEdit *edit : {txtMonitorTypes, txtMonitorServer}) {
        edit->setTabChangesFocus(true);
        edit->setMinimumHeight(edit->fontMetrics().lineSpacing() * 3 + 12);
    }
    txtMonitorTypes->installEventFilter(this);
    cmdResetTypes = new QPushButton(QStringLiteral("Reset To Defaults"), page);
    cmdResetServers = new QPushButton(QStringLiteral("Reset To Defaults"), page);
    txtTestURL = new QLineEdit(ExampleTestUrl, page);
    cmdTest = new QPushButton(QStringLiteral("&Test"), page);
    setNames({{chkClickCapture, "chkClickCapture"}, {chkClipboard, "chkClipboard"},
              {txtMonitorTypes, "txtMonitorTypes"}, {txtMonitorServer, "txtMonitorServer"},
              {cmdResetTypes, "cmdResetTypes"}, {cmdResetServers, "cmdResetServers"},
              {txtTestURL, "txtTestURL"}, {cmdTest, "cmdTest"}});
    connect(cmdResetTypes, &QPushButton::clicked, this, [this] { resetList(true); });
    connect(cmdResetServers, &QPushButton::clicked, this, [this] { resetList(false); });
    connect(cmdTest, &QPushButton::clicked, this, &frmSettings::TestURL);

    auto *types = new QGroupBox(QStringLiteral("Download these file types (separated by \";\", \"?\" is any one character):"), page);
    auto *typesLayout = new QVBoxLayout(types);
    typesLayout->addWidget(txtMonitorTypes);
    typesLayout->addLayout(row({cmdResetTypes}));
    auto *servers = new QGroupBox(QStringLiteral("Ignore these servers (separated by \";\", \"*.\" for every sub-domain):"), page);
    auto *serversLayout = new QVBoxLayout(servers);
    serversLayout->addWidget(txtMonitorServer);
    serversLayout->addLayout(row({cmdResetServers}));
    auto *test = new QGroupBox(QStringLiteral("Test a URL against the two lists"), page);
    auto *testLayout = new QHBoxLayout(test);
    testLayout->addWidget(txtTestURL, 1);
    testLayout->addWidget(cmdTest);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(chkClickCapture);
    layout->addWidget(chkClipboard);
    layout->addWidget(types);
    layout->addWidget(servers);
    layout->addWidget(test);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildSaveTo()
{
    auto *page = new QWidget;
    optSameDir = new QRadioButton(QStringLiteral("Same Directory"), page);
    optLastDir = new QRadioButton(QStringLiteral("Last Directory Used"), page);
    optFileType = new QRadioButton(QStringLiteral("By File Type"), page);
    optFileInfo = new QRadioButton(QStringLiteral("By File Info"), page);
    auto *choices = new QButtonGroup(page);
    for (QRadioButton *b : {optSameDir, optLastDir, optFileType, optFileInfo})
        choices->addButton(b);
    fraSaveTo = new QStackedWidget(page);

    // Same Directory
    auto *same = new QWidget;
    txtSameDir = new QLineEdit(same);
    cmdBrowseSameDir = new QPushButton(QStringLiteral("Browse"), same);
    auto *sameLayout = new QVBoxLayout(same);
    sameLayout->addWidget(label(QStringLiteral("Save every download into this folder:"), same));
    auto *sameRow = new QHBoxLayout;
    sameRow->addWidget(txtSameDir, 1);
    sameRow->addWidget(cmdBrowseSameDir);
    sameLayout->addLayout(sameRow);
    sameLayout->addStretch();

    // Last Directory Used
    auto *last = new QWidget;
    lblLastDir = new QLabel(last);
    lblLastDir->setWordWrap(true);
    auto *lastLayout = new QVBoxLayout(last);
    lastLayout->addWidget(label(QStringLiteral("Last Directory:"), last));
    lastLayout->addWidget(lblLastDir);
    lastLayout->addStretch();

    // By File Type
    auto *byType = new QWidget;
    lvwFileTypes = new QTreeWidget(byType);
    lvwFileTypes->setHeaderLabels({QStringLiteral("File Type"), QStringLiteral("Directory")});
    lvwFileTypes->setRootIsDecorated(false);
    lvwFileTypes->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    lvwFileTypes->setMinimumHeight(90);
    txtFileType = shortField(byType, 8);
    txtFileTypeDir = new QLineEdit(byType);
    cmdBrowseFileType = new QPushButton(QStringLiteral("Browse"), byType);
    cmdAddFileType = new QPushButton(QStringLiteral("Add"), byType);
    cmdRemoveFileType = new QPushButton(QStringLiteral("Remove"), byType);
    auto *typeLayout = new QVBoxLayout(byType);
    typeLayout->addWidget(lvwFileTypes, 1);
    auto *typeRow = new QHBoxLayout;
    typeRow->addWidget(label(QStringLiteral("File Type:"), byType));
    typeRow->addWidget(txtFileType);
    typeRow->addWidget(label(QStringLiteral("Directory:"), byType));
    typeRow->addWidget(txtFileTypeDir, 1);
    typeRow->addWidget(cmdBrowseFileType);
    typeLayout->addLayout(typeRow);
    typeLayout->addLayout(row({cmdAddFileType, cmdRemoveFileType}));
    auto *note = label(QStringLiteral("Note:- Last entry in this list will used to new extensions not found in the list..."),
                       byType);
    note->setWordWrap(true);
    typeLayout->addWidget(note);

    // By File Info
    auto *byInfo = new QWidget;
    txtParentDir = new QLineEdit(byInfo);
    cmdBrowseParent = new QPushButton(QStringLiteral("Browse"), byInfo);
    optFileExt = new QRadioButton(QStringLiteral("File Extension Type"), byInfo);
    optDate = new QRadioButton(QStringLiteral("Current Date (Day-Monyh-Year)"), byInfo);
    optServer = new QRadioButton(QStringLiteral("Server Name (Excluding www. and ftp.)"), byInfo);
    auto *naming = new QButtonGroup(byInfo);
    for (QRadioButton *b : {optFileExt, optDate, optServer})
        naming->addButton(b);
    auto *infoLayout = new QVBoxLayout(byInfo);
    infoLayout->addWidget(label(QStringLiteral("Parent Directory:"), byInfo));
    auto *parentRow = new QHBoxLayout;
    parentRow->addWidget(txtParentDir, 1);
    parentRow->addWidget(cmdBrowseParent);
    infoLayout->addLayout(parentRow);
    auto *sub = new QGroupBox(QStringLiteral("Generate Sub Directory from:"), byInfo);
    auto *subLayout = new QVBoxLayout(sub);
    subLayout->addWidget(optFileExt);
    subLayout->addWidget(optDate);
    subLayout->addWidget(optServer);
    infoLayout->addWidget(sub);
    infoLayout->addStretch();

    // The sub-pages in the order of SaveChoice.
    fraSaveTo->addWidget(last);
    fraSaveTo->addWidget(same);
    fraSaveTo->addWidget(byType);
    fraSaveTo->addWidget(byInfo);

    setNames({{optSameDir, "optSameDir"}, {optLastDir, "optLastDir"}, {optFileType, "optFileType"},
              {optFileInfo, "optFileInfo"}, {fraSaveTo, "fraSaveTo"}, {txtSameDir, "txtSameDir"},
              {cmdBrowseSameDir, "cmdBrowseSameDir"}, {lblLastDir, "lblLastDir"}, {lvwFileTypes, "lvwFileTypes"},
              {txtFileType, "txtFileType"}, {txtFileTypeDir, "txtFileTypeDir"},
              {cmdBrowseFileType, "cmdBrowseFileType"}, {cmdAddFileType, "cmdAddFileType"},
              {cmdRemoveFileType, "cmdRemoveFileType"}, {txtParentDir, "txtParentDir"},
              {cmdBrowseParent, "cmdBrowseParent"}, {optFileExt, "optFileExt"}, {optDate, "optDate"},
              {optServer, "optServer"}});

    connect(cmdAddFileType, &QPushButton::clicked, this, &frmSettings::addFileType);
    connect(cmdRemoveFileType, &QPushButton::clicked, this, &frmSettings::removeFileType);

    auto *layout = new QVBoxLayout(page);
    layout->addLayout(row({optSameDir, optLastDir, optFileType, optFileInfo}));
    layout->addWidget(fraSaveTo, 1);
    return page;
}

QWidget *frmSettings::buildProxy()
{
    auto *page = new QWidget;
    chkUsePASV = new QCheckBox(QStringLiteral("Use PASV Mode for FTP Transfers"), page);
    chkUseProxy = new QCheckBox(QStringLiteral("Use Proxy Server"), page);
    fraProxy = new QGroupBox(QStringLiteral("Proxy"), page);
    txtProxyServer = new QLineEdit(fraProxy);
    txtProxyPort = shortField(fraProxy, 5);
    chkUseFTPProxy = new QCheckBox(QStringLiteral("Use HTTP Proxy For FTP Addresses"), fraProxy);
    chkLoginProxy = new QCheckBox(QStringLiteral("Login to HTTP proxy server"), fraProxy);
    txtUserID = new QLineEdit(fraProxy);
    chkUsePass = new QCheckBox(QStringLiteral("Password"), fraProxy);
    txtUserPass = new QLineEdit(fraProxy);
    txtUserPass->setEchoMode(QLineEdit::Password);
    setNames({{chkUsePASV, "chkUsePASV"}, {chkUseProxy, "chkUseProxy"}, {fraProxy, "fraProxy"},
              {txtProxyServer, "txtProxyServer"}, {txtProxyPort, "txtProxyPort"},
              {chkUseFTPProxy, "chkUseFTPProxy"}, {chkLoginProxy, "chkLoginProxy"}, {txtUserID, "txtUserID"},
              {chkUsePass, "chkUsePass"}, {txtUserPass, "txtUserPass"}});

    auto *grid = new QGridLayout(fraProxy);
    grid->addWidget(label(QStringLiteral("Server:"), fraProxy), 0, 0);
    grid->addWidget(txtProxyServer, 0, 1);
    grid->addWidget(label(QStringLiteral("Port:"), fraProxy), 0, 2);
    grid->addWidget(txtProxyPort, 0, 3);
    grid->addWidget(chkUseFTPProxy, 1, 0, 1, 4);
    grid->addWidget(chkLoginProxy, 2, 0, 1, 4);
    grid->addWidget(label(QStringLiteral("User name:"), fraProxy), 3, 0);
    grid->addWidget(txtUserID, 3, 1, 1, 3);
    grid->addWidget(chkUsePass, 4, 0);
    grid->addWidget(txtUserPass, 4, 1, 1, 3);
    grid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(chkUsePASV);
    layout->addWidget(chkUseProxy);
    layout->addWidget(fraProxy);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildConnections()
{
    auto *page = new QWidget;
    txtTimeout = shortField(page);
    chkStopResume = new QCheckBox(QStringLiteral("Stop and Resume if no data recieved..."), page);
    txtTimeResume = shortField(page);
    txtTimeNoResume = shortField(page);
    chkRetry = new QCheckBox(QStringLiteral("Retry after timeout or log in error (server is busy)."), page);
    txtRetryTime = shortField(page);
    txtRetries = shortField(page);
    txtRollback = shortField(page);
    setNames({{txtTimeout, "txtTimeout"}, {chkStopResume, "chkStopResume"}, {txtTimeResume, "txtTimeResume"},
              {txtTimeNoResume, "txtTimeNoResume"}, {chkRetry, "chkRetry"}, {txtRetryTime, "txtRetryTime"},
              {txtRetries, "txtRetries"}, {txtRollback, "txtRollback"}});

    auto *layout = new QVBoxLayout(page);
    layout->addLayout(row({label(QStringLiteral("Timeout Connection Attempt After"), page), txtTimeout,
                           label(QStringLiteral("seconds"), page)}));
    layout->addWidget(chkStopResume);
    auto *resume = new QGridLayout;
    resume->setContentsMargins(24, 0, 0, 0);
    resume->addWidget(label(QStringLiteral("after"), page), 0, 0);
    resume->addWidget(txtTimeResume, 0, 1);
    resume->addWidget(label(QStringLiteral("minutes if server can resume"), page), 0, 2);
    resume->addWidget(label(QStringLiteral("after"), page), 1, 0);
    resume->addWidget(txtTimeNoResume, 1, 1);
    resume->addWidget(label(QStringLiteral("minutes if server does not support resume"), page), 1, 2);
    resume->setColumnStretch(3, 1);
    layout->addLayout(resume);
    layout->addWidget(chkRetry);
    auto *retry = row({label(QStringLiteral("Try after"), page), txtRetryTime, label(QStringLiteral("seconds up to"), page),
                       txtRetries, label(QStringLiteral("times before quiting."), page)});
    retry->setContentsMargins(24, 0, 0, 0);
    layout->addLayout(retry);
    layout->addLayout(row({label(QStringLiteral("Rollback"), page), txtRollback,
                           label(QStringLiteral("KB before the resume point"), page)}));
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildLimits()
{
    auto *page = new QWidget;
    txtLimitHTTP = shortField(page, 4);
    txtLimitFTP = shortField(page, 4);
    setNames({{txtLimitHTTP, "txtLimitHTTP"}, {txtLimitFTP, "txtLimitFTP"}});
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Simultaneous downloads from one HTTP server:"), txtLimitHTTP);
    form->addRow(QStringLiteral("Simultaneous downloads from one FTP server:"), txtLimitFTP);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildLogin()
{
    auto *page = new QWidget;
    chkLoginRequired = new QCheckBox(QStringLiteral("Login Required"), page);
    fraLogin = new QGroupBox(QStringLiteral("Login"), page);
    lvwLogins = new QTreeWidget(fraLogin);
    lvwLogins->setHeaderLabels({QStringLiteral("Server"), QStringLiteral("Username"), QStringLiteral("Password")});
    lvwLogins->setRootIsDecorated(false);
    lvwLogins->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwLogins->header()->setSectionResizeMode(QHeaderView::Stretch);
    lvwLogins->setSortingEnabled(true);
    lvwLogins->header()->setSortIndicatorShown(true);
    lvwLogins->header()->setSortIndicator(-1, Qt::AscendingOrder);
    txtLoginServer = new QLineEdit(fraLogin);
    txtLoginUser = new QLineEdit(fraLogin);
    txtLoginPass = new QLineEdit(fraLogin);
    txtLoginPass->setEchoMode(QLineEdit::Password);
    cmdAddLogin = new QPushButton(QStringLiteral("Add"), fraLogin);
    cmdDeleteLogin = new QPushButton(QStringLiteral("Delete"), fraLogin);
    setNames({{chkLoginRequired, "chkLoginRequired"}, {fraLogin, "fraLogin"}, {lvwLogins, "lvwLogins"},
              {txtLoginServer, "txtLoginServer"}, {txtLoginUser, "txtLoginUser"}, {txtLoginPass, "txtLoginPass"},
              {cmdAddLogin, "cmdAddLogin"}, {cmdDeleteLogin, "cmdDeleteLogin"}});
    connect(cmdAddLogin, &QPushButton::clicked, this, &frmSettings::addLogin);
    connect(cmdDeleteLogin, &QPushButton::clicked, this, &frmSettings::deleteLogins);
    // The saved order is the shown order.
    connect(lvwLogins->model(), &QAbstractItemModel::layoutChanged, this, [this] { takeLoginOrder(); });

    auto *grid = new QGridLayout;
    grid->addWidget(label(QStringLiteral("Server"), fraLogin), 0, 0);
    grid->addWidget(label(QStringLiteral("Username"), fraLogin), 0, 1);
    grid->addWidget(label(QStringLiteral("Password"), fraLogin), 0, 2);
    grid->addWidget(txtLoginServer, 1, 0);
    grid->addWidget(txtLoginUser, 1, 1);
    grid->addWidget(txtLoginPass, 1, 2);
    auto *frame = new QVBoxLayout(fraLogin);
    frame->addWidget(lvwLogins, 1);
    frame->addLayout(grid);
    frame->addLayout(row({cmdAddLogin, cmdDeleteLogin}));

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(chkLoginRequired);
    layout->addWidget(fraLogin, 1);
    return page;
}

QWidget *frmSettings::buildDownload()
{
    auto *page = new QWidget;
    chkPromptDone = new QCheckBox(QStringLiteral("Bring up prompt telling me download is done."), page);
    chkCloseWhenDone = new QCheckBox(QStringLiteral("Close download window."), page);
    optDownloadNow = new QRadioButton(QStringLiteral("Start Downloading Immediately"), page);
    optDownloadLater = new QRadioButton(QStringLiteral("Add to list but do not start downloading."), page);
    optDownloadPrompt = new QRadioButton(QStringLiteral("Ask to download now or later."), page);
    setNames({{chkPromptDone, "chkPromptDone"}, {chkCloseWhenDone, "chkCloseWhenDone"},
              {optDownloadNow, "optDownloadNow"}, {optDownloadLater, "optDownloadLater"},
              {optDownloadPrompt, "optDownloadPrompt"}});
    auto *done = new QGroupBox(QStringLiteral("When a download is done"), page);
    auto *doneLayout = new QVBoxLayout(done);
    doneLayout->addWidget(chkPromptDone);
    doneLayout->addWidget(chkCloseWhenDone);
    auto *added = new QGroupBox(QStringLiteral("When a new download is added"), page);
    auto *addedLayout = new QVBoxLayout(added);
    addedLayout->addWidget(optDownloadNow);
    addedLayout->addWidget(optDownloadLater);
    addedLayout->addWidget(optDownloadPrompt);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(done);
    layout->addWidget(added);
    layout->addStretch();
    return page;
}

QWidget *frmSettings::buildAutoSegment()
{
    auto *page = new QWidget;
    chkSegment = new QCheckBox(
        QStringLiteral("Auto Segment the file using multiple connection streams to accelerate the download."), page);
    chkSegment->setObjectName(QStringLiteral("chkSegment"));
    fraSegment = new QGroupBox(QStringLiteral("Segments by file size"), page);
    fraSegment->setObjectName(QStringLiteral("fraSegment"));
    auto *grid = new QGridLayout(fraSegment);
    const QStringList rowTexts{QStringLiteral("Use 2 segments if file is "), QStringLiteral("Use 3 segments if file is "),
                               QStringLiteral("Use 4 segments if file is"), QStringLiteral("Use 5 segments if file is")};
    for (int i = 0; i < 9; ++i) {
        txtSegmentSize[i] = shortField(fraSegment, 5);
        txtSegmentSize[i]->setObjectName(QStringLiteral("txtSegmentSize%1").arg(i + 1));
    }
    for (int r = 0; r < 4; ++r) {
        QLabel *text = label(rowTexts.at(r), fraSegment);
        QLabel *to = label(QStringLiteral("MB  to"), fraSegment);
        QLabel *mb = label(QStringLiteral("MB"), fraSegment);
        lblSegmentRows << text << to << mb;
        grid->addWidget(text, r, 0);
        grid->addWidget(txtSegmentSize[2 * r], r, 1);
        grid->addWidget(to, r, 2);
        grid->addWidget(txtSegmentSize[2 * r + 1], r, 3);
        grid->addWidget(mb, r, 4);
    }
    QLabel *six = label(QStringLiteral("Use 6 segments if file is"), fraSegment);
    QLabel *greater = label(QStringLiteral("MB  or greater."), fraSegment);
    lblSegmentRows << six << greater;
    grid->addWidget(six, 4, 0);
    grid->addWidget(txtSegmentSize[8], 4, 1);
    grid->addWidget(greater, 4, 2, 1, 3);
    grid->setColumnStretch(5, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(chkSegment);
    layout->addWidget(fraSegment);
    layout->addStretch();
    return page;
}

// ---------------------------------------------------------------------------
// Model and widgets

void frmSettings::showModel()
{
    const bool wasLoading = std::exchange(m_loading, true);
    lblDownloads->setText(m.lblDownloads);
    lblAllBytes->setText(FormatSize(conv::toNumber(m.lblAllBytes).value_or(0)));
    chkStartup->setChecked(m.chkStartup);
    chkClickCapture->setChecked(m.chkClickCapture);
    chkClipboard->setChecked(m.chkClipboard);
    txtMonitorTypes->setPlainText(m.txtMonitorTypes);
    txtMonitorServer->setPlainText(m.txtMonitorServer);

    optSameDir->setChecked(m.saveChoice == SaveChoice::SameDirectory);
    optLastDir->setChecked(m.saveChoice == SaveChoice::LastDirectory);
    optFileType->setChecked(m.saveChoice == SaveChoice::ByFileType);
    optFileInfo->setChecked(m.saveChoice == SaveChoice::ByFileInfo);
    txtSameDir->setText(m.txtSameDir);
    lblLastDir->setText(m.lblLastDir);
    txtParentDir->setText(m.txtParentDir);
    optFileExt->setChecked(m.naming == SubFolderNaming::FileExtension);
    optDate->setChecked(m.naming == SubFolderNaming::CurrentDate);
    optServer->setChecked(m.naming == SubFolderNaming::ServerName);
    showFileTypes();

    chkUsePASV->setChecked(m.chkUsePASV);
    chkUseProxy->setChecked(m.chkUseProxy);
    txtProxyServer->setText(m.txtProxyServer);
    txtProxyPort->setText(m.txtProxyPort);
    chkUseFTPProxy->setChecked(m.chkUseFTPProxy);
    chkLoginProxy->setChecked(m.chkLoginProxy);
    txtUserID->setText(m.txtUserID);
    chkUsePass->setChecked(m.chkUsePass);
    txtUserPass->setText(m.txtUserPass);

    txtTimeout->setText(m.txtTimeout);
    chkStopResume->setChecked(m.chkStopResume);
    txtTimeResume->setText(m.txtTimeResume);
    txtTimeNoResume->setText(m.txtTimeNoResume);
    chkRetry->setChecked(m.chkRetry);
    txtRetryTime->setText(m.txtRetryTime);
    txtRetries->setText(m.txtRetries);
    txtRollback->setText(m.txtRollback);
    txtLimitHTTP->setText(m.txtLimitHTTP);
    txtLimitFTP->setText(m.txtLimitFTP);

    showLogins();
    chkLoginRequired->setChecked(!m.logins.isEmpty());

    chkPromptDone->setChecked(m.chkPromptDone);
    chkCloseWhenDone->setChecked(m.chkCloseWhenDone);
    optDownloadNow->setChecked(m.newDownload == NewDownloadOption::StartNow);
    optDownloadLater->setChecked(m.newDownload == NewDownloadOption::AddToList);
    optDownloadPrompt->setChecked(m.newDownload == NewDownloadOption::Ask);

    chkSegment->setChecked(m.chkSegment);
    for (int i = 0; i < 9; ++i)
        txtSegmentSize[i]->setText(m.txtSegmentSize[i]);
    applyEnabling();
    m_loading = wasLoading;
}

void frmSettings::showFileTypes()
{
    lvwFileTypes->clear();
    for (const FileTypeRow &r : std::as_const(m.fileTypes))
        new QTreeWidgetItem(lvwFileTypes, {r.type, r.folder});
}

void frmSettings::showLogins()
{
    lvwLogins->setSortingEnabled(false);
    lvwLogins->clear();
    for (const LoginAccount &a : std::as_const(m.logins)) {
        auto *item = new QTreeWidgetItem(lvwLogins, {a.server, a.user, QString(a.password.size(), QLatin1Char('*'))});
        item->setData(0, PasswordRole, a.password);
    }
    lvwLogins->setSortingEnabled(true);
}

void frmSettings::takeLoginOrder()
{
    LoginTable table;
    for (int i = 0; i < lvwLogins->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = lvwLogins->topLevelItem(i);
        table.append({item->text(0), item->text(1), item->data(0, PasswordRole).toString()});
    }
    m.logins = table;
}

void frmSettings::applyEnabling()
{
    const ProxyEnabling proxy =
        SettingsModel::proxyEnabling(chkUseProxy->isChecked(), chkLoginProxy->isChecked(), chkUsePass->isChecked());
    for (QWidget *w : std::initializer_list<QWidget *>{fraProxy, txtProxyServer, txtProxyPort, chkUseFTPProxy, chkLoginProxy})
        w->setEnabled(proxy.proxyFrame);
    txtUserID->setEnabled(proxy.userName);
    chkUsePass->setEnabled(proxy.userName);
    txtUserPass->setEnabled(proxy.password);

    fraLogin->setEnabled(chkLoginRequired->isChecked());

    const bool segment = chkSegment->isChecked();
    fraSegment->setEnabled(segment);
    for (QLineEdit *field : txtSegmentSize)
        field->setEnabled(segment);
    for (QLabel *l : std::as_const(lblSegmentRows))
        l->setEnabled(segment);

    fraSaveTo->setCurrentIndex(int(m.saveChoice));
}

void frmSettings::setChanged(bool on)
{
    m.changed = on;
    cmdApply->setEnabled(on);
}

bool frmSettings::isChanged() const
{
    return m.changed;
}

void frmSettings::connectEdits()
{
    // An edit goes into the model and marks the dialog changed; showing the
    // model (m_loading) is no edit.
    const auto edited = [this](auto apply) {
        return [this, apply](auto... value) {
            if (m_loading)
                return;
            apply(value...);
            applyEnabling();
            setChanged(true);
        };
    };
    const auto text = [&](QLineEdit *edit, QString &field) {
        connect(edit, &QLineEdit::textChanged, this, edited([&field](const QString &t) { field = t; }));
    };
    const auto box = [&](QCheckBox *check, bool &field) {
        connect(check, &QCheckBox::toggled, this, edited([&field](bool on) { field = on; }));
    };
    const auto option = [&](QRadioButton *button, auto &field, auto value) {
        connect(button, &QRadioButton::toggled, this, edited([&field, value](bool on) {
                    if (on)
                        field = value;
                }));
    };

    // The three boxes that act before saving.
    connect(chkStartup, &QCheckBox::toggled, this, edited([this](bool on) { m.setStartupWithWindows(on); }));
    connect(chkClipboard, &QCheckBox::toggled, this, edited([this](bool on) { m.setClipboardMonitoring(on); }));
    connect(chkClickCapture, &QCheckBox::toggled, this, edited([this](bool on) { m.setClickCapture(on); }));
    // The segment box sets the record's flag at once too.
    connect(chkSegment, &QCheckBox::toggled, this, edited([this](bool on) { m.setSegment(on); }));

    connect(txtMonitorTypes, &QPlainTextEdit::textChanged, this,
            edited([this] { m.txtMonitorTypes = txtMonitorTypes->toPlainText(); }));
    connect(txtMonitorServer, &QPlainTextEdit::textChanged, this,
            edited([this] { m.txtMonitorServer = txtMonitorServer->toPlainText(); }));

    option(optSameDir, m.saveChoice, SaveChoice::SameDirectory);
    option(optLastDir, m.saveChoice, SaveChoice::LastDirectory);
    option(optFileType, m.saveChoice, SaveChoice::ByFileType);
    option(optFileInfo, m.saveChoice, SaveChoice::ByFileInfo);
    option(optFileExt, m.naming, SubFolderNaming::FileExtension);
    option(optDate, m.naming, SubFolderNaming::CurrentDate);
    option(optServer, m.naming, SubFolderNaming::ServerName);
    text(txtSameDir, m.txtSameDir);
    text(txtParentDir, m.txtParentDir);

    box(chkUsePASV, m.chkUsePASV);
    box(chkUseProxy, m.chkUseProxy);
    text(txtProxyServer, m.txtProxyServer);
    text(txtProxyPort, m.txtProxyPort);
    box(chkUseFTPProxy, m.chkUseFTPProxy);
    box(chkLoginProxy, m.chkLoginProxy);
    text(txtUserID, m.txtUserID);
    box(chkUsePass, m.chkUsePass);
    text(txtUserPass, m.txtUserPass);

    text(txtTimeout, m.txtTimeout);
    box(chkStopResume, m.chkStopResume);
    text(txtTimeResume, m.txtTimeResume);
    text(txtTimeNoResume, m.txtTimeNoResume);
    box(chkRetry, m.chkRetry);
    text(txtRetryTime, m.txtRetryTime);
    text(txtRetries, m.txtRetries);
    text(txtRollback, m.txtRollback);
    text(txtLimitHTTP, m.txtLimitHTTP);
    text(txtLimitFTP, m.txtLimitFTP);

    box(chkPromptDone, m.chkPromptDone);
    box(chkCloseWhenDone, m.chkCloseWhenDone);
    option(optDownloadNow, m.newDownload, NewDownloadOption::StartNow);
    option(optDownloadLater, m.newDownload, NewDownloadOption::AddToList);
    option(optDownloadPrompt, m.newDownload, NewDownloadOption::Ask);
    for (int i = 0; i < 9; ++i)
        text(txtSegmentSize[i], m.txtSegmentSize[i]);

    // "Login Required" only opens the table for editing; it is not stored.
    connect(chkLoginRequired, &QCheckBox::toggled, this, [this] { applyEnabling(); });

    // The same-directory Browse fills the field without marking a change;
    // the parent-folder Browse marks one like typing does.
    connect(cmdBrowseSameDir, &QPushButton::clicked, this, [this] {
        const QString folder = browseFolder(txtSameDir->text());
        if (folder.isEmpty())
            return;
        const bool wasChanged = m.changed;
        txtSameDir->setText(folder);
        setChanged(wasChanged);
    });
    connect(cmdBrowseParent, &QPushButton::clicked, this, [this] {
        const QString folder = browseFolder(txtParentDir->text());
        if (!folder.isEmpty())
            txtParentDir->setText(folder);
    });
    connect(cmdBrowseFileType, &QPushButton::clicked, this, [this] {
        const QString folder = browseFolder(txtFileTypeDir->text());
        if (!folder.isEmpty())
            txtFileTypeDir->setText(folder);
    });
}

void frmSettings::showPage(Page page)
{
    tabSettings->setCurrentIndex(int(page));
    fraPages->setCurrentIndex(int(page));
}

// ---------------------------------------------------------------------------
// Commands

QString frmSettings::browseFolder(const QString &start)
{
    if (!m_services.prompts)
        return {};
    FolderRequest request;
    request.title = QStringLiteral("Choose a folder");
    request.directory = start;
    request.owner = this;
    return m_services.prompts->folder(request);
}

bool frmSettings::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtMonitorTypes && event->type() == QEvent::FocusOut)
        checkMonitorTypes();
    return QDialog::eventFilter(watched, event);
}

void frmSettings::checkMonitorTypes()
{
    // The text stays as typed; the box only tells.
    if (!m_services.prompts || !SettingsModel::HasInvalidTypeCharacter(txtMonitorTypes->toPlainText()))
        return;
    const QString text = caption("11029");
    m_services.prompts->inform(text, text, PromptIcon::Error, this);
}

void frmSettings::resetList(bool types)
{
    if (!m_services.prompts)
        return;
    const QString question = caption(types ? "11023" : "11020") + QStringLiteral("\n\n") + caption("11021");
    if (m_services.prompts->ask(question, caption("11022"), PromptButtons::YesNo, PromptIcon::Question, this)
        != PromptAnswer::Yes)
        return;
    if (types)
        txtMonitorTypes->setPlainText(DefaultMonitorTypes);
    else
        txtMonitorServer->setPlainText(DefaultMonitorServer);
}

void frmSettings::TestURL()
{
    const QString url = txtTestURL->text();
    const QString server = GetServerName(url);
    const QString extension = SettingsModel::TestExtensionOf(GetFileName(url));
    const auto word = [](bool found) { return found ? QStringLiteral("True") : QStringLiteral("False"); };
    const QString text =
        caption("11024", QStringLiteral("The following results were returned:")) + QStringLiteral("\n\n")
        + caption("11025", QStringLiteral("Servers(if server exist in ignore list) ="))
        + word(SettingsModel::TestServerInList(server, txtMonitorServer->toPlainText())) + QStringLiteral("\n")
        + caption("11026", QStringLiteral("Extensions(if extension exsit in download list) ="))
        + word(SettingsModel::TestExtensionInList(extension, txtMonitorTypes->toPlainText())) + QStringLiteral("\n\n")
        + caption("11027", QStringLiteral("True means it was found. False means it was not."));
    if (m_services.prompts)
        m_services.prompts->inform(text, caption("11028", QStringLiteral("URL Server & EXT Test")), PromptIcon::None,
                                   this);
}

void frmSettings::addFileType()
{
    if (!m.AddFileType(txtFileType->text(), txtFileTypeDir->text()))
        return;
    new QTreeWidgetItem(lvwFileTypes, {txtFileType->text(), txtFileTypeDir->text()});
    txtFileType->clear();
    txtFileTypeDir->clear();
}

void frmSettings::removeFileType()
{
    QTreeWidgetItem *item = lvwFileTypes->currentItem();
    if (!item || lvwFileTypes->topLevelItemCount() == 0)
        return;
    const int index = lvwFileTypes->indexOfTopLevelItem(item);
    delete item;
    if (index >= 0 && index < m.fileTypes.size())
        m.fileTypes.removeAt(index);
}

void frmSettings::addLogin()
{
    const LoginRefusal refusal = m.AddLogin(txtLoginServer->text(), txtLoginUser->text(), txtLoginPass->text());
    if (refusal != LoginRefusal::None) {
        const char *id = refusal == LoginRefusal::Server ? "11017" : refusal == LoginRefusal::User ? "11018" : "11019";
        if (m_services.prompts)
            m_services.prompts->inform(caption(id), m_services.appTitle, PromptIcon::Warning, this);
        return;
    }
    // The new row joins the table where the current sorting puts it; the
    // model follows the shown order.
    const LoginAccount &added = m.logins.constLast();
    auto *item = new QTreeWidgetItem({added.server, added.user, QString(added.password.size(), QLatin1Char('*'))});
    item->setData(0, PasswordRole, added.password);
    lvwLogins->addTopLevelItem(item);
    takeLoginOrder();
    txtLoginServer->clear();
    txtLoginUser->clear();
    txtLoginPass->clear();
    setChanged(true);
}

void frmSettings::deleteLogins()
{
    const QList<QTreeWidgetItem *> selected = lvwLogins->selectedItems();
    if (selected.isEmpty())
        return;
    qDeleteAll(selected);
    takeLoginOrder();
    setChanged(true);
}

void frmSettings::Apply()
{
    m.SaveAll();
    if (m_services.loadSettings)
        m_services.loadSettings();
    setChanged(false);
}

void frmSettings::OK()
{
    Apply();
    accept();
}

void frmSettings::Help()
{
    if (m_services.shell && !m_services.helpFile.isEmpty())
        m_services.shell->openFile(m_services.helpFile);
}

bool frmSettings::mayClose()
{
    if (!m.changed || !m_services.prompts)
        return true;
    return m_services.prompts->ask(CloseQuestion, m_services.appTitle, PromptButtons::YesNo, PromptIcon::None, this)
           == PromptAnswer::Yes;
}

void frmSettings::done(int result)
{
    if (result != QDialog::Accepted) {
        if (!mayClose())
            return;
        // Leaving without saving: the model goes back to what is stored.
        m.Populate();
        m.changed = false;
    }
    QDialog::done(result);
}
