#include "ftpclient/ui/frmoptions.h"

#include "config/cregister.h"
#include "platform/autostart.h"
#include "platform/programdir.h"
#include "platform/prompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The stored text of the row before its edit, to restore a refused edit.
constexpr int PreviousTextRole = Qt::UserRole + 1;

bool isNumeric(const QString &text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

} // namespace

frmOptions::frmOptions(Services services, QWidget *parent) : QDialog(parent), m_services(std::move(services))
{
    setWindowTitle(QStringLiteral("Options"));
    buildControls();
    load();
}

frmOptions::~frmOptions() = default;

void frmOptions::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    tabOptions = new QTabWidget(this);
    layout->addWidget(tabOptions);

    // General page.
    auto *general = new QWidget(tabOptions);
    auto *g = new QVBoxLayout(general);
    chkStartup = new QCheckBox(QStringLiteral("Start with Windows"), general);
    g->addWidget(chkStartup);

    auto *logBox = new QGroupBox(QStringLiteral("Log File"), general);
    auto *logForm = new QFormLayout(logBox);
    txtLogFileName = new QLineEdit(logBox);
    logForm->addRow(QStringLiteral("Log File Name :"), txtLogFileName);
    optDeleteOnStartup = new QRadioButton(QStringLiteral("Delete Log File on Startup?"), logBox);
    logForm->addRow(optDeleteOnStartup);
    optDeleteIfExceeds = new QRadioButton(QStringLiteral("Delete Log File if it Exceeds :"), logBox);
    txtLogSize = new QLineEdit(logBox);
    txtLogSize->setMaximumWidth(90);
    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(optDeleteIfExceeds);
    sizeRow->addWidget(txtLogSize);
    sizeRow->addWidget(new QLabel(QStringLiteral("kb"), logBox));
    sizeRow->addStretch();
    logForm->addRow(sizeRow);
    auto *deleteChoice = new QButtonGroup(this);
    deleteChoice->addButton(optDeleteOnStartup);
    deleteChoice->addButton(optDeleteIfExceeds);
    g->addWidget(logBox);

    auto *lists = new QHBoxLayout;
    auto *extBox = new QGroupBox(QStringLiteral("ASCII Transfer Types"), general);
    auto *e = new QVBoxLayout(extBox);
    lstExtensions = new QListWidget(extBox);
    e->addWidget(lstExtensions);
    auto *extButtons = new QHBoxLayout;
    cmdAddExtension = new QPushButton(QStringLiteral("Add"), extBox);
    cmdRemoveExtension = new QPushButton(QStringLiteral("Remove"), extBox);
    extButtons->addWidget(cmdAddExtension);
    extButtons->addWidget(cmdRemoveExtension);
    e->addLayout(extButtons);
    lists->addWidget(extBox);
    auto *langBox = new QGroupBox(QStringLiteral("Language"), general);
    auto *l = new QVBoxLayout(langBox);
    lstLanguages = new QListWidget(langBox);
    lstLanguages->setIconSize(QSize(24, 16));
    l->addWidget(lstLanguages);
    lists->addWidget(langBox);
    g->addLayout(lists);
    chkSyncBySize = new QCheckBox(QStringLiteral("Synchronize directories by file size (else by date)"), general);
    g->addWidget(chkSyncBySize);
    tabOptions->addTab(general, QStringLiteral("General Settings"));

    // Firewall page.
    auto *firewall = new QWidget(tabOptions);
    auto *f = new QFormLayout(firewall);
    chkUseFirewall = new QCheckBox(QStringLiteral("Use Firewall"), firewall);
    f->addRow(chkUseFirewall);
    txtFirewallHost = new QLineEdit(firewall);
    f->addRow(QStringLiteral("Host Name :"), txtFirewallHost);
    txtFirewallPort = new QLineEdit(firewall);
    f->addRow(QStringLiteral("Port :"), txtFirewallPort);
    txtFirewallUser = new QLineEdit(firewall);
    f->addRow(QStringLiteral("User Name :"), txtFirewallUser);
    txtFirewallPassword = new QLineEdit(firewall);
    txtFirewallPassword->setEchoMode(QLineEdit::Password);
    f->addRow(QStringLiteral("Password :"), txtFirewallPassword);
    cboFirewallType = new QComboBox(firewall);
    cboFirewallType->addItems({QStringLiteral("SOCKS 4"), QStringLiteral("SOCKS 5")});
    f->addRow(QStringLiteral("Type :"), cboFirewallType);
    tabOptions->addTab(firewall, QStringLiteral("Firewall Settings"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    cmdSave = new QPushButton(QStringLiteral("&Save"), this);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);

    // Every edit marks the dialog changed.
    const auto changedBy = [this] {
        if (!m_loading)
            setChanged(true);
    };
    for (QLineEdit *edit : {txtLogFileName, txtLogSize, txtFirewallHost, txtFirewallPort, txtFirewallUser,
                            txtFirewallPassword})
        connect(edit, &QLineEdit::textChanged, this, changedBy);
    for (QAbstractButton *box : std::initializer_list<QAbstractButton *>{chkStartup, optDeleteOnStartup,
                                                                         optDeleteIfExceeds, chkSyncBySize,
                                                                         chkUseFirewall})
        connect(box, &QAbstractButton::toggled, this, changedBy);
    connect(cboFirewallType, &QComboBox::currentTextChanged, this, changedBy);
    connect(lstLanguages, &QListWidget::currentRowChanged, this, changedBy);

    connect(chkUseFirewall, &QCheckBox::toggled, this, &frmOptions::applyFirewallEnabling);
    connect(optDeleteOnStartup, &QRadioButton::toggled, this, &frmOptions::applySizeEnabling);
    connect(optDeleteIfExceeds, &QRadioButton::toggled, this, &frmOptions::applySizeEnabling);
    connect(txtLogSize, &QLineEdit::textEdited, this, &frmOptions::sizeEdited);
    connect(cmdAddExtension, &QPushButton::clicked, this, &frmOptions::addExtension);
    connect(cmdRemoveExtension, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem *item = lstExtensions->currentItem()) {
            delete item;
            setChanged(true);
        }
    });
    connect(lstExtensions, &QListWidget::itemChanged, this, &frmOptions::extensionEdited);
    connect(cmdSave, &QPushButton::clicked, this, &frmOptions::Save);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::close);
}

void frmOptions::load()
{
    m_loading = true;
    const CorvaneOptions o = m_services.reg ? CorvaneOptions::load(*m_services.reg) : CorvaneOptions();

    // The languages: an ini file with a bitmap of the same name.
    lstLanguages->clear();
    QString why;
    const QList<LanguageEntry> languages = scanLanguages(joinPath(m_services.programDir, QStringLiteral("Lang")), &why);
    if (!why.isEmpty() && m_services.prompts)
        m_services.prompts->inform(why, m_services.appTitle, PromptIcon::None, this);
    for (const LanguageEntry &language : languages) {
        auto *item = new QListWidgetItem(QIcon(language.bitmapPath), language.name, lstLanguages);
        if ((language.name + QStringLiteral(".ini")).compare(o.language, Qt::CaseInsensitive) == 0)
            lstLanguages->setCurrentItem(item);
    }

    txtFirewallHost->setText(o.firewallHost);
    txtFirewallUser->setText(o.firewallUser);
    txtFirewallPassword->setText(o.firewallPassword);
    cboFirewallType->setCurrentText(o.firewallType);
    txtFirewallPort->setText(o.firewallPort);
    chkUseFirewall->setChecked(o.firewallUse);
    applyFirewallEnabling();

    chkStartup->setChecked(o.addToStartup);
    txtLogFileName->setText(o.logFileName);
    optDeleteOnStartup->setChecked(o.deleteLogOnStartup);
    optDeleteIfExceeds->setChecked(!o.deleteLogOnStartup && o.deleteLogIfSizeExceeds);
    m_storedSize = o.logFileSize;
    txtLogSize->setText(o.logFileSize);
    applySizeEnabling();
    chkSyncBySize->setChecked(o.syncBySize);

    lstExtensions->clear();
    for (const QString &ext : o.autoModeTypes) {
        auto *item = new QListWidgetItem(ext, lstExtensions);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        item->setData(PreviousTextRole, ext);
    }
    if (m_services.asciiExtensions)
        *m_services.asciiExtensions = o.autoModeTypes;

    tabOptions->setCurrentIndex(0);
    m_loading = false;
    setChanged(false);
}

void frmOptions::setChanged(bool changed)
{
    m_changed = changed;
    cmdSave->setEnabled(changed);
}

void frmOptions::applyFirewallEnabling()
{
    const bool on = chkUseFirewall->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{txtFirewallHost, txtFirewallPort, txtFirewallUser,
                                                       txtFirewallPassword, cboFirewallType})
        w->setEnabled(on);
}

void frmOptions::applySizeEnabling()
{
    txtLogSize->setEnabled(optDeleteIfExceeds->isChecked());
}

void frmOptions::sizeEdited(const QString &text)
{
    // A size that is no number goes straight back to the stored one.
    if (!isNumeric(text))
        txtLogSize->setText(m_storedSize);
}

void frmOptions::addExtension()
{
    auto *item = new QListWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(PreviousTextRole, QString());
    const QSignalBlocker quiet(lstExtensions);
    lstExtensions->insertItem(0, item);
    lstExtensions->setCurrentItem(item);
    lstExtensions->setFocus();
    lstExtensions->editItem(item);
    setChanged(true);
}

void frmOptions::extensionEdited(QListWidgetItem *item)
{
    const QString text = item->text();
    if (text.isEmpty() || text == QLatin1String(" ")) {
        if (m_services.prompts)
            m_services.prompts->inform(QStringLiteral("Please enter extention"), m_services.appTitle,
                                       PromptIcon::None, this);
        const QString previous = item->data(PreviousTextRole).toString();
        if (previous.isEmpty()) {
            // A row added and left empty goes again.
            delete item;
        } else {
            const QSignalBlocker quiet(lstExtensions);
            item->setText(previous);
        }
        return;
    }
    {
        const QSignalBlocker quiet(lstExtensions);
        item->setData(PreviousTextRole, text);
    }
    setChanged(true);
}

void frmOptions::Save()
{
    CorvaneOptions o;
    o.addToStartup = chkStartup->isChecked();
    o.logFileName = txtLogFileName->text();
    o.deleteLogOnStartup = optDeleteOnStartup->isChecked();
    o.deleteLogIfSizeExceeds = optDeleteIfExceeds->isChecked();
    o.logFileSize = txtLogSize->text();
    o.autoModeTypes.clear();
    for (int i = 0; i < lstExtensions->count(); ++i)
        if (!lstExtensions->item(i)->text().isEmpty())
            o.autoModeTypes << lstExtensions->item(i)->text();
    o.firewallUse = chkUseFirewall->isChecked();
    o.firewallHost = txtFirewallHost->text();
    o.firewallPort = txtFirewallPort->text();
    o.firewallUser = txtFirewallUser->text();
    o.firewallPassword = txtFirewallPassword->text();
    o.firewallType = cboFirewallType->currentText();
    o.syncBySize = chkSyncBySize->isChecked();
    // The selected language is stored so that the next start uses it.
    o.language = lstLanguages->currentItem() ? lstLanguages->currentItem()->text() + QStringLiteral(".ini")
                                             : (m_services.reg ? CorvaneOptions::load(*m_services.reg).language
                                                               : OptionDefaults::Language);

    if (m_services.reg)
        o.saveGeneral(*m_services.reg);
    if (m_services.asciiExtensions)
        *m_services.asciiExtensions = o.autoModeTypes;
    // A failing autostart entry is not reported.
    if (m_services.autostart) {
        if (o.addToStartup)
            m_services.autostart->install(CorvaneAutostartName, m_services.executablePath);
        else
            m_services.autostart->remove(CorvaneAutostartName);
    }
    if (m_services.reg) {
        o.saveFirewall(*m_services.reg);
        o.saveLanguageAndSync(*m_services.reg);
    }
    setChanged(false);
    close();
}

void frmOptions::reject()
{
    close();
}

void frmOptions::closeEvent(QCloseEvent *event)
{
    if (m_changed && m_services.prompts
        && m_services.prompts->ask(QStringLiteral("Do you want quit??"), m_services.appTitle, PromptButtons::YesNo,
                                   PromptIcon::Error, this)
               == PromptAnswer::No) {
        event->ignore();
        return;
    }
    event->accept();
    if (!m_closing) {
        m_closing = true;
        QDialog::reject(); // ends exec()
    }
}
