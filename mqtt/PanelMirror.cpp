// SPDX-License-Identifier: MIT
#include "mqtt/PanelMirror.h"

#include "channels/ChannelTable.h"
#include "remote/CommandLineCommon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

namespace mqtt
{

namespace
{

constexpr int RetryReadMs = 2000;

} // namespace

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
    m_up = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_owner = bus.interface()->serviceOwner(remote::serviceName());
    if (m_owner.isEmpty())
        return; // gone again already
    QDBusMessage getAll = QDBusMessage::createMethodCall(m_owner, remote::objectPath(),
                                                         QLatin1String(remote::PropertiesInterface),
                                                         QStringLiteral("GetAll"));
    getAll << remote::interfaceName();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(getAll, PanelTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, read = ++m_reads, owner = m_owner] {
                watcher->deleteLater();
                const QDBusPendingReply<QVariantMap> reply = *watcher;
                if (read != m_reads || owner != m_owner)
                    return; // the panel went or came again meanwhile
                if (reply.isError()) {
                    say(QStringLiteral("the panel did not answer (%1); waiting for it")
                            .arg(reply.error().message()));
                    // It may have taken its name before its object was there:
                    // asked again while it holds the name.
                    QTimer::singleShot(RetryReadMs, this, [this, read, owner] {
                        if (read == m_reads && owner == m_owner && !m_up)
                            panelAppeared();
                    });
                    return;
                }
                if (!take(reply.value()))
                    return;
                m_up = true;
                m_lastProblem.clear();
                cli::say(QStringLiteral("found the panel"));
                emit appeared();
            });
}

bool PanelMirror::take(const QVariantMap& properties)
{
    const QString board = properties.value(QLatin1String(remote::member::Board)).toString();
    if (board.isEmpty()) {
        say(QStringLiteral("what holds %1 names no board, so it is no panel of this program; "
                           "waiting for one")
                .arg(remote::serviceName()));
        return false;
    }
    m_boardName = board;
    const QVariant state = properties.value(QLatin1String(remote::member::BoardState));
    m_board = state.isValid() && state.toInt() >= 0 && state.toInt() <= 255 ? state.toInt() : -1;
    // A panel of an older version says nothing of its board's status.
    m_boardStatus =
        properties.value(QLatin1String(remote::member::BoardStatus), QStringLiteral("ok"))
            .toString();
    const QStringList fields =
        properties.value(QLatin1String(remote::member::Fields)).toStringList();
    m_fieldsKnown = fields.size() == automation::FieldCount;
    for (int n = 1; n <= automation::FieldCount; ++n)
        m_fields[static_cast<std::size_t>(n)] = m_fieldsKnown ? fields[n - 1] : QString();
    return true;
}

void PanelMirror::say(const QString& problem)
{
    if (problem != m_lastProblem)
        cli::say(problem);
    m_lastProblem = problem;
}

void PanelMirror::panelVanished()
{
    m_up = false;
    ++m_reads; // a read or retry on its way is for a panel that has gone
    m_owner.clear();
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
    const QVariant status = properties.value(QLatin1String(remote::member::BoardStatus));
    if (status.isValid())
        m_boardStatus = status.toString();
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
