#pragma once

#include "download/httpmessage.h"
#include "download/httprequest.h"
#include "download/segmentplan.h"
#include "download/transferprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <memory>

class SocketChannel;
struct TlsFailure;

// An HTTP download: the probe exchange (redirects, page mode, the size), then
// one data exchange per connection of the segment plan. The probe's body is
// the start of the file: its connection goes on as the first connection when
// its reply covers the first range from byte 0. A connection whose range is
// done takes the upper half of the largest range left, so every connection
// stays busy until the end.
class HttpTransfer final : public TransferProtocol {
    Q_OBJECT

public:
    HttpTransfer(TransferHost &host, UrlFields url);
    ~HttpTransfer() override;

    void start() override;
    void suspend(bool keepPlan) override;
    void resume() override;
    void shutdown() override;

    qint64 received() const override;
    QList<SegmentProgress> segments() const override;
    bool planned() const override { return m_planned; }
    int connections() const override;
    void checkpoint() override;

private:
    enum class Stage { Probe, Asking, Data, Suspended, Ended };
    // One connection's exchange: connect, send the request, read the
    // reply's header, write its body.
    struct Connection {
        enum class Phase { Idle, Connecting, Waiting, Body, BackingOff };
        SocketChannel *channel = nullptr;
        Phase phase = Phase::Idle;
        int range = -1;      // the plan's range it fills; -1 when idle
        int shownRange = -1; // the range its progress shows
        HttpResponseParser parser;
        HttpByteRange requested;
        qint64 written = 0;   // body bytes of this reply used
        qint64 maxBytes = -1; // body bytes this reply carries for us; -1: until the close
        qint64 writePos = 0;  // file offset of the next body byte
        bool accepted = false;
        bool keepAlive = false;
        bool reused = false;  // the request went out on a kept-alive connection
        bool tunnelling = false; // waiting for the proxy's answer to CONNECT
        QElapsedTimer clock;  // since this reply's header
        qint64 clocked = 0;   // body bytes written since then
        bool chunked = false; // the body is decoded by `decoder`
        ChunkedDecoder decoder;
        qint64 best = -1;     // bytes of the file present when it last closed
    };

    SocketChannel *channelAt(int slot);
    bool takeHeader(Connection &c, const QByteArray &chunk);
    void onConnected(int slot);
    void onData(int slot);
    void onClosed(int slot);
    void onError(int slot, int number, const QString &description);
    // TLS: through the proxy's tunnel first when there is one.
    void secureSlot(int slot);
    void onTunnelData(int slot);
    void onTlsFailed(const TlsFailure &failure);
    void failTls(const TlsFailure &failure);
    // The proxy settings the requests name: none inside a tunnel.
    HttpProxySettings requestProxy() const;

    // probe
    void connectProbe();
    void onProbeData(const QByteArray &chunk);
    void onProbeClosed();
    void handlePageBody();
    void planData(qint64 size, bool partial);
    void beginData(SegmentPlan plan);

    // data
    bool openFile();
    void connectSlot(int slot);
    void sendRequest(int slot);
    void onDataChunk(int slot, QByteArray chunk);
    void takeBody(int slot, QByteArrayView raw);
    void writeBody(int slot, QByteArrayView body, bool bodyEnded = false);
    void finishUnknownSize(int slot);
    void followLink(const QString &url, bool restart);
    void reconnectLater(int slot);
    void rangeDone(int slot, bool replyFinished);
    // Work for an idle connection: a range nobody fills, or a part of the
    // range that would take longest; `takerRate` is the idle connection's
    // own rate when it goes on over the same connection (-1: unknown).
    int nextRange(double takerRate = -1);
    double rateOf(const Connection &c) const;
    int wholeFileSlot(int except) const;
    void fallBackToFull(int slot);
    void closeSlot(int slot);
    // Writes at offset through the host; false when it failed (the download
    // then failed or was paused for a full disk: nothing more may run).
    bool writeAt(qint64 offset, QByteArrayView bytes);
    void finishComplete();
    void failWith(FailureKind kind, int code, const QByteArray &serverText, const TransferStatus &status);
    void failFile(const QString &why);

    std::shared_ptr<ChannelGroup> m_group;
    QList<Connection> m_conns; // slot 0 is the probe's connection first
    Stage m_stage = Stage::Probe;
    quint64 m_generation = 0; // advanced whenever the connections are closed

    HttpResponseParser m_probeParser;
    ChunkedDecoder m_pageDecoder; // a chunked page's body
    bool m_probeChunked = false;
    bool m_fullRange = false;
    bool m_pageMode = false;
    QByteArray m_pageBody;
    QByteArray m_probeBody;     // body bytes of the probe not written yet
    bool m_probeCovers = false; // the probe's reply is the file from byte 0
    bool m_probeKeepAlive = false;
    qint64 m_probeMax = -1;

    qint64 m_size = -1;
    bool m_planned = false;
    SegmentPlan m_plan;
    QFile m_file;
    int m_emptyCloses = 0;
    bool m_trustAsked = false; // a certificate question is open
    qint64 m_high = 0;       // the most of the file ever present: more resets the budget
    bool m_replaced = false; // an overwritten file was emptied when its data began
    FileValidators m_validators; // of the server's file, from the probe
    bool m_startOver = false;    // a partial file that cannot be resumed is written anew
    QString m_startOverWhy;
};
