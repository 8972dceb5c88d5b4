// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"

#include "automation/Scheduler.h"

#include <array>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What the bridge is to a broker and to Home Assistant, without a broker:
// its identity, its topics, the discovery entries and the schedule texts.
namespace mqtt
{

inline constexpr int Qos = 1;
// Home Assistant's own limit for a text entity's state.
inline constexpr int TextStateLimit = 255;

// Who this bridge is, stable per machine and board: the board's node (nodeId,
// or a hash of the machine's id and the board the panel drives) names the
// client, the default topics and Home Assistant's ids, with the host name
// only as a readable part.
struct Identity {
    QString node;     // Home Assistant's node id and the stem of unique ids
    QString clientId; // unless set
    QString prefix;   // unless set
};
Identity identity(const QByteArray& machineId, const QString& board, const QString& host,
                  const QString& nodeId);

// The bridge's topics, all under the prefix.
QString topicOf(const Settings& s, const QString& leaf);
QString availabilityTopic(const Settings& s);
// Whether the board answers and holds what was written ("online", "offline"),
// and what the panel says of it.
QString boardTopic(const Settings& s);
QString boardStatusTopic(const Settings& s);
QString allOffTopic(const Settings& s);
// channel: a number, or "+" for all; leaf: set, state, on-time ...
QString channelTopic(const Settings& s, const QString& channel, const QString& leaf);
QString channelTopic(const Settings& s, int channel, const QString& leaf);
// Where Home Assistant says it has started.
QStringList statusTopics(const Settings& s);
// Every topic the bridge takes commands on.
QStringList commandTopics(const Settings& s);

// A channel's ON TIME or OFF TIME as one text entity.
struct ScheduleText {
    const char* leaf;  // under <prefix>/channel/<n>/
    const char* label; // after the appliance's name
    const char* key;   // in the entity's id
    automation::Role hour, minute;
};
inline constexpr std::array<ScheduleText, 2> ScheduleTexts{{
    {"on-time", "ON TIME", "on", automation::Role::OnHour, automation::Role::OnMinute},
    {"off-time", "OFF TIME", "off", automation::Role::OffHour, automation::Role::OffMinute},
}};

// One thing of the board's in Home Assistant: eight switches and an "all off"
// button (available while the bridge and the board are), each channel's ON
// TIME and OFF TIME as text, and the board's status as a diagnostic sensor.
struct Entity {
    QString component;  // switch, button, text
    QString objectId;   // ch3, all_off, ch3_on ...
    QJsonObject config; // what is its own; the rest is common
};
QList<Entity> entities(const Settings& settings);
QByteArray discoveryConfig(const Settings& settings, const QString& node, const Entity& entity);
QString discoveryTopic(const Settings& settings, const QString& node, const Entity& entity);

// A schedule entry as a text entity shows it: HH:MM for a time the scheduler
// would match, the fields' texts joined by : otherwise, empty when both are.
QByteArray scheduleText(const QString& hour, const QString& minute);
// The retained state of a text entity: scheduleText in JSON, so that an
// empty entry is a payload too (an empty one would clear the retained state).
QByteArray scheduleState(const QString& hour, const QString& minute);
// H:MM, HH:MM or nothing (clears) into the two fields' texts as typed.
bool parseScheduleText(const QByteArray& command, QString& hour, QString& minute);

// A payload or topic as a log shows it: one line of printable ASCII, every
// other byte escaped, cut.
QString quoted(const QByteArray& payload);

} // namespace mqtt
