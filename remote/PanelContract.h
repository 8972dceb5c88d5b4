// SPDX-License-Identifier: MIT
#pragma once

// The panel's D-Bus contract: the interface is net.pcautomation.Panel1.xml,
// from which the adaptor and the client proxy (PanelProxy.h) are generated;
// the bus name, the object path and the error names are written here once.
#include "PanelProxy.h"

#include <memory>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QString>

namespace remote
{

using PanelProxy = ::NetPcautomationPanel1Interface;

inline constexpr const char* ServiceName = "net.pcautomation.Panel";
inline constexpr const char* ObjectPath = "/net/pcautomation/Panel";

inline QString serviceName()
{
    return QString::fromLatin1(ServiceName);
}
inline QString objectPath()
{
    return QString::fromLatin1(ObjectPath);
}
inline QString interfaceName()
{
    return QString::fromLatin1(PanelProxy::staticInterfaceName());
}
// Returned to every call that arrives once exit has begun.
inline QString closingError()
{
    return interfaceName() + QStringLiteral(".Error.Closing");
}

// The running panel as seen from another program; calls wait at most
// timeoutMs for an answer.
inline std::unique_ptr<PanelProxy> panelProxy(const QDBusConnection& bus, int timeoutMs)
{
    auto proxy = std::make_unique<PanelProxy>(serviceName(), objectPath(), bus);
    proxy->setTimeout(timeoutMs);
    return proxy;
}

// Whether error means that whatever holds the panel's name is no panel (it
// lacks the object or interface, or does not answer in time).
inline bool isNotAPanel(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownProperty:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return true;
    default:
        return false;
    }
}

// Says who holds the panel's name when it does not answer as a panel.
inline QString notAPanel(const QDBusConnection& bus, const QDBusError& error)
{
    const QDBusReply<uint> pid = bus.interface()->servicePid(serviceName());
    return QStringLiteral("the name %1 on the session bus is held by %2, which does not answer as "
                          "a panel (%3); end that program and try again")
        .arg(serviceName(),
             pid.isValid() ? QStringLiteral("process %1").arg(pid.value())
                           : QStringLiteral("another program"),
             error.message());
}

} // namespace remote
