// SPDX-License-Identifier: MIT
#include "mqtt/Router.h"

#include "channels/ChannelTable.h"
#include "mqtt/Discovery.h"
#include "mqtt/PanelMirror.h"
#include "remote/CommandLineCommon.h"

#include <QDBusPendingCallWatcher>

namespace mqtt
{

namespace
{

// Calls to the panel out at once: enough to keep it busy, few enough that a
// switch command waits for little.
constexpr int CallsOut = 4;
// Switch commands waiting beyond those; more are a flood, and dropped.
constexpr std::size_t CommandsWaiting = 256;

} // namespace

void Router::complain(const QString& cause, const QString& line)
{
    if (m_complaints.contains(cause))
        return;
    m_complaints.insert(cause);
    cli::say(line + QStringLiteral(" (said once until a command changes the board)"));
}

void Router::boardIs(int board)
{
    if (board != m_board)
        m_complaints.clear();
    m_board = board;
}

void Router::route(const QString& topic, const QByteArray& payload, bool retained)
{
    // A retained command would act again at every start and reconnect.
    if (retained) {
        complain(QStringLiteral("retained"),
                 QStringLiteral("ignored the retained %1 on %2: commands act only when sent, "
                                "never retained (clear it: mosquitto_pub -r -n -t TOPIC)")
                     .arg(quoted(payload), quoted(topic.toUtf8())));
        return;
    }
    if (!m_panel.isUp()) {
        complain(QStringLiteral("no panel"), QStringLiteral("ignored %1 on %2: no panel is running")
                                                 .arg(quoted(payload), quoted(topic.toUtf8())));
        return;
    }
    remote::PanelProxy& panel = m_panel.panel();
    if (topic == allOffTopic(m_settings)) {
        if (payload != "PRESS") {
            complain(QStringLiteral("malformed"),
                     QStringLiteral("ignored %1 on %2: send PRESS")
                         .arg(quoted(payload), quoted(topic.toUtf8())));
            return;
        }
        command([&panel] { return panel.AllOff(); });
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
        if (leaf != QLatin1String(t.leaf))
            continue;
        QString hour, minute;
        if (!known || !parseScheduleText(payload, hour, minute)) {
            complain(QStringLiteral("malformed time"),
                     QStringLiteral("ignored %1 on %2: send H:MM or HH:MM (24-hour clock), or "
                                    "nothing to clear the entry")
                         .arg(quoted(payload), quoted(topic.toUtf8())));
            return;
        }
        // As if typed; the panel's FieldChanged brings the new state back.
        m_fieldEdits.insert(automation::fieldOf(channel, t.hour), hour);
        m_fieldEdits.insert(automation::fieldOf(channel, t.minute), minute);
        send();
        return;
    }
    if (!known || (payload != "ON" && payload != "OFF" && payload != "TOGGLE")) {
        complain(QStringLiteral("malformed"),
                 QStringLiteral("ignored %1 on %2: send ON, OFF or TOGGLE to channel 0 to 7")
                     .arg(quoted(payload), quoted(topic.toUtf8())));
        return;
    }
    // Not waited for: the answer is the panel's PropertiesChanged.
    if (payload == "ON")
        command([&panel, channel] { return panel.SwitchChannelOn(channel); });
    else if (payload == "OFF")
        command([&panel, channel] { return panel.SwitchChannelOff(channel); });
    else
        command([&panel, channel] { return panel.ToggleChannel(channel); });
}

void Router::command(Call call)
{
    // Said once a flood: each command it drops would change the board.
    if (m_commands.size() >= CommandsWaiting) {
        if (!m_dropping)
            cli::say(QStringLiteral("ignoring commands while %1 wait for the panel: they come "
                                    "faster than it takes them")
                         .arg(CommandsWaiting));
        m_dropping = true;
        return;
    }
    m_commands.push_back(std::move(call));
    send();
}

void Router::send()
{
    while (m_out < CallsOut && (!m_commands.empty() || !m_fieldEdits.isEmpty())) {
        QDBusPendingCall call = [this] {
            if (!m_commands.empty()) {
                const Call next = std::move(m_commands.front());
                m_commands.pop_front();
                m_dropping = m_dropping && !m_commands.empty();
                return next();
            }
            const auto edit = m_fieldEdits.begin();
            const QDBusPendingCall pending = m_panel.panel().SetField(edit.key(), edit.value());
            m_fieldEdits.erase(edit);
            return pending;
        }();
        ++m_out;
        auto* watcher = new QDBusPendingCallWatcher(call, &m_calls);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_calls, [this, watcher] {
            watcher->deleteLater();
            --m_out;
            send();
        });
    }
}

} // namespace mqtt
