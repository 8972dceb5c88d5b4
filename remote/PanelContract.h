// SPDX-License-Identifier: MIT
#pragma once

// The panel's D-Bus contract: the interface is net.pcautomation.Panel1.xml,
// from which the adaptor and the client proxy (PanelProxy.h) are generated;
// the bus name, the object path and the error names are written here once.
#include "PanelProxy.h"

#include <memory>
#include <QDBusConnection>
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

} // namespace remote
