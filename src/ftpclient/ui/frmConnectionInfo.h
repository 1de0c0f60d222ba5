#pragma once

#include "ftp/ftpsession.h"
#include "ftpclient/profilestore.h"

#include <QDialog>

class Prompts;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

// The site manager: the saved site profiles of "SProfiles" (tab "Standard")
// and "Profiles" (tab "Private") as two trees, the connection fields of the
// chosen or typed site, New / Save / Delete Site, and Connect / Cancel. The
// session control opens it modally through ShowForm.
class frmConnectionInfo : public QDialog {
    Q_OBJECT

public:
    struct Services {
        QString programDir;
        Prompts *prompts = nullptr;
        QString appTitle = QStringLiteral("Corvane"); // title of its message boxes
    };

    explicit frmConnectionInfo(Services services, QWidget *parent = nullptr);
    ~frmConnectionInfo() override;

    // Fills the fields from the arguments, shows the dialog modally and, when
    // it is left by Connect, writes the fields back and returns true. Left by
    // Cancel or closed: the arguments stay as they were, false.
    bool ShowForm(QString &address, QString &port, QString &userName, QString &password, bool &isAnonymous,
                  bool &passive, FtpSecurity *security = nullptr);

    void NewSite();
    void SaveSite();
    void DeleteSite();
    // Rebuilds both trees from the folders.
    void FillTrees();
    // What a click on a node does: the root disables Delete Site; a profile
    // fills the fields from its file.
    void NodeClick(QTreeWidget *tree, QTreeWidgetItem *node);
    // Selects the login type as the option buttons do.
    void SelectNormal();
    void SelectAnonymous();

    bool isCancelled() const { return m_cancelled; }

    // The controls, as the window's public fields.
    QTabWidget *tabProfiles = nullptr;
    QTreeWidget *tvlStandard = nullptr;
    QTreeWidget *tvlPrivate = nullptr;
    QLineEdit *txtSiteName = nullptr;
    QLineEdit *txtAddress = nullptr;
    QLineEdit *txtPort = nullptr;
    QLineEdit *txtUser = nullptr;
    QLineEdit *txtPassword = nullptr;
    QRadioButton *optNormal = nullptr;
    QRadioButton *optAnonymous = nullptr;
    QCheckBox *chkPassive = nullptr;
    QComboBox *cboEncryption = nullptr;
    QPushButton *cmdNew = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void fillTree(QTreeWidget *tree, ProfileFolder folder);
    void portChanged(const QString &text);
    void setLoginType(bool normal, bool anonymous);
    void applyCredentialFields();
    FtpSecurity security() const;
    void setSecurity(FtpSecurity security);

    Services m_services;
    bool m_cancelled = true;
};
