#include "httpfileserver.h"
#include "managerrig.h"
#include "realservers.h"
#include "testcertificates.h"

#include "download/urlmodel.h"
#include "intake/intakerules.h"
#include "platform/tlssocketfactory.h"
#include "platform/truststore.h"

#include <QPointer>
#include <QSignalSpy>

using Column = DownloadListModel::Column;

namespace {

// Answers every question with a fixed answer and keeps what was asked.
class RecordingAnswerer final : public DownloadAnswerer {
public:
    explicit RecordingAnswerer(bool yes) : m_yes(yes) {}
    bool answer(DownloadId, const TransferQuestion &question) override
    {
        asked.append(question.kind);
        return m_yes;
    }
    QList<TransferQuestion::Kind> asked;

private:
    bool m_yes;
};

// A server that sends its file slowly, so a download is caught while it runs.
void makeSlow(HttpFileServer &http, qint64 piece = 1024, int delayMs = 20)
{
    http.pieceSize = piece;
    http.pieceDelayMs = delayMs;
}

// Runs everything already queued (posted events, deferred deletes, zero
// timers), so a check after it sees whatever a finished download still had
// pending, without waiting for a time.
void drainEvents()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace

class TestDownloadManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void completionMovesTheRowAndCountsOnce()
    {
        HttpFileServer http(300000);
        ManagerRig rig;
        rig.record.Downloads = 4;
        rig.record.AllBytes = 1000;
        QSignalSpy finished(rig.manager.get(), &DownloadManager::finished);
        const DownloadId id = rig.start(http.url());
        const auto row = rig.manager->row(id);
        QCOMPARE(rig.downloads.values(row).mid(0, 6),
                 (QStringList{rig.savePath(), "0%", "N/A", "N/A", "N/A", http.url()}));
        QCOMPARE(rig.manager->state(id), DownloadState::Running);

        QVERIFY(rig.waitState(id, DownloadState::Complete));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 300000));
        QCOMPARE(rig.downloads.count(), 0);
        QCOMPARE(rig.completed.count(), 1);
        const auto done = rig.manager->row(id);
        QCOMPARE(rig.completed.values(done).mid(0, 6),
                 (QStringList{rig.savePath(), "100%", FormatSize(300000), FormatSize(300000), "Download Success",
                              http.url()}));
        QCOMPARE(rig.completed.icon(done), 4);
        QCOMPARE(rig.record.Downloads, 5);
        QCOMPARE(rig.record.AllBytes, 301000);
        QCOMPARE(rig.stored("Downloads"), QStringLiteral("5"));
        QCOMPARE(rig.stored("AllBytes"), QStringLiteral("301000"));

        // Nothing is reported or counted again afterwards.
        drainEvents();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(1).value<TransferOutcome>().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.record.Downloads, 5);
    }

    void completionAfterTheRowWasRemovedTouchesNoOtherRow()
    {
        HttpFileServer http(200000);
        makeSlow(http, 20000, 10);
        ManagerRig rig;
        const auto other = rig.downloads.addRow({QStringLiteral("/other"), QStringLiteral("0%"), QStringLiteral("N/A"),
                                                 QStringLiteral("N/A"), QStringLiteral("N/A"), QStringLiteral("http://x/y")});
        const DownloadId id = rig.start(http.url());
        rig.downloads.removeRowById(rig.manager->row(id));
        QVERIFY(rig.waitState(id, DownloadState::Complete));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 200000));
        QCOMPARE(rig.downloads.count(), 1);
        QCOMPARE(rig.downloads.values(other).mid(0, 6),
                 (QStringList{"/other", "0%", "N/A", "N/A", "N/A", "http://x/y"}));
        QCOMPARE(rig.completed.count(), 0);
    }

    void windowlessRunNeedsNoListsAndLeavesTheStatistics()
    {
        HttpFileServer http(120000);
        ManagerRig rig({/*lists=*/false, /*statistics=*/false});
        const DownloadId id = rig.start(http.url());
        QCOMPARE(rig.manager->row(id), DownloadListModel::NoRow);
        QVERIFY(rig.waitState(id, DownloadState::Complete));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 120000));
        QCOMPARE(rig.record.Downloads, 0);
        QVERIFY(rig.stored("Downloads").isEmpty());
        QVERIFY(rig.stored("AllBytes").isEmpty());
    }

    void failureShowsItsMarkAndTheStatus_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("statusPart");
        QTest::newRow("error status") << false << "0 %" << "404";
        QTest::newRow("time-out") << true << "Connection has timed out." << "";
    }

    void failureShowsItsMarkAndTheStatus()
    {
        QFETCH(bool, silent);
        QFETCH(QString, progress);
        QFETCH(QString, statusPart);
        HttpFileServer http(10);
        http.override = [silent](const QByteArray &, FakePlan &plan) {
            if (silent)
                plan.stall(); // accepts, never answers
            else
                plan.send(FakeServer::httpHead("HTTP/1.1 404 Not Found", {"Content-Length: 0"}));
            return true;
        };
        ManagerRig rig;
        rig.record.Timeout = 3;
        rig.record.Retry = false;
        QSignalSpy finished(rig.manager.get(), &DownloadManager::finished);
        const DownloadId id = rig.start(http.url());
        QVERIFY(rig.waitState(id, DownloadState::Failed));
        const auto row = rig.manager->row(id);
        QCOMPARE(rig.downloads.value(row, Column::Progress), progress);
        QVERIFY2(rig.downloads.value(row, Column::Status).contains(statusPart),
                 qPrintable(rig.downloads.value(row, Column::Status)));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(1).value<TransferOutcome>().kind, TransferOutcome::Kind::Failure);
        QCOMPARE(rig.completed.count(), 0);
        QCOMPARE(rig.record.Downloads, 0);
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("127.0.0.1")), 0);
    }

    void queuedAndRefusedRowsHoldNoPlace_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<DownloadState>("state");
        QTest::newRow("queued") << false << "0%" << DownloadState::Queued;
        QTest::newRow("refused") << true << "0 %" << DownloadState::Refused;
    }

    void queuedAndRefusedRowsHoldNoPlace()
    {
        QFETCH(bool, refused);
        QFETCH(QString, progress);
        QFETCH(DownloadState, state);
        ManagerRig rig;
        const DownloadId id = rig.manager->queue(QStringLiteral("http://127.0.0.1/a.zip"), QStringLiteral("/tmp/a.zip"),
                                                 QStringLiteral("Not Downloaded"), refused);
        QCOMPARE(rig.downloads.values(rig.manager->row(id)).mid(0, 6),
                 (QStringList{"/tmp/a.zip", progress, "N/A", "N/A", "Not Downloaded", "http://127.0.0.1/a.zip"}));
        QCOMPARE(rig.manager->state(id), state);
        QCOMPARE(rig.manager->job(id), nullptr);
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("127.0.0.1")), 0);
    }

    // A download that shows "0%" because less than 1% has arrived is running
    // all the same, and the limit counts it.
    void limitCountsADownloadBelowOnePercent()
    {
        HttpFileServer http(20 * 1048576);
        makeSlow(http, 2048, 50);
        ManagerRig rig;
        const DownloadId id = rig.start(http.url());
        QVERIFY(rig.waitReceived(id, 0));
        const auto row = rig.manager->row(id);
        QCOMPARE(rig.downloads.value(row, Column::Progress), QStringLiteral("0%"));
        QCOMPARE(rig.downloads.value(row, Column::Size), FormatSize(20 * 1048576));
        QCOMPARE(rig.manager->state(id), DownloadState::Running);
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("127.0.0.1")), 1);
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("other.example")), 0);

        OkStepInput in;
        in.text = http.url(QStringLiteral("/second.zip"));
        in.saveAsked = true;
        in.newDownload = NewDownloadOption::Ask;
        in.limits = {1, 1};
        in.runningFrom = [&](const QString &server) {
            return rig.manager->runningWhere(
                [&](const QString &url) { return GetServerName(url).compare(server, Qt::CaseInsensitive) == 0; });
        };
        const OkStepOutcome out = RunOkStep(in, rig.downloads, defaultCaptions());
        QCOMPARE(out.reason, OkStepOutcome::Reason::Limit);
        QCOMPARE(out.action, OkStepOutcome::Action::Queue);
        // The progress texts alone would have let it through.
        QVERIFY(IsLimitOk(in.text, rig.downloads, in.limits));

        rig.manager->cancel(id);
        QVERIFY(rig.waitState(id, DownloadState::Stopped));
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("127.0.0.1")), 0);
    }

    void pauseAllResumeAllStopAll()
    {
        HttpFileServer http(4 * 1048576);
        makeSlow(http, 4096, 10);
        ManagerRig rig;
        const DownloadId a = rig.start(http.url(QStringLiteral("/a.bin")), ExistingFile::Overwrite,
                                       QStringLiteral("a.bin"));
        const DownloadId b = rig.start(http.url(QStringLiteral("/b.bin")), ExistingFile::Overwrite,
                                       QStringLiteral("b.bin"));
        QVERIFY(rig.waitReceived(a, 0));
        QVERIFY(rig.waitReceived(b, 0));

        rig.manager->pauseAll();
        for (const DownloadId id : {a, b}) {
            QVERIFY(rig.waitState(id, DownloadState::Paused));
            QCOMPARE(rig.downloads.value(rig.manager->row(id), Column::Status), QStringLiteral("Paused/Stopped"));
        }
        QCOMPARE(rig.manager->runningCount(), 0);
        QCOMPARE(rig.manager->totalRate(), 0.0);

        rig.manager->resumeAll();
        for (const DownloadId id : {a, b})
            QVERIFY(rig.waitState(id, DownloadState::Running));
        QCOMPARE(rig.manager->runningCount(), 2);

        rig.manager->stopAll();
        for (const DownloadId id : {a, b}) {
            QVERIFY(rig.waitState(id, DownloadState::Stopped));
            QCOMPARE(rig.downloads.value(rig.manager->row(id), Column::Status), QStringLiteral("Paused/Stopped"));
        }
        QCOMPARE(rig.manager->runningFrom(QStringLiteral("127.0.0.1")), 0);
        QCOMPARE(rig.completed.count(), 0);
    }

    // A stopped download (stopped or its window closed) resumes in its own
    // row as a new job, and the file comes out whole.
    void stoppedRowRedownloadResumesTheFile_data()
    {
        QTest::addColumn<bool>("byCancel");
        QTest::newRow("stopped") << false;
        QTest::newRow("window closed") << true;
    }

    void stoppedRowRedownloadResumesTheFile()
    {
        QFETCH(bool, byCancel);
        const qint64 size = 3 * 1048576;
        HttpFileServer http(size);
        makeSlow(http, 8192, 5);
        ManagerRig rig;
        const DownloadId id = rig.start(http.url());
        const auto row = rig.manager->row(id);
        QVERIFY(rig.waitReceived(id, 100000));
        if (byCancel)
            rig.manager->cancel(id);
        else
            rig.manager->stop(id);
        QVERIFY(rig.waitState(id, DownloadState::Stopped));
        const TransferJob *first = rig.manager->job(id);
        const qint64 kept = first->progress().received;
        QVERIFY(kept > 0 && kept < size);
        QVERIFY(!rig.manager->redownload(id + 100)); // no such download

        QSignalSpy started(rig.manager.get(), &DownloadManager::started);
        http.pieceSize = 0; // the rest at once
        QVERIFY(rig.manager->redownload(id));
        QCOMPARE(started.count(), 1);
        QVERIFY(rig.manager->job(id) != first);
        QCOMPARE(rig.manager->row(id), row); // same row, no new one
        QCOMPARE(rig.downloads.count(), 1);
        QVERIFY(rig.waitState(id, DownloadState::Complete));
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, size));
        // It went on from what was kept, not from the start.
        const QByteArray lastRange = http.ranges.last();
        QVERIFY2(lastRange.startsWith("bytes=") && !lastRange.startsWith("bytes=0-"), lastRange.constData());
        QCOMPARE(rig.completed.count(), 1);
        QCOMPARE(rig.record.Downloads, 1);
    }

    void existingFileCancelStartsNothing()
    {
        ManagerRig rig;
        QSignalSpy started(rig.manager.get(), &DownloadManager::started);
        const DownloadId id = rig.manager->start({QStringLiteral("http://127.0.0.1:9/x.bin"), rig.savePath(),
                                                  ExistingFile::Cancel});
        QCOMPARE(started.count(), 0);
        QCOMPARE(rig.manager->job(id), nullptr);
        QCOMPARE(rig.manager->state(id), DownloadState::Queued);
        QCOMPARE(rig.downloads.value(rig.manager->row(id), Column::Progress), QStringLiteral("0%"));

        // A stopped download whose restart is cancelled stays stopped.
        HttpFileServer http(2 * 1048576);
        makeSlow(http);
        const DownloadId other = rig.start(http.url(), ExistingFile::Overwrite, QStringLiteral("other.bin"));
        QVERIFY(rig.waitReceived(other, 0));
        rig.manager->stop(other);
        QVERIFY(rig.waitState(other, DownloadState::Stopped));
        QVERIFY(rig.manager->redownload(other, ExistingFile::Cancel));
        QCOMPARE(rig.manager->state(other), DownloadState::Stopped);
        QCOMPARE(rig.manager->job(other), nullptr);
        QCOMPARE(started.count(), 1);
    }

    // A slot that deletes the manager on finished: nothing may run after it.
    void finishedOnceWithADeletingSlot_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("complete") << 0;
        QTest::newRow("failed") << 1;
        QTest::newRow("cancelled") << 2;
    }

    void finishedOnceWithADeletingSlot()
    {
        QFETCH(int, how);
        HttpFileServer http(how == 2 ? 8 * 1048576 : 50000);
        if (how == 1) {
            http.override = [](const QByteArray &, FakePlan &plan) {
                plan.send(FakeServer::httpHead("HTTP/1.1 403 Forbidden", {"Content-Length: 0"}));
                return true;
            };
        }
        if (how == 2)
            makeSlow(http);
        ManagerRig rig;
        int calls = 0;
        TransferOutcome::Kind kind{};
        DownloadManager *manager = rig.manager.release();
        connect(manager, &DownloadManager::finished, manager,
                [&](DownloadId, const TransferOutcome &outcome) {
                    ++calls;
                    kind = outcome.kind;
                    delete manager;
                });
        const DownloadId id = manager->start({http.url(), rig.savePath(), ExistingFile::Overwrite});
        if (how == 2) {
            QDeadlineTimer deadline(20000);
            while (calls == 0 && (!manager->job(id) || manager->job(id)->progress().received == 0)
                   && !deadline.hasExpired())
                QTest::qWait(5);
            QCOMPARE(calls, 0);
            manager->cancel(id);
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 20000);
        drainEvents(); // anything still queued for the deleted objects runs now
        QCOMPARE(calls, 1);
        const TransferOutcome::Kind expected[] = {TransferOutcome::Kind::Success, TransferOutcome::Kind::Failure,
                                                  TransferOutcome::Kind::Cancelled};
        QCOMPARE(kind, expected[how]);
    }

    // The segment question is answered from its kind, never its text: a
    // translated question is still answered Yes.
    void segmentQuestionIsAnsweredByKindInAnyLanguage()
    {
        HttpFileServer http(6 * 1048576);
        ManagerRig rig;
        rig.record.Segment = 1;
        rig.captions = [](const QString &id, const QString &english) {
            return id.isEmpty() ? english : QStringLiteral("Segmentiert laden? (%1)").arg(id);
        };
        auto answers = std::make_unique<RecordingAnswerer>(true);
        RecordingAnswerer *recorder = answers.get();
        rig.answerer = std::move(answers);
        rig.build();
        const DownloadId id = rig.start(http.url());
        QVERIFY(rig.waitState(id, DownloadState::Complete));
        QCOMPARE(recorder->asked, QList<TransferQuestion::Kind>{TransferQuestion::Kind::UseSegments});
        QCOMPARE(rig.manager->job(id)->progress().connections, 3);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 6 * 1048576));
    }

    void answerersGiveTheirAnswers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("partial");
        QTest::addColumn<QString>("text");
        QTest::newRow("segments after 200")
            << int(TransferQuestion::Kind::UseSegments) << false
            << "If you use segemnted downloading,you will not be able to resume after stopping (you still be able "
               "to resume after pausing, and more segments will cause the program solwer),Use Segemnted?!";
        QTest::newRow("segments after 206")
            << int(TransferQuestion::Kind::UseSegments) << true << "[13022]";
        QTest::newRow("stop") << int(TransferQuestion::Kind::StopSegmented) << false << "[13021]";
    }

    void answerersGiveTheirAnswers()
    {
        QFETCH(int, kind);
        QFETCH(bool, partial);
        QFETCH(QString, text);
        TransferQuestion q;
        q.kind = TransferQuestion::Kind(kind);
        q.afterPartialReply = partial;
        const CaptionLookup tagged = [](const QString &id, const QString &) {
            return QLatin1Char('[') + id + QLatin1Char(']');
        };
        QCOMPARE(PromptAnswerer::questionText(q, tagged), text);

        ScriptedPrompts prompts;
        prompts.expectMessage(text, PromptAnswer::Yes).expectMessage(text, PromptAnswer::No);
        PromptAnswerer person(prompts, tagged, QStringLiteral("Tessel"));
        QVERIFY(person.answer(1, q));
        QVERIFY(!person.answer(1, q));
        QCOMPARE(prompts.last().title, QStringLiteral("Tessel"));
        QCOMPARE(prompts.last().buttons, PromptButtons::YesNo);
        VERIFY_PROMPTS_DONE(prompts);

        const bool segments = q.kind == TransferQuestion::Kind::UseSegments;
        QCOMPARE(FixedAnswerer(true, false).answer(1, q), segments);
        QCOMPARE(FixedAnswerer(false, true).answer(1, q), !segments);
    }

    // A certificate that does not verify is asked about once per host and
    // fingerprint: Yes downloads and is remembered, the same certificate is
    // not asked about again, a changed one is, and No fails without a file.
    void certificatePromptTrustsOnceAndAsksAgainWhenItChanges()
    {
        if (!TestCertificates::isInstalled())
            QSKIP("openssl is not installed");
        TestCertificates certificates;
        QVERIFY2(certificates.generate(), qPrintable(certificates.errorString()));
        QTemporaryDir www;
        QFile served(www.filePath(QStringLiteral("t.bin")));
        QVERIFY(served.open(QIODevice::WriteOnly));
        const QByteArray content = HttpFileServer::bytes(0, 40000);
        served.write(content);
        served.close();

        ManagerRig rig;
        const QString key = QStringLiteral("\\Software\\Tests\\TrustedCertificates");
        rig.trust = std::make_shared<TrustStore>(rig.registry.root(RegistryRoot::LocalMachine), key);
        rig.sockets = std::make_shared<const TlsSocketFactory>(rig.trust);
        rig.build();

        QByteArray firstPrint;
        {
            NginxServer nginx(www.path());
            nginx.setTls(certificates.selfSigned().certificate, certificates.selfSigned().key);
            SUITE_START_SERVER(nginx);
            rig.prompts.expectMessage(QStringLiteral("The certificate of 127.0.0.1 could not be verified"),
                                      PromptAnswer::Yes);
            const DownloadId first = rig.start(nginx.url(QStringLiteral("/t.bin")), ExistingFile::Overwrite,
                                               QStringLiteral("a.bin"));
            QVERIFY(rig.waitState(first, DownloadState::Complete));
            QCOMPARE(rig.saved(QStringLiteral("a.bin")), content);
            VERIFY_PROMPTS_DONE(rig.prompts);
            const QString shown = QString(rig.prompts.last().text).replace(QLatin1Char('\n'), QLatin1Char(':'));
            QVERIFY2(shown.contains(QLatin1String("Subject: selfsigned")), qPrintable(shown));
            QVERIFY2(shown.contains(QLatin1String("Issuer: selfsigned")), qPrintable(shown));
            QVERIFY2(shown.contains(QLatin1String("Valid from: ")), qPrintable(shown));
            QVERIFY2(shown.contains(QLatin1String("self-signed")), qPrintable(shown));
            QCOMPARE(rig.prompts.last().buttons, PromptButtons::YesNo);
            const QStringList prints = rig.registry.root(RegistryRoot::LocalMachine)
                                           .valueNames(key + QStringLiteral("\\127.0.0.1"));
            QCOMPARE(prints.size(), 1);
            firstPrint = QByteArray::fromHex(prints.first().toLatin1());
            QVERIFY2(shown.contains(QString::fromLatin1(firstPrint.toHex(':').toUpper())), qPrintable(shown));

            // The same certificate again: no question.
            const DownloadId second = rig.start(nginx.url(QStringLiteral("/t.bin")), ExistingFile::Overwrite,
                                                QStringLiteral("b.bin"));
            QVERIFY(rig.waitState(second, DownloadState::Complete));
            QCOMPARE(rig.saved(QStringLiteral("b.bin")), content);
            VERIFY_PROMPTS_DONE(rig.prompts);
        }

        // The server now shows another certificate (its issuer unknown here).
        NginxServer changed(www.path());
        changed.setTls(certificates.other().certificate, certificates.other().key);
        SUITE_START_SERVER(changed);
        rig.prompts.expectMessage(QStringLiteral("The certificate of 127.0.0.1 could not be verified"),
                                  PromptAnswer::No);
        QList<TransferOutcome> outcomes;
        connect(rig.manager.get(), &DownloadManager::finished, this,
                [&outcomes](DownloadId, const TransferOutcome &o) { outcomes.append(o); });
        const DownloadId third = rig.start(changed.url(QStringLiteral("/t.bin")), ExistingFile::Overwrite,
                                           QStringLiteral("c.bin"));
        QVERIFY(rig.waitState(third, DownloadState::Failed));
        VERIFY_PROMPTS_DONE(rig.prompts);
        QVERIFY(!QString(rig.prompts.last().text)
                     .replace(QLatin1Char('\n'), QLatin1Char(':'))
                     .contains(QString::fromLatin1(firstPrint.toHex(':').toUpper())));
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(outcomes.first().failure, FailureKind::Certificate);
        QVERIFY(!QFile::exists(rig.savePath(QStringLiteral("c.bin"))));
        QVERIFY(changed.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDownloadManager)
#include "tst_downloadmanager.moc"
