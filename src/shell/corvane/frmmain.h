#pragma once

#include "ftp/ftpsession.h"

#include <QHash>
#include <QMainWindow>

#include <chrono>

class CRegister;
class FtpComponent;
class Prompts;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Corvane's main window: the quick-connect bar, Connect / Disconnect /
// Abort, the remote path box and the remote list, the connection log and the
// status line. It drives the one FTP component of the run with blocking
// calls and answers the component's events and questions.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    struct Services {
        QString programDir;
        QString appTitle = QStringLiteral("Corvane");
        Prompts *prompts = nullptr;
        FtpComponent *xFtp = nullptr;
        CRegister *reg = nullptr; // the connection options (proxy)
        std::chrono::milliseconds refreshDelay{500}; // tmrRefresh after an abort
        QString localPath;                           // empty: the user's home folder
    };

    // Kinds of remote rows, as the row's icon and fourth column carry them.
    enum RemoteKind { KindNone = 0, KindFile = 1, KindFolder = 2, KindLink = 3 };

    explicit frmMain(Services services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Session fields.
    QString strHost;
    QString strPort;
    QString strUser;
    QString strPassword;
    bool blnAnonymous = false;
    bool blnPassive = false;
    FtpSecurity security = FtpSecurity::Plain;
    QString strLocalPath; // always ends in "/"

    // Reporting.
    void StatusBarInfo(const QString &sMessage);
    void UpdateAction(const QString &sMessage);
    void DisplayMessage(const QString &sMessage);
    int AddMessageLine(QListWidget *list, const QString &text);
    void ClearLog();

    // Session.
    void ConnectFromProfile();
    void QuickConnect();
    void ConnectToServer();
    void DisconnectFromServer();
    void Abort();
    void ApplyConnectionOptions();
    void SetConnectedState(bool connected);
    void SetAbortEnabled(bool enabled);
    void UpdateRemoteCommands();
    void ClearRemoteList();
    int CountSelectedItems(QTreeWidget *list) const;

    // Remote folder.
    QString GetRemoteFolder();
    bool ChangeCurrentRemoteFolder(const QString &sNewRemotePath, bool bInteractive);
    void AddPathToComboBox(const QString &sPathToAdd, QComboBox *combo);
    bool FindPathInCombo(const QString &path, QComboBox *combo) const;
    void RefreshRemoteList();
    void ListFilesOnServer();
    void RemotePathEntered(const QString &text);
    void GoUpOneLevel();
    void RemoteDoubleClick(QTreeWidgetItem *row);
    void ReceiveSelectedFiles();

    // The toolbar's variables ("_root.Connected", "_root.status_txt.text",
    // "_root.Progress_mc._xscale", "_root.Program"); the toolbar that shows
    // them reads them from here.
    QString movieVariable(const QString &name) const { return m_movie.value(name); }
    void setMovieVariable(const QString &name, const QString &value);

    // The kind of a remote row.
    static RemoteKind rowKind(const QTreeWidgetItem *row);
    // The stand-in transfer log every message line is appended to.
    QString transferLogPath() const;

    // Controls, as the window's public fields.
    QGroupBox *frameQuickConnect = nullptr;
    QLineEdit *txtQaddress = nullptr;
    QLineEdit *txtQport = nullptr;
    QLineEdit *txtQuser = nullptr;
    QLineEdit *txtQpassword = nullptr;
    QPushButton *cmdQConnect = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdDisconnect = nullptr;
    QPushButton *cmdAbort = nullptr;
    QComboBox *cboRemotePath = nullptr;
    QPushButton *cmdUpFtp = nullptr;
    QPushButton *cmdReceive = nullptr;
    QTreeWidget *lstRemoteFileList = nullptr;
    QGroupBox *frameLog = nullptr;
    QListWidget *lstConnectionInfo = nullptr;
    QLabel *lblStatus = nullptr;
    QProgressBar *prgStatus = nullptr;
    QTimer *tmrRefresh = nullptr;
    QTimer *tmrDisconnect = nullptr; // a disconnect waiting for an aborted call
    QMenu *miFile = nullptr;
    QMenu *miRemote = nullptr;
    QAction *miConnect = nullptr;
    QAction *miDisconnect = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void connectComponent();
    void addRemoteRow(const QString &name, const QDateTime &date, qint64 size, int type);
    void transferStatus(qint64 fileSize, qint64 bytesDone, int percent, const QString &name);
    void setProgress(int value);
    // Copies the four quick-connect boxes' counterparts in and starts a connect.
    bool checkPort(const QString &port, quint16 *value);
    void connectWithFields();
    bool askDisconnectFirst();
    QString host() const;
    bool isSettled() const; // not connected, or connected and idle
    void disconnectCheck();
    QString errorDescription() const;

    Services m_services;
    QHash<QString, QString> m_movie;
    int m_disconnectChecks = 0;
    bool m_closeWhenDisconnected = false;
};
