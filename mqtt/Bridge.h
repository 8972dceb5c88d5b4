// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"
#include "remote/PanelContract.h"

#include <memory>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

struct mosquitto;
struct mosquitto_message;

namespace mqtt
{

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

    // Sets up the client and starts connecting. Empty, or why it cannot.
    QString start();
    // Removes this board's discovery entries from the broker; the exit status.
    int removeDiscovery();
    // Before the program ends: says offline and disconnects.
    void stop();

    // Stable per machine and board.
    static QString nodeId();
    static QByteArray discoveryConfig(const Settings& settings, const QString& node, int channel);
    static QString discoveryTopic(const Settings& settings, const QString& node, int channel);

  private slots:
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated);

  private:
    // Called on the client's own thread; each hands over to this one.
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    void connected(int rc);
    void disconnected(int rc);
    void received(const QString& topic, const QByteArray& payload);
    void panelAppeared();
    void panelVanished();
    QString setUpClient();

    void publish(const QString& topic, const QByteArray& payload, bool retain = true);
    void publishAvailability();
    void publishState(const QStringList& before);
    void publishDiscovery();

    Settings m_settings;
    QString m_node;
    mosquitto* m_client = nullptr;
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_panelUp = false;
    QStringList m_captions;
    int m_output = -1;
    QDBusServiceWatcher m_watcher;
    std::unique_ptr<remote::PanelProxy> m_panel;
};

} // namespace mqtt
