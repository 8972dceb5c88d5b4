// SPDX-License-Identifier: MIT
// activate-flood: calls the panel's Activate on the session bus without end,
// as fast as it can and without waiting for answers, as a runaway script would.
#include "remote/PanelContract.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 1;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(remote::serviceName(), remote::objectPath(),
                                       remote::interfaceName(), QStringLiteral("Activate"));
    for (;;) {
        for (int i = 0; i < 500; ++i)
            bus.asyncCall(call);
        QCoreApplication::processEvents(); // the answers, dropped
    }
}
