#pragma once

#include "ftpclient/options.h"

#include <QDialog>

class Autostart;
class CRegister;
class Prompts;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QTabWidget;

// Corvane's Options dialog: the general page (start with the desktop, the
// transfer log's name and when it is deleted, the ASCII extension list, the
// language, the synchronisation's comparison) and the firewall page (the
// SOCKS proxy). It is created for each showing; its effects are the stored
// values, the autostart entry and the program-wide ASCII list.
class frmOptions : public QDialog {
    Q_OBJECT

public:
    struct Services {
        QString programDir;                           // holds the "Lang" folder
        Prompts *prompts = nullptr;
        CRegister *reg = nullptr;
        Autostart *autostart = nullptr;               // none: the box is stored only
        QString executablePath;                       // what the autostart entry starts
        QStringList *asciiExtensions = nullptr;       // the program-wide list
        QString appTitle = QStringLiteral("Corvane"); // title of its plain message boxes
    };

    explicit frmOptions(Services services, QWidget *parent = nullptr);
    ~frmOptions() override;

    bool isChanged() const { return m_changed; }

    // "&Save": writes everything, clears the changed flag and closes.
    void Save();

    // The controls, as the dialog's public fields.
    QTabWidget *tabOptions = nullptr;
    QCheckBox *chkStartup = nullptr;
    QLineEdit *txtLogFileName = nullptr;
    QRadioButton *optDeleteOnStartup = nullptr;
    QRadioButton *optDeleteIfExceeds = nullptr;
    QLineEdit *txtLogSize = nullptr;
    QListWidget *lstExtensions = nullptr;
    QPushButton *cmdAddExtension = nullptr;
    QPushButton *cmdRemoveExtension = nullptr;
    QListWidget *lstLanguages = nullptr;
    QCheckBox *chkSyncBySize = nullptr;
    QCheckBox *chkUseFirewall = nullptr;
    QLineEdit *txtFirewallHost = nullptr;
    QLineEdit *txtFirewallPort = nullptr;
    QLineEdit *txtFirewallUser = nullptr;
    QLineEdit *txtFirewallPassword = nullptr;
    QComboBox *cboFirewallType = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdCancel = nullptr;

public Q_SLOTS:
    // Escape and "&Cancel" close through the same question as the title bar.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void load();
    void setChanged(bool changed);
    void applyFirewallEnabling();
    void applySizeEnabling();
    void sizeEdited(const QString &text);
    void addExtension();
    void extensionEdited(QListWidgetItem *item);

    Services m_services;
    QString m_storedSize;
    bool m_changed = false;
    bool m_loading = false;
    bool m_closing = false;
};
