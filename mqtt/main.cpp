// SPDX-License-Identifier: MIT
#include "mqtt/Bridge.h"
#include "mqtt/Settings.h"

#include <mosquitto.h>
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    cli::programName() = "pc-automation-mqtt";
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pc-automation-mqtt"));
    const mqtt::ParsedSettings parsed =
        mqtt::parseSettings(QCoreApplication::arguments(), mqtt::defaultConfigPath());
    if (const int status = cli::finish(parsed.common, PC_AUTOMATION_VERSION); status >= 0)
        return status;

    mosquitto_lib_init();
    int status = 0;
    {
        mqtt::Bridge bridge(parsed.settings);
        if (parsed.settings.removeDiscovery) {
            status = bridge.removeDiscovery();
        } else if (const QString problem = bridge.start(); !problem.isEmpty()) {
            cli::say(problem);
            status = cli::ExitUnavailable;
        } else {
            // Ended by a signal, it says offline itself rather than leave it to the will.
            cli::quitOnSignals();
            status = QCoreApplication::exec();
            bridge.stop();
        }
    }
    mosquitto_lib_cleanup();
    return status;
}
