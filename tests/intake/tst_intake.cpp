// The intake from URL to started or queued download: the new-URL dialog's
// OK step with its warnings and refusals, the save prompt of the first URL,
// the start of download windows in their slots, the existing-file question,
// the clipboard prefill and dropped URLs downloading from a loopback server.
#include "config/cregister.h"
#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "download/downloadlist.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "intake/ui/frmexist.h"
#include "intake/ui/frmfile.h"
#include "intake/ui/frmurl.h"
#include "intake/intakerules.h"
#include "intake/ui/intake.h"
#include "queue/ui/downloadlistview.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"

#include "httpfileserver.h"
#include "managerrig.h"
#include "scriptedprompts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

class NoShell final : public DesktopShell {
public:
    bool openFile(const QString &) override { return true; }
    bool showFolder(const QString &) override { return true; }
    bool startProgram(const QString &, const QStringList &) override { return true; }
};

// Answers the existing-file prompt whenever it comes up: with the button of
// that name, or "close" for the frame. Counts the prompts seen.
class ExistAnswerer : public QObject {
public:
    explicit ExistAnswerer(QString how) : m_how(std::move(how))
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *prompt = qobject_cast<frmExist *>(QApplication::activeModalWidget());
            if (!prompt || prompt == m_last)
                return;
            m_last = prompt;
            ++seen;
            if (m_how == QLatin1String("close"))
                prompt->close();
            else
                prompt->findChild<QPushButton *>(m_how)->click();
        });
        m_timer.start();
    }
    int seen = 0;

private:
    QString m_how;
    QTimer m_timer;
    QPointer<frmExist> m_last;
};

QStringList rowOf(const DownloadListModel &list, int row)
{
    return list.values(list.idAt(row)).mid(0, 6);
}

constexpr qint64 FileSize = 30000;

struct Harness {
    ManagerRig rig; // the store, both lists, the prompts and the download manager
    QTemporaryDir &dir = rig.dir;
    CRegister &reg = rig.reg;
    SettingsRecord &record = rig.record;
    SettingsModel settings{SettingsModel::Environment{&record, &reg, nullptr, dir.path(), QStringLiteral("Tessel"),
                                                      QString(), {}, {}}};
    DownloadListModel &downloads = rig.downloads;
    DownloadListModel &completed = rig.completed;
    ScriptedPrompts &prompts = rig.prompts;
    NoShell shell;
    IntakeRunValues run;
    QString clipboard;
    HttpFileServer http{FileSize};
    DownloadWindowTable windows; // before the intake, so the intake goes first
    std::unique_ptr<Intake> intake;

    Harness()
    {
        LoadSettings(record, reg);
        record.StopResume = false;
        record.Retry = false;
        record.Segment = 0;
        record.ClipboardMonitoring = false;
        settings.txtLimitHTTP = QStringLiteral("3");
        settings.txtLimitFTP = QStringLiteral("3");
        settings.txtMonitorTypes = QStringLiteral(".bin;.zip");
        rig.timing = {std::chrono::milliseconds(20), std::chrono::milliseconds(40), std::chrono::milliseconds(50),
                      std::chrono::milliseconds(20)};
        rig.build();
        Intake::Services s;
        s.record = &record;
        s.settings = &settings;
        s.downloads = &downloads;
        s.completed = &completed;
        s.windows = &windows;
        s.prompts = &prompts;
        s.shell = &shell;
        s.run = &run;
        s.manager = rig.manager.get();
        s.clipboardText = [this] { return clipboard; };
        s.today = [] { return QDate(2026, 12, 6); };
        s.fallbackFolder = home();
        intake = std::make_unique<Intake>(std::move(s));
    }
    ~Harness() { intake.reset(); }

    DownloadManager &manager() { return *rig.manager; }
    DownloadState stateOfRow(int index) { return manager().state(manager().idOfRow(downloads.idAt(index))); }

    QString home() const { return dir.filePath(QStringLiteral("home")); }
    QString path(const QString &name) const { return dir.filePath(name); }

    // Types text into the new-URL dialog and presses its button.
    void typeAndOk(const QString &text)
    {
        intake->ShowURLDialog();
        frmURL *dialog = intake->urlDialog();
        dialog->cboURL->lineEdit()->clear();
        QTest::keyClicks(dialog->cboURL->lineEdit(), text);
        dialog->cmdOk->click();
    }
};

} // namespace

class TestIntake : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(QApplication::topLevelWidgets().size() < 20); }

    // Every check of the OK step before the disposition, typed into the dialog.
    void okStepWarningsAndRefusals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("monitorServer");
        QTest::addColumn<QString>("monitorTypes");
        QTest::addColumn<QString>("limitHttp");
        QTest::addColumn<QString>("warning");      // expected message text, empty: none
        QTest::addColumn<QString>("warningTitle");
        QTest::addColumn<QStringList>("row");      // expected new row, empty: none

        const QString types = QStringLiteral(".zip;.exe");
        const QString na = QStringLiteral("N/A");
        const QString notDl = QStringLiteral("Not Downloaded");
        // The filter lists apply to URLs that browser capture hands over;
        // those rows are captured, the others typed.
        QTest::newRow("no scheme") << "www.example.com/a.zip" << "" << types << "3" << "Invalid URL" << "Tessel"
                                   << QStringList{};
        QTest::newRow("short ftp") << "ftp://a" << "" << types << "3" << "Invalid URL" << "Tessel" << QStringList{};
        QTest::newRow("bare scheme") << "http://" << "" << types << "3" << "Invalid File URL..." << "Inavlid URL"
                                     << QStringList{};
        QTest::newRow("no extension") << "http://host/dir/" << "" << types << "3" << "Invalid File URL..."
                                      << "Inavlid URL" << QStringList{};
        QTest::newRow("bad extension") << "http://host/a.z<p" << "" << types << "3" << "Invalid File URL..."
                                       << "Inavlid URL" << QStringList{};
        QTest::newRow("blocked server")
            << "HTTP://dl.blocked.test/a.zip" << "*.blocked.test" << types << "3" << "" << ""
            << QStringList{"You block this server", "0 %", na, na, notDl, "HTTP://dl.blocked.test/a.zip"};
        QTest::newRow("blocked extension")
            << "http://host/a.iso" << "" << types << "3" << "" << ""
            << QStringList{"You block this Extenison", "0 %", na, na, notDl, "http://host/a.iso"};
        // One running download from the server and a limit of 1: queued with
        // the default save path.
        QTest::newRow("limit reached") << "http://busy.test/a.zip" << "" << types << "1" << "" << ""
                                       << QStringList{"@home/a.zip", "0%", na, na, notDl, "http://busy.test/a.zip"};
    }
    void okStepWarningsAndRefusals()
    {
        QFETCH(QString, text);
        QFETCH(QString, monitorServer);
        QFETCH(QString, monitorTypes);
        QFETCH(QString, limitHttp);
        QFETCH(QString, warning);
        QFETCH(QString, warningTitle);
        QFETCH(QStringList, row);
        Harness h;
        h.settings.txtMonitorServer = monitorServer;
        h.settings.txtMonitorTypes = monitorTypes;
        h.settings.txtLimitHTTP = limitHttp;
        // One download runs from the busy server (the loopback server that
        // answers and then says nothing more); the limit counts it by its state.
        h.http.override = [](const QByteArray &, FakePlan &plan) {
            plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Length: 30000"})).stall();
            return true;
        };
        const QString busy = QStringLiteral("127.0.0.1:%1").arg(h.http.server.port());
        text.replace(QStringLiteral("busy.test"), busy);
        if (!row.isEmpty())
            row[5].replace(QStringLiteral("busy.test"), busy);
        const DownloadId running = h.manager().start({h.http.url("/run.zip"), h.path("run.zip"),
                                                      ExistingFile::Overwrite});
        QCOMPARE(h.manager().state(running), DownloadState::Running);
        if (!warning.isEmpty())
            h.prompts.expectMessage(warning);

        if (QTest::currentDataTag() == QLatin1String("blocked server")
            || QTest::currentDataTag() == QLatin1String("blocked extension"))
            h.intake->CaptureURL(text);
        else
            h.typeAndOk(text);

        VERIFY_PROMPTS_DONE(h.prompts);
        if (!warning.isEmpty()) {
            QCOMPARE(h.prompts.last().title, warningTitle);
            QCOMPARE(h.prompts.last().icon, PromptIcon::Warning);
        }
        QVERIFY(h.intake->urlDialog()); // stays loaded after all of these
        QCOMPARE(h.intake->urlDialog()->isVisible(), !warning.isEmpty());
        QVERIFY(!h.run.blnSaveAsked);
        QVERIFY(!h.intake->savePrompt());
        QCOMPARE(h.windows.count(), 0);
        if (row.isEmpty()) {
            QCOMPARE(h.downloads.count(), 1);
            return;
        }
        QCOMPARE(h.downloads.count(), 2);
        row[0].replace(QStringLiteral("@home"), h.home());
        QCOMPARE(rowOf(h.downloads, 1), row);
        // The queued row is the manager's, typed as the texts say.
        QCOMPARE(h.stateOfRow(1), row[1] == QLatin1String("0 %") ? DownloadState::Refused : DownloadState::Queued);

        // The next opening shows the same dialog with the earlier text.
        QPointer<frmURL> dialog = h.intake->urlDialog();
        h.intake->ShowURLDialog();
        QCOMPARE(h.intake->urlDialog(), dialog.data());
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->url(), text);
    }

    // Typed, pasted and dropped URLs are the user's own choice: the filter
    // lists do not refuse them. Browser capture's URLs are filtered.
    void onlyCapturedUrlsAreFiltered_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("firstValue"); // "@" stands for the last save folder
        QTest::addColumn<QString>("progress");
        const QString blocked = QStringLiteral("You block this Extenison");
        for (const char *ext : {"pdf", "mp4", "iso", "tar.xz"}) {
            const QString url = QStringLiteral("http://dl.test/file.") + QLatin1String(ext);
            const QString saved = QStringLiteral("@/file.") + QLatin1String(ext);
            QTest::addRow("typed %s", ext) << "typed" << url << saved << "0%";
            QTest::addRow("pasted %s", ext) << "pasted" << url << saved << "0%";
            QTest::addRow("dropped %s", ext) << "dropped" << url << saved << "0%";
            QTest::addRow("captured %s", ext) << "captured" << url << blocked << "0 %";
        }
        QTest::newRow("captured, blocked server") << "captured" << "http://ads.test/a.zip"
                                                  << "You block this server" << "0 %";
        QTest::newRow("typed, blocked server") << "typed" << "http://ads.test/a.zip" << "@/a.zip" << "0%";
        QTest::newRow("captured, monitored") << "captured" << "http://dl.test/a.zip" << "@/a.zip" << "0%";
    }
    void onlyCapturedUrlsAreFiltered()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(QString, firstValue);
        QFETCH(QString, progress);
        Harness h;
        h.settings.txtMonitorServer = QStringLiteral("ads.test");
        h.run.blnSaveAsked = true;
        h.record.DownloadNowOption = false;
        h.record.DownloadLaterOption = true;
        h.record.DownloadPromptOption = false;
        h.settings.lastSavePath = h.path("last/old.bin");
        if (how == QLatin1String("typed")) {
            h.typeAndOk(text);
        } else if (how == QLatin1String("pasted")) {
            h.intake->ShowURLDialog();
            h.intake->urlDialog()->setUrl(text, true);
            h.intake->urlDialog()->cmdOk->click();
        } else if (how == QLatin1String("dropped")) {
            h.intake->DownLoadURL(text);
        } else {
            h.intake->CaptureURL(text);
        }
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.downloads.count(), 1);
        firstValue.replace(QStringLiteral("@"), h.path("last"));
        QCOMPARE(rowOf(h.downloads, 0), (QStringList{firstValue, progress, "N/A", "N/A", "Not Downloaded", text}));
        QCOMPARE(h.stateOfRow(0), progress == QLatin1String("0 %") ? DownloadState::Refused : DownloadState::Queued);
    }

    // Text of several lines is one URL a line, each through the OK step;
    // the lines that draw a warning stay in the box, the rest are taken.
    void severalUrlsAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("pasted") << "pasted";
        QTest::newRow("dropped") << "dropped";
        QTest::newRow("dropped links") << "links";
        QTest::newRow("clipboard prefill") << "clipboard";
    }
    void severalUrlsAtOnce()
    {
        QFETCH(QString, how);
        Harness h;
        h.run.blnSaveAsked = true;
        h.record.DownloadNowOption = false;
        h.record.DownloadLaterOption = true;
        h.record.DownloadPromptOption = false;
        h.settings.lastSavePath = h.path("last/old.bin");
        const QString text = QStringLiteral("http://a.test/1.zip\r\n\n  ftp://b.test/2.iso \nnot-a-url\nhttp://a.test/3.pdf\n");
        const QStringList urls{"http://a.test/1.zip", "ftp://b.test/2.iso", "http://a.test/3.pdf"};
        h.prompts.expectMessage(QStringLiteral("Invalid URL"));
        if (how == QLatin1String("pasted")) {
            h.intake->ShowURLDialog();
            h.intake->urlDialog()->setUrl(text);
            h.intake->urlDialog()->cmdOk->click();
        } else if (how == QLatin1String("clipboard")) {
            h.record.ClipboardMonitoring = true;
            h.clipboard = text;
            h.intake->ShowURLDialog();
            QTest::keyClick(h.intake->urlDialog()->cboURL->lineEdit(), Qt::Key_Return);
        } else if (how == QLatin1String("links")) {
            QMimeData mime;
            QList<QUrl> links;
            for (const QString &line : text.split(QLatin1Char('\n')))
                links.append(QUrl(line.trimmed()));
            mime.setUrls(links);
            h.intake->DownLoadURL(droppedText(&mime));
        } else {
            h.intake->DownLoadURL(text);
        }
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.downloads.count(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(h.downloads.value(h.downloads.idAt(row), DownloadListModel::Url), urls.at(row));
            QCOMPARE(h.downloads.value(h.downloads.idAt(row), DownloadListModel::SavePath),
                     h.path("last/") + GetFileName(urls.at(row)));
        }
        // The one line that is no URL waits in the box for the user.
        QVERIFY(h.intake->urlDialog());
        QCOMPARE(h.intake->urlDialog()->url(), QStringLiteral("not-a-url"));
    }

    // A row restored as interrupted is a stopped download of the manager;
    // Re-Download asks about the existing file as for any stopped download,
    // and Resume goes on from the bytes it had.
    void reDownloadOfAnInterruptedRowResumes()
    {
        Harness h;
        const qint64 had = FileSize / 3;
        const QString path = h.path("part.bin");
        {
            QFile partial(path);
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.write(HttpFileServer::bytes(0, had));
        }
        const QString url = h.http.url(QStringLiteral("/part.bin"));
        const DownloadListModel::RowId row =
            h.downloads.addRow({path, "33%", "29 KB", "9 KB", "Paused/Stopped", url});
        const DownloadId id = h.manager().adopt(row, DownloadState::Stopped);
        QCOMPARE(h.manager().state(id), DownloadState::Stopped);
        QCOMPARE(h.manager().adopt(row, DownloadState::Stopped), id); // once only
        QCOMPARE(h.manager().url(id), url);
        QCOMPARE(h.manager().savePath(id), path);
        ExistAnswerer answerer(QStringLiteral("cmdResume"));

        QVERIFY(h.intake->BeginDownload(url, path, 1));
        QTRY_COMPARE_WITH_TIMEOUT(h.manager().state(id), DownloadState::Complete, 10000);
        QCOMPARE(answerer.seen, 1);
        QCOMPARE(h.downloads.count(), 0);
        QCOMPARE(h.completed.count(), 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), HttpFileServer::bytes(0, FileSize));
        // It went on from (a little before, by the rollback) the bytes it had.
        QVERIFY(!h.http.ranges.isEmpty());
        const QByteArray range = h.http.ranges.last();
        QVERIFY2(range.startsWith("bytes="), range.constData());
        const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
        QVERIFY2(from > 0 && from <= had, range.constData());
    }

    void queueDownloadRowShape()
    {
        Harness h;
        const DownloadListModel::RowId id = h.intake->QueueDownload("ftp://h/f.txt", "/dl/f.txt");
        QCOMPARE(h.downloads.indexOf(id), 0);
        QCOMPARE(rowOf(h.downloads, 0),
                 (QStringList{"/dl/f.txt", "0%", "N/A", "N/A", "Not Downloaded", "ftp://h/f.txt"}));
        QCOMPARE(h.downloads.icon(id), 1);
        QCOMPARE(h.stateOfRow(0), DownloadState::Queued);
        QCOMPARE(h.manager().job(h.manager().idOfRow(id)), nullptr);
        QCOMPARE(h.windows.count(), 0);
    }

    // The first URL of a run goes through the save prompt whatever the
    // option; the next one follows the option and the chosen folder.
    void firstUrlAsksThenRulesApply()
    {
        Harness h;
        h.record.DownloadNowOption = true;
        h.record.DownloadPromptOption = false;
        QVERIFY(QDir().mkpath(h.path("first")));
        const QString chosen = h.path("first/one.bin");
        h.prompts.expectFile(QStringLiteral("[Save file to?]"), chosen);
        QSignalSpy listShown(h.intake.get(), &Intake::downloadListRequested);

        h.typeAndOk(h.http.url(QStringLiteral("/one.bin")));

        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.prompts.last().fileRequest.fileName, QStringLiteral("one.bin"));
        QVERIFY(h.run.blnSaveAsked);
        QVERIFY(!h.intake->urlDialog()); // unloaded once past the filters
        QCOMPARE(h.settings.lastSavePath, chosen);
        QPointer<frmFile> prompt = h.intake->savePrompt();
        QVERIFY(prompt && prompt->isVisible());
        QCOMPARE(h.downloads.count(), 0);
        prompt->cmdBegin->click();
        QCOMPARE(listShown.count(), 1);
        QCOMPARE(h.downloads.count(), 1);
        QCOMPARE(h.windows.count(), 1);
        QTRY_VERIFY(!prompt);

        // The second URL, dropped: starts at once beside the first file.
        h.intake->DownLoadURL(h.http.url(QStringLiteral("/two.bin")));
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.windows.count(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(h.completed.count(), 2, 10000);
        QCOMPARE(h.downloads.count(), 0);
        for (const QString &name : {QStringLiteral("one.bin"), QStringLiteral("two.bin")}) {
            QFile file(h.path("first/" + name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), HttpFileServer::bytes(0, FileSize));
        }
    }

    void cancelledFirstSavePromptAddsNothing()
    {
        Harness h;
        h.prompts.expectFile(QStringLiteral("[Save file to?]"), QString());
        h.typeAndOk(QStringLiteral("http://h.test/a.zip"));
        VERIFY_PROMPTS_DONE(h.prompts);
        QVERIFY(!h.intake->savePrompt());
        QCOMPARE(h.downloads.count(), 0);
        QCOMPARE(h.windows.count(), 0);
        QVERIFY(h.settings.lastSavePath.isEmpty());
    }

    // After the first URL the option decides; each row a later URL.
    void laterUrlsFollowTheOption_data()
    {
        QTest::addColumn<int>("option"); // NewDownloadOption
        QTest::addColumn<int>("choice"); // SaveChoice
        QTest::addColumn<QString>("parentDir");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QString>("savePath"); // "@" is the temporary folder
        QTest::newRow("ask") << int(NewDownloadOption::Ask) << int(SaveChoice::LastDirectory) << "" << true << false
                             << "";
        QTest::newRow("later") << int(NewDownloadOption::AddToList) << int(SaveChoice::LastDirectory) << "" << false
                               << false << "@/last/f.bin";
        QTest::newRow("now, by date") << int(NewDownloadOption::StartNow) << int(SaveChoice::ByFileInfo) << "@/dl"
                                      << false << true << "@/dl/6-12-2026/f.bin";
        QTest::newRow("now, by info without parent") << int(NewDownloadOption::StartNow)
                                                     << int(SaveChoice::ByFileInfo) << "" << false << false
                                                     << "@/last/f.bin";
    }
    void laterUrlsFollowTheOption()
    {
        QFETCH(int, option);
        QFETCH(int, choice);
        QFETCH(QString, parentDir);
        QFETCH(bool, asks);
        QFETCH(bool, starts);
        QFETCH(QString, savePath);
        Harness h;
        const QString at = h.dir.path();
        h.run.blnSaveAsked = true;
        h.settings.lastSavePath = at + "/last/old.bin";
        h.record.DownloadNowOption = option == int(NewDownloadOption::StartNow);
        h.record.DownloadLaterOption = option == int(NewDownloadOption::AddToList);
        h.record.DownloadPromptOption = option == int(NewDownloadOption::Ask);
        h.record.saveLocation.choice = SaveChoice(choice);
        h.record.saveLocation.naming = SubFolderNaming::CurrentDate;
        h.record.saveLocation.parentDirectory = parentDir.replace(QStringLiteral("@"), at);
        QVERIFY(QDir().mkpath(at + "/dl"));
        if (asks)
            h.prompts.expectFile(QStringLiteral("[Save file to?]"), QString());

        h.intake->DownLoadURL(h.http.url(QStringLiteral("/f.bin")));

        VERIFY_PROMPTS_DONE(h.prompts);
        QVERIFY(!h.intake->urlDialog());
        QCOMPARE(h.windows.count(), starts ? 1 : 0);
        if (asks) {
            QCOMPARE(h.downloads.count(), 0);
            return;
        }
        QCOMPARE(h.downloads.count(), 1);
        QCOMPARE(h.downloads.value(h.downloads.idAt(0), DownloadListModel::SavePath),
                 savePath.replace(QStringLiteral("@"), at));
        if (starts) {
            QVERIFY(QFileInfo(at + "/dl/6-12-2026").isDir());
            QTRY_COMPARE_WITH_TIMEOUT(h.completed.count(), 1, 10000);
            QCOMPARE(QFileInfo(savePath).size(), FileSize);
        } else {
            QCOMPARE(h.downloads.value(h.downloads.idAt(0), DownloadListModel::Status),
                     QStringLiteral("Not Downloaded"));
        }
    }

    void beginDownloadTakesTheLowestFreeSlot()
    {
        Harness h;
        h.http.style = HttpFileServer::RangeStyle::Strict;
        QList<QPointer<frmDownload>> started;
        for (int i = 0; i < 3; ++i) {
            started.append(h.intake->BeginDownload(h.http.url(QStringLiteral("/s%1.bin").arg(i)),
                                                   h.path(QStringLiteral("s%1.bin").arg(i)), -1));
            QVERIFY(started.last());
            QCOMPARE(started.last()->intAssignedIndex, i);
        }
        QCOMPARE(h.downloads.count(), 3);
        QCOMPARE(rowOf(h.downloads, 0),
                 (QStringList{h.path("s0.bin"), "0%", "N/A", "N/A", "N/A", h.http.url("/s0.bin")}));
        QCOMPARE(h.manager().row(started[0]->downloadId()), h.downloads.idAt(0));
        QCOMPARE(started[1]->txtSaveTo->text(), h.path("s1.bin"));
        QCOMPARE(started[1]->txtURL->text(), h.http.url("/s1.bin"));
        QVERIFY(started[1]->isVisible());

        // The middle window goes; its row is removed too. A new download
        // takes slot 1, not the row count (2), which is still busy.
        started[1]->close();
        QTRY_VERIFY(!started[1]);
        QVERIFY(h.downloads.removeRowById(h.downloads.idAt(1)));
        QPointer<frmDownload> next = h.intake->BeginDownload(h.http.url("/n.bin"), h.path("n.bin"), -1);
        QVERIFY(next);
        QCOMPARE(next->intAssignedIndex, 1);
        QCOMPARE(h.windows.at(1), next.data());
        QCOMPARE(h.windows.at(2), started[2].data());
        VERIFY_PROMPTS_DONE(h.prompts);
    }

    void beginDownloadRestartsAnExistingRow()
    {
        Harness h;
        h.intake->QueueDownload(h.http.url("/q0.bin"), h.path("q0.bin"));
        h.intake->QueueDownload(h.http.url("/q1.bin"), h.path("q1.bin"));
        QPointer<frmDownload> w = h.intake->BeginDownload(h.http.url("/q1.bin"), h.path("q1.bin"), 2);
        QVERIFY(w);
        QCOMPARE(h.downloads.count(), 2); // no row added
        QCOMPARE(h.manager().row(w->downloadId()), h.downloads.idAt(1));
        QTRY_COMPARE_WITH_TIMEOUT(h.completed.count(), 1, 10000);
        QCOMPARE(h.downloads.count(), 1);
        QCOMPARE(h.downloads.value(h.downloads.idAt(0), DownloadListModel::Url), h.http.url("/q0.bin"));
    }

    void beginDownloadRefusesWhenEveryWindowIsBusy()
    {
        Harness h;
        frmDownload::Services busy;
        busy.manager = h.rig.manager.get();
        for (int slot = 0; slot < DownloadWindowTable::SlotCount; ++slot)
            QVERIFY(h.windows.create(slot, busy, 0));
        h.prompts.expectMessage(QStringLiteral("All 101 download windows are in use"));
        QVERIFY(!h.intake->BeginDownload(h.http.url("/x.bin"), h.path("x.bin"), -1));
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.downloads.count(), 0);
        QCOMPARE(h.windows.count(), DownloadWindowTable::SlotCount);
        QCOMPARE(h.http.server.connectionCount(), 0);

        // A URL the intake took in itself is kept in the list instead.
        h.run.blnSaveAsked = true;
        h.record.DownloadNowOption = true;
        h.record.DownloadPromptOption = false;
        h.settings.lastSavePath = h.path("last/old.bin");
        h.prompts.expectMessage(QStringLiteral("All 101 download windows are in use"));
        h.intake->DownLoadURL(h.http.url("/y.bin"));
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(rowOf(h.downloads, 0),
                 (QStringList{h.path("last/y.bin"), "0%", "N/A", "N/A", "Not Downloaded", h.http.url("/y.bin")}));
    }

    void existingFileQuestion_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("unattended");
        QTest::addColumn<int>("scheduleChoice");
        QTest::addColumn<int>("choice");
        QTest::newRow("overwrite") << "cmdOverwrite" << false << 0 << 0;
        QTest::newRow("resume") << "cmdResume" << false << 0 << -1;
        QTest::newRow("cancel") << "cmdCancel" << false << 0 << -2;
        QTest::newRow("frame close is cancel") << "close" << false << 0 << -2;
        QTest::newRow("scheduled overwrite") << "" << true << 1 << 0;
        QTest::newRow("scheduled resume") << "" << true << 2 << -1;
        QTest::newRow("scheduled skip") << "" << true << 3 << -2;
    }
    void existingFileQuestion()
    {
        QFETCH(QString, how);
        QFETCH(bool, unattended);
        QFETCH(int, scheduleChoice);
        QFETCH(int, choice);
        Harness h;
        h.run.blnUnattended = unattended;
        h.run.intScheduleExistChoice = qint16(scheduleChoice);
        const QString target = h.path("exists.bin");
        const QByteArray head = HttpFileServer::bytes(0, 10000);
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(head);
        }
        ExistAnswerer answerer(how.isEmpty() ? QStringLiteral("cmdCancel") : how);

        QPointer<frmDownload> w = h.intake->BeginDownload(h.http.url("/exists.bin"), target, -1);

        QCOMPARE(answerer.seen, unattended ? 0 : 1);
        // The answer travels with the start, not through the settings.
        QCOMPARE(int(h.record.intExistChoice), int(SettingsRecord().intExistChoice));
        QCOMPARE(h.downloads.count(), 1);
        if (choice == -2) {
            // Not downloaded: no window, the row waits, the file stays as it was.
            QTRY_VERIFY(!w);
            QCOMPARE(h.stateOfRow(0), DownloadState::Queued);
            QCOMPARE(h.completed.count(), 0);
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), head);
            return;
        }
        QVERIFY(w && w->job());
        QCOMPARE(existingFileChoice(w->job()->request().existing), choice);
        QTRY_COMPARE_WITH_TIMEOUT(h.completed.count(), 1, 10000);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), HttpFileServer::bytes(0, FileSize));
        // Resume asks for the missing part only (less the rollback); the
        // other answers fetch from the start.
        const bool resumed = std::any_of(h.http.ranges.cbegin(), h.http.ranges.cend(), [](const QByteArray &r) {
            const qint64 from = r.startsWith("bytes=") ? r.mid(6, r.indexOf('-') - 6).toLongLong() : 0;
            return from > 0 && from <= 10000;
        });
        QCOMPARE(resumed, choice == -1);
    }

    void dialogLoadStep_data()
    {
        QTest::addColumn<bool>("monitoring");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("prefill");
        QTest::newRow("http, trimmed") << true << "  http://h/a.zip \n" << "http://h/a.zip";
        QTest::newRow("ftp inside text") << true << "see ftp://h/f.txt" << "see ftp://h/f.txt";
        QTest::newRow("ftps inside text") << true << "see ftps://h/f.txt" << "see ftps://h/f.txt";
        QTest::newRow("capital scheme") << true << "HTTP://h/a.zip" << "";
        QTest::newRow("no url") << true << "hello" << "";
        QTest::newRow("monitoring off") << false << "http://h/a.zip" << "";
    }
    void dialogLoadStep()
    {
        QFETCH(bool, monitoring);
        QFETCH(QString, clipboard);
        QFETCH(QString, prefill);
        Harness h;
        h.record.ClipboardMonitoring = monitoring;
        h.clipboard = clipboard;
        h.downloads.addRow({"/a", "0%", "N/A", "N/A", "N/A", "http://h/1.zip"});
        h.downloads.addRow({"/b", "0%", "N/A", "N/A", "N/A", "http://h/2.zip"});
        h.completed.addRow({"/c", "100%", "1", "1", "Transfer Completed...", "http://h/1.zip"});

        h.intake->ShowURLDialog();
        frmURL *dialog = h.intake->urlDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->url(), prefill);
        QCOMPARE(dialog->cboURL->lineEdit()->selectedText(), prefill);
        QCOMPARE(dialog->history(), (QStringList{"http://h/1.zip", "http://h/2.zip", "http://h/1.zip"}));

        // Cancel unloads it; the next opening loads it afresh.
        dialog->cmdCancel->click();
        QTRY_VERIFY(!h.intake->urlDialog());
    }

    // The settings dialog's clipboard box acts on the next load of the
    // new-URL dialog without a save: off, on, and off again in one run. A
    // dialog already loaded keeps what it showed.
    void clipboardBoxSwitchesThePrefillAtOnce()
    {
        Harness h;
        h.clipboard = QStringLiteral("http://h/copied.zip");
        const auto openAndRead = [&h] {
            h.intake->ShowURLDialog();
            const QString text = h.intake->urlDialog()->url();
            return text;
        };
        const auto cancel = [&h] {
            h.intake->urlDialog()->cmdCancel->click();
            QTRY_VERIFY(!h.intake->urlDialog());
        };
        for (const bool on : {true, false, true}) {
            h.settings.setClipboardMonitoring(on);
            QCOMPARE(openAndRead(), on ? h.clipboard : QString());
            h.settings.setClipboardMonitoring(!on);
            h.intake->ShowURLDialog(); // still loaded: not prefilled anew
            QCOMPARE(h.intake->urlDialog()->url(), on ? h.clipboard : QString());
            cancel();
        }
    }
};

QTEST_MAIN(TestIntake)
#include "tst_intake.moc"
