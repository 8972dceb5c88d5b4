// SPDX-License-Identifier: MIT
#include "mqtt/Bridge.h"

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"
#include "remote/CommandLineCommon.h"
#include "remote/PanelContract.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

namespace mqtt
{

namespace
{

constexpr int Qos = 1;
constexpr int KeepAliveSeconds = 30;
constexpr unsigned ReconnectFirst = 1, ReconnectLongest = 30; // seconds, doubling
constexpr unsigned TakenOverFirst = 60, TakenOverLongest = 600;
constexpr qint64 QuickLossMs = 5000;

constexpr int PanelTimeoutMs = 5000;
// Home Assistant's own limit for a text entity's state.
constexpr int TextStateLimit = 255;
const QString AllOffTopic = QStringLiteral("all-off/set");

struct ScheduleText {
    QString leaf;  // under <prefix>/channel/<n>/
    QString label; // after the appliance's name
    QString key;   // in the entity's id
    automation::Role hour, minute;
};
const ScheduleText ScheduleTexts[] = {
    {QStringLiteral("on-time"), QStringLiteral("ON TIME"), QStringLiteral("on"),
     automation::Role::OnHour, automation::Role::OnMinute},
    {QStringLiteral("off-time"), QStringLiteral("OFF TIME"), QStringLiteral("off"),
     automation::Role::OffHour, automation::Role::OffMinute},
};

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
// channel: a number, or "+" for all; leaf: set, state, on-time ...
QString channelTopic(const Settings& s, const QString& channel, const QString& leaf)
{
    return topicOf(s, QStringLiteral("channel/%1/%2").arg(channel, leaf));
}
QString channelTopic(const Settings& s, int channel, const QString& leaf)
{
    return channelTopic(s, QString::number(channel), leaf);
}

// Where Home Assistant says it has started: under the discovery prefix, and
// its own default, which it uses whatever the discovery prefix.
QStringList statusTopics(const Settings& s)
{
    QStringList topics{s.discoveryPrefix + QStringLiteral("/status")};
    if (s.discoveryPrefix != QLatin1String("homeassistant"))
        topics << QStringLiteral("homeassistant/status");
    return topics;
}

// A payload as a log shows it: one line of printable ASCII, every other byte
// escaped (C0 and C1 controls would reach the terminal), cut.
QString quoted(const QByteArray& payload)
{
    constexpr int Shown = 64;
    QString text;
    for (const char c : payload.left(Shown)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F || u == '"' || u == '\\')
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QChar(u'0'));
        else
            text += QLatin1Char(c);
    }
    return u'"' + text + (payload.size() > Shown ? QStringLiteral("\"...") : QStringLiteral("\""));
}

} // namespace

Bridge::Bridge(Settings settings, QObject* parent)
    : QObject(parent), m_settings(std::move(settings))
{
}

Bridge::~Bridge()
{
    {
        std::lock_guard lock(m_connectorMutex);
        m_stopping = true;
    }
    m_connectorWake.notify_all();
    if (m_connector.joinable())
        m_connector.join();
    if (m_client) {
        mosquitto_loop_stop(m_client, true);
        mosquitto_destroy(m_client);
    }
}

Bridge::Identity Bridge::identity(const QByteArray& machineId, const QString& board,
                                  const QString& host, const QString& nodeId)
{
    QString node = nodeId;
    if (node.isEmpty()) {
        // Two machines share a host name more often than a machine id; two
        // boards of one machine differ in the board.
        const QByteArray seed =
            (machineId.isEmpty() ? host.toUtf8() : machineId) + '\n' + board.toUtf8();
        node = QString::fromLatin1(
            QCryptographicHash::hash(seed, QCryptographicHash::Sha256).toHex().left(12));
    }
    QString readable;
    for (const QChar c : host.left(32))
        readable += c.isLetterOrNumber() && c.unicode() < 0x80 ? c : u'-';
    const QString stem = (readable.isEmpty() ? QString() : readable + u'-') + node;
    return {QStringLiteral("pc_automation_") + node, QStringLiteral("pc-automation-") + stem,
            QStringLiteral("pc-automation/") + stem};
}

void Bridge::becomeKnown(const QString& board)
{
    // In a container the host's machine id may be mounted elsewhere.
    const QString idFile = qEnvironmentVariable("PC_AUTOMATION_MACHINE_ID_FILE");
    QFile file(idFile.isEmpty() ? QStringLiteral("/etc/machine-id") : idFile);
    const QByteArray machine =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    const Identity id = identity(machine, board, QSysInfo::machineHostName(), m_settings.nodeId);
    m_node = id.node;
    if (m_settings.prefix.isEmpty())
        m_settings.prefix = id.prefix;
    // The remover's id is not the running bridge's, which the broker would cut off.
    if (m_settings.clientId.isEmpty())
        m_settings.clientId =
            id.clientId + (m_settings.removeDiscovery ? QStringLiteral("-remove") : QString());
    cli::say(QStringLiteral("this board is %1%2; its topics are under %3")
                 .arg(m_node, board.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(board),
                      m_settings.prefix));
}

QList<Bridge::Entity> Bridge::entities(const Settings& s)
{
    QList<Entity> list;
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        list.append(
            {QStringLiteral("switch"), QStringLiteral("ch%1").arg(channel),
             QJsonObject{
                 {QStringLiteral("name"), appliance(channel)},
                 {QStringLiteral("command_topic"), channelTopic(s, channel, QStringLiteral("set"))},
                 {QStringLiteral("state_topic"), channelTopic(s, channel, QStringLiteral("state"))},
                 {QStringLiteral("payload_on"), QStringLiteral("ON")},
                 {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                 {QStringLiteral("state_on"), QStringLiteral("ON")},
                 {QStringLiteral("state_off"), QStringLiteral("OFF")},
             }});
    list.append({QStringLiteral("button"), QStringLiteral("all_off"),
                 QJsonObject{
                     {QStringLiteral("name"), QStringLiteral("All off")},
                     {QStringLiteral("command_topic"), topicOf(s, AllOffTopic)},
                     {QStringLiteral("payload_press"), QStringLiteral("PRESS")},
                 }});
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        for (const ScheduleText& t : ScheduleTexts)
            list.append({QStringLiteral("text"), QStringLiteral("ch%1_%2").arg(channel).arg(t.key),
                         QJsonObject{
                             {QStringLiteral("name"), appliance(channel) + u' ' + t.label},
                             {QStringLiteral("command_topic"),
                              channelTopic(s, channel, t.leaf + QStringLiteral("/set"))},
                             {QStringLiteral("state_topic"), channelTopic(s, channel, t.leaf)},
                             {QStringLiteral("min"), 0},
                             {QStringLiteral("max"), TextStateLimit},
                             {QStringLiteral("mode"), QStringLiteral("text")},
                         }});
    return list;
}

QString Bridge::discoveryTopic(const Settings& s, const QString& node, const Entity& entity)
{
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(s.discoveryPrefix, entity.component, node, entity.objectId);
}

QByteArray Bridge::discoveryConfig(const Settings& s, const QString& node, const Entity& entity)
{
    QJsonObject config = entity.config;
    config.insert(QStringLiteral("unique_id"), node + u'_' + entity.objectId);
    config.insert(QStringLiteral("availability_topic"), availabilityTopic(s));
    config.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
    config.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
    config.insert(QStringLiteral("qos"), Qos);
    config.insert(
        QStringLiteral("device"),
        QJsonObject{{QStringLiteral("identifiers"), QJsonArray{node}},
                    {QStringLiteral("name"), QStringLiteral("PC自動化控制")},
                    {QStringLiteral("model"), QStringLiteral("Eight-channel output board on LPT1")},
                    {QStringLiteral("sw_version"), QStringLiteral(PC_AUTOMATION_VERSION)}});
    config.insert(
        QStringLiteral("origin"),
        QJsonObject{{QStringLiteral("name"), QStringLiteral("pc-automation-mqtt")},
                    {QStringLiteral("sw_version"), QStringLiteral(PC_AUTOMATION_VERSION)}});
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

QByteArray Bridge::scheduleText(const QString& hour, const QString& minute)
{
    if (hour.isEmpty() && minute.isEmpty())
        return {};
    for (int h = 0; h < 24; ++h)
        if (automation::MatchesDecimal(hour, h))
            for (int m = 0; m < 60; ++m)
                if (automation::MatchesDecimal(minute, m))
                    return QStringLiteral("%1:%2")
                        .arg(h, 2, 10, QChar(u'0'))
                        .arg(m, 2, 10, QChar(u'0'))
                        .toUtf8();
    // As the fields hold it, within what Home Assistant takes for the entity.
    return (hour + u':' + minute).left(TextStateLimit).toUtf8();
}

bool Bridge::parseScheduleText(const QByteArray& command, QString& hour, QString& minute)
{
    if (command.isEmpty()) {
        hour.clear();
        minute.clear();
        return true;
    }
    static const QRegularExpression time(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = time.match(QString::fromLatin1(command));
    if (!m.hasMatch() || m.captured(1).toInt() > 23 || m.captured(2).toInt() > 59)
        return false;
    // As typed: plain numbers, no leading zeros.
    hour = QString::number(m.captured(1).toInt());
    minute = QString::number(m.captured(2).toInt());
    return true;
}

QString Bridge::setUpClient()
{
    m_client = mosquitto_new(m_settings.clientId.toUtf8().constData(), true, this);
    if (!m_client)
        return QStringLiteral("cannot create the MQTT client");
    // Version 5: a broker says why it ends a connection (another client
    // taking over the id, for one).
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small packets go at once: a command's acknowledgement held back for a
    // full segment delays the next command by milliseconds.
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    if (!m_settings.user.isEmpty()) {
        QByteArray password;
        if (!m_settings.passwordFile.isEmpty()) {
            QFile file(m_settings.passwordFile);
            if (!file.open(QIODevice::ReadOnly))
                return QStringLiteral("password file %1: %2")
                    .arg(m_settings.passwordFile, file.errorString());
            password = file.readLine().trimmed();
            if (file.permissions() & (QFile::ReadGroup | QFile::ReadOther))
                cli::say(QStringLiteral("password file %1 can be read by other users; make it "
                                        "yours alone (chmod 600 %1)")
                             .arg(m_settings.passwordFile));
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
    mosquitto_connect_v5_callback_set(m_client, &Bridge::onConnect);
    mosquitto_disconnect_v5_callback_set(m_client, &Bridge::onDisconnect);
    mosquitto_message_callback_set(m_client, &Bridge::onMessage);
    return {};
}

QString Bridge::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no D-Bus session bus (%1)").arg(bus.lastError().message());
    // With a node of its own it can connect at once; else the panel names
    // the board first.
    if (!m_settings.nodeId.isEmpty()) {
        becomeKnown(QString());
        if (QString problem = setUpClient(); !problem.isEmpty())
            return problem;
        connectToBroker();
    }

    m_watcher.setConnection(bus);
    m_watcher.addWatchedService(remote::serviceName());
    m_panel = remote::panelProxy(bus, PanelTimeoutMs);
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &Bridge::panelAppeared);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &Bridge::panelVanished);
    // Matched by path and interface: the panel's unique name changes with
    // every start.
    bus.connect(QString(), remote::objectPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(propertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    bus.connect(QString(), remote::objectPath(), remote::interfaceName(),
                QStringLiteral("FieldChanged"), this,
                SLOT(fieldChanged(int, QString, QDBusMessage)));
    if (bus.interface()->isServiceRegistered(remote::serviceName()))
        panelAppeared();
    else
        cli::say(QStringLiteral("no panel yet; waiting for one%1")
                     .arg(m_node.isEmpty() ? QStringLiteral(" (it names the board, and so this "
                                                            "bridge's topics)")
                                           : QString()));
    return {};
}

void Bridge::connectToBroker()
{
    cli::say(QStringLiteral("connecting to %1:%2").arg(m_settings.host).arg(m_settings.port));
    m_connector = std::thread(&Bridge::connectLoop, this);
}

void Bridge::connectLoop()
{
    // A broker that is not there yet is tried with a growing delay; once
    // connected, the client's own thread does the same after a loss.
    const QByteArray host = m_settings.host.toUtf8();
    unsigned delay = ReconnectFirst;
    for (;;) {
        const int rc =
            mosquitto_connect(m_client, host.constData(), m_settings.port, KeepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            if (mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
                QMetaObject::invokeMethod(this, [this] {
                    connectionProblem(QStringLiteral("cannot start the MQTT client's thread"));
                });
            return;
        }
        const QString why = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                                 : QString::fromLocal8Bit(mosquitto_strerror(rc));
        QMetaObject::invokeMethod(this, [this, why] { connectionProblem(why); });
        std::unique_lock lock(m_connectorMutex);
        if (m_connectorWake.wait_for(lock, std::chrono::seconds(delay),
                                     [this] { return m_stopping; }))
            return;
        delay = std::min(delay * 2, ReconnectLongest);
    }
}

void Bridge::connectionProblem(const QString& problem)
{
    if (problem == m_lastConnectionProblem)
        return;
    m_lastConnectionProblem = problem;
    if (!problem.isEmpty())
        cli::say(QStringLiteral("cannot reach the broker at %1:%2: %3; trying again")
                     .arg(m_settings.host)
                     .arg(m_settings.port)
                     .arg(problem));
}

void Bridge::stop()
{
    if (!m_client)
        return;
    {
        std::lock_guard lock(m_connectorMutex);
        m_stopping = true;
    }
    m_connectorWake.notify_all();
    if (m_connector.joinable())
        m_connector.join();
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
    becomeKnown(board);
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
    const QList<Entity> all = entities(m_settings);
    for (const Entity& entity : all) {
        const QByteArray topic = discoveryTopic(m_settings, m_node, entity).toUtf8();
        mosquitto_publish(m_client, nullptr, topic.constData(), 0, nullptr, Qos, true);
    }
    for (int i = 0; i < 100 && acknowledged < all.size(); ++i) // ten seconds at most
        mosquitto_loop(m_client, 100, 1);
    mosquitto_disconnect(m_client);
    if (acknowledged < all.size()) {
        cli::say(QStringLiteral("the broker did not acknowledge every removal"));
        return cli::ExitFailure;
    }
    cli::say(QStringLiteral("removed the discovery entries of %1").arg(m_node));
    return 0;
}

void Bridge::onConnect(mosquitto* client, void* self, int rc, int, const mosquitto_property*)
{
    auto* bridge = static_cast<Bridge*>(self);
    if (rc == 0) {
        bridge->m_connectedFor.start();
        mosquitto_reconnect_delay_set(client, ReconnectFirst, ReconnectLongest, true);
    }
    QMetaObject::invokeMethod(
        bridge, [bridge, rc] { bridge->connected(rc); }, Qt::QueuedConnection);
}

void Bridge::onDisconnect(mosquitto* client, void* self, int rc, const mosquitto_property*)
{
    // On the client's thread, before it waits to reconnect: the wait is set here.
    auto* bridge = static_cast<Bridge*>(self);
    // A broker cuts off the older of two clients with one id; most brokers
    // let the client see only a lost connection, soon after it was made.
    const bool quick =
        bridge->m_connectedFor.isValid() && bridge->m_connectedFor.elapsed() < QuickLossMs;
    bridge->m_connectedFor.invalidate();
    bridge->m_quickLosses = quick ? bridge->m_quickLosses + 1 : 0;
    const bool takenOver = rc == MQTT_RC_SESSION_TAKEN_OVER || bridge->m_quickLosses >= 2;
    if (takenOver) {
        // Reconnecting at once would cut the other client off in turn.
        bridge->m_quickLosses = 0;
        mosquitto_reconnect_delay_set(client, TakenOverFirst, TakenOverLongest, true);
    }
    QMetaObject::invokeMethod(
        bridge, [bridge, rc, takenOver] { bridge->disconnected(rc, takenOver); },
        Qt::QueuedConnection);
}

void Bridge::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* bridge = static_cast<Bridge*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(
        bridge, [bridge, topic, payload, retained] { bridge->received(topic, payload, retained); },
        Qt::QueuedConnection);
}

void Bridge::connected(int rc)
{
    if (rc != 0) {
        connectionProblem(QStringLiteral("it refused the connection: %1")
                              .arg(QString::fromLocal8Bit(mosquitto_reason_string(rc))));
        return;
    }
    m_connected = true;
    m_lastConnectionProblem.clear();
    cli::say(QStringLiteral("connected to %1:%2%3")
                 .arg(m_settings.host)
                 .arg(m_settings.port)
                 .arg(m_everConnected ? QStringLiteral(" again") : QString()));
    m_everConnected = true;
    const QByteArray commands =
        channelTopic(m_settings, QStringLiteral("+"), QStringLiteral("set")).toUtf8();
    mosquitto_subscribe(m_client, nullptr, commands.constData(), Qos);
    for (const ScheduleText& t : ScheduleTexts)
        mosquitto_subscribe(
            m_client, nullptr,
            channelTopic(m_settings, QStringLiteral("+"), t.leaf + QStringLiteral("/set"))
                .toUtf8()
                .constData(),
            Qos);
    mosquitto_subscribe(m_client, nullptr, topicOf(m_settings, AllOffTopic).toUtf8().constData(),
                        Qos);
    for (const QString& status : statusTopics(m_settings))
        mosquitto_subscribe(m_client, nullptr, status.toUtf8().constData(), Qos);
    publishDiscovery();
    publishAvailability();
    if (m_panelUp)
        publishState(true);
}

void Bridge::disconnected(int rc, bool takenOver)
{
    const bool wasConnected = m_connected;
    m_connected = false;
    if (takenOver) {
        connectionProblem(QStringLiteral("the broker cut the connection off again just after it "
                                         "was made: another client uses the client id %1 and "
                                         "took over (give each bridge its own --client-id); "
                                         "waiting a minute or more between attempts")
                              .arg(m_settings.clientId));
        return;
    }
    const QString why = rc == MOSQ_ERR_KEEPALIVE
                            ? QStringLiteral("no answer within %1 s").arg(KeepAliveSeconds)
                        : rc > MOSQ_ERR_UNKNOWN // a reason code the broker sent
                            ? QString::fromLocal8Bit(mosquitto_reason_string(rc))
                            : QString::fromLocal8Bit(mosquitto_strerror(rc));
    if (wasConnected) {
        cli::say(QStringLiteral("lost the broker (%1); trying again").arg(why));
        m_lastConnectionProblem = why;
    } else {
        connectionProblem(why);
    }
}

void Bridge::complain(const QString& cause, const QString& line)
{
    if (m_complaints.contains(cause))
        return;
    m_complaints.insert(cause);
    cli::say(line + QStringLiteral(" (said once until a command is acted on)"));
}

void Bridge::received(const QString& topic, const QByteArray& payload, bool retained)
{
    if (statusTopics(m_settings).contains(topic)) {
        if (payload == "online") { // Home Assistant started again
            publishDiscovery();
            publishAvailability();
            if (m_panelUp)
                publishState(true);
        }
        return;
    }
    // A retained command would act again at every start and reconnect.
    if (retained) {
        complain(QStringLiteral("retained"),
                 QStringLiteral("ignored the retained %1 on %2: commands act only when sent, "
                                "never retained (clear it: mosquitto_pub -r -n -t TOPIC)")
                     .arg(quoted(payload), topic));
        return;
    }
    if (!m_panelUp) {
        complain(
            QStringLiteral("no panel"),
            QStringLiteral("ignored %1 on %2: no panel is running").arg(quoted(payload), topic));
        return;
    }
    if (topic == topicOf(m_settings, AllOffTopic)) {
        if (payload != "PRESS") {
            complain(QStringLiteral("malformed"),
                     QStringLiteral("ignored %1 on %2: send PRESS").arg(quoted(payload), topic));
            return;
        }
        m_complaints.clear();
        m_panel->AllOff();
        return;
    }
    const QString head = topicOf(m_settings, QStringLiteral("channel/"));
    const QString number = topic.mid(head.size()).section(u'/', 0, 0);
    const QString leaf = topic.mid(head.size()).section(u'/', 1, 1);
    bool ok = false;
    const int channel = number.toInt(&ok);
    const bool known = ok && channel >= 0 && channel < channels::ChannelCount &&
                       number == QString::number(channel);
    for (const ScheduleText& t : ScheduleTexts) {
        if (leaf != t.leaf)
            continue;
        QString hour, minute;
        if (!known || !parseScheduleText(payload, hour, minute)) {
            complain(QStringLiteral("malformed time"),
                     QStringLiteral("ignored %1 on %2: send H:MM or HH:MM (24-hour clock), or "
                                    "nothing to clear the entry")
                         .arg(quoted(payload), topic));
            return;
        }
        m_complaints.clear();
        // As if typed; the panel's FieldChanged brings the new state back.
        m_panel->SetField(automation::fieldOf(channel, t.hour), hour);
        m_panel->SetField(automation::fieldOf(channel, t.minute), minute);
        return;
    }
    if (!known || (payload != "ON" && payload != "OFF" && payload != "TOGGLE")) {
        complain(QStringLiteral("malformed"),
                 QStringLiteral("ignored %1 on %2: send ON, OFF or TOGGLE to channel 0 to 7")
                     .arg(quoted(payload), topic));
        return;
    }
    m_complaints.clear();
    // Sent without waiting: the answer is the panel's PropertiesChanged.
    if (payload == "ON")
        m_panel->SwitchChannelOn(channel);
    else if (payload == "OFF")
        m_panel->SwitchChannelOff(channel);
    else
        m_panel->ToggleChannel(channel);
}

void Bridge::panelAppeared()
{
    m_panelUp = true;
    m_panelOwner = QDBusConnection::sessionBus().interface()->serviceOwner(remote::serviceName());
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
    if (m_node.isEmpty()) {
        becomeKnown(m_panel->board());
        if (const QString problem = setUpClient(); !problem.isEmpty()) {
            cli::say(problem);
            QCoreApplication::exit(cli::ExitUnavailable);
            return;
        }
        connectToBroker();
    }
    publishAvailability();
    publishState(true);
}

void Bridge::panelVanished()
{
    m_panelUp = false;
    cli::say(QStringLiteral("the panel has gone; waiting for it"));
    publishAvailability();
}

void Bridge::propertiesChanged(const QString& interface, const QVariantMap& changed,
                               const QStringList&, const QDBusMessage& message)
{
    // Only the panel speaks for the panel, and only in its own terms.
    if (interface != remote::interfaceName() || !m_panelUp || message.service() != m_panelOwner)
        return;
    const QVariant captions = changed.value(QStringLiteral("Captions"));
    const QVariant output = changed.value(QStringLiteral("OutputState"));
    const QVariant board = changed.value(QStringLiteral("BoardState"));
    if ((captions.isValid() && captions.toStringList().size() != channels::ChannelCount) ||
        (output.isValid() && (output.toInt() < 0 || output.toInt() > 255)) ||
        (board.isValid() && (board.toInt() < -1 || board.toInt() > 255)))
        return;
    if (board.isValid())
        m_board = board.toInt();
    publishState();
}

bool Bridge::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!m_connected)
        return false; // everything is published again on connecting
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(m_client, nullptr, t.constData(), int(payload.size()),
                                     payload.constData(), Qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        complain(QStringLiteral("publish %1").arg(rc),
                 QStringLiteral("cannot publish on %1: %2")
                     .arg(topic, QString::fromLocal8Bit(mosquitto_strerror(rc))));
    return rc == MOSQ_ERR_SUCCESS;
}

void Bridge::publishAvailability()
{
    publish(availabilityTopic(m_settings),
            m_panelUp ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
}

void Bridge::publishState(bool all)
{
    // From what the board holds, never from captions (STOP leaves them);
    // None, which Home Assistant shows as unknown, until the panel knows.
    for (int channel = 0; channel < channels::ChannelCount; ++channel) {
        const QByteArray state = m_board < 0                        ? QByteArrayLiteral("None")
                                 : channels::isOn(m_board, channel) ? QByteArrayLiteral("ON")
                                                                    : QByteArrayLiteral("OFF");
        publishChange(channelTopic(m_settings, channel, QStringLiteral("state")), state, all);
        for (const ScheduleText& t : ScheduleTexts) {
            const auto field = [&](automation::Role role) {
                return m_fields[static_cast<std::size_t>(automation::fieldOf(channel, role))];
            };
            if (m_fieldsKnown)
                publishChange(channelTopic(m_settings, channel, t.leaf),
                              scheduleText(field(t.hour), field(t.minute)), all);
        }
    }
    // The byte itself, as the board holds it (STOP's 0 in OutputState is no
    // write), once it is known.
    if (m_board >= 0)
        publishChange(topicOf(m_settings, QStringLiteral("output")), QByteArray::number(m_board),
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

void Bridge::fieldChanged(int number, const QString& text, const QDBusMessage& message)
{
    if (!m_panelUp || message.service() != m_panelOwner || number < 1 ||
        number > automation::FieldCount)
        return;
    m_fields[static_cast<std::size_t>(number)] = text;
    publishState();
}

void Bridge::publishDiscovery()
{
    for (const Entity& entity : entities(m_settings))
        publish(discoveryTopic(m_settings, m_node, entity),
                discoveryConfig(m_settings, m_node, entity));
}

} // namespace mqtt
