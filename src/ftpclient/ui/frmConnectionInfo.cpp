#include "ftpclient/ui/frmConnectionInfo.h"

#include "platform/programdir.h"
#include "platform/prompts.h"
#include "platform/ui/skinform.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString RootText = QStringLiteral("Profiles");
const QString RootKey = QStringLiteral("r");
const QString DefaultPort = QStringLiteral("21");
const QString ImplicitPort = QStringLiteral("990");
const QString Anonymous = QStringLiteral("anonymous");

QTreeWidget *makeTree(const QString &name)
{
    auto *tree = new QTreeWidget;
    tree->setObjectName(name);
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    return tree;
}

QLineEdit *makeEdit(const QString &name, int maxLength)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    return edit;
}

QPushButton *makeButton(const QString &name, const QString &text)
{
    auto *button = new QPushButton(text);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

// Numeric as the port rule means it: a number, whatever its form.
bool isNumeric(const QString &text, double *value)
{
    bool ok = false;
    *value = text.trimmed().toDouble(&ok);
    return ok;
}

} // namespace

frmConnectionInfo::frmConnectionInfo(Services services, QWidget *parent)
    : QDialog(parent), m_services(std::move(services))
{
    setObjectName(QStringLiteral("frmConnectionInfo"));
    setWindowTitle(QStringLiteral("Connection information"));
    setModal(true);
    buildControls();

    // Loading: both folders exist from now on, both trees show them.
    profiles::ensureFolders(m_services.programDir);
    FillTrees();
    SelectNormal();
    SkinForm(this, SecondWindowSkinName, SkinFlavour::CorvaneDialog);
}

frmConnectionInfo::~frmConnectionInfo() = default;

void frmConnectionInfo::buildControls()
{
    tvlStandard = makeTree(QStringLiteral("tvlStandard"));
    tvlPrivate = makeTree(QStringLiteral("tvlPrivate"));
    tabProfiles = new QTabWidget;
    tabProfiles->setObjectName(QStringLiteral("tabProfiles"));
    tabProfiles->addTab(tvlStandard, QStringLiteral("Standard"));
    tabProfiles->addTab(tvlPrivate, QStringLiteral("Private"));
    for (QTreeWidget *tree : {tvlStandard, tvlPrivate}) {
        connect(tree, &QTreeWidget::itemClicked, this, [this, tree](QTreeWidgetItem *item) { NodeClick(tree, item); });
        connect(tree, &QTreeWidget::itemActivated, this, [this, tree](QTreeWidgetItem *item) { NodeClick(tree, item); });
    }

    txtSiteName = makeEdit(QStringLiteral("txtSiteName"), 49);
    txtAddress = makeEdit(QStringLiteral("txtAddress"), 74);
    txtPort = makeEdit(QStringLiteral("txtPort"), 49);
    txtPort->setText(DefaultPort);
    txtUser = makeEdit(QStringLiteral("txtUser"), 49);
    txtPassword = makeEdit(QStringLiteral("txtPassword"), 49);
    txtPassword->setEchoMode(QLineEdit::Password);
    connect(txtPort, &QLineEdit::textChanged, this, &frmConnectionInfo::portChanged);

    optNormal = new QRadioButton(QStringLiteral("Normal"));
    optNormal->setObjectName(QStringLiteral("optNormal"));
    optAnonymous = new QRadioButton(QStringLiteral("Anonymous"));
    optAnonymous->setObjectName(QStringLiteral("optAnonymous"));
    auto *loginGroup = new QButtonGroup(this);
    loginGroup->addButton(optNormal);
    loginGroup->addButton(optAnonymous);
    connect(optNormal, &QRadioButton::clicked, this, &frmConnectionInfo::SelectNormal);
    connect(optAnonymous, &QRadioButton::clicked, this, &frmConnectionInfo::SelectAnonymous);

    chkPassive = new QCheckBox(QStringLiteral("Passive Mode"));
    chkPassive->setObjectName(QStringLiteral("chkPassive"));
    cboEncryption = new QComboBox;
    cboEncryption->setObjectName(QStringLiteral("cboEncryption"));
    cboEncryption->addItem(QStringLiteral("Plain FTP"), int(FtpSecurity::Plain));
    cboEncryption->addItem(QStringLiteral("Explicit TLS (AUTH TLS)"), int(FtpSecurity::ExplicitTls));
    cboEncryption->addItem(QStringLiteral("Implicit TLS (ftps, port 990)"), int(FtpSecurity::ImplicitTls));
    // A choice the user makes moves the port between the two defaults (21
    // and 990) when it still holds the other one; a typed port stays.
    connect(cboEncryption, &QComboBox::activated, this, [this] {
        const bool implicit = security() == FtpSecurity::ImplicitTls;
        if (implicit && txtPort->text() == DefaultPort)
            txtPort->setText(ImplicitPort);
        else if (!implicit && txtPort->text() == ImplicitPort)
            txtPort->setText(DefaultPort);
    });

    cmdNew = makeButton(QStringLiteral("cmdNew"), QStringLiteral("New Site"));
    cmdSave = makeButton(QStringLiteral("cmdSave"), QStringLiteral("Save Site"));
    cmdDelete = makeButton(QStringLiteral("cmdDelete"), QStringLiteral("Delete Site"));
    cmdDelete->setEnabled(false);
    cmdConnect = makeButton(QStringLiteral("cmdConnect"), QStringLiteral("&Connect"));
    cmdConnect->setDefault(true);
    cmdCancel = makeButton(QStringLiteral("cmdCancel"), QStringLiteral("C&ancel"));
    connect(cmdNew, &QPushButton::clicked, this, &frmConnectionInfo::NewSite);
    connect(cmdSave, &QPushButton::clicked, this, &frmConnectionInfo::SaveSite);
    connect(cmdDelete, &QPushButton::clicked, this, &frmConnectionInfo::DeleteSite);
    connect(cmdConnect, &QPushButton::clicked, this, [this] {
        m_cancelled = false;
        hide();
        done(QDialog::Accepted);
    });
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        m_cancelled = true;
        hide();
        done(QDialog::Rejected);
    });

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Site Name"), txtSiteName);
    fields->addRow(QStringLiteral("Server Address"), txtAddress);
    fields->addRow(QStringLiteral("Port"), txtPort);
    fields->addRow(QStringLiteral("User Name"), txtUser);
    fields->addRow(QStringLiteral("Password"), txtPassword);
    auto *loginBox = new QGroupBox(QStringLiteral("Login Type"));
    auto *loginLayout = new QHBoxLayout(loginBox);
    loginLayout->addWidget(optNormal);
    loginLayout->addWidget(optAnonymous);
    fields->addRow(loginBox);
    fields->addRow(chkPassive);
    fields->addRow(QStringLiteral("Encryption"), cboEncryption);

    auto *siteButtons = new QHBoxLayout;
    siteButtons->addWidget(cmdNew);
    siteButtons->addWidget(cmdSave);
    siteButtons->addWidget(cmdDelete);
    auto *right = new QVBoxLayout;
    right->addLayout(fields);
    right->addLayout(siteButtons);
    right->addStretch();

    auto *top = new QHBoxLayout;
    top->addWidget(tabProfiles, 1);
    top->addLayout(right, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(cmdConnect);
    bottom->addWidget(cmdCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(bottom);
}

bool frmConnectionInfo::ShowForm(QString &address, QString &port, QString &userName, QString &password,
                                 bool &isAnonymous, bool &passive, FtpSecurity *security)
{
    m_cancelled = true;
    txtAddress->setText(address);
    txtUser->setText(userName);
    txtPassword->setText(password);
    txtPort->setText(port.isEmpty() ? DefaultPort : port);
    if (isAnonymous)
        SelectAnonymous();
    else
        SelectNormal();
    chkPassive->setChecked(passive);
    if (security)
        setSecurity(*security);

    exec();

    if (m_cancelled)
        return false;
    address = txtAddress->text();
    port = txtPort->text();
    userName = txtUser->text();
    password = txtPassword->text();
    isAnonymous = optAnonymous->isChecked();
    passive = chkPassive->isChecked();
    if (security)
        *security = this->security();
    return true;
}

void frmConnectionInfo::closeEvent(QCloseEvent *event)
{
    m_cancelled = true;
    QDialog::closeEvent(event);
}

void frmConnectionInfo::FillTrees()
{
    fillTree(tvlPrivate, ProfileFolder::Private);
    fillTree(tvlStandard, ProfileFolder::Standard);
}

void frmConnectionInfo::fillTree(QTreeWidget *tree, ProfileFolder folder)
{
    tree->clear();
    auto *root = new QTreeWidgetItem(tree, {RootText});
    root->setData(0, Qt::UserRole, RootKey);
    for (const QString &file : profiles::list(m_services.programDir, folder))
        new QTreeWidgetItem(root, {file});
    root->setExpanded(true);
}

void frmConnectionInfo::NodeClick(QTreeWidget *tree, QTreeWidgetItem *node)
{
    if (!node)
        return;
    if (node->data(0, Qt::UserRole).toString() == RootKey) {
        cmdDelete->setEnabled(false);
        return;
    }
    const bool isPrivate = tree == tvlPrivate;
    const ProfileFolder folder = isPrivate ? ProfileFolder::Private : ProfileFolder::Standard;
    const SiteProfile p =
        profiles::read(joinPath(profiles::folderPath(m_services.programDir, folder), node->text(0)));
    txtSiteName->setText(p.name);
    txtAddress->setText(p.host);
    txtPort->setText(p.port);
    txtUser->setText(p.user);
    txtPassword->setText(p.password);
    chkPassive->setChecked(p.passive);
    setSecurity(p.security);

    const bool anonymous = p.user == Anonymous;
    if (isPrivate) {
        if (anonymous)
            SelectAnonymous();
        else
            SelectNormal();
    } else if (anonymous) {
        SelectAnonymous();
    } else {
        // A standard profile without a password selects neither type.
        setLoginType(!txtPassword->text().isEmpty(), false);
    }
    cmdDelete->setEnabled(true);
}

void frmConnectionInfo::SelectNormal()
{
    setLoginType(true, false);
}

void frmConnectionInfo::SelectAnonymous()
{
    setLoginType(false, true);
    txtUser->setText(Anonymous);
    txtPassword->clear();
}

void frmConnectionInfo::setLoginType(bool normal, bool anonymous)
{
    // The pair is exclusive while one is checked; clearing both needs the
    // group's exclusiveness off for a moment.
    QButtonGroup *group = optNormal->group();
    group->setExclusive(false);
    optNormal->setChecked(normal);
    optAnonymous->setChecked(anonymous);
    group->setExclusive(true);
    applyCredentialFields();
}

void frmConnectionInfo::applyCredentialFields()
{
    const bool enabled = !optAnonymous->isChecked();
    for (QLineEdit *edit : {txtUser, txtPassword}) {
        edit->setEnabled(enabled);
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, enabled ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
        edit->setPalette(pal);
    }
}

void frmConnectionInfo::portChanged(const QString &text)
{
    double value = 0;
    if (!isNumeric(text, &value) || value <= 0)
        txtPort->setText(DefaultPort);
}

void frmConnectionInfo::NewSite()
{
    tabProfiles->setCurrentWidget(tvlPrivate);
    txtSiteName->clear();
    txtAddress->clear();
    txtPassword->clear();
    txtUser->clear();
    txtPort->setText(DefaultPort);
    SelectNormal();
    chkPassive->setChecked(false);
    setSecurity(FtpSecurity::Plain);
    cmdDelete->setEnabled(false);
    txtSiteName->setFocus();
}

void frmConnectionInfo::SaveSite()
{
    tabProfiles->setCurrentWidget(tvlPrivate);
    SiteProfile p;
    p.name = txtSiteName->text();
    p.host = txtAddress->text();
    p.port = txtPort->text();
    p.user = txtUser->text();
    p.password = txtPassword->text();
    p.passive = chkPassive->isChecked();
    p.security = security();
    if (p.name.isEmpty() || p.host.isEmpty() || !profiles::isSafeName(p.name)) {
        m_services.prompts->inform(QStringLiteral("Please check Site name and Server Address!"), m_services.appTitle,
                                   PromptIcon::Warning, this);
        return;
    }
    const bool anonymous = !optNormal->isChecked(); // the password is kept only for Normal
    const profiles::SaveResult result = profiles::save(m_services.programDir, p, anonymous);
    FillTrees();
    cmdDelete->setEnabled(false);
    if (result == profiles::SaveResult::Saved)
        m_services.prompts->inform(QStringLiteral("Profile Saved"), m_services.appTitle, PromptIcon::Information, this);
    else
        m_services.prompts->inform(QStringLiteral("The profile could not be written to the \"Profiles\" folder."),
                                   m_services.appTitle, PromptIcon::Warning, this);
}

void frmConnectionInfo::DeleteSite()
{
    const QTreeWidgetItem *node = tvlPrivate->currentItem();
    // Nothing to delete without a profile node (the root is the folder itself).
    if (!node || node->text(0).isEmpty() || node->data(0, Qt::UserRole).toString() == RootKey)
        return;
    const QString name = node->text(0);
    const PromptAnswer answer =
        m_services.prompts->ask(QStringLiteral("Do you want to delete the site profile \"%1\"?").arg(name),
                                m_services.appTitle, PromptButtons::YesNo, PromptIcon::Question, this);
    if (answer != PromptAnswer::Yes)
        return;
    QString error;
    if (!profiles::remove(m_services.programDir, name, &error))
        m_services.prompts->inform(error, m_services.appTitle, PromptIcon::Information, this);
    FillTrees();
}

FtpSecurity frmConnectionInfo::security() const
{
    return FtpSecurity(cboEncryption->currentData().toInt());
}

void frmConnectionInfo::setSecurity(FtpSecurity security)
{
    const int index = cboEncryption->findData(int(security));
    cboEncryption->setCurrentIndex(index < 0 ? 0 : index);
}
