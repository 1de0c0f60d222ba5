#include "ftp/asciicodec.h"

QByteArray AsciiEncoder::feed(QByteArrayView chunk)
{
    QByteArray out;
    out.reserve(chunk.size() + chunk.size() / 16 + 1);
    for (const char c : chunk) {
        if (c == '\n' && !m_lastWasCr)
            out += '\r';
        out += c;
        m_lastWasCr = c == '\r';
    }
    return out;
}

QByteArray AsciiDecoder::feed(QByteArrayView chunk)
{
    QByteArray out;
    out.reserve(chunk.size() + 1);
    for (const char c : chunk) {
        if (m_heldCr) {
            m_heldCr = false;
            if (c == '\n') {
                out += '\n';
                continue;
            }
            out += '\r';
        }
        if (c == '\r')
            m_heldCr = true;
        else
            out += c;
    }
    return out;
}

QByteArray AsciiDecoder::finish()
{
    if (!m_heldCr)
        return {};
    m_heldCr = false;
    return QByteArray(1, '\r');
}
