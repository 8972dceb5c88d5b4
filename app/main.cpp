// SPDX-License-Identifier: MIT
#include "automation/PanelModel.h"
#include "channels/PortOutput.h"
#include "fenwix/core/Port.h"
#include "panel/ControlPanel.h"
#include "remote/CommandLine.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"
#include "remote/ScheduleStore.h"

#include <memory>
#include <optional>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMessageBox>
#include <QTimer>

namespace
{

constexpr int ActivateTimeoutMs = 2000;
constexpr int ExitRoundTripMs = 100;

// Whether another panel of this session runs: it is raised instead, and this
// start ends (true). A name held by a program that does not answer as a panel
// ends this start with a message (status set).
bool handedOver(QDBusConnection& bus, const remote::Request& request, int& status)
{
    status = 0;
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(remote::serviceName()))
        return false;
    QDBusPendingReply<> reply = remote::panelProxy(bus, ActivateTimeoutMs)->Activate();
    reply.waitForFinished();
    if (!reply.isError()) {
        // What this start asked for cannot reach a panel that is running.
        QStringList options;
        if (request.keepSchedule)
            options << QStringLiteral("--keep-schedule");
        if (request.resumeBoard)
            options << QStringLiteral("--resume-board");
        if (request.catchUp)
            options << QStringLiteral("--catch-up");
        if (!request.board.isEmpty())
            options << QStringLiteral("--board");
        if (!options.isEmpty()) {
            cli::say(QStringLiteral("a panel already runs in this session and was raised; %1 "
                                    "takes effect only when a panel starts: close that panel and "
                                    "start again with it")
                         .arg(options.join(QStringLiteral(", "))));
            status = cli::ExitFailure;
        }
        return true;
    }
    if (reply.error().name() == remote::closingError())
        return false; // that panel is on its way out: this one takes over
    status = cli::ExitUnavailable;
    cli::say(remote::notAPanel(bus, reply.error()));
    return true;
}

// Takes the panel's name on the session bus, last of all, so nobody can call a
// panel that is not ready. False when remote control is off.
bool claimBus(QDBusConnection& bus)
{
    if (!bus.isConnected()) {
        cli::say(QStringLiteral("no D-Bus session bus (%1); remote control is off")
                     .arg(bus.lastError().message()));
        return false;
    }
    if (bus.registerService(remote::serviceName()))
        return true;
    cli::say(
        QStringLiteral("cannot take the name %1 on the session bus (%2); remote control is off")
            .arg(remote::serviceName(), bus.lastError().message()));
    return false;
}

// Starts the model from the byte the board holds, when the library can say.
void resumeBoard(automation::PanelModel& model, channels::PortOutput& port)
{
    const int held = port.read();
    if (held >= 0)
        model.resumeBoard(held);
    else if (held == channels::PortOutput::ReadUnavailable)
        cli::say(QStringLiteral("the port library %1 cannot read the board back (it has no "
                                "FENWIX_IN_LPT1); starting as always")
                     .arg(port.loadedFrom()));
    else
        cli::say(QStringLiteral("the board's state cannot be read back (nothing written yet, or "
                                "the port cannot be opened); starting as always"));
}

// The board the port library drives, chosen by the same rules: what tells
// two boards (two users, two ports) apart for other programs.
QString boardName()
{
    const fenwix::Config config = fenwix::configFromEnvironment(&std::getenv);
    return config.virtualBoard
               ? QStringLiteral("virtual:") + QString::fromStdString(config.boardPath)
               : QString::fromStdString(config.device);
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const remote::Request request = remote::parseCommandLine(arguments);
    if (const int status = cli::finish(request.common, PC_AUTOMATION_VERSION); status >= 0)
        return status;
    if (!request.command.isEmpty()) {
        QCoreApplication app(argc, argv);
        return remote::runCommand(request);
    }

    if (!cli::displayAvailable())
        return cli::noDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pc-automation"));

    // One panel per session: a second start hands over to the first.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (int status = 0; handedOver(bus, request, status))
        return status;

    // Before the port library is loaded: it reads its board at the first call,
    // and names the option in its advice.
    if (!request.board.isEmpty()) {
        qputenv("FENWIX_LPT1", request.board.toLocal8Bit());
        qputenv("FENWIX_CHOSEN_WITH", "--board");
    }
    channels::PortOutput port;
    port.setFailureHandler([](const QString& report) {
        QMessageBox::critical(nullptr, QStringLiteral("pc-automation"), report);
        channels::PortOutput::reportAndExit(report);
    });

    automation::PanelModel model([&port](std::int16_t value) { port.write(value); });
    model.setBoardWatch([&port]() -> std::optional<automation::PanelModel::BoardReading> {
        QString message;
        const int held = port.status(message);
        if (held == channels::PortOutput::ReadUnavailable)
            return std::nullopt;
        return automation::PanelModel::BoardReading{held, message,
                                                    held == channels::PortOutput::Pending};
    });
    panel::ControlPanel window(model);

    std::unique_ptr<remote::ScheduleStore> store;
    if (request.keepSchedule) {
        store = std::make_unique<remote::ScheduleStore>(request.scheduleFile, model);
        store->load(); // the port is not written: entries act at their minute
        QObject::connect(&app, &QCoreApplication::aboutToQuit, [&store] {
            if (store->savePending())
                store->saveNow();
        });
    }

    remote::PanelBus panelBus(model);
    panelBus.setBoard(boardName());
    // A burst of calls raises the window once, after the calls waiting now.
    QTimer raise;
    raise.setSingleShot(true);
    raise.setInterval(0);
    QObject::connect(&raise, &QTimer::timeout, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    QObject::connect(&panelBus, &remote::PanelBus::activateRequested, &raise, [&raise] {
        if (!raise.isActive())
            raise.start();
    });
    if (bus.isConnected())
        panelBus.exportOn(bus);
    // Exit is final: the process ends after the final 0, whatever arrives;
    // a round trip to the bus first, so watchers hear of the 0 before the
    // panel's name goes. Bounded: under a flood of calls the answer comes
    // only after all of them, and the 0 has gone out long before.
    QObject::connect(&model, &automation::PanelModel::exitRequested, &app, [&bus] {
        if (bus.isConnected())
            bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus.Peer"),
                                                    QStringLiteral("Ping")),
                     QDBus::Block, ExitRoundTripMs);
        QCoreApplication::exit(0); // not quit(): nothing may refuse it
    });
    // Logout and service managers end it with a signal: pending edits are kept.
    cli::quitOnSignals();

    // After the bus object, so programs watching the panel see these too.
    if (request.resumeBoard)
        resumeBoard(model, port);
    if (request.catchUp)
        model.catchUp();
    // Once the library is loaded (resumed), what the board holds and whether
    // it answers, before anyone clicks.
    model.startWatching();
    claimBus(bus);

    window.show();
    return QApplication::exec();
}
