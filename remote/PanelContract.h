// SPDX-License-Identifier: MIT
#pragma once

// The panel's D-Bus contract: the interface is net.pcautomation.Panel1.xml,
// from which the adaptor and the client proxy (PanelProxy.h) are generated;
// the bus name, the object path, the error names and the member names that
// hand-written code spells out are written here once.
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
// The interface's members, as the XML names them, for the places the
// generated code does not cover (PropertiesChanged, messages).
namespace member
{
inline constexpr const char* OutputState = "OutputState";
inline constexpr const char* BoardState = "BoardState";
inline constexpr const char* BoardStatus = "BoardStatus";
inline constexpr const char* Captions = "Captions";
inline constexpr const char* Fields = "Fields";
inline constexpr const char* Board = "Board";
inline constexpr const char* ToggleChannel = "ToggleChannel";
inline constexpr const char* SwitchChannelOn = "SwitchChannelOn";
inline constexpr const char* SwitchChannelOff = "SwitchChannelOff";
inline constexpr const char* AllOff = "AllOff";
inline constexpr const char* FieldChanged = "FieldChanged";
} // namespace member

// The standard interface whose PropertiesChanged announces the properties.
inline constexpr const char* PropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* PropertiesChanged = "PropertiesChanged";

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
