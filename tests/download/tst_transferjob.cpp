#include "transferrig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>

namespace {

TransferStatus caption(const char *id, const char *text)
{
    return TransferStatus{QLatin1String(id), QString::fromUtf8(text), {}, {}, {}};
}

[[maybe_unused]] TransferStatus plain(const QString &text)
{
    TransferStatus s;
    s.text = text;
    return s;
}

// The data requests ("NELV") the server received.
[[maybe_unused]] QList<HttpFileServer::Request> dataRequests(const HttpFileServer &http)
{
    QList<HttpFileServer::Request> out;
    for (const HttpFileServer::Request &r : http.requests) {
        if (r.text.contains("User-Agent: NELV"))
            out.append(r);
    }
    return out;
}

// A probe reply that names the size but carries no body, and closes: the
// download must go on over a data connection.
[[maybe_unused]] FakePlan headOnlyProbe(qint64 size)
{
    FakePlan plan;
    plan.send(FakeServer::httpHead("HTTP/1.1 200 OK", {"Content-Length: " + QByteArray::number(size)})).close();
    return plan;
}

} // namespace

class TestTransferJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downloadsAcrossServerStyles_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QByteArrayList>("expectedRanges");
        // The probe's own reply carries the file: no other request is needed.
        QTest::newRow("416 then 206") << int(HttpFileServer::RangeStyle::Strict)
                                      << QByteArrayList{"bytes=-", "bytes=0-"};
        QTest::newRow("200 probe") << int(HttpFileServer::RangeStyle::Lenient) << QByteArrayList{"bytes=-"};
        QTest::newRow("ranges ignored") << int(HttpFileServer::RangeStyle::IgnoreRanges) << QByteArrayList{"bytes=-"};
    }

    void downloadsAcrossServerStyles()
    {
        QFETCH(int, style);
        QFETCH(QByteArrayList, expectedRanges);
        HttpFileServer http(100000);
        http.style = HttpFileServer::RangeStyle(style);
        TransferRig rig;
        TransferJob &job = rig.start(http.url());
        QVERIFY(rig.waitFinished());
        QCOMPARE(rig.outcomes.size(), 1);
        QCOMPARE(job.outcome().kind, TransferOutcome::Kind::Success);
        QCOMPARE(job.state(), TransferState::Complete);
        QCOMPARE(job.status(), caption("11046", "Transfer Completed..."));
        QCOMPARE(job.outcome().status, job.status());
        QCOMPARE(rig.saved(), HttpFileServer::bytes(0, 100000));
        QCOMPARE(http.ranges, expectedRanges);
        QCOMPARE(job.progress().received, qint64(100000));
        QCOMPARE(job.progress().size, qint64(100000));
        QCOMPARE(job.progress().connections, 0);
        QCOMPARE(rig.states.first(), TransferState::Connecting);
        QVERIFY(rig.states.contains(TransferState::Downloading));
        QCOMPARE(rig.states.last(), TransferState::Complete);
        QVERIFY(rig.questionsDone());
    }
};

QTEST_GUILESS_MAIN(TestTransferJob)
#include "tst_transferjob.moc"
