#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;

// The native-messaging host the browser extension talks to. The browser
// starts it and exchanges messages over its standard input and output, each
// a 4-byte length in the machine's byte order followed by that many bytes of
// UTF-8 JSON.
//
// Requests and answers:
//   {"type":"lists","url":U}  ->  {"type":"lists","capture":bool,"monitorTypes":T,
//                                  "monitorServer":S,"take":bool}
//       the filter lists as the settings hold them; "take" (only when a URL
//       was given) says whether Tessel wants that download: its extension is
//       monitored and its server not ignored, by the intake's own rules.
//   {"type":"url","url":U}    ->  {"type":"url","delivered":bool,"started":bool}
//       hands the URL to the running Tessel, or starts Tessel with it.
//   anything else             ->  {"type":"error","error":text}

// Framing of the messages.
namespace nativemessaging {
// The longest message the host reads; the browser's own requests are tiny.
inline constexpr quint32 MaxMessage = 64 * 1024;
QByteArray frame(const QByteArray &payload);
// Takes the first whole frame off buffer; nullopt while it is incomplete.
// *tooLong is set when the announced length exceeds MaxMessage.
std::optional<QByteArray> takeFrame(QByteArray &buffer, bool *tooLong = nullptr);
} // namespace nativemessaging

class CaptureHost {
public:
    struct Services {
        // A value of Tessel's settings section, or defaultValue.
        std::function<QString(const QString &key, const QString &defaultValue)> setting;
        // Hands a URL to the running Tessel; false when none listens.
        std::function<bool(const QString &url)> deliver;
        // Starts Tessel with the URL; false when it could not be started.
        std::function<bool(const QString &url)> startTessel;
    };

    explicit CaptureHost(Services services);

    // The answer to one request.
    QJsonObject answer(const QJsonObject &request) const;

    // Serves the browser until in ends: reads each frame, writes its answer.
    // Returns the process exit code: 0 at the end of input, 1 for a broken
    // or oversized frame (the browser then sees the host end).
    int run(QIODevice &in, QIODevice &out) const;

private:
    QJsonObject lists(const QString &url) const;
    QJsonObject hand(const QString &url) const;

    Services m_services;
};

// The services of the real host: Tessel's settings store, the receiver's
// socket, and the tessel executable beside the host.
CaptureHost::Services SystemCaptureHostServices(const QString &tesselProgram);
