// Unusual and hostile HTTP servers, each a scripted fake server driving a
// transfer job through its public interface: every body HTTP/1.1 allows is
// written as its payload, and nothing a server does makes the job loop,
// wait forever or splice files.

#include "ftpfileserver.h"
#include "transferrig.h"

#include "download/httpprotocol.h"
#include "download/segmentplan.h"

#include <QFile>
#include <QTcpServer>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

constexpr qint64 Size = 70000;

// Everything one case may use: the main server, a second host, an FTP
// server, and the job's rig.
struct Env {
    HttpFileServer http{Size};
    HttpFileServer other{Size};
    FtpFileServer ftp{Size};
    TransferRig rig;
    QString url;
    ExistingFile existing = ExistingFile::Overwrite;
    QList<TransferStatus> statuses;
};

bool isProbe(const QByteArray &request)
{
    return request.contains("User-Agent: DM\r\n");
}

// The file's bytes as a chunked body: chunks of `chunkSize` with an
// extension each, then a last chunk with an extension and two trailer fields.
QByteArray chunked(const QByteArray &payload, qsizetype chunkSize)
{
    QByteArray out;
    for (qsizetype at = 0; at < payload.size(); at += chunkSize) {
        const QByteArray part = payload.mid(at, chunkSize);
        out += QByteArray::number(part.size(), 16).toUpper() + ";ext=\"a;b\"\r\n" + part + "\r\n";
    }
    return out + "0;last\r\nX-Checksum: abc\r\nExpires: 0\r\n\r\n";
}

QByteArray head(const QByteArray &status, const QByteArrayList &fields)
{
    return FakeServer::httpHead(status, fields);
}

// A partial download left beside the save file: its bytes and the
// validators sidecar.
void leavePartial(Env &e, const QByteArray &bytes, const std::optional<FileValidators> &validators)
{
    QFile f(e.rig.savePath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    if (validators)
        QVERIFY(validators->save(e.rig.savePath()));
    e.existing = ExistingFile::Resume;
}

bool statusSeen(const Env &e, const QString &part)
{
    return std::any_of(e.statuses.begin(), e.statuses.end(),
                       [&part](const TransferStatus &s) { return transferStatusText(s, {}).contains(part); });
}

struct Case {
    const char *name;
    std::function<void(Env &)> arrange;
    TransferOutcome::Kind kind = TransferOutcome::Kind::Success;
    FailureKind failure = FailureKind::None;
    QString statusHas;                  // failures: part of the status text
    int maxRequests = 0;                // requests the main server may get at most (0: no bound checked)
    std::optional<QByteArray> file;     // the save file afterwards (nothing: the served file
                                        // after a success, not checked after a failure)
    std::function<void(Env &)> check;   // further checks
};

// The retry budget of every case: small, so a loop shows as a count.
constexpr int Retries = 3;

QList<Case> cases()
{
    const QByteArray file = HttpFileServer::bytes(0, Size);
    QList<Case> list;

    // ---- every HTTP/1.1 body
    list.append({"chunked, extensions and trailers, length ignored",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         // The connection stays open: the last chunk ends the file.
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Type: application/octet-stream",
                                                            "Transfer-Encoding: chunked", "Content-Length: 3"}))
                             .sendInPieces(chunked(file, 4096), 7000, 2)
                             .stall();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 1, std::nullopt, [](Env &e) {
                     // The size was unknown while the body ran, and known at the end.
                     const bool unknownWhileRunning = std::any_of(
                         e.rig.progressSeen.begin(), e.rig.progressSeen.end(),
                         [](const TransferProgress &p) { return p.size == -1 && p.received > 0; });
                     QVERIFY(unknownWhileRunning);
                     QCOMPARE(e.rig.job->progress().size, Size);
                 }});
    list.append({"chunked 206 after a refused probe",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &request, FakePlan &plan) {
                         if (FakeServer::headerValue(request, "Range") == "bytes=-") {
                             plan.send(head("HTTP/1.1 416 Range Not Satisfiable",
                                            {"Content-Range: bytes */" + QByteArray::number(Size)}));
                             return true;
                         }
                         plan.send(head("HTTP/1.1 206 Partial Content",
                                        {"Transfer-Encoding: chunked",
                                         "Content-Range: bytes 0-" + QByteArray::number(Size - 1) + "/"
                                             + QByteArray::number(Size)})
                                   + chunked(file, 1000));
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 2, std::nullopt, {}});
    list.append({"HTTP/1.0 without a length is read to the close, HTML or not",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.0 200 OK", {"Content-Type: text/html"}))
                             .sendInPieces(file, 9000, 2)
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 1, std::nullopt, {}});
    list.append({"HTTP/1.1 200 without a length, not HTML",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Type: application/zip", "Connection: close"}) + file)
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 1, std::nullopt, {}});
    list.append({"probe answered 400 is asked again for bytes=0-",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &request, FakePlan &plan) {
                         if (FakeServer::headerValue(request, "Range") != "bytes=-")
                             return false;
                         plan.send(head("HTTP/1.1 400 Bad Request", {"Content-Length: 0"}));
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 2, std::nullopt,
                 [](Env &e) { QCOMPARE(e.http.ranges, (QList<QByteArray>{"bytes=-", "bytes=0-"})); }});
    list.append({"credentials go to their own server only",
                 [](Env &e) {
                     const QString elsewhere = e.other.url();
                     e.http.override = [elsewhere](const QByteArray &request, FakePlan &plan) {
                         // First a redirect on the same server, then one to another.
                         const QByteArray to = request.startsWith("GET /file.bin ") ? "/second.bin"
                                                                                     : elsewhere.toUtf8();
                         plan.send(head("HTTP/1.1 302 Found", {"Location: " + to, "Content-Length: 0"}));
                         return true;
                     };
                     e.url = e.http.url().replace(QStringLiteral("http://"), QStringLiteral("http://al%40ice:pw@"));
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 2, std::nullopt, [](Env &e) {
                     const QByteArray auth = "Authorization: Basic " + QByteArray("al@ice:pw").toBase64() + "\r\n";
                     QCOMPARE(e.http.requests.size(), 2);
                     for (const HttpFileServer::Request &r : e.http.requests)
                         QVERIFY(r.text.contains(auth));
                     QVERIFY(!e.other.requests.isEmpty());
                     for (const HttpFileServer::Request &r : e.other.requests)
                         QVERIFY(!r.text.contains("Authorization"));
                 }});
    list.append({"credentials stay through redirects that restart the download",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &request, FakePlan &plan) {
                         // /r0 to /r6 redirect to the next; then the file.
                         const qsizetype at = request.indexOf("GET /r");
                         if (at != 0)
                             return false;
                         const int n = request.mid(6, 1).toInt();
                         if (n >= 6)
                             return false;
                         plan.send(head("HTTP/1.1 302 Found", {"Location: /r" + QByteArray::number(n + 1),
                                                               "Content-Length: 0"}));
                         return true;
                     };
                     e.url = e.http.url(QStringLiteral("/r0")).replace(QStringLiteral("http://"),
                                                                       QStringLiteral("http://u:p@"));
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 0, std::nullopt, [](Env &e) {
                     QVERIFY(e.http.requests.size() >= 8);
                     for (const HttpFileServer::Request &r : e.http.requests)
                         QVERIFY2(r.text.contains("Authorization: Basic dTpw\r\n"), r.text.constData());
                 }});
    list.append({"redirect to ftp:// continues over FTP",
                 [](Env &e) {
                     const QByteArray to = e.ftp.url().toUtf8();
                     e.rig.settings.passive = false;
                     e.http.override = [to](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 301 Moved", {"Location: " + to, "Content-Length: 0"}));
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 1, std::nullopt, [](Env &e) {
                     QVERIFY(e.ftp.commands.contains("USER anonymous"));
                     QVERIFY(e.rig.job->currentUrl().startsWith(QStringLiteral("ftp://")));
                 }});
    list.append({"redirect to file: is refused",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 302 Found", {"Location: file:///etc/passwd"}));
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::Protocol,
                 QStringLiteral("cannot be downloaded: file:///etc/passwd"), 1, std::nullopt, {}});
    list.append({"page link to javascript: is refused",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Type: text/html"})
                                   + "<a src=\"javascript:go('/file.bin\">x</a>")
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::Protocol,
                 QStringLiteral("The page links to an address that cannot be downloaded: javascript:"), 1,
                 std::nullopt, {}});

    // ---- every reconnect path has a budget
    list.append({"page that links to itself ends at the redirect cap",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Type: text/html"}) + "<img src='/file.bin'>")
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::TooManyRedirects, QStringLiteral("Too many redirects."),
                 MaxRedirects + 1, std::nullopt, {}});
    list.append({"drops mid-body and ignores Range",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(Size)})
                                   + file.left(1000))
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::ServerKeepsClosing, QStringLiteral("keeps closing"),
                 Retries + 3, std::nullopt, {}});
    list.append({"replies whose body never comes",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &request, FakePlan &plan) {
                         if (isProbe(request))
                             return false;
                         // The header promises the range; the connection closes at once.
                         const QByteArray range = FakeServer::headerValue(request, "Range").value_or("").mid(6);
                         const qint64 first = range.left(range.indexOf('-')).toLongLong();
                         plan.send(head("HTTP/1.1 206 Partial Content",
                                        {"Content-Range: bytes " + QByteArray::number(first) + "-"
                                             + QByteArray::number(Size - 1) + "/" + QByteArray::number(Size),
                                         "Content-Length: " + QByteArray::number(Size - first)}))
                             .close();
                         return true;
                     };
                     e.http.probeBodyLimit = 500;
                 },
                 TransferOutcome::Kind::Failure, FailureKind::ServerKeepsClosing, QStringLiteral("keeps closing"),
                 Retries + 3, std::nullopt, {}});
    list.append({"chunked body cut short starts over within the budget",
                 [file](Env &e) {
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + chunked(file, 4096).left(9000))
                             .close();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::ServerKeepsClosing, QStringLiteral("keeps closing"),
                 Retries + 3, std::nullopt, {}});

    // ---- every wait has a deadline
    list.append({"header a byte at a time",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &, FakePlan &plan) {
                         plan.sendInPieces("HTTP/1.1 200 OK\r\nX-Slow: " + QByteArray(100000, 'a'), 1, 2);
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::Timeout, QStringLiteral("timed out"), Retries + 2,
                 std::nullopt, {}});
    list.append({"stall after the header with a data deadline",
                 [file](Env &e) {
                     e.rig.settings.dataDeadline = 3;
                     // Every reply, the probe's and the data replies, stalls after its header.
                     e.http.override = [file](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(Size)})
                                   + file.left(100))
                             .stall();
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::Timeout,
                 QStringLiteral("No data received for 3 seconds."), Retries + 3, std::nullopt, {}});
    list.append({"unlengthed body that stalls starts over from byte 0",
                 [file](Env &e) {
                     e.rig.settings.dataDeadline = 3;
                     auto replies = std::make_shared<int>(0);
                     e.http.override = [file, replies](const QByteArray &request, FakePlan &plan) {
                         const QByteArray body = chunked(file, 4096);
                         // The first reply stalls halfway; the next, asked from
                         // byte 0 again, brings the whole body.
                         if (++*replies == 1) {
                             plan.send(head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + body.left(30000)).stall();
                             return true;
                         }
                         if (FakeServer::headerValue(request, "Range") != "bytes=0-")
                             return false;
                         plan.send(head("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}) + body);
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 2, std::nullopt, {}});
    list.append({"stall mid-body with a data deadline goes on",
                 [](Env &e) {
                     e.rig.settings.dataDeadline = 3;
                     e.http.stallFirstBodyAfter = 30000;
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt, {}});

    // ---- a resume never splices two files
    const QByteArray other(Size / 2, 'X'); // bytes of another file
    list.append({"same ETag resumes with If-Range",
                 [file](Env &e) {
                     e.http.extraHeaders = {"ETag: \"v1\""};
                     leavePartial(e, file.left(30000), FileValidators{Size, "\"v1\"", {}, false});
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt, [](Env &e) {
                     const HttpFileServer::Request data = e.http.requests.last();
                     QVERIFY(data.text.contains("\r\nIf-Range: \"v1\"\r\n"));
                     QCOMPARE(data.range, QByteArray("bytes=25903-69999"));
                     QVERIFY(!QFile::exists(FileValidators::sidecarPath(e.rig.savePath())));
                 }});
    list.append({"changed ETag starts over from byte 0",
                 [other](Env &e) {
                     e.http.extraHeaders = {"ETag: \"v2\"", "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT"};
                     leavePartial(e, other, FileValidators{Size, "\"v1\"", {}, false});
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt,
                 [](Env &e) { QVERIFY(statusSeen(e, QStringLiteral("has changed"))); }});
    list.append({"changed date without ETag starts over",
                 [other](Env &e) {
                     e.http.extraHeaders = {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT"};
                     leavePartial(e, other, FileValidators{Size, {}, "Sun, 06 Dec 2026 10:00:00 GMT", false});
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt,
                 [](Env &e) { QVERIFY(statusSeen(e, QStringLiteral("has changed"))); }});
    list.append({"server file smaller than the partial one is not truncated into place",
                 [](Env &e) { leavePartial(e, QByteArray(Size + 5000, 'X'), std::nullopt); },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt,
                 [](Env &e) { QVERIFY(statusSeen(e, QStringLiteral("has changed"))); }});
    list.append({"segmented partial file without its plan starts over",
                 [other](Env &e) { leavePartial(e, other, FileValidators{Size, {}, {}, true}); },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 3, std::nullopt,
                 [](Env &e) { QVERIFY(statusSeen(e, QStringLiteral("segments of the partial file"))); }});

    // ---- a full disk says so, pauses, and goes on once there is room
    list.append({"full disk pauses and goes on once there is room",
                 [](Env &e) {
                     e.http.pieceSize = 4000;
                     e.http.pieceDelayMs = 1;
                     auto calls = std::make_shared<int>(0);
                     e.rig.writer = [calls](QFile &f, qint64 offset, QByteArrayView bytes) {
                         ++*calls;
                         return *calls >= 3 && *calls <= 5 ? ENOSPC : writeFileAt(f, offset, bytes);
                     };
                 },
                 TransferOutcome::Kind::Success, FailureKind::None, {}, 0, std::nullopt, [](Env &e) {
                     QVERIFY(statusSeen(e, QStringLiteral("No space left on device")));
                     QVERIFY(e.rig.states.contains(TransferState::Paused));
                 }});
    list.append({"another write error fails with its reason",
                 [](Env &e) {
                     e.rig.writer = [](QFile &, qint64, QByteArrayView) { return EACCES; };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::FileError, QStringLiteral("Permission denied"), 0,
                 std::nullopt, {}});

    // ---- an overwritten file is kept until the server accepts
    list.append({"overwrite keeps the old file on an error status",
                 [](Env &e) {
                     e.http.override = [](const QByteArray &, FakePlan &plan) {
                         plan.send(head("HTTP/1.1 500 Internal Server Error", {"Content-Length: 0"}));
                         return true;
                     };
                 },
                 TransferOutcome::Kind::Failure, FailureKind::HttpStatus, QStringLiteral("HTTP Error 500"), 1,
                 QByteArray("the old file"), {}});
    list.append({"overwrite keeps the old file when the connection is refused",
                 [](Env &e) {
                     QTcpServer closed;
                     QVERIFY(closed.listen(QHostAddress::LocalHost));
                     e.url = QStringLiteral("http://127.0.0.1:%1/file.bin").arg(closed.serverPort());
                     closed.close();
                 },
                 TransferOutcome::Kind::Failure, FailureKind::Timeout, QStringLiteral("timed out"), 0,
                 QByteArray("the old file"), {}});
    return list;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void servers_data()
    {
        QTest::addColumn<int>("index");
        const QList<Case> list = cases();
        for (int i = 0; i < list.size(); ++i)
            QTest::newRow(list.at(i).name) << i;
    }

    void servers()
    {
        QFETCH(int, index);
        const Case c = cases().at(index);
        Env e;
        e.rig.settings.retry = true;
        e.rig.settings.retries = Retries;
        e.rig.settings.timeout = 3; // countdown ticks of the rig's 50 ms
        e.url = e.http.url();
        {
            QFile old(e.rig.savePath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the old file");
        }
        c.arrange(e);

        TransferJob &job = e.rig.make();
        connect(&job, &TransferJob::statusChanged, &job, [&e](const TransferStatus &s) { e.statuses.append(s); });
        job.start(TransferRequest{e.url, e.rig.savePath(), e.existing});
        QVERIFY(e.rig.waitFinished(30000));
        QCOMPARE(e.rig.outcomes.size(), 1);
        if (job.outcome().kind != c.kind)
            qWarning() << "status:" << transferStatusText(job.status(), {});
        QCOMPARE(job.outcome().kind, c.kind);
        QCOMPARE(job.outcome().failure, c.failure);
        if (!c.statusHas.isEmpty())
            QVERIFY2(transferStatusText(job.status(), {}).contains(c.statusHas),
                     qPrintable(transferStatusText(job.status(), {})));
        if (c.maxRequests > 0)
            QVERIFY2(e.http.requests.size() <= c.maxRequests, qPrintable(QString::number(e.http.requests.size())));
        if (c.file)
            QCOMPARE(e.rig.saved(), *c.file);
        else if (c.kind == TransferOutcome::Kind::Success)
            QCOMPARE(e.rig.saved(), HttpFileServer::bytes(0, Size));
        if (c.check)
            c.check(e);
    }

    // A pause before the server answered leaves nothing written: the resume
    // still overwrites the old file instead of continuing it.
    void pauseBeforeTheAnswerStillOverwrites()
    {
        HttpFileServer http(Size);
        bool first = true;
        http.override = [&first](const QByteArray &, FakePlan &plan) {
            if (!std::exchange(first, false))
                return false;
            plan.stall(); // the first probe is never answered
            return true;
        };
        TransferRig rig;
        {
            QFile old(rig.savePath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(Size / 2, 'X'));
        }
        TransferJob &job = rig.start(http.url(), ExistingFile::Overwrite);
        QTRY_COMPARE_WITH_TIMEOUT(http.requests.size(), 1, 5000);
        job.pause();
        QCOMPARE(rig.saved(), QByteArray(Size / 2, 'X')); // kept while nothing was accepted
        job.resume();
        QVERIFY(rig.waitFinished());
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, Size));
    }

    // The real writer tells a full disk from other failures.
    void realWriterReportsAFullDisk()
    {
        QFile full(QStringLiteral("/dev/full"));
        if (!full.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            QSKIP("/dev/full cannot be opened here");
        QCOMPARE(writeFileAt(full, 0, QByteArray(4096, 'x')), ENOSPC);
        QCOMPARE(QString::fromLocal8Bit(std::strerror(ENOSPC)), QStringLiteral("No space left on device"));
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
