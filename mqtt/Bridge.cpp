// SPDX-License-Identifier: MIT
#include "mqtt/Bridge.h"

#include "channels/ChannelTable.h"
#include "remote/CommandLineCommon.h"
#include "remote/PanelContract.h"

#include <cstdio>
#include <mosquitto.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

namespace mqtt
{

namespace
{

constexpr int Qos = 1;
constexpr int KeepAliveSeconds = 30;
constexpr unsigned ReconnectFirst = 1, ReconnectLongest = 30; // seconds, doubling

constexpr int PanelTimeoutMs = 5000;

QString appliance(int channel)
{
    return channels::text(channels::ChannelTable[static_cast<std::size_t>(channel)].initialCaption);
}

// The bridge's topics, all under the prefix.
QString topicOf(const Settings& s, const QString& leaf)
{
    return s.prefix + u'/' + leaf;
}
QString availabilityTopic(const Settings& s)
{
    return topicOf(s, QStringLiteral("availability"));
}
// channel: a number, or "+" for all; leaf: set or state.
QString channelTopic(const Settings& s, const QString& channel, const QString& leaf)
{
    return topicOf(s, QStringLiteral("channel/%1/%2").arg(channel, leaf));
}
QString channelTopic(const Settings& s, int channel, const QString& leaf)
{
    return channelTopic(s, QString::number(channel), leaf);
}

// Where Home Assistant says it has started.
QString homeAssistantStatusTopic(const Settings& s)
{
    return s.discoveryPrefix + QStringLiteral("/status");
}

bool isOn(int channel, const QString& caption)
{
    return channels::StateOfCaption(channel, caption) == channels::ChannelState::On;
}

} // namespace

Bridge::Bridge(Settings settings, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_node(nodeId())
{
}

Bridge::~Bridge()
{
    if (m_client) {
        mosquitto_loop_stop(m_client, true);
        mosquitto_destroy(m_client);
    }
}

QString Bridge::nodeId()
{
    // The machine's id where there is one, else its name; and the board.
    QFile file(QStringLiteral("/etc/machine-id"));
    QByteArray machine = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    if (machine.isEmpty())
        machine = QSysInfo::machineHostName().toUtf8();
    const QByteArray hash = QCryptographicHash::hash(machine, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("pc_automation_%1_lpt1").arg(QString::fromLatin1(hash.left(12)));
}

QString Bridge::discoveryTopic(const Settings& settings, const QString& node, int channel)
{
    return QStringLiteral("%1/switch/%2/ch%3/config")
        .arg(settings.discoveryPrefix, node)
        .arg(channel);
}

QByteArray Bridge::discoveryConfig(const Settings& s, const QString& node, int channel)
{
    const QJsonObject config{
        {QStringLiteral("name"), appliance(channel)},
        {QStringLiteral("unique_id"), QStringLiteral("%1_ch%2").arg(node).arg(channel)},
        {QStringLiteral("command_topic"), channelTopic(s, channel, QStringLiteral("set"))},
        {QStringLiteral("state_topic"), channelTopic(s, channel, QStringLiteral("state"))},
        {QStringLiteral("payload_on"), QStringLiteral("ON")},
        {QStringLiteral("payload_off"), QStringLiteral("OFF")},
        {QStringLiteral("state_on"), QStringLiteral("ON")},
        {QStringLiteral("state_off"), QStringLiteral("OFF")},
        {QStringLiteral("availability_topic"), availabilityTopic(s)},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        {QStringLiteral("qos"), Qos},
        {QStringLiteral("device"),
         QJsonObject{
             {QStringLiteral("identifiers"), QJsonArray{node}},
             {QStringLiteral("name"), QStringLiteral("PC自動化控制")},
             {QStringLiteral("model"), QStringLiteral("Eight-channel output board on LPT1")},
             {QStringLiteral("sw_version"), QStringLiteral(PC_AUTOMATION_VERSION)}}},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("pc-automation-mqtt")},
                     {QStringLiteral("sw_version"), QStringLiteral(PC_AUTOMATION_VERSION)}}},
    };
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

QString Bridge::setUpClient()
{
    m_client = mosquitto_new(m_settings.clientId.toUtf8().constData(), true, this);
    if (!m_client)
        return QStringLiteral("cannot create the MQTT client");
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!m_settings.user.isEmpty()) {
        QByteArray password;
        if (!m_settings.passwordFile.isEmpty()) {
            QFile file(m_settings.passwordFile);
            if (!file.open(QIODevice::ReadOnly))
                return QStringLiteral("password file %1: %2")
                    .arg(m_settings.passwordFile, file.errorString());
            password = file.readLine().trimmed();
        }
        mosquitto_username_pw_set(m_client, m_settings.user.toUtf8().constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_settings.caFile.isEmpty() &&
        mosquitto_tls_set(m_client, m_settings.caFile.toUtf8().constData(), nullptr, nullptr,
                          nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("CA file %1 cannot be used").arg(m_settings.caFile);
    // Said for us by the broker when we vanish without a word.
    const QByteArray availability = availabilityTopic(m_settings).toUtf8();
    mosquitto_will_set(m_client, availability.constData(), 7, "offline", Qos, true);
    mosquitto_reconnect_delay_set(m_client, ReconnectFirst, ReconnectLongest, true);
    mosquitto_connect_callback_set(m_client, &Bridge::onConnect);
    mosquitto_disconnect_callback_set(m_client, &Bridge::onDisconnect);
    mosquitto_message_callback_set(m_client, &Bridge::onMessage);
    return {};
}

QString Bridge::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no D-Bus session bus (%1)").arg(bus.lastError().message());
    if (QString problem = setUpClient(); !problem.isEmpty())
        return problem;

    m_watcher.setConnection(bus);
    m_watcher.addWatchedService(remote::serviceName());
    m_panel = remote::panelProxy(bus, PanelTimeoutMs);
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &Bridge::panelAppeared);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &Bridge::panelVanished);
    // Matched by path and interface: the panel's unique name changes with
    // every start.
    bus.connect(QString(), remote::objectPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    if (bus.interface()->isServiceRegistered(remote::serviceName()))
        panelAppeared();
    else
        cli::say(QStringLiteral("no panel yet; waiting for one"));

    cli::say(QStringLiteral("connecting to %1:%2").arg(m_settings.host).arg(m_settings.port));
    // A broker that is not there yet is tried again by the client's thread,
    // with a growing delay; so is one that goes away.
    mosquitto_connect_async(m_client, m_settings.host.toUtf8().constData(), m_settings.port,
                            KeepAliveSeconds);
    if (mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("cannot start the MQTT client's thread");
    return {};
}

void Bridge::stop()
{
    if (!m_client)
        return;
    if (m_connected) {
        const QByteArray topic = availabilityTopic(m_settings).toUtf8();
        int mid = 0;
        mosquitto_publish(m_client, &mid, topic.constData(), 7, "offline", Qos, true);
    }
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
}

int Bridge::removeDiscovery()
{
    if (QString problem = setUpClient(); !problem.isEmpty()) {
        cli::say(problem);
        return cli::ExitFailure;
    }
    const int rc = mosquitto_connect(m_client, m_settings.host.toUtf8().constData(),
                                     m_settings.port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        cli::say(QStringLiteral("cannot connect to %1:%2: %3")
                     .arg(m_settings.host)
                     .arg(m_settings.port)
                     .arg(QString::fromLocal8Bit(mosquitto_strerror(rc))));
        return cli::ExitUnavailable;
    }
    // Acknowledged by the broker, each; this thread runs the client here.
    static int acknowledged;
    acknowledged = 0;
    mosquitto_publish_callback_set(m_client, [](mosquitto*, void*, int) { ++acknowledged; });
    for (int channel = 0; channel < channels::ChannelCount; ++channel) {
        const QByteArray topic = discoveryTopic(m_settings, m_node, channel).toUtf8();
        mosquitto_publish(m_client, nullptr, topic.constData(), 0, nullptr, Qos, true);
    }
    for (int i = 0; i < 100 && acknowledged < channels::ChannelCount; ++i) // ten seconds at most
        mosquitto_loop(m_client, 100, 1);
    mosquitto_disconnect(m_client);
    if (acknowledged < channels::ChannelCount) {
        cli::say(QStringLiteral("the broker did not acknowledge every removal"));
        return cli::ExitFailure;
    }
    cli::say(QStringLiteral("removed the discovery entries of %1").arg(m_node));
    return 0;
}

void Bridge::onConnect(mosquitto*, void* self, int rc)
{
    auto* bridge = static_cast<Bridge*>(self);
    QMetaObject::invokeMethod(
        bridge, [bridge, rc] { bridge->connected(rc); }, Qt::QueuedConnection);
}

void Bridge::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* bridge = static_cast<Bridge*>(self);
    QMetaObject::invokeMethod(
        bridge, [bridge, rc] { bridge->disconnected(rc); }, Qt::QueuedConnection);
}

void Bridge::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* bridge = static_cast<Bridge*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(
        bridge, [bridge, topic, payload] { bridge->received(topic, payload); },
        Qt::QueuedConnection);
}

void Bridge::connected(int rc)
{
    if (rc != 0) {
        cli::say(QStringLiteral("the broker refused the connection: %1")
                     .arg(QString::fromLocal8Bit(mosquitto_connack_string(rc))));
        return;
    }
    m_connected = true;
    cli::say(QStringLiteral("connected to %1:%2%3")
                 .arg(m_settings.host)
                 .arg(m_settings.port)
                 .arg(m_everConnected ? QStringLiteral(" again") : QString()));
    m_everConnected = true;
    const QByteArray commands =
        channelTopic(m_settings, QStringLiteral("+"), QStringLiteral("set")).toUtf8();
    const QByteArray status = homeAssistantStatusTopic(m_settings).toUtf8();
    mosquitto_subscribe(m_client, nullptr, commands.constData(), Qos);
    mosquitto_subscribe(m_client, nullptr, status.constData(), Qos);
    publishDiscovery();
    publishAvailability();
    if (m_panelUp)
        publishState({});
}

void Bridge::disconnected(int rc)
{
    if (!m_connected)
        return;
    m_connected = false;
    cli::say(QStringLiteral("lost the broker (%1); trying again")
                 .arg(QString::fromLocal8Bit(mosquitto_strerror(rc))));
}

void Bridge::received(const QString& topic, const QByteArray& payload)
{
    if (topic == homeAssistantStatusTopic(m_settings)) {
        if (payload == "online") { // Home Assistant started again
            publishDiscovery();
            publishAvailability();
            if (m_panelUp)
                publishState({});
        }
        return;
    }
    const QString head = topicOf(m_settings, QStringLiteral("channel/"));
    const QString number = topic.mid(head.size()).section(u'/', 0, 0);
    bool ok = false;
    const int channel = number.toInt(&ok);
    static const QMap<QByteArray, QString> Methods{{"ON", QStringLiteral("SwitchChannelOn")},
                                                   {"OFF", QStringLiteral("SwitchChannelOff")},
                                                   {"TOGGLE", QStringLiteral("ToggleChannel")}};
    const QByteArray command = payload.trimmed().toUpper();
    const QString method = Methods.value(command);
    if (!ok || channel < 0 || channel >= channels::ChannelCount || method.isEmpty()) {
        cli::say(QStringLiteral("ignored \"%1\" on %2: send ON, OFF or TOGGLE to channel 0 to 7")
                     .arg(QString::fromUtf8(payload.left(64)), topic));
        return;
    }
    if (!m_panelUp) {
        cli::say(QStringLiteral("ignored %1 on %2: no panel is running").arg(method, topic));
        return;
    }
    // Sent without waiting: the answer is the panel's PropertiesChanged.
    if (command == "ON")
        m_panel->SwitchChannelOn(channel);
    else if (command == "OFF")
        m_panel->SwitchChannelOff(channel);
    else
        m_panel->ToggleChannel(channel);
}

void Bridge::panelAppeared()
{
    m_panelUp = true;
    m_captions = m_panel->captions();
    m_output = m_panel->outputState();
    cli::say(QStringLiteral("found the panel"));
    publishAvailability();
    publishState({});
}

void Bridge::panelVanished()
{
    m_panelUp = false;
    cli::say(QStringLiteral("the panel has gone; waiting for it"));
    publishAvailability();
}

void Bridge::propertiesChanged(const QString& interface, const QVariantMap& changed,
                               const QStringList&)
{
    if (interface != remote::interfaceName())
        return;
    const QStringList before = m_captions;
    if (changed.contains(QStringLiteral("Captions")))
        m_captions = changed.value(QStringLiteral("Captions")).toStringList();
    if (changed.contains(QStringLiteral("OutputState")))
        m_output = changed.value(QStringLiteral("OutputState")).toInt();
    publishState(before);
}

void Bridge::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!m_connected)
        return; // everything is published again on connecting
    const QByteArray t = topic.toUtf8();
    mosquitto_publish(m_client, nullptr, t.constData(), int(payload.size()), payload.constData(),
                      Qos, retain);
}

void Bridge::publishAvailability()
{
    publish(availabilityTopic(m_settings),
            m_panelUp ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
}

void Bridge::publishState(const QStringList& before)
{
    // Each channel whose shown state changed (all, when before is empty).
    for (int channel = 0; channel < m_captions.size() && channel < channels::ChannelCount;
         ++channel) {
        const bool on = isOn(channel, m_captions[channel]);
        if (!before.isEmpty() && channel < before.size() && isOn(channel, before[channel]) == on)
            continue;
        publish(channelTopic(m_settings, channel, QStringLiteral("state")),
                on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF"));
    }
    if (m_output >= 0)
        publish(topicOf(m_settings, QStringLiteral("output")), QByteArray::number(m_output));
}

void Bridge::publishDiscovery()
{
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        publish(discoveryTopic(m_settings, m_node, channel),
                discoveryConfig(m_settings, m_node, channel));
}

} // namespace mqtt
