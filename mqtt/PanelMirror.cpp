// SPDX-License-Identifier: MIT
#include "mqtt/PanelMirror.h"

#include "channels/ChannelTable.h"
#include "remote/CommandLineCommon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace mqtt
{

PanelMirror::PanelMirror(QObject* parent) : QObject(parent) {}

bool PanelMirror::follow()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_watcher.setConnection(bus);
    m_watcher.addWatchedService(remote::serviceName());
    m_panel = remote::panelProxy(bus, PanelTimeoutMs);
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &PanelMirror::panelAppeared);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &PanelMirror::panelVanished);
    // The proxy's signals come from whoever holds the panel's name.
    connect(m_panel.get(), &remote::PanelProxy::FieldChanged, this, &PanelMirror::fieldChanged);
    // Matched by path and interface (the panel's unique name changes with
    // every start) and checked against the name's holder on arrival.
    bus.connect(QString(), remote::objectPath(), QLatin1String(remote::PropertiesInterface),
                QLatin1String(remote::PropertiesChanged), this,
                SLOT(propertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    if (!bus.interface()->isServiceRegistered(remote::serviceName()))
        return false;
    panelAppeared();
    return true;
}

QString PanelMirror::field(int number) const
{
    if (number < 1 || number > automation::FieldCount)
        return {};
    return m_fields[static_cast<std::size_t>(number)];
}

void PanelMirror::panelAppeared()
{
    m_up = true;
    m_owner = QDBusConnection::sessionBus().interface()->serviceOwner(remote::serviceName());
    m_board = m_panel->boardState();
    if (m_panel->lastError().isValid())
        m_board = -1; // a panel too old to say: not known
    m_fieldsKnown = true;
    for (int n = 1; n <= automation::FieldCount && m_fieldsKnown; ++n) {
        QDBusPendingReply<QString> text = m_panel->Field(n);
        text.waitForFinished();
        m_fieldsKnown = !text.isError();
        m_fields[static_cast<std::size_t>(n)] = text.value();
    }
    cli::say(QStringLiteral("found the panel"));
    emit appeared(m_panel->board());
}

void PanelMirror::panelVanished()
{
    m_up = false;
    cli::say(QStringLiteral("the panel has gone; waiting for it"));
    emit vanished();
}

void PanelMirror::propertiesChanged(const QString& interface, const QVariantMap& properties,
                                    const QStringList&, const QDBusMessage& message)
{
    // Only the panel speaks for the panel, and only in its own terms.
    if (interface != remote::interfaceName() || !m_up || message.service() != m_owner)
        return;
    const QVariant captions = properties.value(QLatin1String(remote::member::Captions));
    const QVariant output = properties.value(QLatin1String(remote::member::OutputState));
    const QVariant board = properties.value(QLatin1String(remote::member::BoardState));
    if ((captions.isValid() && captions.toStringList().size() != channels::ChannelCount) ||
        (output.isValid() && (output.toInt() < 0 || output.toInt() > 255)) ||
        (board.isValid() && (board.toInt() < -1 || board.toInt() > 255)))
        return;
    if (board.isValid())
        m_board = board.toInt();
    emit changed();
}

void PanelMirror::fieldChanged(int number, const QString& text)
{
    if (!m_up || number < 1 || number > automation::FieldCount)
        return;
    m_fields[static_cast<std::size_t>(number)] = text;
    emit changed();
}

} // namespace mqtt
