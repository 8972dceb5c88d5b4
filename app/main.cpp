// SPDX-License-Identifier: MIT
#include "automation/PanelModel.h"
#include "channels/PortOutput.h"
#include "panel/ControlPanel.h"
#include "remote/CommandLine.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"
#include "remote/ScheduleStore.h"

#include <memory>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMessageBox>

namespace
{

// Takes the panel's name on the session bus. Returns false when another panel
// of this session has it: that one is raised instead.
bool claimBus(QDBusConnection& bus, bool& remoteOn)
{
    remoteOn = false;
    if (!bus.isConnected()) {
        cli::say(QStringLiteral("no D-Bus session bus (%1); remote control is off")
                     .arg(bus.lastError().message()));
        return true;
    }
    if (bus.registerService(remote::serviceName())) {
        remoteOn = true;
        return true;
    }
    if (bus.interface()->isServiceRegistered(remote::serviceName())) {
        remote::panelProxy(bus, 5000)->Activate().waitForFinished();
        return false;
    }
    cli::say(
        QStringLiteral("cannot take the name %1 on the session bus (%2); remote control is off")
            .arg(remote::serviceName(), bus.lastError().message()));
    return true;
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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pc-automation"));

    // One panel per session: a second start hands over to the first.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bool remoteOn = false;
    if (!claimBus(bus, remoteOn))
        return 0;

    channels::PortOutput port;
    port.setFailureHandler([](const QString& report) {
        QMessageBox::critical(nullptr, QStringLiteral("pc-automation"), report);
        channels::PortOutput::reportAndExit(report);
    });

    automation::PanelModel model([&port](std::int16_t value) { port.write(value); });
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
    QObject::connect(&panelBus, &remote::PanelBus::activateRequested, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    if (remoteOn)
        panelBus.exportOn(bus);
    // After the bus object, so programs watching the panel see these too.
    if (request.resumeBoard)
        resumeBoard(model, port);
    if (request.catchUp)
        model.catchUp();

    window.show();
    return QApplication::exec();
}
