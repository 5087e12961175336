#include "simulatedwindow.h"
#include "modalanswerer.h"
#include "dialogeventlog.h"
#include "dialogfirmwareupdate.h"
#include "ui_mainwindow.h"

#include "hart/parsermaster.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QRadioButton>
#include <QSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTableView>
#include <QTimer>

#include <chrono>
#include <thread>

uint16_t SimulatedWindow::hartIpPort = 0;

SimulatedWindow::SimulatedWindow(ModalAnswerer& answerer, const Sim::Options& options, SimulatedLink link)
    : sim(std::make_unique<Sim::Simulator>(options))
    , network(link != SimulatedLink::Serial)
{
    if (network ? !sim->startHartIp("127.0.0.1", hartIpPort) : !sim->start())
        return;
    mainWindow = std::make_unique<MainWindow>();
    mainWindow->parseTimer->stop();
    mainWindow->requestTimer->stop();
    if (network)
        chooseHartIp(answerer, sim->hartIpPort(), link == SimulatedLink::HartIpTcp);
    else
        answerer.choosePort(QString::fromStdString(sim->portPath()));
    mainWindow->ui->connectButton->trigger();
    connected = mainWindow->isPortOpen();
}

void SimulatedWindow::startTimers()
{
    mainWindow->parseTimer->start(100);
    mainWindow->requestTimer->start(1000);
}

void SimulatedWindow::chooseHartIp(ModalAnswerer& answerer, uint16_t port, bool tcp)
{
    answerer.queue([=](QWidget* dialog) {
        dialog->findChild<QRadioButton*>(QStringLiteral("hartIpChoice"))->setChecked(true);
        dialog->findChild<QLineEdit*>(QStringLiteral("hartIpHost"))->setText(QStringLiteral("127.0.0.1"));
        dialog->findChild<QSpinBox*>(QStringLiteral("hartIpPort"))->setValue(port);
        dialog->findChild<QComboBox*>(QStringLiteral("hartIpTransport"))->setCurrentIndex(tcp ? 1 : 0);
        static_cast<QDialog*>(dialog)->accept();
    });
}

bool SimulatedWindow::tick(int answerWaitMs)
{
    const uint32_t sentBefore = mainWindow->sentPackets();
    QMetaObject::invokeMethod(mainWindow.get(), "parseTimerUpdate");
    if (mainWindow->sentPackets() == sentBefore)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < answerWaitMs && mainWindow->terminalState() != TerminalState::Received) {
        if (network)
            QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(network ? 1 : 2));
    }
    return true;
}

std::vector<uint16_t> SimulatedWindow::runUntilQuiet(int maxTicks, bool* oneAtATime)
{
    const size_t before = sim->requests().size();
    for (int i = 0; i < maxTicks; ++i) {
        const size_t seen = sim->requests().size();
        const bool sent = tick();
        if (!sent && mainWindow->terminalState() != TerminalState::Received)
            break;
        if (sent)
            sim->waitForRequests(seen + 1, std::chrono::milliseconds(1000));
        if (oneAtATime && sim->requests().size() != seen + (sent ? 1 : 0))
            *oneAtATime = false;
    }
    return commandsOf(sim->requests(), before);
}

QString SimulatedWindow::commandList(const std::vector<uint16_t>& commands)
{
    QStringList list;
    for (uint16_t c : commands)
        list << QString::number(c);
    return list.join(' ');
}

std::vector<uint16_t> SimulatedWindow::commandsOf(const std::vector<Sim::ReceivedRequest>& requests, size_t from)
{
    std::vector<uint16_t> commands;
    for (size_t i = from; i < requests.size(); ++i)
        commands.push_back(requests[i].command);
    return commands;
}

namespace TestClock {
uint32_t now = 0;
static uint32_t read() { return now; }
void install(uint32_t start)
{
    now = start;
    Hart::setTickFunction(read);
}
}

Sim::Options WindowBench::quick(uint16_t model)
{
    Sim::Options options;
    options.turnaroundMs = 2;
    options.expandedDeviceType = model;
    return options;
}

bool WindowBench::connectWindow(const Sim::Options& options, SimulatedLink link)
{
    rig = std::make_unique<SimulatedWindow>(*answerer, options, link);
    window = rig->isConnected() ? &rig->window() : nullptr;
    sim = &rig->simulator();
    return window != nullptr;
}

void WindowBench::disconnectWindow()
{
    rig.reset();
    window = nullptr;
    sim = nullptr;
}

void WindowBench::linelessWindow()
{
    lineless = std::make_unique<MainWindow>();
    window = lineless.get();
}

void WindowBench::finish()
{
    disconnectWindow();
    lineless.reset();
    answerer.reset();
}

QAction* WindowBench::action(const char* name) const
{
    return window->findChild<QAction*>(QString::fromLatin1(name));
}

std::unique_ptr<Sim::Simulator> WindowBench::plugInNewDetector()
{
    auto detector = std::make_unique<Sim::Simulator>(quick());
    if (detector->start()) {
        answerer->choosePort(QString::fromStdString(detector->portPath()));
        action("connectButton")->trigger();
    }
    return detector;
}

QAction* WindowBench::logAction(const char* name) const
{
    return window->eventLog().findChild<QAction*>(QString::fromLatin1(name));
}

QString WindowBench::serial() const
{
    return window->findChild<QLineEdit*>(QStringLiteral("serial"))->text();
}

int WindowBench::logRows() const
{
    QAbstractItemModel* m = window->eventLog().findChild<QTableView*>(QStringLiteral("tableView"))->model();
    while (m && m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    return m ? m->rowCount() : 0;
}

void WindowBench::readOnce(int maxTicks)
{
    action("connectRead")->trigger();
    runUntilQuiet(maxTicks);
    action("connectRead")->trigger();
    sim->clearRequests();
}

QString WindowBench::runUntilQuiet(int maxTicks, bool* oneAtATime)
{
    return SimulatedWindow::commandList(rig->runUntilQuiet(maxTicks, oneAtATime));
}

QString WindowBench::sent() const
{
    return SimulatedWindow::commandList(SimulatedWindow::commandsOf(sim->requests()));
}

QStringList WindowBench::boxTexts() const
{
    QStringList texts;
    for (const auto& box : answerer->boxes())
        texts << box.text;
    return texts;
}

void runFirmwareUpdate(ModalAnswerer& answerer, MainWindow& window, const QString& image,
                       const std::function<void(DialogFirmwareUpdate*)>& started, int limitMs)
{
    QPointer<DialogFirmwareUpdate> dialog;
    answerer.keepOpen = [](QWidget* w) { return qobject_cast<DialogFirmwareUpdate*>(w) != nullptr; };
    answerer.queue([&](QWidget* w) {
        dialog = qobject_cast<DialogFirmwareUpdate*>(w);
        if (!dialog)
            return;
        dialog->findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(image);
        dialog->findChild<QPushButton*>(QStringLiteral("update"))->click();
        if (started)
            started(dialog);
    });
    auto previous = answerer.onBox;
    answerer.onBox = [&](const ModalAnswerer::Box& box) {
        if (previous)
            previous(box);
        if (dialog)
            QTimer::singleShot(0, dialog.data(), &QWidget::close);
    };
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        if (dialog)
            dialog->close();
    });
    limit.start(limitMs);
    window.findChild<QAction*>(QStringLiteral("actionFirmwareUpdate"))->trigger();
    answerer.onBox = previous;
    answerer.keepOpen = nullptr;
}
