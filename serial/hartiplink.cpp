#include "hartiplink.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {

constexpr int tickIntervalMs = 250;

}

QString HartIpAddress::text() const
{
    const QString shown = host.contains(':') ? '[' + host + ']' : host;
    return QStringLiteral("%1:%2/%3").arg(shown).arg(port).arg(tcp ? QStringLiteral("tcp") : QStringLiteral("udp"));
}

bool HartIpAddress::parse(const QString& text, HartIpAddress& address)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^\\s:/\\[\\]]+))(?::(\\d{1,5}))?(?:/(tcp|udp))?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    HartIpAddress parsed;
    parsed.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    if (!match.captured(3).isEmpty()) {
        const uint value = match.captured(3).toUInt();
        if (value == 0 || value > 65535)
            return false;
        parsed.port = quint16(value);
    }
    parsed.tcp = match.captured(4).compare(QStringLiteral("tcp"), Qt::CaseInsensitive) == 0;
    address = parsed;
    return true;
}

HartIpLink::HartIpLink(std::uint8_t* buffer, std::uint32_t bufferSize, QObject* parent)
    : QObject(parent)
    , HartIpSession(buffer, bufferSize)
{
    m_clock.start();
    m_timer.setInterval(tickIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &HartIpLink::onTick);
}

HartIpLink::~HartIpLink()
{
    close();
}

bool HartIpLink::open(const HartIpAddress& address, int timeoutMs)
{
    close();
    m_address = address;
    if (address.tcp)
        m_socket = std::make_unique<QTcpSocket>();
    else
        m_socket = std::make_unique<QUdpSocket>();
    QAbstractSocket* socket = m_socket.get();
    const QDeadlineTimer deadline(timeoutMs);
    socket->connectToHost(address.host, address.port);
    if (!socket->waitForConnected(int(deadline.remainingTime()))) {
        transportFailed(Failure::NoServer);
        close();
        return false;
    }
    begin(address.tcp ? Transport::Tcp : Transport::Udp,
          [socket](const std::uint8_t* bytes, std::size_t length) {
              socket->write(reinterpret_cast<const char*>(bytes), qint64(length));
              socket->flush();
          },
          now());
    // The session is answered before the engine may use the link.
    while (phase() == Phase::Initiating && !deadline.hasExpired()) {
        if (socket->waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), tickIntervalMs))))
            readPending();
        else if (socket->state() != QAbstractSocket::ConnectedState)
            transportFailed(Failure::NoServer);
        tick(now());
    }
    if (phase() == Phase::Initiating)
        transportFailed(Failure::NoServer);
    if (phase() != Phase::Open) {
        // failure() keeps the reason after the close.
        close();
        return false;
    }
    connect(socket, &QAbstractSocket::readyRead, this, &HartIpLink::readPending);
    connect(socket, &QAbstractSocket::errorOccurred, this, &HartIpLink::socketFailed);
    connect(socket, &QAbstractSocket::disconnected, this, &HartIpLink::socketFailed);
    m_timer.start();
    return true;
}

void HartIpLink::close()
{
    m_timer.stop();
    const bool wasOpen = isOpen();
    HartIpSession::close();
    if (m_socket) {
        // The server's answer to the session close is awaited briefly: on TCP, data that
        // arrives after our end has closed makes the system answer with a reset.
        if (wasOpen && m_address.tcp && m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->flush();
            if (m_socket->bytesAvailable() == 0)
                m_socket->waitForReadyRead(200);
            m_socket->readAll();
        }
        m_socket->disconnect(this);
        // An orderly end: the session close goes out, then TCP's FIN rather than a reset.
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->flush();
            m_socket->disconnectFromHost();
            if (m_socket->state() != QAbstractSocket::UnconnectedState)
                m_socket->waitForDisconnected(200);
        }
        m_socket->abort();
        m_socket.reset();
    }
}

void HartIpLink::readPending()
{
    if (!m_socket)
        return;
    if (auto* udp = qobject_cast<QUdpSocket*>(m_socket.get())) {
        // Readable without a datagram: an ICMP "port unreachable" waits as the socket's error,
        // and only a read brings it out (as the error signal). A server gone is seen at once.
        if (!udp->hasPendingDatagrams()) {
            udp->receiveDatagram(1);
            return;
        }
        while (udp->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = udp->receiveDatagram(qint64(Hart::Ip::maxMessageSize) + 1);
            const QByteArray data = datagram.data();
            receive(reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size()), now());
        }
        return;
    }
    char block[1024];
    for (;;) {
        const qint64 count = m_socket->read(block, sizeof block);
        if (count <= 0)
            break;
        receive(reinterpret_cast<const std::uint8_t*>(block), std::size_t(count), now());
    }
}

void HartIpLink::socketFailed()
{
    // A UDP socket reports a port nobody listens on; TCP a reset or a closed connection. A
    // read that found nothing is no failure.
    if (m_socket && m_socket->error() == QAbstractSocket::TemporaryError
        && m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    transportFailed(Failure::Closed);
}

void HartIpLink::onTick()
{
    tick(now());
}
