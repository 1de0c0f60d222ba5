#include "download/transferprotocol.h"

// Stands in for the FTP protocol until it is built into the engine: an FTP
// download ends at once with a clear failure.
namespace {

class UnavailableFtpTransfer final : public TransferProtocol {
public:
    using TransferProtocol::TransferProtocol;

    void start() override
    {
        TransferStatus status;
        status.text = QStringLiteral("FTP is not available in this build");
        m_host.fail(FailureKind::Protocol, 0, {}, status);
    }
    void suspend(bool) override {}
    void resume() override {}
    void shutdown() override {}
    qint64 received() const override { return 0; }
    QList<SegmentProgress> segments() const override { return {}; }
    bool planned() const override { return false; }
};

} // namespace

std::unique_ptr<TransferProtocol> createFtpTransfer(TransferHost &host, const UrlFields &url)
{
    return std::make_unique<UnavailableFtpTransfer>(host, url);
}
