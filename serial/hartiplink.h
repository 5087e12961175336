#pragma once
// The HART-IP link: a session (hartipsession.h) over a Qt UDP or TCP socket, living on the
// thread that created it (the GUI thread), where the engine also runs.

#include "hartipsession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QAbstractSocket;

struct HartIpAddress {
    QString host;
    quint16 port = Hart::Ip::defaultPort;
    bool tcp = false;

    bool isValid() const { return !host.isEmpty() && port != 0; }
    // "HOST:PORT/udp" or "/tcp", the form the tool bar and the boxes show.
    QString text() const;
    // HOST[:PORT][/tcp|/udp]; an IPv6 host goes in brackets. False on anything else.
    static bool parse(const QString& text, HartIpAddress& address);
};

class HartIpLink : public QObject, public HartIpSession {
    Q_OBJECT

public:
    HartIpLink(std::uint8_t* buffer, std::uint32_t bufferSize, QObject* parent = nullptr);
    ~HartIpLink() override;

    // Connects and initiates a session, waiting at most timeoutMs. On failure the link stays
    // closed and failure() says why.
    bool open(const HartIpAddress& address, int timeoutMs = 3000);
    void close() override;
    const HartIpAddress& address() const { return m_address; }

private:
    void readPending();
    void socketFailed();
    void onTick();
    std::uint64_t now() const { return std::uint64_t(m_clock.elapsed()); }

    HartIpAddress m_address;
    std::unique_ptr<QAbstractSocket> m_socket;
    QTimer m_timer;
    QElapsedTimer m_clock;
};
