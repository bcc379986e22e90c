#pragma once
// One way in to the instrument: the pseudo-terminal or a TCP client.

#include <QByteArray>

class Channel
{
public:
    virtual ~Channel() = default;
    // "pty" or "tcp", as the logs name it.
    virtual const char *via() const = 0;
    // Writes all of bytes; false when the peer is gone.
    virtual bool write(const QByteArray &bytes) = 0;
    // True once a write has found the peer gone.
    virtual bool isBroken() const { return false; }
};
