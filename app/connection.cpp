// The HART-IP choice of the connection: the server chosen in the port dialog or on the command
// line, its session, and the tool bar's word on which link is in use.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "dialogtraffic.h"
#include "linktexts.h"

#include <QLabel>
#include <QSettings>
#include <QToolBar>

namespace {

const char* const hartIpChosenKey = "HART-IP/Chosen";
const char* const hartIpHostKey = "HART-IP/Host";
const char* const hartIpPortKey = "HART-IP/Port";
const char* const hartIpTcpKey = "HART-IP/TCP";

}

void MainWindow::loadHartIpChoice()
{
    hartIpChosen = settings->value(hartIpChosenKey, false).toBool();
    hartIpAddress.host = settings->value(hartIpHostKey, QString()).toString();
    const uint port = settings->value(hartIpPortKey, uint(Hart::Ip::defaultPort)).toUInt();
    hartIpAddress.port = port >= 1 && port <= 65535 ? quint16(port) : Hart::Ip::defaultPort;
    hartIpAddress.tcp = settings->value(hartIpTcpKey, false).toBool();
}

void MainWindow::rememberHartIpChoice(bool chosen)
{
    hartIpChosen = chosen;
    settings->setValue(hartIpChosenKey, chosen);
    if (chosen) {
        settings->setValue(hartIpHostKey, hartIpAddress.host);
        settings->setValue(hartIpPortKey, uint(hartIpAddress.port));
        settings->setValue(hartIpTcpKey, hartIpAddress.tcp);
    }
    settings->sync();
}

void MainWindow::setHartIpServer(const HartIpAddress& address)
{
    hartIpAddress = address;
    hartIpChosen = true;
}

void MainWindow::openHartIp(const HartIpAddress& address)
{
    if (!address.isValid()) {
        reportError(QStringLiteral("Не указан адрес сервера HART-IP."));
        return;
    }
    hartIpAddress = address;
    rememberHartIpChoice(true);
    terminal.select(hartIpLink);
    // The capture keeps the session's own messages; the monitor's text still shows the frames.
    trafficWindow->setCapturingHartIp(true);
    hartIpLink.setMessageObserver([this, tcp = address.tcp](const uint8_t* bytes, size_t length, bool outgoing) {
        trafficWindow->recordHartIpMessage(bytes, uint32_t(length), outgoing, tcp);
    });
    if (hartIpLink.open(address)) {
        modifiedGroups = ConfigGroup::all;
        readGroups = 0;
        return;
    }
    // No server, a refused session: the link ends as a lost one does, naming the server.
    updateConnectButton();
    reportError(lostLinkText());
}

QString MainWindow::lostLinkText() const
{
    // A HART-IP server says more than a modem can: why the session ended.
    const bool network = &terminal.active() == &hartIpLink;
    return ::lostLinkText(linkName(), network ? hartIpLink.failure() : HartIpSession::Failure::None)
        + QStringLiteral("Проверьте подключение и нажмите «Соединить».");
}

QString MainWindow::linkName() const
{
    return &terminal.active() == &hartIpLink ? hartIpAddress.text() : portName;
}

void MainWindow::showLinkInUse()
{
    if (!linkLabel) {
        linkLabel = new QLabel(this);
        linkLabel->setObjectName(QStringLiteral("linkLabel"));
        linkLabel->setContentsMargins(4, 0, 4, 0);
        // Right after the connect button, whose state it explains.
        const QList<QAction*> actions = ui->mainToolBar->actions();
        const int at = actions.indexOf(ui->connectButton);
        ui->mainToolBar->insertWidget(actions.value(at + 1), linkLabel);
    }
    if (!terminal.isOpen()) {
        linkLabel->clear();
        linkLabel->setToolTip(QString());
        return;
    }
    const bool network = &terminal.active() == &hartIpLink;
    linkLabel->setText(network ? QStringLiteral("HART-IP ") + hartIpAddress.text() : portName);
    linkLabel->setToolTip(network ? QStringLiteral("HART-IP версии 1: обмен не шифруется и не защищён")
                                  : QStringLiteral("Модем HART"));
}
