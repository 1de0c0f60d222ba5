#include "config/settingsrecord.h"

#include "config/conversions.h"
#include "config/cregister.h"

#include <limits>

namespace {

class Reader {
public:
    explicit Reader(const CRegister &reg) : m_reg(reg) {}

    QString text(const char *key, const QString &defaultValue) const
    {
        return m_reg.REGGetSetting(CRegister::HKEY_LOCAL_MACHINE, TesselSection, QLatin1String(key), defaultValue);
    }

    // A stored value that does not convert counts as missing.
    bool flag(const char *key, bool defaultValue) const
    {
        return conv::toBool(text(key, QString())).value_or(defaultValue);
    }

    qint64 integer(const char *key, qint64 defaultValue, qint64 min, qint64 max) const
    {
        return conv::toInteger(text(key, QString()), min, max).value_or(defaultValue);
    }

    int int16(const char *key, int defaultValue) const
    {
        return int(integer(key, defaultValue, std::numeric_limits<std::int16_t>::min(),
                           std::numeric_limits<std::int16_t>::max()));
    }

    double number(const char *key, double defaultValue) const
    {
        return conv::toNumber(text(key, QString())).value_or(defaultValue);
    }

private:
    const CRegister &m_reg;
};

constexpr std::array<double, 9> SegmentDefaults{2097152, 5242880, 5242880, 10485760, 10485760,
                                                15728640, 15728640, 20971520, 20971520};

} // namespace

NewDownloadOption SettingsRecord::newDownloadOption() const
{
    if (DownloadNowOption)
        return NewDownloadOption::StartNow;
    if (DownloadLaterOption)
        return NewDownloadOption::AddToList;
    return NewDownloadOption::Ask;
}

void LoadSettings(SettingsRecord &r, const CRegister &reg)
{
    const Reader in(reg);
    r.Downloads = std::int32_t(in.integer("Downloads", 0, std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::int32_t>::max()));
    const double allBytes = in.number("AllBytes", 0);
    r.AllBytes = allBytes >= 0 && allBytes < 9.0e18 ? qint64(allBytes) : 0;
    r.ClickCapture = in.flag("ClickCapture", true);
    r.ClipboardMonitoring = conv::toNumber(in.text("ClipboardMonitoring", QStringLiteral("1"))).value_or(1) == 1;
    r.UsePASV = in.flag("UsePASV", false);
    r.UseProxy = in.flag("UseProxy", false);
    r.LoginProxy = in.flag("LoginProxy", false);
    r.UsePass = in.flag("UsePass", false);
    r.ProxyServer = in.text("ProxyServer", QString());
    r.ProxyPort = int(in.integer("ProxyPort", 80, 0, 65535));
    r.UseFTPProxy = in.flag("UseFTPProxy", false);
    r.UserID = in.text("UserID", QString());
    r.UserPass = in.text("UserPass", QString());
    r.Timeout = in.int16("Timeout", 60);
    r.StopResume = in.flag("StopResume", true);
    r.TimeResume = in.int16("TimeResume", 300);
    r.TimeNoResume = in.int16("TimeNoResume", 600);
    r.Retry = in.flag("Retry", true);
    r.RetryTime = in.int16("RetryTime", 300);
    r.Retries = in.int16("Retries", 30);
    r.Rollback = std::int32_t(in.integer("Rollback", 4096, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max()));
    r.Segment = std::uint8_t(in.integer("Segment", 0, 0, 255));
    for (int i = 0; i < 9; ++i) {
        const QByteArray key = "SegmentSize" + QByteArray::number(i + 1);
        double value = in.number(key.constData(), SegmentDefaults[i]);
        // SegmentSize3, 5, 7 and 9 are lower bounds of their rows.
        if (i == 2 || i == 4 || i == 6 || i == 8)
            value += 1;
        r.SegmentSize[i] = value;
    }
    r.DownloadNowOption = in.flag("DownloadNowOption", false);
    r.DownloadLaterOption = in.flag("DownloadLaterOption", false);
    r.DownloadPromptOption = in.flag("DownloadPromptOption", true);
    r.StartupWithWindows = in.flag("StartupWithWindows", false);
    r.intExistChoice = -2;
}
