#include "fakeserver.h"
#include "ftpservers.h"
#include "scriptedprompts.h"
#include "socksserver.h"

#include "config/cregister.h"
#include "ftpclient/ftpcomponent.h"
#include "ftpclient/profilestore.h"
#include "ftpclient/remotelistmodel.h"
#include "ftpclient/remoteops.h"
#include "ftpclient/ui/filelistview.h"
#include "ftpclient/ui/frmConnectionInfo.h"
#include "platform/ui/toolbarmovie.h"
#include "platform/registrystore.h"
#include "platform/socketchannel.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"
#include "shell/corvane/frmmain.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

using namespace std::chrono_literals;

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString TrustKey = QStringLiteral("\\Software\\Corvane\\TrustedCertificates");

struct MainRig {
    QTemporaryDir dir;
    Registry registry{dir.filePath(QStringLiteral("config"))};
    CRegister reg{registry};
    ScriptedPrompts prompts;
    FtpComponent ftp;
    std::unique_ptr<frmMain> window;

    explicit MainRig(std::shared_ptr<const SocketFactory> sockets = std::make_shared<const SocketFactory>(),
                     std::shared_ptr<TrustStore> trust = {})
        : ftp(std::move(sockets), std::move(trust))
    {
        ftp.timing = FtpTiming{5000ms, 5000ms, 5000ms};
        QDir().mkpath(localPath());
        frmMain::Services s;
        s.programDir = dir.path();
        s.prompts = &prompts;
        s.xFtp = &ftp;
        s.reg = &reg;
        s.refreshDelay = 20ms;
        s.localPath = localPath();
        window = std::make_unique<frmMain>(s);
    }
    ~MainRig()
    {
        if (ftp.currentState() != FtpComponent::NotConnected)
            ftp.disconnectFromServer();
    }
    QString localPath() const { return dir.filePath(QStringLiteral("local")); }
    QString status() const { return window->lblStatus->text(); }
    QStringList remoteNames() const { return window->remoteNames(); }
    // The row of the remote pane named name, -1 when there is none.
    int row(const QString &name) const { return int(window->remoteNames().indexOf(name)); }
    QString cell(const QString &name, int column) const
    {
        const QAbstractItemModel *model = window->lstRemoteFileList->model();
        return model->index(row(name), column).data().toString();
    }
    QStringList messages() const
    {
        QStringList lines;
        for (int i = 0; i < window->lstConnectionInfo->count(); ++i)
            lines.append(window->lstConnectionInfo->item(i)->text());
        return lines;
    }
    void quickFields(const QString &host, const QString &port, const QString &user, const QString &password)
    {
        window->txtQaddress->setText(host);
        window->txtQport->setText(port);
        window->txtQuser->setText(user);
        window->txtQpassword->setText(password);
    }
    void doubleClick(const QString &name)
    {
        const int r = row(name);
        QVERIFY2(r >= 0, qPrintable(name));
        window->lstRemoteFileList->selectRow(r);
        window->RemoteDoubleClick(r);
    }
    // Answers the site manager once it is shown: picks a private profile and
    // presses Connect (or Cancel when profile is empty).
    void answerSiteManager(const QString &profileFile)
    {
        QTimer::singleShot(0, window.get(), [this, profileFile] {
            auto *form = window->findChild<frmConnectionInfo *>();
            QVERIFY(form);
            QCOMPARE(window->movieVariable(QStringLiteral("_root.Connected")), QStringLiteral("0"));
            if (profileFile.isEmpty()) {
                form->cmdCancel->click();
                return;
            }
            const auto nodes = form->tvlPrivate->findItems(profileFile, Qt::MatchExactly | Qt::MatchRecursive);
            QCOMPARE(nodes.size(), 1);
            form->NodeClick(form->tvlPrivate, nodes.first());
            form->cmdConnect->click();
        });
    }
};

VsftpdServer *startServer(VsftpdServer &ftp)
{
    ftp.addFile(QStringLiteral("top.txt"), "top level\n");
    ftp.addFile(QStringLiteral("pub/readme.txt"), "read me\n");
    ftp.addFile(QStringLiteral("pub/sub/deep.bin"), QByteArray(3000, 'x'));
    // A link to a file: double-clicking it receives the file.
    QFile::link(QStringLiteral("top.txt"), ftp.rootPath() + QStringLiteral("/top-link"));
    return &ftp;
}

// A scripted FTP server whose first listing never sends its data: a call
// that runs until the window aborts it. Later listings send one file.
struct StallingFtpServer {
    FakeServer control;
    FakeServer data;
    int listings = 0;
    std::function<void()> onFirstListing;

    StallingFtpServer()
    {
        QObject::connect(&data, &FakeServer::newConnection, &data, [this](FakeConnection *c) {
            if (data.connectionCount() == 1)
                c->run(FakePlan().stall());
            else
                c->run(FakePlan().send("-rw-r--r-- 1 ftp ftp 5 Jan 01  2024 a.txt\r\n").close());
        });
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send("220 ready\r\n"));
        control.setResponder([this](FakeConnection &, const QByteArray &request) {
            const QByteArray command = request.trimmed();
            if (command.startsWith("USER "))
                return FakePlan().send("331 password please\r\n");
            if (command.startsWith("PASS "))
                return FakePlan().send("230 in\r\n");
            if (command == "PWD")
                return FakePlan().send("257 \"/\" is current\r\n");
            if (command.startsWith("TYPE") || command.startsWith("OPTS"))
                return FakePlan().send("200 ok\r\n");
            if (command == "EPSV")
                return FakePlan().send("229 Entering Extended Passive Mode (|||" + QByteArray::number(data.port())
                                       + "|)\r\n");
            if (command == "LIST") {
                if (++listings == 1) {
                    QTimer::singleShot(0, &control, [this] { onFirstListing(); });
                    return FakePlan().send("150 Here it comes\r\n");
                }
                return FakePlan().send("150 Here it comes\r\n").wait(30).send("226 Done\r\n");
            }
            if (command == "ABOR")
                return FakePlan().send("426 Transfer aborted\r\n226 ABOR done\r\n");
            if (command == "QUIT")
                return FakePlan().send("221 bye\r\n").close();
            return FakePlan().send("502 not here\r\n");
        });
    }
};

// A scripted FTP server whose listing shows one file, big.bin, and whose
// RETR of it never sends its data: a transfer that runs until the window
// aborts it.
struct StallingTransferServer {
    FakeServer control;
    FakeServer data;
    std::function<void()> onRetr;

    StallingTransferServer()
    {
        QObject::connect(&data, &FakeServer::newConnection, &data, [this](FakeConnection *c) {
            if (data.connectionCount() == 1)
                c->run(FakePlan().send("-rw-r--r-- 1 ftp ftp 100000 Jan 01  2024 big.bin\r\n").close());
            else
                c->run(FakePlan().send(QByteArray(1000, 'b')).stall());
        });
        control.setTerminator("\r\n");
        control.setGreeting(FakePlan().send("220 ready\r\n"));
        control.setResponder([this](FakeConnection &, const QByteArray &request) {
            const QByteArray command = request.trimmed();
            if (command.startsWith("USER "))
                return FakePlan().send("331 password please\r\n");
            if (command.startsWith("PASS "))
                return FakePlan().send("230 in\r\n");
            if (command == "PWD")
                return FakePlan().send("257 \"/\" is current\r\n");
            if (command.startsWith("TYPE") || command.startsWith("OPTS"))
                return FakePlan().send("200 ok\r\n");
            if (command == "SIZE big.bin")
                return FakePlan().send("213 100000\r\n");
            if (command == "EPSV")
                return FakePlan().send("229 Entering Extended Passive Mode (|||" + QByteArray::number(data.port())
                                       + "|)\r\n");
            if (command == "LIST")
                return FakePlan().send("150 Here it comes\r\n").wait(30).send("226 Done\r\n");
            if (command == "RETR big.bin") {
                QTimer::singleShot(50, &control, [this] { onRetr(); });
                return FakePlan().send("150 Sending\r\n");
            }
            if (command == "ABOR")
                return FakePlan().send("426 Transfer aborted\r\n226 ABOR done\r\n");
            if (command == "QUIT")
                return FakePlan().send("221 bye\r\n").close();
            return FakePlan().send("502 not here\r\n");
        });
    }
};

} // namespace

class tst_CorvaneMain : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsDisconnected()
    {
        MainRig rig;
        frmMain &w = *rig.window;
        QVERIFY(w.cmdConnect->isEnabled());
        QVERIFY(w.cmdQConnect->isEnabled());
        QVERIFY(!w.cmdDisconnect->isEnabled());
        QVERIFY(!w.cmdAbort->isEnabled());
        QVERIFY(!w.cmdUpFtp->isEnabled());
        QVERIFY(!w.cboRemotePath->isEnabled());
        QCOMPARE(w.txtQport->text(), QStringLiteral("21"));
        QCOMPARE(w.cmdQConnect->text(), QStringLiteral("Q Connect"));
        QCOMPARE(w.movieVariable(QStringLiteral("_root.Program")), QStringLiteral("FTP"));
        QCOMPARE(w.movieVariable(QStringLiteral("_root.Progress_mc._xscale")), QStringLiteral("0"));
        QVERIFY(w.strLocalPath.endsWith(QLatin1Char('/')));

        w.txtQport->setText(QStringLiteral("abc"));
        QCOMPARE(w.txtQport->text(), QStringLiteral("21"));
        w.StatusBarInfo(QStringLiteral("hello"));
        QCOMPARE(w.movieVariable(QStringLiteral("_root.status_txt.text")), QStringLiteral("hello"));
    }

    void quickConnectRefusals_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("prompted"); // the fields prompt, else a status line
        QTest::newRow("empty host") << "" << "21" << "u" << true;
        QTest::newRow("empty user") << Host << "21" << "" << true;
        QTest::newRow("port zero") << Host << "0" << "u" << false;
        QTest::newRow("port above 16 bits") << Host << "65536" << "u" << false;
        QTest::newRow("port far too big") << Host << "99999999" << "u" << false;
    }

    void quickConnectRefusals()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, user);
        QFETCH(bool, prompted);
        MainRig rig;
        rig.quickFields(host, port, user, QString());
        if (prompted)
            rig.prompts.expectMessage(QStringLiteral("Please enter conncetion information"));
        rig.window->cmdQConnect->click();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));
        QCOMPARE(rig.messages(), QStringList()); // nothing was sent
        QCOMPARE(rig.status().contains(QStringLiteral("1 to 65535")), !prompted);
        QCOMPARE(rig.ftp.serverAddress, QString());
    }

    void connectionOptions_data()
    {
        QTest::addColumn<QStringList>("values"); // use, type, host, port, user, password
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("proxyHost");
        QTest::addColumn<int>("proxyPort");
        QTest::addColumn<QString>("proxyUser");
        QTest::newRow("nothing stored") << QStringList() << 0 << "" << 1080 << "";
        QTest::newRow("off") << QStringList{"0", "SOCKS 4", "p", "9", "u", "pw"} << 0 << "" << 1080 << "";
        QTest::newRow("socks 4") << QStringList{"1", "SOCKS 4", "p", "9", "u", "pw"} << 4 << "p" << 9 << "u";
        QTest::newRow("anything else is socks 5")
            << QStringList{"1", "socks 4", "p", "1081", "", ""} << 5 << "p" << 1081 << "";
    }

    void connectionOptions()
    {
        QFETCH(QStringList, values);
        QFETCH(int, type);
        QFETCH(QString, proxyHost);
        QFETCH(int, proxyPort);
        QFETCH(QString, proxyUser);
        MainRig rig;
        const QStringList keys{"Firewall Use", "Firewall Type", "Firewall Host Name", "Firewall Proxy Port",
                               "Firewall User Name", "Firewall Password"};
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(rig.reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, keys.at(i), values.at(i)));
        rig.ftp.proxyHost = QStringLiteral("stale");
        rig.window->ApplyConnectionOptions();
        QCOMPARE(rig.ftp.proxyType, type);
        QCOMPARE(rig.ftp.proxyHost, proxyHost);
        QCOMPARE(int(rig.ftp.proxyPort), proxyPort);
        QCOMPARE(rig.ftp.proxyUserName, proxyUser);
        QCOMPARE(rig.ftp.proxyPassword, type ? values.at(5) : QString());
    }

    void comboPaths()
    {
        MainRig rig;
        QComboBox *combo = rig.window->cboRemotePath;
        rig.window->AddPathToComboBox(QStringLiteral("/pub"), combo);
        rig.window->AddPathToComboBox(QStringLiteral("/other"), combo);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), QStringLiteral("/other"));
        QVERIFY(rig.window->FindPathInCombo(QStringLiteral("/PUB"), combo));
        rig.window->AddPathToComboBox(QStringLiteral("/PUB"), combo);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->currentText(), QStringLiteral("/PUB"));
    }

    void quickConnectSession()
    {
        VsftpdServer server;
        startServer(server);
        SUITE_START_SERVER(server);
        MainRig rig;
        frmMain &w = *rig.window;

        // An empty password connects.
        rig.quickFields(Host, QString::number(server.port()), QStringLiteral("anonymous"), QString());
        w.cmdQConnect->click();
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);
        QCOMPARE(w.movieVariable(QStringLiteral("_root.Connected")), QStringLiteral("1"));
        QVERIFY(w.cmdDisconnect->isEnabled());
        QVERIFY(!w.cmdQConnect->isEnabled());
        QCOMPARE(w.cboRemotePath->currentText(), QStringLiteral("/"));
        QStringList names = rig.remoteNames();
        names.sort();
        QCOMPARE(names, (QStringList{"pub", "top-link", "top.txt"}));
        QCOMPARE(w.rowKind(rig.row(QStringLiteral("top-link"))), frmMain::KindLink);
        QCOMPARE(w.rowKind(rig.row(QStringLiteral("pub"))), frmMain::KindFolder);
        QCOMPARE(w.rowKind(rig.row(QStringLiteral("top.txt"))), frmMain::KindFile);
        QCOMPARE(rig.cell(QStringLiteral("top.txt"), RemoteListModel::SizeColumn), QStringLiteral("10"));
        QCOMPARE(rig.cell(QStringLiteral("top-link"), RemoteListModel::KindColumn), QStringLiteral("E"));
        // Each kind has its own icon.
        const QAbstractItemModel *rows = w.lstRemoteFileList->model();
        const auto icon = [&](const char *name) {
            return rows->index(rig.row(QLatin1String(name)), 0).data(Qt::DecorationRole).value<QIcon>().cacheKey();
        };
        QVERIFY(icon("top.txt") != icon("pub") && icon("pub") != icon("top-link") && icon("top.txt") != icon("top-link"));

        // Every message line is in the transfer log too.
        QVERIFY(!rig.messages().isEmpty());
        QFile log(w.transferLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()), rig.messages().join(QLatin1Char('\n')) + QLatin1Char('\n'));

        // Into a folder by double click, then the path box.
        rig.doubleClick(QStringLiteral("pub"));
        QCOMPARE(rig.status(), QStringLiteral("Changed current remote folder."));
        QCOMPARE(w.cboRemotePath->currentText(), QStringLiteral("/pub"));
        names = rig.remoteNames();
        names.sort();
        QCOMPARE(names, (QStringList{"readme.txt", "sub"}));

        QSignalSpy listed(&rig.ftp, &FtpComponent::listingEntry);
        const int lines = w.lstConnectionInfo->count();
        w.RemotePathEntered(QStringLiteral("/pub")); // the exact current text: nothing happens
        QCOMPARE(listed.count(), 0);
        QCOMPARE(rig.messages().mid(lines).filter(QStringLiteral("CWD")), QStringList());
        w.RemotePathEntered(QStringLiteral("/PUB")); // another case is another folder here
        QCOMPARE(rig.status(), QStringLiteral("Could not change current remote folder."));
        QCOMPARE(rig.messages()
                     .filter(QStringLiteral("Error while attempting to change current remote folder to '/PUB'. "
                                            "Description: "))
                     .size(),
                 1);
        w.RemotePathEntered(QStringLiteral("/pub/sub"));
        QCOMPARE(rig.remoteNames(), QStringList{"deep.bin"});
        QCOMPARE(w.cboRemotePath->count(), 3);

        // Up, and up again at the root.
        w.cmdUpFtp->click();
        QCOMPARE(rig.status(), QStringLiteral("Remote path now up one folder."));
        QCOMPARE(w.cboRemotePath->currentText(), QStringLiteral("/pub"));
        w.GoUpOneLevel();
        QCOMPARE(w.cboRemotePath->currentText(), QStringLiteral("/"));
        listed.clear();
        w.GoUpOneLevel();
        QCOMPARE(rig.status(), QStringLiteral("Remote path already at a root folder."));
        QCOMPARE(listed.count(), 0);

        // Double click on a file receives it into the local folder.
        rig.doubleClick(QStringLiteral("top.txt"));
        QCOMPARE(rig.status(), QStringLiteral("File download(s) complete."));
        QFile received(rig.localPath() + QStringLiteral("/top.txt"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), QByteArray("top level\n"));

        // A link that is no folder is received as a file, without an error line.
        QVERIFY(QFile::remove(received.fileName()));
        const int before = w.lstConnectionInfo->count();
        rig.doubleClick(QStringLiteral("top-link"));
        QCOMPARE(rig.status(), QStringLiteral("File download(s) complete."));
        QCOMPARE(rig.messages().mid(before).filter(QStringLiteral("Error")), QStringList());
        QFile linked(rig.localPath() + QStringLiteral("/top-link"));
        QVERIFY(linked.open(QIODevice::ReadOnly));
        QCOMPARE(linked.readAll(), QByteArray("top level\n"));

        // Connecting again: No leaves the session as it is.
        rig.prompts.expectMessage(QStringLiteral("Cant connect to server, Do you want to Disconnect First?"),
                                  PromptAnswer::No);
        w.QuickConnect();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.prompts.last().buttons, PromptButtons::YesNo);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
        QCOMPARE(w.cboRemotePath->currentText(), QStringLiteral("/"));

        // Abort between calls: the refresh half a second later runs into it.
        rig.prompts.expectMessage(QStringLiteral("Operation Aported Succesfully"));
        w.Abort();
        QCOMPARE(rig.status(), QStringLiteral("Aborting current operaion."));
        QVERIFY(w.tmrRefresh->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(rig.prompts.pending(), 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.tmrRefresh->isActive(), 5000);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));

        // Disconnect.
        w.cmdDisconnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("Disconnected from ") + Host, 5000);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));
        QCOMPARE(w.cboRemotePath->count(), 0);
        QCOMPARE(rig.remoteNames(), QStringList());
        QVERIFY(w.cmdConnect->isEnabled());
        QVERIFY(!w.cmdDisconnect->isEnabled());
    }

    void profileConnect()
    {
        VsftpdServer server;
        startServer(server);
        SUITE_START_SERVER(server);
        MainRig rig;
        frmMain &w = *rig.window;
        SiteProfile site{QStringLiteral("Local"), Host, QString::number(server.port()), QStringLiteral("anonymous"),
                         QString(), true, FtpSecurity::Plain};
        QCOMPARE(profiles::save(rig.dir.path(), site, true), profiles::SaveResult::Saved);

        rig.answerSiteManager(QString());
        w.cmdConnect->click();
        QCOMPARE(rig.status(), QStringLiteral("Connect operation cancelled."));
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));

        rig.answerSiteManager(QStringLiteral("Local.Profile"));
        w.ConnectFromProfile();
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);
        QCOMPARE(rig.ftp.userName, QStringLiteral("anonymous"));
        QCOMPARE(rig.ftp.password, QStringLiteral("quill"));
        QVERIFY(rig.ftp.passiveMode);
        QVERIFY(w.blnAnonymous);
        QCOMPARE(w.txtQaddress->text(), Host);
        QCOMPARE(w.txtQport->text(), QString::number(server.port()));
        QVERIFY(rig.remoteNames().contains(QStringLiteral("pub")));

        // Quick connect afterwards: the typed user, passive mode kept.
        w.txtQuser->setText(QStringLiteral("ftp"));
        w.txtQpassword->setText(QStringLiteral("me@example"));
        rig.prompts.expectMessage(QStringLiteral("Do you want to Disconnect First?"), PromptAnswer::Yes);
        w.QuickConnect();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
        QCOMPARE(rig.ftp.userName, QStringLiteral("ftp"));
        // The password never reaches the message list or the log behind it.
        QVERIFY(rig.messages().filter(QStringLiteral("PASS")).size() >= 1);
        QCOMPARE(rig.messages().filter(QStringLiteral("me@example")), QStringList());
        QFile log(w.transferLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(!log.readAll().contains("me@example"));
        QVERIFY(rig.ftp.passiveMode);
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);

        // A connect that fails reports it and leaves the window disconnected.
        w.DisconnectFromServer();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ftp.currentState(), qint32(FtpComponent::NotConnected), 5000);
        server.stop();
        w.QuickConnect();
        QCOMPARE(rig.status(), QStringLiteral("Could not connect to ") + Host);
        QCOMPARE(w.movieVariable(QStringLiteral("_root.Connected")), QStringLiteral("0"));
        QVERIFY(rig.messages().last().startsWith(QStringLiteral("Error while connecting to '127.0.0.1'. Description: ")));
        QVERIFY(w.cmdQConnect->isEnabled());
    }
    void throughSocks_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("socks 4") << "SOCKS 4";
        QTest::newRow("socks 5") << "SOCKS 5";
    }

    void throughSocks()
    {
        QFETCH(QString, type);
        VsftpdServer server;
        startServer(server);
        SUITE_START_SERVER(server);
        DanteServer proxy;
        SUITE_START_SERVER(proxy);
        MainRig rig;
        const QList<std::pair<const char *, QString>> values{{"Firewall Use", "1"},
                                                             {"Firewall Type", type},
                                                             {"Firewall Host Name", Host},
                                                             {"Firewall Proxy Port", QString::number(proxy.port())}};
        for (const auto &[key, value] : values)
            QVERIFY(rig.reg.REGSaveSetting(CRegister::HKEY_LOCAL_MACHINE, CorvaneSection, key, value));
        rig.ftp.passiveMode = true;
        rig.quickFields(Host, QString::number(server.port()), QStringLiteral("anonymous"), QStringLiteral("x@y"));
        rig.window->QuickConnect();
        if (rig.status() != QStringLiteral("Connected to ") + Host)
            qWarning() << rig.messages() << proxy.log();
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);
        QCOMPARE(rig.ftp.proxyType, type == QLatin1String("SOCKS 4") ? 4 : 5);
        QVERIFY(rig.remoteNames().contains(QStringLiteral("top.txt")));
        // The proxy carried the control and the data connection.
        QTRY_VERIFY_WITH_TIMEOUT(proxy.log().contains(QByteArray::number(server.port())), 5000);
    }

    void stopDuringListing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("abort button") << "abort";
        QTest::newRow("disconnect") << "disconnect";
        QTest::newRow("closing the window") << "close";
    }

    void stopDuringListing()
    {
        QFETCH(QString, how);
        const bool disconnect = how != QLatin1String("abort");
        StallingFtpServer server;
        MainRig rig;
        frmMain &w = *rig.window;
        w.show();
        server.onFirstListing = [&] {
            QVERIFY(w.cmdAbort->isEnabled()); // the listing may be aborted
            if (how == QLatin1String("abort"))
                w.cmdAbort->click();
            else if (how == QLatin1String("disconnect"))
                w.DisconnectFromServer();
            else
                QVERIFY(!w.close()); // not yet: the session ends first
        };
        rig.quickFields(Host, QString::number(server.control.port()), QStringLiteral("me"), QStringLiteral("pw"));
        rig.prompts.expectMessage(QStringLiteral("Operation Aported Succesfully"));
        w.QuickConnect(); // returns once the aborted listing has
        VERIFY_PROMPTS_DONE(rig.prompts);
        QTRY_VERIFY_WITH_TIMEOUT(server.control.connection(0)->requests().contains("ABOR\r\n"), 5000);
        if (disconnect) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("Disconnected from ") + Host, 5000);
            QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));
            QVERIFY(server.control.connection(0)->requests().contains("QUIT\r\n"));
            QVERIFY(w.cmdQConnect->isEnabled());
            QCOMPARE(server.listings, 1);
            QCOMPARE(w.isVisible(), how != QLatin1String("close"));
        } else {
            // Half a second (here: 20 ms) later the list is refreshed.
            QTRY_COMPARE_WITH_TIMEOUT(rig.remoteNames(), QStringList{"a.txt"}, 5000);
            QCOMPARE(server.listings, 2);
            QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
            QVERIFY(!w.cmdAbort->isEnabled());
        }
    }

    // While a call runs, the commands that would start another one are
    // refused; Abort and the views stay live.
    void busyRefusesASecondCall()
    {
        StallingFtpServer server;
        MainRig rig;
        frmMain &w = *rig.window;
        w.show();
        int listingsWhileBusy = -1;
        server.onFirstListing = [&] {
            QVERIFY(w.isBusy());
            QVERIFY(w.cmdAbort->isEnabled());
            const QStringList linesBefore = rig.messages();
            const QString statusBefore = rig.status();
            for (const char *command : {"IDC_FS_RemoteRefresh", "IDC_FS_RemoteUpLevel", "IDC_FS_RCreateFolder",
                                        "IDC_FS_Download", "IDC_FS_Upload", "IDC_FS_GoToRemoteDir"})
                rig.window->runCommand(QLatin1String(command)); // no prompt may show: the script has none
            w.RemotePathEntered(QStringLiteral("/elsewhere"));
            w.GoUpOneLevel();
            w.RemoteDoubleClick(0);
            // Refused before anything reached the component: no error line,
            // the status of the running call stays.
            QCOMPARE(rig.messages(), linesBefore);
            QCOMPARE(rig.status(), statusBefore);
            QVERIFY(!w.cmdQConnect->isEnabled());
            QVERIFY(!w.cmdUpFtp->isEnabled());
            // A view change is no call.
            w.runCommand(QStringLiteral("IDC_FS_RemoteLargeIcons"));
            QCOMPARE(w.lstRemoteFileList->viewMode(), int(FileListView::LargeIcons));
            listingsWhileBusy = server.listings;
            w.cmdAbort->click();
        };
        rig.quickFields(Host, QString::number(server.control.port()), QStringLiteral("me"), QStringLiteral("pw"));
        rig.prompts.expectMessage(QStringLiteral("Operation Aported Succesfully"));
        w.QuickConnect();
        VERIFY_PROMPTS_DONE(rig.prompts);
        QCOMPARE(listingsWhileBusy, 1);
        const QByteArrayList sent = server.control.connection(0)->requests();
        for (const QByteArray &line : sent)
            QVERIFY2(!line.startsWith("CWD") && !line.startsWith("CDUP") && !line.startsWith("MKD"), line.constData());
        QVERIFY(!w.isBusy());
        // Afterwards the refresh of the abort runs again.
        QTRY_COMPARE_WITH_TIMEOUT(rig.remoteNames(), QStringList{"a.txt"}, 5000);
        QVERIFY(w.commandAction(QStringLiteral("IDC_FS_RemoteRefresh"))->isEnabled());
    }

    // Closing the window while a file is received aborts the transfer, then
    // disconnects and ends the program.
    void closingDuringATransferAbortsThenShutsDown()
    {
        StallingTransferServer server;
        MainRig rig;
        frmMain &w = *rig.window;
        w.show();
        QSignalSpy quit(&w, &frmMain::quitRequested);
        rig.quickFields(Host, QString::number(server.control.port()), QStringLiteral("me"), QStringLiteral("pw"));
        w.QuickConnect();
        QCOMPARE(rig.remoteNames(), QStringList{"big.bin"});
        bool closedAtOnce = true;
        server.onRetr = [&] {
            QVERIFY(w.isBusy());
            closedAtOnce = w.close();
        };
        w.lstRemoteFileList->selectRow(0);
        rig.prompts.expectMessage(QStringLiteral("Operation Aported Succesfully"));
        w.ReceiveSelectedFiles(); // returns once the aborted transfer has
        QVERIFY(!closedAtOnce);
        QVERIFY(rig.messages().contains(QStringLiteral("Download successfully aborted.")));
        QTRY_COMPARE_WITH_TIMEOUT(quit.count(), 1, 5000);
        VERIFY_PROMPTS_DONE(rig.prompts);
        const QByteArrayList sent = server.control.connection(0)->requests();
        const qsizetype abor = sent.indexOf("ABOR\r\n");
        QVERIFY(abor >= 0);
        QVERIFY(sent.indexOf("QUIT\r\n") > abor);
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::NotConnected));
        QVERIFY(!w.isVisible());
        QVERIFY(w.isShuttingDown());
    }

    void encryptedProfiles_data()
    {
        QTest::addColumn<VsftpdServer::Tls>("serverTls");
        QTest::addColumn<FtpSecurity>("profileSecurity");
        QTest::addColumn<bool>("connects");
        QTest::newRow("explicit") << VsftpdServer::Tls::Explicit << FtpSecurity::ExplicitTls << true;
        QTest::newRow("implicit") << VsftpdServer::Tls::Implicit << FtpSecurity::ImplicitTls << true;
        QTest::newRow("plain profile, server requires TLS")
            << VsftpdServer::Tls::Explicit << FtpSecurity::Plain << false;
    }

    void encryptedProfiles()
    {
        QFETCH(VsftpdServer::Tls, serverTls);
        QFETCH(FtpSecurity, profileSecurity);
        QFETCH(bool, connects);
        VsftpdServer server;
        startServer(server);
        server.setTls(serverTls);
        server.setTlsRequired(true);
        SUITE_START_SERVER(server);
        auto sockets = std::make_shared<TlsSocketFactory>();
        QVERIFY(sockets->addCaFile(server.caFile()));
        MainRig rig(sockets);
        SiteProfile site{QStringLiteral("Secure"), Host, QString::number(server.port()), QStringLiteral("anonymous"),
                         QString(), true, profileSecurity};
        QCOMPARE(profiles::save(rig.dir.path(), site, true), profiles::SaveResult::Saved);
        rig.answerSiteManager(QStringLiteral("Secure.Profile"));
        rig.window->ConnectFromProfile();
        QCOMPARE(rig.window->security, profileSecurity);
        QCOMPARE(rig.ftp.security, profileSecurity);
        QCOMPARE(rig.status(), (connects ? QStringLiteral("Connected to ") : QStringLiteral("Could not connect to ")) + Host);
        QCOMPARE(rig.remoteNames().contains(QStringLiteral("top.txt")), connects);
    }

    void untrustedCertificateQuestion_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }

    void untrustedCertificateQuestion()
    {
        // The server's certificate is signed by a CA the window's sockets do
        // not know: the user is asked, and only a yes connects.
        QFETCH(bool, yes);
        VsftpdServer server;
        startServer(server);
        server.setTls(VsftpdServer::Tls::Explicit);
        server.setTlsRequired(true);
        SUITE_START_SERVER(server);
        QTemporaryDir trustDir;
        Registry trustRegistry(trustDir.path());
        auto trust = std::make_shared<TrustStore>(trustRegistry.root(RegistryRoot::LocalMachine),
                                                  TrustKey);
        MainRig rig(std::make_shared<const TlsSocketFactory>(trust), trust);
        SiteProfile site{QStringLiteral("Secure"), Host, QString::number(server.port()), QStringLiteral("anonymous"),
                         QString(), true, FtpSecurity::ExplicitTls};
        QCOMPARE(profiles::save(rig.dir.path(), site, true), profiles::SaveResult::Saved);
        rig.answerSiteManager(QStringLiteral("Secure.Profile"));
        rig.prompts.expectMessage(QStringLiteral("The certificate of ") + Host + QStringLiteral(" could not be verified"),
                                  yes ? PromptAnswer::Yes : PromptAnswer::No);
        rig.window->ConnectFromProfile();
        VERIFY_PROMPTS_DONE(rig.prompts);
        const ScriptedPrompts::Record &asked = rig.prompts.records().first();
        QCOMPARE(asked.title, QStringLiteral("FTP Client[Confirm]"));
        QCOMPARE(asked.icon, PromptIcon::Warning);
        QCOMPARE(asked.buttons, PromptButtons::YesNo);
        QVERIFY(asked.text.contains(QStringLiteral("Trust this certificate for ") + Host + QLatin1Char('?')));
        QCOMPARE(rig.status(), (yes ? QStringLiteral("Connected to ") : QStringLiteral("Could not connect to ")) + Host);
        QCOMPARE(rig.remoteNames().contains(QStringLiteral("top.txt")), yes);
        // A yes remembers exactly the one certificate for the host.
        QCOMPARE(trustRegistry.root(RegistryRoot::LocalMachine).valueNames(TrustKey + QLatin1Char('\\') + Host).size(),
                 yes ? 1 : 0);
    }

    void passwordAndAccountQuestions()
    {
        // A server that refuses the first password and then wants an account.
        FakeServer server;
        server.setTerminator("\r\n");
        server.setGreeting(FakePlan().send("220 ready\r\n"));
        server.setResponder([](FakeConnection &, const QByteArray &request) {
            const QByteArray command = request.trimmed();
            if (command.startsWith("USER "))
                return FakePlan().send("331 password please\r\n");
            if (command == "PASS right")
                return FakePlan().send("332 account please\r\n");
            if (command.startsWith("PASS "))
                return FakePlan().send("530 Login incorrect.\r\n");
            if (command == "ACCT acct1")
                return FakePlan().send("230 in\r\n");
            if (command == "PWD")
                return FakePlan().send("257 \"/\" is current\r\n");
            if (command.startsWith("TYPE") || command.startsWith("OPTS"))
                return FakePlan().send("200 ok\r\n");
            if (command == "QUIT")
                return FakePlan().send("221 bye\r\n").close();
            return FakePlan().send("502 not here\r\n");
        });
        QVERIFY(server.isListening());
        MainRig rig;
        rig.quickFields(Host, QString::number(server.port()), QStringLiteral("me"), QStringLiteral("wrong"));
        rig.prompts.expectInput(QStringLiteral("Please enter the correct password"), QStringLiteral("right"))
            .expectInput(QStringLiteral("An account is required for this server."), QStringLiteral("acct1"));
        rig.window->QuickConnect();
        VERIFY_PROMPTS_DONE(rig.prompts);
        for (const ScriptedPrompts::Record &r : rig.prompts.records())
            QCOMPARE(r.title, QStringLiteral("FTP Client[Query]"));
        QCOMPARE(rig.ftp.currentState(), qint32(FtpComponent::Idle));
        QCOMPARE(rig.status(), QStringLiteral("Connected to ") + Host);
        const QByteArrayList sent = server.connection(0)->requests();
        QVERIFY(sent.contains("PASS right\r\n"));
        QVERIFY(sent.contains("ACCT acct1\r\n"));
        // The listing the server cannot give is reported, the session stays.
        QCOMPARE(rig.messages().filter(QStringLiteral("Error while listing remote folder's contents. Description: ")).size(),
                 1);
        QCOMPARE(rig.messages().filter(QStringLiteral("wrong")), QStringList());
    }
};

QTEST_MAIN(tst_CorvaneMain)
#include "tst_corvanemain.moc"
