// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/PanelMirror.h"
#include "mqtt/Router.h"
#include "mqtt/Settings.h"

#include <memory>
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

namespace mqtt
{

class Connection;

// Between the running panel (D-Bus) and an MQTT broker: each channel's state
// and the output byte published retained, commands taken on
// <prefix>/channel/<n>/set, availability with a last will, and Home Assistant
// discovery. The broker connection and the panel come and go; the bridge
// stays and follows both.
class Bridge : public QObject
{
    Q_OBJECT

  public:
    explicit Bridge(Settings settings, QObject* parent = nullptr);
    ~Bridge() override;

    // Starts following the panel and connecting. Empty, or why it cannot.
    QString start();
    // Removes this board's discovery entries from the broker; the exit status.
    int removeDiscovery();
    // Before the program ends: says offline and disconnects.
    void stop();

  private:
    // Once the board is known (from the panel, or --node-id): the settings'
    // defaults filled in and the connection made, not yet connected. Empty,
    // or why the client cannot be.
    QString becomeKnown(const QString& board);
    void connected();
    void received(const QString& topic, const QByteArray& payload, bool retained);
    void panelAppeared();
    // The panel came back with another board: its entries and topics go,
    // the new board's come.
    void switchBoard();

    // False when not connected or the client refused it (said once per cause).
    bool publish(const QString& topic, const QByteArray& payload);
    void publishAvailability();
    // Each channel's state that changed since it was published (all: every one).
    void publishState(bool all = false);
    // Publishes payload on topic unless it is what was published there last.
    void publishChange(const QString& topic, const QByteArray& payload, bool always);
    void publishDiscovery();
    // Discovery, availability and states, as on connecting.
    void publishEverything();

    const Settings m_given; // as the user gave them, before defaults
    Settings m_settings;
    QString m_node;      // empty until the board is known
    QString m_boardName; // the board the node was made from
    std::unique_ptr<Connection> m_connection;
    PanelMirror m_mirror;
    Router m_router{m_settings, m_mirror};
    QHash<QString, QByteArray> m_published; // topic -> payload, retained states
    QString m_publishProblem;               // the last said
    // Home Assistant's "online" starts one republish per burst, not one each.
    QTimer m_republish;
};

} // namespace mqtt
