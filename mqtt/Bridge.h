// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"
#include "remote/PanelContract.h"

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <thread>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

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

    // Who this bridge is, stable per machine and board: the board's node
    // (nodeId, or a hash of the machine's id and the board the panel drives)
    // names the client, the default topics and Home Assistant's ids, with the
    // host name only as a readable part.
    struct Identity {
        QString node;     // Home Assistant's node id and the stem of unique ids
        QString clientId; // unless set
        QString prefix;   // unless set
    };
    static Identity identity(const QByteArray& machineId, const QString& board, const QString& host,
                             const QString& nodeId);
    // One thing of the board's in Home Assistant: eight switches, an "all off"
    // button, and each channel's ON TIME and OFF TIME as text.
    struct Entity {
        QString component;  // switch, button, text
        QString objectId;   // ch3, all_off, ch3_on ...
        QJsonObject config; // what is its own; the rest is common
    };
    static QList<Entity> entities(const Settings& settings);
    static QByteArray discoveryConfig(const Settings& settings, const QString& node,
                                      const Entity& entity);
    static QString discoveryTopic(const Settings& settings, const QString& node,
                                  const Entity& entity);
    // A schedule entry as a text entity shows it: HH:MM for a time the
    // scheduler would match, the fields' texts joined by : otherwise, empty
    // when both are.
    static QByteArray scheduleText(const QString& hour, const QString& minute);
    // H:MM, HH:MM or nothing (clears) into the two fields' texts as typed.
    static bool parseScheduleText(const QByteArray& command, QString& hour, QString& minute);

  private slots:
    void fieldChanged(int number, const QString& text, const QDBusMessage& message);
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated, const QDBusMessage& message);

  private:
    // Called on the client's own thread; each hands over to this one.
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    void connected(int rc);
    void disconnected(int rc, bool takenOver);
    void received(const QString& topic, const QByteArray& payload, bool retained);
    // Tries to connect until it succeeds or the bridge stops, then hands the
    // client to its own thread. Runs on a thread of its own: a connect may
    // wait for an unresponsive host.
    void connectLoop();
    // One line per change of the connection's trouble, not one per attempt.
    void connectionProblem(const QString& problem);
    // Says a complaint about incoming commands once per cause, until a
    // command is acted on.
    void complain(const QString& cause, const QString& line);
    void panelAppeared();
    void panelVanished();
    QString setUpClient();
    // Once the board is known (from the panel, or --node-id): the settings'
    // defaults filled in and the connecting started.
    void becomeKnown(const QString& board);

    // False when not connected or the client refused it (said once per cause).
    bool publish(const QString& topic, const QByteArray& payload, bool retain = true);
    void publishAvailability();
    // Each channel's state that changed since it was published (all: every one).
    void publishState(bool all = false);
    void connectToBroker();
    // Publishes payload on topic unless it is what was published there last.
    void publishChange(const QString& topic, const QByteArray& payload, bool always);
    void publishDiscovery();

    Settings m_settings;
    QString m_node; // empty until the board is known
    mosquitto* m_client = nullptr;
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_panelUp = false;
    int m_board = -1;                       // BoardState: what the board holds, -1 while unknown
    QHash<QString, QByteArray> m_published; // topic -> payload, retained states
    std::array<QString, automation::FieldCount + 1> m_fields; // by number
    bool m_fieldsKnown = false;
    QDBusServiceWatcher m_watcher;
    QString m_panelOwner; // the unique name that holds the panel's name
    QString m_lastConnectionProblem;
    // The client's thread alone uses these two.
    QElapsedTimer m_connectedFor;
    int m_quickLosses = 0; // connections lost soon after they were made, in a row
    QSet<QString> m_complaints;
    std::thread m_connector;
    std::mutex m_connectorMutex;
    std::condition_variable m_connectorWake;
    bool m_stopping = false;
    std::unique_ptr<remote::PanelProxy> m_panel;
};

} // namespace mqtt
