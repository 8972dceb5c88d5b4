// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"

#include <deque>
#include <functional>
#include <QByteArray>
#include <QDBusPendingCall>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

namespace mqtt
{

class PanelMirror;

// Commands from the broker to the panel: a channel's ON, OFF or TOGGLE, its
// ON TIME or OFF TIME, all off. Whatever cannot act (retained, malformed, no
// panel) is said once per cause, until the board changes: a flood of bad
// commands mixed with ones that change nothing says each cause once.
// Under a flood the panel gets only what it can take: a field's edits wait
// here and the last text wins, a few calls at most are out at a time, and a
// switch command goes before any waiting edit.
class Router
{
  public:
    // settings: the bridge's, whose prefix may be filled in later.
    Router(const Settings& settings, PanelMirror& panel) : m_settings(settings), m_panel(panel) {}

    void route(const QString& topic, const QByteArray& payload, bool retained);
    // What the board holds now; a change lets each complaint be said again.
    void boardIs(int board);

  private:
    using Call = std::function<QDBusPendingCall()>;

    void complain(const QString& cause, const QString& line);
    // Queues a switch command (dropped, said once, when too many wait).
    void command(Call call);
    // Sends what waits while few calls are out: switch commands first.
    void send();

    const Settings& m_settings;
    PanelMirror& m_panel;
    QSet<QString> m_complaints;
    int m_board = -1;
    std::deque<Call> m_commands;     // switch commands, in order
    QMap<int, QString> m_fieldEdits; // field number -> the latest text
    bool m_dropping = false;         // since the queue was last full
    int m_out = 0;                   // calls sent and not yet answered
    QObject m_calls;                 // the answers' watchers live here
};

} // namespace mqtt
