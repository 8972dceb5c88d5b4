// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"

#include <QByteArray>
#include <QSet>
#include <QString>

namespace mqtt
{

class PanelMirror;

// Commands from the broker to the panel: a channel's ON, OFF or TOGGLE, its
// ON TIME or OFF TIME, all off. Whatever cannot act (retained, malformed, no
// panel) is said once per cause, until the board changes: a flood of bad
// commands mixed with ones that change nothing says each cause once.
class Router
{
  public:
    // settings: the bridge's, whose prefix may be filled in later.
    Router(const Settings& settings, PanelMirror& panel) : m_settings(settings), m_panel(panel) {}

    void route(const QString& topic, const QByteArray& payload, bool retained);
    // What the board holds now; a change lets each complaint be said again.
    void boardIs(int board);

  private:
    void complain(const QString& cause, const QString& line);

    const Settings& m_settings;
    PanelMirror& m_panel;
    QSet<QString> m_complaints;
    int m_board = -1;
};

} // namespace mqtt
