// SPDX-License-Identifier: MIT
#include "mqtt/Bridge.h"
#include "mqtt/Settings.h"

#include <csignal>
#include <cstdio>
#include <mosquitto.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

} // namespace

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
            // SIGTERM (systemd) and SIGINT end it cleanly: offline is said, not willed.
            if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
                std::signal(SIGTERM, onSignal);
                std::signal(SIGINT, onSignal);
            }
            QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
            status = QCoreApplication::exec();
            bridge.stop();
        }
    }
    mosquitto_lib_cleanup();
    return status;
}
