#include "intake/capturehost.h"

#include "config/conversions.h"
#include "config/cregister.h"
#include "config/settingsmodel.h"
#include "config/settingsrecord.h"
#include "intake/capturereceiver.h"
#include "intake/intakerules.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QProcess>

#include <cstring>
#include <memory>

namespace nativemessaging {

QByteArray frame(const QByteArray &payload)
{
    const quint32 size = quint32(payload.size());
    QByteArray out(sizeof size, Qt::Uninitialized);
    std::memcpy(out.data(), &size, sizeof size); // native byte order, as the browsers expect
    return out + payload;
}

std::optional<QByteArray> takeFrame(QByteArray &buffer, bool *tooLong)
{
    if (tooLong)
        *tooLong = false;
    quint32 size = 0;
    if (buffer.size() < qsizetype(sizeof size))
        return std::nullopt;
    std::memcpy(&size, buffer.constData(), sizeof size);
    if (size > MaxMessage) {
        if (tooLong)
            *tooLong = true;
        return std::nullopt;
    }
    if (buffer.size() < qsizetype(sizeof size + size))
        return std::nullopt;
    QByteArray payload = buffer.mid(sizeof size, size);
    buffer.remove(0, sizeof size + size);
    return payload;
}

} // namespace nativemessaging

namespace {

QJsonObject error(const QString &text)
{
    return {{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("error"), text}};
}

// Reads exactly size bytes unless the input ends first. A pipe's read
// blocks until data come and returns nothing only at the end.
QByteArray readExactly(QIODevice &in, qint64 size)
{
    QByteArray data;
    while (data.size() < size) {
        const QByteArray chunk = in.read(size - data.size());
        if (chunk.isEmpty() && !in.waitForReadyRead(-1))
            break;
        data += chunk;
    }
    return data;
}

} // namespace

CaptureHost::CaptureHost(Services services) : m_services(std::move(services)) {}

QJsonObject CaptureHost::answer(const QJsonObject &request) const
{
    const QString type = request.value(QStringLiteral("type")).toString();
    const QString url = request.value(QStringLiteral("url")).toString();
    if (type == QLatin1String("lists"))
        return lists(url);
    if (type == QLatin1String("url"))
        return hand(url);
    return error(QStringLiteral("unknown request"));
}

QJsonObject CaptureHost::lists(const QString &url) const
{
    const auto setting = [this](const char *key, const QString &defaultValue) {
        return m_services.setting ? m_services.setting(QString::fromLatin1(key), defaultValue) : defaultValue;
    };
    const QString types = setting("MonitorTypes", DefaultMonitorTypes);
    const QString servers = setting("MonitorServer", DefaultMonitorServer);
    const bool capture = conv::toBool(setting("ClickCapture", QStringLiteral("True"))).value_or(true);
    QJsonObject out{{QStringLiteral("type"), QStringLiteral("lists")},
                    {QStringLiteral("capture"), capture},
                    {QStringLiteral("monitorTypes"), types},
                    {QStringLiteral("monitorServer"), servers}};
    if (!url.isEmpty()) {
        const bool take = capture && ClassifyCapturedText(url.toUtf8()).kind == CapturedText::Kind::Url
                          && IsExtPermitted(url, types) && IsServerPermitted(url, servers);
        out.insert(QStringLiteral("take"), take);
    }
    return out;
}

QJsonObject CaptureHost::hand(const QString &url) const
{
    const CapturedText text = ClassifyCapturedText(url.toUtf8());
    if (text.kind != CapturedText::Kind::Url)
        return error(QStringLiteral("not an http, https, ftp or ftps URL"));
    bool delivered = m_services.deliver && m_services.deliver(text.url);
    bool started = false;
    if (!delivered)
        started = m_services.startTessel && m_services.startTessel(text.url);
    return {{QStringLiteral("type"), QStringLiteral("url")},
            {QStringLiteral("delivered"), delivered},
            {QStringLiteral("started"), started}};
}

int CaptureHost::run(QIODevice &in, QIODevice &out) const
{
    for (;;) {
        QByteArray buffer = readExactly(in, sizeof(quint32));
        if (buffer.isEmpty())
            return 0; // the browser closed the pipe: done
        if (buffer.size() < qsizetype(sizeof(quint32)))
            return 1;
        quint32 size = 0;
        std::memcpy(&size, buffer.constData(), sizeof size);
        if (size > nativemessaging::MaxMessage)
            return 1;
        buffer += readExactly(in, size);
        bool tooLong = false;
        const std::optional<QByteArray> payload = nativemessaging::takeFrame(buffer, &tooLong);
        if (!payload)
            return 1;
        const QJsonDocument document = QJsonDocument::fromJson(*payload);
        const QJsonObject reply =
            document.isObject() ? answer(document.object()) : error(QStringLiteral("not a JSON object"));
        out.write(nativemessaging::frame(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
        while (out.bytesToWrite() > 0 && out.waitForBytesWritten(-1)) {
        }
    }
}

CaptureHost::Services SystemCaptureHostServices(const QString &tesselProgram)
{
    CaptureHost::Services services;
    auto registry = std::make_shared<Registry>(Registry::defaultDirectory());
    services.setting = [registry](const QString &key, const QString &defaultValue) {
        CRegister reg(*registry);
        return reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, key, defaultValue);
    };
    services.deliver = [](const QString &url) {
        // Only a listener in our own private directory gets the URL.
        const QString directory = CaptureSocketDirectory();
        return PreparePrivateDirectory(directory) && CaptureReceiver::send(directory, url.toUtf8());
    };
    services.startTessel = [tesselProgram](const QString &url) {
        // Tessel must not inherit the pipes to the browser: its output would
        // break the framing, and the browser would wait on a pipe Tessel
        // keeps open long after the host ended.
        QProcess tessel;
        tessel.setProgram(tesselProgram);
        tessel.setArguments({QStringLiteral("--capture"), url});
        tessel.setStandardInputFile(QProcess::nullDevice());
        tessel.setStandardOutputFile(QProcess::nullDevice());
        tessel.setStandardErrorFile(QProcess::nullDevice());
        return tessel.startDetached();
    };
    return services;
}
