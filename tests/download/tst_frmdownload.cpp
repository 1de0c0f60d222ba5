// The download window and the window table, driving real downloads from a
// scripted HTTP server on loopback.
#include "config/cregister.h"
#include "config/settingsrecord.h"
#include "download/downloadlist.h"
#include "download/urlmodel.h"
#include "download/ui/downloadwindows.h"
#include "download/ui/frmdownload.h"
#include "download/ui/frmserverdata.h"
#include "platform/registrystore.h"
#include "platform/ui/shell.h"
#include "platform/ui/skin.h"
#include "platform/skinelements.h"

#include "httpfileserver.h"
#include "managerrig.h"
#include "scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <cstdlib>
#include <memory>

namespace {

// Records what the window asked the desktop to open.
class RecordingShell final : public DesktopShell {
public:
    struct Call {
        QString verb;
        QString path;
        bool operator==(const Call &) const = default;
    };
    QList<Call> calls;
    bool succeed = true;

    bool openFile(const QString &path) override
    {
        calls.append({QStringLiteral("open"), path});
        return succeed;
    }
    bool showFolder(const QString &path) override
    {
        calls.append({QStringLiteral("folder"), path});
        return succeed;
    }
    bool startProgram(const QString &program, const QStringList &) override
    {
        calls.append({QStringLiteral("start"), program});
        return succeed;
    }
};

// The program-wide objects a download window needs: the manager rig (store,
// lists, prompts, one download manager) and the window table.
struct Harness {
    ManagerRig rig;
    ScriptedPrompts &prompts = rig.prompts;
    DownloadListModel &mainList = rig.downloads;
    SettingsRecord &record = rig.record;
    RecordingShell shell;
    // The file the downloads fetch; serve() puts another in its place.
    std::unique_ptr<HttpFileServer> http = std::make_unique<HttpFileServer>(40000);
    // Last, so its windows go before everything they use.
    DownloadWindowTable table;

    // ratePeriod: how often the job measures the rate. A tick over a stalled
    // connection measures 0 again, so a test that reads the rate label gives
    // the measured value time to be seen.
    explicit Harness(std::chrono::milliseconds ratePeriod = std::chrono::milliseconds(40))
    {
        record.StopResume = false; // no stall detector: pauses stay as the test leaves them
        record.Retry = false;
        rig.timing = {std::chrono::milliseconds(20), ratePeriod, std::chrono::milliseconds(30),
                      std::chrono::milliseconds(20)};
        rig.build();
    }

    void serve(qint64 size) { http = std::make_unique<HttpFileServer>(size); }
    QByteArray file() const { return HttpFileServer::bytes(0, http->size()); }
    FakeServer &server() { return http->server; }
    // The first reply (the probe's, which goes on with the data) sends this
    // much of the file and then goes silent.
    void stallAfter(qint64 bytes) { http->stallFirstBodyAfter = bytes; }

    DownloadManager &manager() { return *rig.manager; }

    QStringList optionsOn; // the stored options the windows read as on

    frmDownload::Services services()
    {
        frmDownload::Services s;
        s.manager = rig.manager.get();
        s.shell = &shell;
        s.prompts = &prompts;
        s.storedOption = [this](const QString &key) { return optionsOn.contains(key); };
        return s;
    }

    QString url() const { return http->url(QStringLiteral("/files/data.bin")); }
    QString savePath() const { return rig.dir.filePath(QStringLiteral("data.bin")); }

    // Starts a download through the manager with its window in a slot, the
    // way the intake does: the window exists before the job starts. A
    // cancelled start has no window.
    frmDownload *begin(int slot = 0, ExistingFile existing = ExistingFile::Overwrite, QString path = {},
                       bool minimized = false)
    {
        QPointer<frmDownload> window;
        const auto hook = QObject::connect(rig.manager.get(), &DownloadManager::started, &table,
                                           [&](DownloadId id, TransferJob *) {
                                               window = table.create(slot, services(), id);
                                               if (window && minimized)
                                                   window->showMinimized();
                                               else if (window)
                                                   window->show();
                                           });
        rig.manager->start({url(), path.isEmpty() ? savePath() : path, existing});
        QObject::disconnect(hook);
        return window;
    }
};

bool shownIn(const QWidget *widget, const QWidget *window)
{
    return widget->isVisibleTo(window);
}

const QRegularExpression clockText(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));

} // namespace

class TestFrmDownload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runningDownloadFillsTheControls()
    {
        Harness h(std::chrono::milliseconds(1000));
        h.stallAfter(20000); // half the file, then silence
        QPointer<frmDownload> w = h.begin();
        QVERIFY(w);
        QCOMPARE(w->property(Skin::WindowProperty).toString(), SecondWindowSkinName);

        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("50%"));
        QCOMPARE(w->windowTitle(), QStringLiteral("data.bin [50%]"));
        QCOMPARE(w->lblFileSize->text(), FormatSize(40000));
        QCOMPARE(w->lblResume->text(), QStringLiteral("** Resume Supported **"));
        QTRY_COMPARE(w->lblReceived->text(), FormatSize(20000));
        QTRY_VERIFY(clockText.match(w->lblElapsed->text()).hasMatch());
        // The rate tick writes "<size> /Second"; until then the label reads "0 Bytes/Second".
        QTRY_VERIFY(w->lblRate->text().endsWith(QStringLiteral(" /Second")));
        QVERIFY(clockText.match(w->lblTimeLeft->text()).hasMatch());

        // One connection: one segment bar, no main bar.
        QVERIFY(shownIn(w->PVProgressBar[0], w));
        QCOMPARE(w->PVProgressBar[0]->value(), 50);
        for (int k = 1; k < frmDownload::MaxSegments; ++k)
            QVERIFY(!shownIn(w->PVProgressBar[k], w));
        QVERIFY(!shownIn(w->ProgressBar1, w));

        QCOMPARE(w->txtSaveTo->text(), h.savePath());
        QCOMPARE(w->txtURL->text(), h.url());
        QVERIFY(w->txtSaveTo->isReadOnly() && w->txtURL->isReadOnly());

        QCOMPARE(w->cmdPause->text(), QStringLiteral("&Pause"));
        QVERIFY(w->cmdPause->isEnabled());
        QCOMPARE(w->cmdStop->text(), QStringLiteral("&Stop"));
        QVERIFY(w->cmdStop->isEnabled());
        QVERIFY(!shownIn(w->cmdOpen, w));
        QVERIFY(!shownIn(w->cmdGoToDir, w));
        QVERIFY(!shownIn(w->lblTimeout, w));
        VERIFY_PROMPTS_DONE(h.prompts);
    }

    void segmentBarsFollowTheLayout()
    {
        Harness h;
        h.serve(6 * 1048576); // the table gives three segments
        h.stallAfter(4096);
        h.record.Segment = 1;
        h.prompts.expectMessage(QStringLiteral("Use Segemnted?!"), PromptAnswer::Yes);
        frmDownload *w = h.begin();
        QVERIFY(w);
        QTRY_VERIFY(shownIn(w->ProgressBar1, w));
        for (int k = 0; k < frmDownload::MaxSegments; ++k)
            QCOMPARE(shownIn(w->PVProgressBar[k], w), k < 3);
        // The bars share one row and split its width.
        QTRY_VERIFY(w->PVProgressBar[1]->x() > w->PVProgressBar[0]->x());
        QCOMPARE(w->PVProgressBar[1]->y(), w->PVProgressBar[0]->y());
        QVERIFY(std::abs(w->PVProgressBar[2]->width() - w->PVProgressBar[0]->width()) <= 1);
        VERIFY_PROMPTS_DONE(h.prompts);

        // A window over a download that has no job yet shows one bar.
        const DownloadId queued = h.manager().queue(h.url(), h.savePath(), QStringLiteral("Not Downloaded"));
        frmDownload *idle = h.table.create(1, h.services(), queued);
        QVERIFY(idle);
        idle->show();
        QVERIFY(!shownIn(idle->ProgressBar1, idle));
        QVERIFY(shownIn(idle->PVProgressBar[0], idle));
        QVERIFY(!shownIn(idle->PVProgressBar[1], idle));
    }

    void completedDownloadOffersOpenAndClose()
    {
        Harness h;
        QPointer<frmDownload> w = h.begin();
        QVERIFY(w);
        QTRY_VERIFY(w->job() && w->job()->state() == TransferState::Complete);
        QTRY_COMPARE(w->lblStatus->text(), QStringLiteral("Transfer Completed..."));
        QCOMPARE(w->lblPercent->text(), QStringLiteral("100%"));
        QCOMPARE(w->lblRate->text(), QStringLiteral("0 Bytes/Second"));
        QCOMPARE(w->lblTimeLeft->text(), QStringLiteral("00:00:00"));
        QVERIFY(shownIn(w->cmdOpen, w));
        QVERIFY(shownIn(w->cmdGoToDir, w));
        QCOMPARE(w->cmdStop->text(), QStringLiteral("&Close"));
        QVERIFY(w->cmdStop->isEnabled());
        QVERIFY(!w->cmdPause->isEnabled());

        QFile saved(h.savePath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), h.file());

        // Open and Go To Dir hand the save path to the shell.
        QTest::mouseClick(w->cmdOpen, Qt::LeftButton);
        QTest::mouseClick(w->cmdGoToDir, Qt::LeftButton);
        const QList<RecordingShell::Call> expected{{QStringLiteral("open"), h.savePath()},
                                                   {QStringLiteral("folder"), h.savePath()}};
        QCOMPARE(h.shell.calls, expected);

        // Close ends the window and frees its slot.
        QSignalSpy freed(&h.table, &DownloadWindowTable::slotFreed);
        QTest::mouseClick(w->cmdStop, Qt::LeftButton);
        QTRY_VERIFY(w.isNull());
        QCOMPARE(freed.count(), 1);
        QCOMPARE(freed.at(0).at(0).toInt(), 0);
        QCOMPARE(h.table.at(0), nullptr);
        QCOMPARE(h.table.count(), 0);
        VERIFY_PROMPTS_DONE(h.prompts);
    }

    void completionOptions_data()
    {
        QTest::addColumn<bool>("promptDone");
        QTest::addColumn<bool>("closeWhenDone");
        QTest::newRow("neither") << false << false;
        QTest::newRow("message") << true << false;
        QTest::newRow("close") << false << true;
        QTest::newRow("message, then close") << true << true;
    }

    void completionOptions()
    {
        QFETCH(bool, promptDone);
        QFETCH(bool, closeWhenDone);
        Harness h;
        if (promptDone) {
            h.optionsOn << QStringLiteral("PromptDone");
            h.prompts.expectMessage(QStringLiteral("Download Successful."));
        }
        if (closeWhenDone)
            h.optionsOn << QStringLiteral("CloseDownloadWindowWhenDone");
        QPointer<frmDownload> w = h.begin(4);
        QVERIFY(w);
        const DownloadId id = w->downloadId();
        QTRY_COMPARE(h.manager().state(id), DownloadState::Complete);
        if (closeWhenDone)
            QTRY_VERIFY(w.isNull());
        else
            QVERIFY(!w.isNull() && w->isVisible());
        VERIFY_PROMPTS_DONE(h.prompts);
        if (promptDone) {
            QCOMPARE(h.prompts.last().title, QStringLiteral("Tessel"));
            QCOMPARE(h.prompts.last().icon, PromptIcon::Information);
        }
        // A completed download stays complete when its window goes.
        QCOMPARE(h.manager().state(id), DownloadState::Complete);
        QCOMPARE(h.rig.completed.count(), 1);
    }

    // The data-error reports of a download are the window's message boxes.
    void noticesBecomeMessageBoxes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("data error") << int(TransferNotice::Kind::DataError)
                                    << "Error was occurred.\n10053\nconnection reset" << "Error";
        QTest::newRow("ftp data error") << int(TransferNotice::Kind::FtpDataError)
                                        << "FTP Downloading error: connection reset" << "Tessel";
    }

    void noticesBecomeMessageBoxes()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(QString, title);
        Harness h;
        h.stallAfter(100);
        frmDownload *w = h.begin();
        QVERIFY(w);
        h.prompts.expectMessage(text);
        Q_EMIT h.manager().noticeRaised(w->downloadId(),
                                        TransferNotice{TransferNotice::Kind(kind), 10053, QStringLiteral("connection reset")});
        // Another download's notice is not this window's business.
        Q_EMIT h.manager().noticeRaised(w->downloadId() + 1,
                                        TransferNotice{TransferNotice::Kind(kind), 1, QStringLiteral("elsewhere")});
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.prompts.last().text, text);
        QCOMPARE(h.prompts.last().title, title);
        QCOMPARE(h.prompts.records().size(), 1);
    }

    void shellFailureIsReported()
    {
        Harness h;
        h.shell.succeed = false;
        frmDownload *w = h.begin();
        QVERIFY(w);
        QTRY_VERIFY(shownIn(w->cmdOpen, w));
        h.prompts.expectMessage(h.savePath());
        QTest::mouseClick(w->cmdOpen, Qt::LeftButton);
        VERIFY_PROMPTS_DONE(h.prompts);
        QCOMPARE(h.prompts.last().icon, PromptIcon::Warning);
    }

    void pauseTogglesTheButtons()
    {
        Harness h;
        h.stallAfter(10000);
        frmDownload *w = h.begin();
        QVERIFY(w);
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("25%"));
        const int connections = h.server().connectionCount();

        QTest::mouseClick(w->cmdPause, Qt::LeftButton);
        QTRY_COMPARE(w->cmdPause->text(), QStringLiteral("&Resume"));
        QVERIFY(!w->cmdStop->isEnabled());
        // The window says it is paused, not what it did last.
        QCOMPARE(w->lblStatus->text(), QStringLiteral("Paused/Stopped"));
        QCOMPARE(w->job()->state(), TransferState::Paused);
        QCOMPARE(h.manager().state(w->downloadId()), DownloadState::Paused);
        QTRY_COMPARE(w->lblRate->text(), QStringLiteral("0 Bytes/Second"));

        // Resume asks the server again and the buttons come back; the new
        // reply trickles in, so the download is still running when looked at.
        h.http->pace = [](int connection) {
            return connection == 0 ? HttpFileServer::Pace{} : HttpFileServer::Pace{1000, 40};
        };
        QTest::mouseClick(w->cmdPause, Qt::LeftButton);
        QTRY_COMPARE(w->cmdPause->text(), QStringLiteral("&Pause"));
        QVERIFY(w->cmdStop->isEnabled());
        QTRY_COMPARE(h.server().connectionCount(), connections + 1);
        QTRY_COMPARE(w->job()->state(), TransferState::Downloading);
        QCOMPARE(h.manager().state(w->downloadId()), DownloadState::Running);
    }

    // At any width the buttons stay whole, side by side and inside the
    // window, whatever the state shows (Open and Go To Dir come and go).
    void buttonsNeverOverlap_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("width");
        for (const char *state : {"running", "paused", "stopped"}) {
            for (int width : {40, 300, 520, 1400})
                QTest::addRow("%s, %d", state, width) << QString::fromLatin1(state) << width;
        }
    }
    void buttonsNeverOverlap()
    {
        QFETCH(QString, state);
        QFETCH(int, width);
        Harness h;
        h.stallAfter(10000);
        QPointer<frmDownload> w = h.begin();
        QVERIFY(w);
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("25%"));
        if (state == QLatin1String("paused")) {
            w->Pause_Resume();
            QTRY_COMPARE(w->cmdPause->text(), QStringLiteral("&Resume"));
        } else if (state == QLatin1String("stopped")) {
            w->StopMe();
            QTRY_COMPARE(w->cmdStop->text(), QStringLiteral("&Close"));
        }
        w->resize(width, 60);
        QTRY_VERIFY(w->layout()->geometry().isValid());
        QCoreApplication::sendPostedEvents();
        w->layout()->activate();
        const QRect inside = w->rect();
        QList<QPushButton *> shown;
        for (QPushButton *b : {w->cmdPause, w->cmdStop, w->cmdOpen, w->cmdGoToDir, w->cmdHide, w->cmdMore}) {
            if (!b->isVisibleTo(w))
                continue;
            shown.append(b);
            QVERIFY2(inside.contains(b->geometry()), qPrintable(b->objectName()));
            QVERIFY2(b->width() >= b->minimumSizeHint().width(), qPrintable(b->objectName()));
        }
        QCOMPARE(shown.size(), state == QLatin1String("stopped") ? 6 : 4);
        for (int i = 0; i < shown.size(); ++i) {
            for (int j = i + 1; j < shown.size(); ++j)
                QVERIFY2(!shown[i]->geometry().intersects(shown[j]->geometry()),
                         qPrintable(shown[i]->objectName() + " / " + shown[j]->objectName()));
        }
        for (QLineEdit *box : {w->txtSaveTo, w->txtURL})
            QVERIFY(inside.contains(box->geometry()));
    }

    // A new window opens centred on the main window and all of it on the
    // screen, wherever the main window is.
    void windowsOpenOverTheMainWindowOnTheScreen_data()
    {
        QTest::addColumn<QPoint>("mainAt"); // relative to the screen's free area
        QTest::addColumn<QSize>("mainSize");
        QTest::addColumn<bool>("centred");
        QTest::newRow("middle") << QPoint(60, 40) << QSize(700, 500) << true;
        QTest::newRow("near the right edge") << QPoint(600, 40) << QSize(400, 300) << false;
        QTest::newRow("near the bottom") << QPoint(40, 500) << QSize(400, 300) << false;
        QTest::newRow("half off to the left") << QPoint(-300, 20) << QSize(400, 300) << false;
        QTest::newRow("no main window") << QPoint() << QSize() << false;
    }
    void windowsOpenOverTheMainWindowOnTheScreen()
    {
        QFETCH(QPoint, mainAt);
        QFETCH(QSize, mainSize);
        QFETCH(bool, centred);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget main;
        if (mainSize.isValid()) {
            main.setGeometry(QRect(area.topLeft() + mainAt, mainSize));
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
        }
        Harness h;
        h.stallAfter(10000);
        QPointer<frmDownload> w;
        const auto hook = QObject::connect(h.rig.manager.get(), &DownloadManager::started, &h.table,
                                           [&](DownloadId id, TransferJob *) {
                                               w = h.table.create(0, h.services(), id);
                                           });
        h.rig.manager->start({h.url(), h.savePath(), ExistingFile::Overwrite});
        QObject::disconnect(hook);
        QVERIFY(w);
        placeOver(w, mainSize.isValid() ? &main : nullptr);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY2(area.contains(w->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                   .arg(w->frameGeometry().x())
                                                                   .arg(w->frameGeometry().y())
                                                                   .arg(w->frameGeometry().width())
                                                                   .arg(w->frameGeometry().height())));
        const QPoint target = mainSize.isValid() ? main.frameGeometry().center() : area.center();
        const QPoint off = w->frameGeometry().center() - target;
        if (centred || !mainSize.isValid())
            QVERIFY2(off.manhattanLength() <= 24, qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
        else
            QVERIFY(w->frameGeometry().intersects(main.frameGeometry()) || mainAt.x() < 0);
        QVERIFY(w->width() >= w->minimumSizeHint().width());
    }

    void stopKeepsTheWindowWithCloseOffered()
    {
        Harness h;
        h.stallAfter(10000);
        QPointer<frmDownload> w = h.begin();
        QVERIFY(w);
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("25%"));
        QTest::mouseClick(w->cmdStop, Qt::LeftButton);
        QTRY_COMPARE(w->lblStatus->text(), QStringLiteral("Transfer Stopped"));
        QCOMPARE(w->cmdStop->text(), QStringLiteral("&Close"));
        QVERIFY(!w->cmdPause->isEnabled());
        QVERIFY(shownIn(w->cmdOpen, w));
        QVERIFY(!w.isNull());
        QCOMPARE(h.table.at(0), w.data());
        QCOMPARE(h.manager().state(w->downloadId()), DownloadState::Stopped);
    }

    void closingTheWindowClosesTheDownload()
    {
        Harness h;
        h.stallAfter(10000);
        QPointer<frmDownload> w = h.begin(7);
        QVERIFY(w);
        QCOMPARE(w->intAssignedIndex, 7);
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("25%"));
        const DownloadId id = w->downloadId();
        QPointer<TransferJob> job = w->job();
        QSignalSpy finished(&h.manager(), &DownloadManager::finished);
        QSignalSpy freed(&h.table, &DownloadWindowTable::slotFreed);

        QVERIFY(w->close());
        QCOMPARE(job->state(), TransferState::Cancelled);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(1).value<TransferOutcome>().kind, TransferOutcome::Kind::Cancelled);
        QTRY_VERIFY(w.isNull());
        QCOMPARE(freed.count(), 1);
        QCOMPARE(freed.at(0).at(0).toInt(), 7);
        QCOMPARE(h.table.at(7), nullptr);
        QCOMPARE(h.table.firstFreeSlot(), 0);
        // The bytes that arrived stay on disk and the row is a stopped one.
        QCOMPARE(QFileInfo(h.savePath()).size(), 10000);
        QCOMPARE(h.manager().state(id), DownloadState::Stopped);
        QCOMPARE(h.mainList.value(h.manager().row(id), DownloadListModel::Status), QStringLiteral("Paused/Stopped"));
        // The server sees its connection go.
        QTRY_VERIFY(!h.server().connections().constLast()->isOpen());
    }

    // A window closed mid-download leaves a stopped row; Re-Download
    // resumes it in its own row, and the file comes out whole.
    void closedWindowsRowIsResumedByRedownload()
    {
        Harness h;
        h.stallAfter(10000);
        QPointer<frmDownload> w = h.begin(2);
        QVERIFY(w);
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("25%"));
        const DownloadId id = w->downloadId();
        const auto row = h.manager().row(id);
        QVERIFY(w->close());
        QTRY_VERIFY(w.isNull());
        QCOMPARE(h.manager().state(id), DownloadState::Stopped);

        // Only the first reply stalled; this one brings the rest.
        const int before = h.server().connectionCount();
        QVERIFY(h.manager().redownload(id));
        QTRY_COMPARE(h.manager().state(id), DownloadState::Complete);
        QFile saved(h.savePath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), h.file());
        QCOMPARE(h.mainList.count(), 0);
        QCOMPARE(h.rig.completed.count(), 1);
        QVERIFY(h.server().connectionCount() > before);
        Q_UNUSED(row);
    }

    void cancelledStartOpensNoWindow()
    {
        Harness h;
        {
            QFile existing(h.savePath());
            QVERIFY(existing.open(QIODevice::WriteOnly));
        }
        QPointer<frmDownload> w = h.begin(3, ExistingFile::Cancel);
        QVERIFY(w.isNull());
        QCOMPARE(h.table.at(3), nullptr);
        QCOMPARE(h.table.count(), 0);
        QCOMPARE(h.server().connectionCount(), 0);
    }

    void countdownShowsWhileTheServerIsSilent()
    {
        Harness h;
        h.record.Timeout = 1000;
        h.http->override = [](const QByteArray &, FakePlan &plan) { // accepts, never answers
            plan.stall();
            return true;
        };
        frmDownload *w = h.begin();
        QVERIFY(w);
        QTRY_VERIFY(shownIn(w->lblTimeout, w));
        QVERIFY2(w->lblTimeout->text().startsWith(QStringLiteral("Timeout: 99")), qPrintable(w->lblTimeout->text()));
        QVERIFY(w->lblTimeout->text().endsWith(QStringLiteral(" sec.")));

        QTest::mouseClick(w->cmdPause, Qt::LeftButton);
        QTRY_VERIFY(!shownIn(w->lblTimeout, w));
    }

    void serverDataShowsTheResponseHeaders()
    {
        Harness h;
        h.stallAfter(100);
        frmDownload *w = h.begin();
        QVERIFY(w);
        QTRY_VERIFY(w->job() && w->job()->state() == TransferState::Downloading);
        // One reply: the probe's connection goes on with the data.
        QTRY_VERIFY(w->job()->serverLog().count("206 Partial Content") == 1);
        QCOMPARE(w->serverDataWindow(), nullptr);

        QVERIFY(w->cmdMore->menu());
        QCOMPARE(w->cmdMore->menu()->actions().size(), 1);
        QAction *item = w->cmdMore->menu()->actions().constFirst();
        QCOMPARE(item->text(), QStringLiteral("&Server Data"));
        item->trigger();

        frmServerData *viewer = w->serverDataWindow();
        QVERIFY(viewer);
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Server Interaction Info"));
        QVERIFY(viewer->txtData->isReadOnly());
        const QString text = viewer->text();
        // Every reply in order: the nginx-like server refuses the open range
        // of the probe, then sends the file from its first byte.
        QVERIFY2(text.startsWith(QStringLiteral("HTTP/1.1 416 Range Not Satisfiable\n")), qPrintable(text));
        QVERIFY(text.indexOf(QStringLiteral("HTTP/1.1 206 Partial Content\n")) > 0);
        QVERIFY(text.contains(QStringLiteral("Content-Range: bytes 0-39999/40000")));
        QVERIFY(text.contains(QStringLiteral("Content-Length: 40000")));
        QVERIFY(!text.contains(QLatin1Char('\r')));

        // Copy puts the text on the clipboard; Exit closes the viewer.
        QTest::mouseClick(viewer->cmdCopy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QPointer<frmServerData> gone = viewer;
        QTest::mouseClick(viewer->cmdExit, Qt::LeftButton);
        QTRY_VERIFY(gone.isNull());
        QCOMPARE(w->serverDataWindow(), nullptr);

        // Opened again it shows the log as it is now, and it goes with the window.
        item->trigger();
        gone = w->serverDataWindow();
        QVERIFY(gone);
        QVERIFY(w->close());
        QTRY_VERIFY(gone.isNull());
    }

    void hiddenWindowComesBackWhenDone()
    {
        Harness h;
        h.stallAfter(20000);
        QPointer<frmDownload> w = h.begin();
        QVERIFY(w);
        QTest::mouseClick(w->cmdHide, Qt::LeftButton);
        QVERIFY(w->isMinimized());
        QTRY_COMPARE(w->lblPercent->text(), QStringLiteral("50%"));
        QVERIFY(w->isMinimized());
        QCOMPARE(h.table.at(0), w.data());

        // A second window downloads the whole file (only the first reply
        // stalled) and comes back to the screen.
        frmDownload *second = h.begin(1, ExistingFile::Overwrite, h.rig.dir.filePath(QStringLiteral("second.bin")),
                                      /*minimized=*/true);
        QVERIFY(second);
        QVERIFY(second->isMinimized());
        QTRY_COMPARE(h.manager().state(second->downloadId()), DownloadState::Complete);
        QTRY_VERIFY(!second->isMinimized());
        QVERIFY(second->isVisible());
        QVERIFY(w->isMinimized()); // the unfinished one stays put
    }
};

class TestDownloadWindowTable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void slotsAreBoundedAndSingle()
    {
        Harness h;
        DownloadWindowTable &table = h.table;
        QCOMPARE(table.create(-1, h.services(), 0), nullptr);
        QCOMPARE(table.create(DownloadWindowTable::SlotCount, h.services(), 0), nullptr);
        QCOMPARE(table.at(-1), nullptr);
        QCOMPARE(table.at(DownloadWindowTable::SlotCount), nullptr);

        frmDownload *last = table.create(100, h.services(), 0);
        QVERIFY(last);
        QCOMPARE(last->intAssignedIndex, 100);
        QCOMPARE(table.create(100, h.services(), 0), nullptr);
        QCOMPARE(table.at(100), last);
        QCOMPARE(table.slotOf(last), 100);
        QCOMPARE(table.count(), 1);
        QCOMPARE(table.firstFreeSlot(), 0);
    }

    void lowestFreeSlotAndIterationInSlotOrder()
    {
        Harness h;
        DownloadWindowTable &table = h.table;
        QList<frmDownload *> created;
        for (int slot = 0; slot < DownloadWindowTable::SlotCount; ++slot)
            created.append(table.create(slot, h.services(), 0));
        QVERIFY(!created.contains(nullptr));
        QCOMPARE(table.count(), 101);
        QCOMPARE(table.firstFreeSlot(), -1);
        QCOMPARE(table.windows(), created);

        QPointer<frmDownload> fifth = table.at(5);
        table.release(5);
        QCOMPARE(table.at(5), nullptr);
        QCOMPARE(table.firstFreeSlot(), 5);
        QTRY_VERIFY(fifth.isNull()); // released windows are deleted

        QPointer<frmDownload> second = table.at(2);
        QVERIFY(second->close());
        QTRY_COMPARE(table.firstFreeSlot(), 2);
        QVERIFY(second.isNull());
        QCOMPARE(table.count(), 99);
        created.removeAt(5);
        created.removeAt(2);
        QCOMPARE(table.windows(), created);
    }

    void takeHandsTheWindowOver()
    {
        Harness h;
        QSignalSpy freed(&h.table, &DownloadWindowTable::slotFreed);
        QPointer<frmDownload> w = h.table.create(4, h.services(), 0);
        std::unique_ptr<frmDownload> taken(h.table.take(4));
        QCOMPARE(taken.get(), w.data());
        QCOMPARE(h.table.at(4), nullptr);
        QCOMPARE(h.table.take(4), nullptr);
        QCOMPARE(freed.count(), 1);
        taken.reset();
        QVERIFY(w.isNull());
        QCOMPARE(freed.count(), 1); // a taken window no longer speaks to the table
    }

    void tableDeletesItsWindows()
    {
        Harness h;
        auto table = std::make_unique<DownloadWindowTable>();
        QPointer<frmDownload> a = table->create(0, h.services(), 0);
        QPointer<frmDownload> b = table->create(50, h.services(), 0);
        QVERIFY(a && b);
        table.reset();
        QVERIFY(a.isNull());
        QVERIFY(b.isNull());
    }
};

class TestDesktopShell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startProgramRunsItDetached()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        QtDesktopShell shell;
        QVERIFY(shell.startProgram(QStringLiteral("/bin/sh"),
                                   {QStringLiteral("-c"), QStringLiteral("echo \"$0\" > \"$1\""),
                                    QStringLiteral("hello"), marker}));
        QTRY_VERIFY(QFileInfo(marker).size() > 0);
        QFile file(marker);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("hello\n"));

        QVERIFY(!shell.startProgram(dir.filePath(QStringLiteral("no-such-program"))));
        QVERIFY(!shell.startProgram(QString()));
        QVERIFY(!shell.openFile(QString()));
        QVERIFY(!shell.showFolder(QString()));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int status = 0;
    {
        TestFrmDownload test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        TestDownloadWindowTable test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        TestDesktopShell test;
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "tst_frmdownload.moc"
