#pragma once

// Line ends of FTP's ASCII type: the wire carries CR LF. Both directions keep
// their state across chunks, so a CR LF split between two chunks is handled
// like one that arrived whole.

#include <QByteArray>
#include <QByteArrayView>

// Local text to the wire: a bare LF goes out as CR LF; a CR LF already there
// is not doubled.
class AsciiEncoder {
public:
    QByteArray feed(QByteArrayView chunk);
    // Nothing is ever held back; present for symmetry with the decoder.
    QByteArray finish() { return {}; }

private:
    bool m_lastWasCr = false;
};

// The wire to local text: CR LF becomes LF; a CR not followed by LF stays.
class AsciiDecoder {
public:
    QByteArray feed(QByteArrayView chunk);
    // A CR held back at the end of the last chunk (the stream ended on it).
    QByteArray finish();

private:
    bool m_heldCr = false;
};
