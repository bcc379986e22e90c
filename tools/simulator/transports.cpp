#include "transports.h"

#include "timing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// "host:port" of a socket address, "[host]:port" for IPv6.
QString addressText(const sockaddr *sa, socklen_t len)
{
    char host[NI_MAXHOST] = {0}, port[NI_MAXSERV] = {0};
    if (getnameinfo(sa, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return QStringLiteral("?");
    const QString h = QString::fromLatin1(host);
    return (sa->sa_family == AF_INET6 ? QLatin1Char('[') + h + QLatin1Char(']') : h) + QLatin1Char(':')
        + QString::fromLatin1(port);
}

// Splits the lines that have arrived and hands each to the responder; the
// rest stays in pending. Returns the first outcome that is not Continue;
// stops when the peer has gone.
Responder::Outcome feedLines(QByteArray *pending, Responder &responder, Channel &channel)
{
    int nl;
    while (!channel.isBroken() && (nl = pending->indexOf('\n')) >= 0) {
        const QByteArray line = pending->left(nl);
        pending->remove(0, nl + 1);
        const Responder::Outcome outcome = responder.handle(line, channel);
        if (outcome != Responder::Continue)
            return outcome;
    }
    return Responder::Continue;
}

} // namespace

PtyPort::~PtyPort()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPort::open(QString *error)
{
    char name[256] = {0};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        *error = QStringLiteral("openpty: %1").arg(errnoText());
        return false;
    }
    // Raw terminal: no echo, no line-end translation until the driver
    // configures its side. Keeping the terminal side open ourselves means a
    // driver that closes and reopens the port does not hang up the pty.
    termios tio;
    if (tcgetattr(m_slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_slave, TCSANOW, &tio);
    }
    m_path = QString::fromLocal8Bit(name);
    return true;
}

bool PtyPort::write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_master, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                sleepMs(1);
                continue;
            }
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

TcpPort::~TcpPort()
{
    if (m_client >= 0)
        ::close(m_client);
    if (m_listener >= 0)
        ::close(m_listener);
}

bool TcpPort::listen(const QString &spec, QString *error)
{
    QString host = QStringLiteral("127.0.0.1"), port = spec;
    const int colon = spec.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = spec.left(colon);
        port = spec.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number > 65535 || host.isEmpty()) {
        *error = QStringLiteral("--tcp wants [ADDRESS:]PORT with a port from 0 to 65535, not %1").arg(spec);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int rc = getaddrinfo(host.toLocal8Bit().constData(), QByteArray::number(number).constData(), &hints, &found);
    if (rc != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(spec, QString::fromLocal8Bit(gai_strerror(rc)));
        return false;
    }
    QString why;
    for (addrinfo *a = found; a && m_listener < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 8) == 0) {
            m_listener = fd;
        } else {
            why = errnoText();
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    if (m_listener < 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(spec, why);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&bound), &len);
    m_address = addressText(reinterpret_cast<sockaddr *>(&bound), len);
    return true;
}

void TcpPort::accept(ReplyLog *log, bool verbose)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const QString who = addressText(reinterpret_cast<sockaddr *>(&peer), len);
    if (m_client >= 0) {
        ::close(fd);
        const QString what = QStringLiteral("refused %1: %2 is connected").arg(who, m_peer);
        if (log)
            log->event(via(), what);
        if (verbose)
            std::fprintf(stderr, "sim: %s\n", qPrintable(what));
        return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A client that reads nothing cannot hold the instrument for ever.
    timeval bound{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    m_client = fd;
    m_peer = who;
    m_broken = false;
    if (log)
        log->event(via(), QStringLiteral("connected %1").arg(who));
    if (verbose)
        std::fprintf(stderr, "sim: connected %s\n", qPrintable(who));
}

bool TcpPort::readClient(QByteArray *into)
{
    for (;;) {
        char buf[4096];
        const ssize_t n = ::recv(m_client, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            into->append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;  // closed or reset by the client
    }
}

void TcpPort::dropClient(How how, ReplyLog *log, bool verbose)
{
    if (m_client < 0)
        return;
    // Logged first: a client that has seen the end finds the line.
    const char *what = how == Reset ? "reset" : how == Closed ? "closed" : "disconnected";
    if (log)
        log->event(via(), QStringLiteral("%1 %2").arg(QLatin1String(what), m_peer));
    if (verbose)
        std::fprintf(stderr, "sim: %s %s\n", what, qPrintable(m_peer));
    if (how == Reset) {
        // No lingering: the connection ends with RST, as when the far end
        // of a bridge restarts.
        const linger now{1, 0};
        setsockopt(m_client, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    } else if (how == Closed) {
        // An orderly end (FIN): what the client sent is read first, since
        // closing with unread input would reset the connection instead.
        ::shutdown(m_client, SHUT_WR);
        QByteArray ignored;
        readClient(&ignored);
    }
    ::close(m_client);
    m_client = -1;
    m_peer.clear();
}

bool TcpPort::write(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0 && m_client >= 0 && !m_broken) {
        const ssize_t n = ::send(m_client, p, size_t(left), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_broken = true;
            return false;
        }
        p += n;
        left -= n;
    }
    return left == 0;
}

void serve(PtyPort *pty, TcpPort *tcp, Responder &responder, ReplyLog *log, bool verbose)
{
    QByteArray ptyPending, tcpPending;
    while (!g_quit) {
        pollfd fds[3];
        int count = 0, ptyAt = -1, clientAt = -1, listenerAt = -1;
        if (pty) {
            ptyAt = count;
            fds[count++] = pollfd{pty->fd(), POLLIN, 0};
        }
        if (tcp && tcp->hasClient()) {
            clientAt = count;
            fds[count++] = pollfd{tcp->clientFd(), POLLIN, 0};
        }
        if (tcp) {
            listenerAt = count;
            fds[count++] = pollfd{tcp->listenerFd(), POLLIN, 0};
        }
        const int r = ::poll(fds, nfds_t(count), 200);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (r == 0)
            continue;

        if (ptyAt >= 0 && fds[ptyAt].revents) {
            if (!(fds[ptyAt].revents & POLLIN)) {
                if (fds[ptyAt].revents & (POLLERR | POLLNVAL))
                    return;
            } else {
                char buf[4096];
                const ssize_t n = ::read(pty->fd(), buf, sizeof buf);
                if (n > 0) {
                    ptyPending.append(buf, int(n));
                    if (feedLines(&ptyPending, responder, *pty) != Responder::Continue)
                        return;  // the port is closed: the instrument is gone
                } else if (!(n < 0 && (errno == EINTR || errno == EAGAIN))) {
                    sleepMs(10);  // terminal side momentarily closed
                }
            }
        }

        // The client's input (and its going) before a new connection, so
        // that a client which left makes room for the next one.
        if (clientAt >= 0 && fds[clientAt].revents) {
            const bool stays = tcp->readClient(&tcpPending);
            const Responder::Outcome outcome = feedLines(&tcpPending, responder, *tcp);
            if (outcome != Responder::Continue || !stays || tcp->isBroken()) {
                tcp->dropClient(outcome == Responder::Reset   ? TcpPort::Reset
                                : outcome == Responder::Close ? TcpPort::Closed
                                                              : TcpPort::ClientGone,
                                log, verbose);
                tcpPending.clear();
            }
        }
        if (listenerAt >= 0 && (fds[listenerAt].revents & POLLIN))
            tcp->accept(log, verbose);
    }
}
