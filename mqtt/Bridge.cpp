// SPDX-License-Identifier: MIT
#include "mqtt/Bridge.h"

#include "channels/ChannelTable.h"
#include "mqtt/Connection.h"
#include "mqtt/Discovery.h"
#include "remote/CommandLineCommon.h"

#include <mosquitto.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QSysInfo>

namespace mqtt
{

namespace
{

constexpr int RepublishAfterMs = 500;

} // namespace

Bridge::Bridge(Settings settings, QObject* parent)
    : QObject(parent), m_given(settings), m_settings(std::move(settings))
{
    m_republish.setSingleShot(true);
    m_republish.setInterval(RepublishAfterMs);
    connect(&m_republish, &QTimer::timeout, this, [this] {
        if (m_connection && m_connection->isConnected())
            publishEverything();
    });
}

Bridge::~Bridge() = default;

QString Bridge::becomeKnown(const QString& board)
{
    // In a container the host's machine id may be mounted elsewhere.
    const QString idFile = qEnvironmentVariable("PC_AUTOMATION_MACHINE_ID_FILE");
    QFile file(idFile.isEmpty() ? QStringLiteral("/etc/machine-id") : idFile);
    const QByteArray machine =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    const Identity id = identity(machine, board, QSysInfo::machineHostName(), m_settings.nodeId);
    m_node = id.node;
    m_boardName = board;
    if (m_settings.prefix.isEmpty())
        m_settings.prefix = id.prefix;
    // The remover's id is not the running bridge's, which the broker would cut off.
    if (m_settings.clientId.isEmpty())
        m_settings.clientId =
            id.clientId + (m_settings.removeDiscovery ? QStringLiteral("-remove") : QString());
    cli::say(QStringLiteral("this board is %1%2; its topics are under %3, its client id is %4")
                 .arg(m_node, board.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(board),
                      m_settings.prefix, m_settings.clientId));
    m_connection = std::make_unique<Connection>(m_settings, availabilityTopic(m_settings));
    connect(m_connection.get(), &Connection::connected, this, &Bridge::connected);
    connect(m_connection.get(), &Connection::message, this, &Bridge::received);
    return m_connection->setUp();
}

QString Bridge::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no D-Bus session bus (%1)").arg(bus.lastError().message());
    // With a node of its own it can connect at once; else the panel names
    // the board first.
    if (!m_settings.nodeId.isEmpty()) {
        if (QString problem = becomeKnown(QString()); !problem.isEmpty())
            return problem;
        m_connection->keepConnected();
    }
    connect(&m_mirror, &PanelMirror::appeared, this, &Bridge::panelAppeared);
    connect(&m_mirror, &PanelMirror::vanished, this, &Bridge::publishAvailability);
    connect(&m_mirror, &PanelMirror::changed, this, [this] {
        m_router.boardIs(m_mirror.board());
        publishState();
    });
    if (!m_mirror.follow())
        cli::say(QStringLiteral("no panel yet; waiting for one%1")
                     .arg(m_node.isEmpty() ? QStringLiteral(" (it names the board, and so this "
                                                            "bridge's topics)")
                                           : QString()));
    return {};
}

void Bridge::stop()
{
    if (m_connection)
        m_connection->close(QByteArrayLiteral("offline"));
}

int Bridge::removeDiscovery()
{
    QString board;
    if (m_settings.nodeId.isEmpty()) {
        const auto panel = remote::panelProxy(QDBusConnection::sessionBus(), PanelTimeoutMs);
        board = panel->board();
        if (panel->lastError().isValid()) {
            cli::say(QStringLiteral("no panel answers to name the board (%1); start it, or give "
                                    "--node-id")
                         .arg(panel->lastError().message()));
            return cli::ExitUnavailable;
        }
    }
    if (QString problem = becomeKnown(board); !problem.isEmpty()) {
        cli::say(problem);
        return cli::ExitFailure;
    }
    if (!m_connection->connectOnce())
        return cli::ExitUnavailable;
    QList<QPair<QByteArray, QByteArray>> removals;
    for (const Entity& entity : entities(m_settings))
        removals.append({discoveryTopic(m_settings, m_node, entity).toUtf8(), QByteArray()});
    const bool acknowledged = m_connection->publishAndWait(removals);
    m_connection->close({});
    if (!acknowledged) {
        cli::say(QStringLiteral("the broker did not acknowledge every removal"));
        return cli::ExitFailure;
    }
    cli::say(QStringLiteral("removed the discovery entries of %1").arg(m_node));
    return 0;
}

void Bridge::connected()
{
    m_connection->subscribe(commandTopics(m_settings) + statusTopics(m_settings));
    publishEverything();
}

void Bridge::publishEverything()
{
    publishDiscovery();
    publishAvailability();
    if (m_mirror.isUp())
        publishState(true);
}

void Bridge::received(const QString& topic, const QByteArray& payload, bool retained)
{
    if (statusTopics(m_settings).contains(topic)) {
        if (payload == "online" && !m_republish.isActive()) // Home Assistant started again
            m_republish.start();
        return;
    }
    m_router.route(topic, payload, retained);
}

void Bridge::panelAppeared()
{
    if (!m_node.isEmpty() && m_given.nodeId.isEmpty() && m_mirror.boardName() != m_boardName)
        switchBoard();
    if (m_node.isEmpty()) {
        if (const QString problem = becomeKnown(m_mirror.boardName()); !problem.isEmpty()) {
            cli::say(problem);
            QCoreApplication::exit(cli::ExitUnavailable);
            return;
        }
        m_connection->keepConnected();
    }
    publishAvailability();
    publishState(true);
}

void Bridge::switchBoard()
{
    cli::say(QStringLiteral("the panel now drives %1, not %2: the entries of %3 are removed")
                 .arg(m_mirror.boardName(), m_boardName, m_node));
    QList<QPair<QByteArray, QByteArray>> removals;
    for (const Entity& entity : entities(m_settings))
        removals.append({discoveryTopic(m_settings, m_node, entity).toUtf8(), QByteArray()});
    if (m_connection->isConnected() && !m_connection->publishAndWait(removals))
        cli::say(QStringLiteral("the broker did not acknowledge every removal"));
    m_connection->close(QByteArrayLiteral("offline"));
    m_connection.reset();
    m_settings = m_given;
    m_node.clear();
    m_published.clear();
}

bool Bridge::publish(const QString& topic, const QByteArray& payload)
{
    if (!m_connection || !m_connection->isConnected())
        return false; // everything is published again on connecting
    const int rc = m_connection->publish(topic, payload, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString problem = QString::fromLocal8Bit(mosquitto_strerror(rc));
        if (problem != m_publishProblem)
            cli::say(QStringLiteral("cannot publish on %1: %2").arg(topic, problem));
        m_publishProblem = problem;
    }
    return rc == MOSQ_ERR_SUCCESS;
}

void Bridge::publishAvailability()
{
    publish(availabilityTopic(m_settings),
            m_mirror.isUp() ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
}

void Bridge::publishState(bool all)
{
    // From what the board holds, never from captions (STOP leaves them);
    // None, which Home Assistant shows as unknown, until the panel knows.
    const int board = m_mirror.board();
    for (int channel = 0; channel < channels::ChannelCount; ++channel) {
        const QByteArray state = board < 0                        ? QByteArrayLiteral("None")
                                 : channels::isOn(board, channel) ? QByteArrayLiteral("ON")
                                                                  : QByteArrayLiteral("OFF");
        publishChange(channelTopic(m_settings, channel, QStringLiteral("state")), state, all);
        if (!m_mirror.fieldsKnown())
            continue;
        for (const ScheduleText& t : ScheduleTexts)
            publishChange(channelTopic(m_settings, channel, QLatin1String(t.leaf)),
                          scheduleState(m_mirror.field(automation::fieldOf(channel, t.hour)),
                                        m_mirror.field(automation::fieldOf(channel, t.minute))),
                          all);
    }
    // The switches are available only while the board answers.
    const QString status = m_mirror.boardStatus();
    publishChange(boardTopic(m_settings),
                  status == QLatin1String("ok") ? QByteArrayLiteral("online")
                                                : QByteArrayLiteral("offline"),
                  all);
    publishChange(boardStatusTopic(m_settings), status.left(TextStateLimit).toUtf8(), all);
    // The byte itself, as the board holds it (STOP's 0 in OutputState is no
    // write), once it is known.
    if (board >= 0)
        publishChange(topicOf(m_settings, QStringLiteral("output")), QByteArray::number(board),
                      all);
}

void Bridge::publishChange(const QString& topic, const QByteArray& payload, bool always)
{
    const auto it = m_published.constFind(topic);
    if (!always && it != m_published.constEnd() && *it == payload)
        return;
    if (publish(topic, payload))
        m_published.insert(topic, payload);
}

void Bridge::publishDiscovery()
{
    for (const Entity& entity : entities(m_settings))
        publish(discoveryTopic(m_settings, m_node, entity),
                discoveryConfig(m_settings, m_node, entity));
}

} // namespace mqtt
