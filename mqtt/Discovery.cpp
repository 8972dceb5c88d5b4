// SPDX-License-Identifier: MIT
#include "mqtt/Discovery.h"

#include "channels/ChannelTable.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace mqtt
{

namespace
{

QString appliance(int channel)
{
    return channels::text(channels::ChannelTable[static_cast<std::size_t>(channel)].initialCaption);
}

QString leafOf(const ScheduleText& t, const char* tail = "")
{
    return QLatin1String(t.leaf) + QLatin1String(tail);
}

} // namespace

Identity identity(const QByteArray& machineId, const QString& board, const QString& host,
                  const QString& nodeId)
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

QString topicOf(const Settings& s, const QString& leaf)
{
    return s.prefix + u'/' + leaf;
}

QString availabilityTopic(const Settings& s)
{
    return topicOf(s, QStringLiteral("availability"));
}

QString boardTopic(const Settings& s)
{
    return topicOf(s, QStringLiteral("board"));
}

QString boardStatusTopic(const Settings& s)
{
    return topicOf(s, QStringLiteral("board/status"));
}

QString allOffTopic(const Settings& s)
{
    return topicOf(s, QStringLiteral("all-off/set"));
}

QString channelTopic(const Settings& s, const QString& channel, const QString& leaf)
{
    return topicOf(s, QStringLiteral("channel/%1/%2").arg(channel, leaf));
}

QString channelTopic(const Settings& s, int channel, const QString& leaf)
{
    return channelTopic(s, QString::number(channel), leaf);
}

QStringList statusTopics(const Settings& s)
{
    // Under the discovery prefix, and Home Assistant's own default, which it
    // uses whatever the discovery prefix.
    QStringList topics{s.discoveryPrefix + QStringLiteral("/status")};
    if (s.discoveryPrefix != QLatin1String("homeassistant"))
        topics << QStringLiteral("homeassistant/status");
    return topics;
}

QStringList commandTopics(const Settings& s)
{
    QStringList topics{channelTopic(s, QStringLiteral("+"), QStringLiteral("set"))};
    for (const ScheduleText& t : ScheduleTexts)
        topics << channelTopic(s, QStringLiteral("+"), leafOf(t, "/set"));
    return topics << allOffTopic(s);
}

QList<Entity> entities(const Settings& s)
{
    // What switches the board is there only while the board answers too.
    const QJsonArray withBoard{
        QJsonObject{{QStringLiteral("topic"), availabilityTopic(s)}},
        QJsonObject{{QStringLiteral("topic"), boardTopic(s)}},
    };
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
                 {QStringLiteral("availability"), withBoard},
                 {QStringLiteral("availability_mode"), QStringLiteral("all")},
             }});
    list.append({QStringLiteral("button"), QStringLiteral("all_off"),
                 QJsonObject{
                     {QStringLiteral("name"), QStringLiteral("All off")},
                     {QStringLiteral("command_topic"), allOffTopic(s)},
                     {QStringLiteral("payload_press"), QStringLiteral("PRESS")},
                     {QStringLiteral("availability"), withBoard},
                     {QStringLiteral("availability_mode"), QStringLiteral("all")},
                 }});
    list.append({QStringLiteral("sensor"), QStringLiteral("board_status"),
                 QJsonObject{
                     {QStringLiteral("name"), QStringLiteral("Board status")},
                     {QStringLiteral("state_topic"), boardStatusTopic(s)},
                     {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
                 }});
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        for (const ScheduleText& t : ScheduleTexts)
            list.append(
                {QStringLiteral("text"),
                 QStringLiteral("ch%1_%2").arg(channel).arg(QLatin1String(t.key)),
                 QJsonObject{
                     {QStringLiteral("name"), appliance(channel) + u' ' + QLatin1String(t.label)},
                     {QStringLiteral("command_topic"), channelTopic(s, channel, leafOf(t, "/set"))},
                     {QStringLiteral("state_topic"), channelTopic(s, channel, leafOf(t))},
                     {QStringLiteral("min"), 0},
                     {QStringLiteral("max"), TextStateLimit},
                     {QStringLiteral("mode"), QStringLiteral("text")},
                     {QStringLiteral("value_template"), QStringLiteral("{{ value_json.value }}")},
                 }});
    return list;
}

QString discoveryTopic(const Settings& s, const QString& node, const Entity& entity)
{
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(s.discoveryPrefix, entity.component, node, entity.objectId);
}

QByteArray discoveryConfig(const Settings& s, const QString& node, const Entity& entity)
{
    QJsonObject config = entity.config;
    config.insert(QStringLiteral("unique_id"), node + u'_' + entity.objectId);
    if (!config.contains(QStringLiteral("availability"))) {
        config.insert(QStringLiteral("availability_topic"), availabilityTopic(s));
        config.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        config.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
    }
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

QByteArray scheduleText(const QString& hour, const QString& minute)
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

QByteArray scheduleState(const QString& hour, const QString& minute)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("value"),
                                      QString::fromUtf8(scheduleText(hour, minute))}})
        .toJson(QJsonDocument::Compact);
}

bool parseScheduleText(const QByteArray& command, QString& hour, QString& minute)
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

QString quoted(const QByteArray& payload)
{
    // C0 and C1 controls would reach the terminal.
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

} // namespace mqtt
