#pragma once

#include "platform/captionlookup.h"

#include <QDialog>

#include <array>
#include <functional>

class DesktopShell;
class Prompts;
class QAbstractButton;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class SettingsModel;

// The settings dialog: ten pages selected by a tab strip, each editing part
// of the settings model. Edits go into the model at once (the intake reads
// it); "&OK" and "&Apply" write the model to the store and run the settings
// loader; closing without saving reads the model back from the store, so
// unsaved edits do not linger. Three boxes act before saving: start-up,
// clipboard monitoring and browser capture.
class frmSettings : public QDialog {
    Q_OBJECT

public:
    struct Services {
        SettingsModel *model = nullptr;
        // The settings loader, run after every save so the record follows.
        std::function<void()> loadSettings;
        Prompts *prompts = nullptr;
        DesktopShell *shell = nullptr;
        CaptionLookup captions = defaultCaptions();
        QString appTitle = QStringLiteral("Tessel");
        QString programDir;
        QString version;  // "major.minor"
        QString helpFile; // the user guide's page about this dialog
    };

    // Opens the dialog: populates the model from the store, shows it and
    // clears the changed flag.
    explicit frmSettings(Services services, QWidget *parent = nullptr);
    ~frmSettings() override;

    // Tabs, in order.
    enum Page { Information, Startup, Monitor, SaveTo, Proxy, Connections, Limits, Login, Download, AutoSegment };
    void showPage(Page page);
    bool isChanged() const;

    // Save-all, then the loader.
    void Apply();
    void OK();
    void Help();
    void TestURL();
    // Asks before closing with unsaved changes; false when the user keeps
    // the dialog open.
    bool mayClose();

    void done(int result) override;

    QTabBar *const tabSettings;
    QStackedWidget *const fraPages;

    // Information
    QLabel *lblVersion;
    QLabel *lblLocation;
    QLabel *lblDownloads;
    QLabel *lblAllBytes;
    // Startup
    QCheckBox *chkStartup;
    // Monitor
    QCheckBox *chkClickCapture;
    QCheckBox *chkClipboard;
    QPlainTextEdit *txtMonitorTypes;
    QPushButton *cmdResetTypes;
    QPlainTextEdit *txtMonitorServer;
    QPushButton *cmdResetServers;
    QLineEdit *txtTestURL;
    QPushButton *cmdTest;
    // Save To
    QRadioButton *optSameDir;
    QRadioButton *optLastDir;
    QRadioButton *optFileType;
    QRadioButton *optFileInfo;
    QStackedWidget *fraSaveTo;
    QLineEdit *txtSameDir;
    QPushButton *cmdBrowseSameDir;
    QLabel *lblLastDir;
    QTreeWidget *lvwFileTypes;
    QLineEdit *txtFileType;
    QLineEdit *txtFileTypeDir;
    QPushButton *cmdBrowseFileType;
    QPushButton *cmdAddFileType;
    QPushButton *cmdRemoveFileType;
    QLineEdit *txtParentDir;
    QPushButton *cmdBrowseParent;
    QRadioButton *optFileExt;
    QRadioButton *optDate;
    QRadioButton *optServer;
    // Proxy
    QCheckBox *chkUsePASV;
    QCheckBox *chkUseProxy;
    QGroupBox *fraProxy;
    QLineEdit *txtProxyServer;
    QLineEdit *txtProxyPort;
    QCheckBox *chkUseFTPProxy;
    QCheckBox *chkLoginProxy;
    QLineEdit *txtUserID;
    QCheckBox *chkUsePass;
    QLineEdit *txtUserPass;
    // Connections
    QLineEdit *txtTimeout;
    QCheckBox *chkStopResume;
    QLineEdit *txtTimeResume;
    QLineEdit *txtTimeNoResume;
    QCheckBox *chkRetry;
    QLineEdit *txtRetryTime;
    QLineEdit *txtRetries;
    QLineEdit *txtRollback;
    // Limits
    QLineEdit *txtLimitHTTP;
    QLineEdit *txtLimitFTP;
    // Login
    QCheckBox *chkLoginRequired;
    QGroupBox *fraLogin;
    QTreeWidget *lvwLogins;
    QLineEdit *txtLoginServer;
    QLineEdit *txtLoginUser;
    QLineEdit *txtLoginPass;
    QPushButton *cmdAddLogin;
    QPushButton *cmdDeleteLogin;
    // Download
    QCheckBox *chkPromptDone;
    QCheckBox *chkCloseWhenDone;
    QRadioButton *optDownloadNow;
    QRadioButton *optDownloadLater;
    QRadioButton *optDownloadPrompt;
    // Auto Segment
    QCheckBox *chkSegment;
    QGroupBox *fraSegment;
    std::array<QLineEdit *, 9> txtSegmentSize{};
    QList<QLabel *> lblSegmentRows; // the fourteen row labels

    QPushButton *cmdOK;
    QPushButton *cmdApply;
    QPushButton *cmdCancel;
    QPushButton *cmdHelp;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildInformation();
    QWidget *buildStartup();
    QWidget *buildMonitor();
    QWidget *buildSaveTo();
    QWidget *buildProxy();
    QWidget *buildConnections();
    QWidget *buildLimits();
    QWidget *buildLogin();
    QWidget *buildDownload();
    QWidget *buildAutoSegment();
    void connectEdits();

    // Model to widgets, without setting the changed flag.
    void showModel();
    void showFileTypes();
    void showLogins();
    // The login table's display order back into the model.
    void takeLoginOrder();
    void applyEnabling();
    void setChanged(bool on);
    QString caption(const char *id, const QString &defaultText = {}) const;
    QString browseFolder(const QString &start);
    void checkMonitorTypes();
    void resetList(bool types);
    void addFileType();
    void removeFileType();
    void addLogin();
    void deleteLogins();

    Services m_services;
    SettingsModel &m;
    bool m_loading = false;
};
