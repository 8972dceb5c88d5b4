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
// panel) is said once per cause, until a command is acted on.
class Router
{
  public:
    // settings: the bridge's, whose prefix may be filled in later.
    Router(const Settings& settings, PanelMirror& panel) : m_settings(settings), m_panel(panel) {}

    void route(const QString& topic, const QByteArray& payload, bool retained);

  private:
    void complain(const QString& cause, const QString& line);

    const Settings& m_settings;
    PanelMirror& m_panel;
    QSet<QString> m_complaints;
};

} // namespace mqtt
