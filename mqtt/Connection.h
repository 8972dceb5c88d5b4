// SPDX-License-Identifier: MIT
#pragma once

#include "mqtt/Settings.h"

#include "fenwix/core/WorkerThread.h"

#include <atomic>
#include <mutex>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <set>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

namespace mqtt
{

// The one connection to the broker, for the bridge and for a one-off job:
// the client with the settings' id, credentials, TLS and last will, connected
// either for good (tried until it succeeds, then kept by the client's own
// thread, with a longer wait when another client takes the id over) or once.
// Its lines about the broker are said here, each change once.
class Connection : public QObject
{
    Q_OBJECT

  public:
    // willTopic: where the broker says "offline" for us when we vanish.
    Connection(const Settings& settings, const QString& willTopic, QObject* parent = nullptr);
    ~Connection() override;

    // Sets up the client. Empty, or why it cannot.
    QString setUp();
    // Starts connecting, in the background, for as long as the connection lives.
    void keepConnected();
    // Connects at once, for a job done before the program ends; false (said)
    // when the broker cannot be reached.
    bool connectOnce();
    // Publishes each (topic, payload) retained and waits for the broker's
    // acknowledgements (ten seconds at most): whether all came. Connected
    // once, or kept connected (then briefly on the event loop's time).
    bool publishAndWait(const QList<QPair<QByteArray, QByteArray>>& messages);
    // Ends the connection: lastWords is published retained on willTopic first.
    void close(const QByteArray& lastWords);

    bool isConnected() const { return m_connected; }
    // MOSQ_ERR_SUCCESS, or the client's reason.
    int publish(const QString& topic, const QByteArray& payload, bool retain);
    void subscribe(const QStringList& topics);

  signals:
    // Each time the broker took the connection (again).
    void connected();
    void message(const QString& topic, const QByteArray& payload, bool retained);

  private:
    // On the client's own thread; each hands over to this object's.
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onPublish(mosquitto*, void* self, int mid);

    void wasConnected(int rc);
    void wasDisconnected(int rc, bool takenOver);
    // Tries to connect until it succeeds or the connection is closed, then
    // hands the client to its own thread. A worker of its own: a connect may
    // wait for an unresponsive host.
    void connectLoop();
    // Sends the acknowledgement of what was just read without delay.
    void acknowledgeNow();
    // One line per change of the connection's trouble, not one per attempt.
    void problem(const QString& problem);
    // What rc (and errno err) means, with what to check.
    QString reason(int rc, int err);

    Settings m_settings;
    QByteArray m_willTopic;
    mosquitto* m_client = nullptr;
    bool m_connected = false;
    bool m_everConnected = false;
    QString m_lastProblem;
    // The client's thread alone uses these.
    QElapsedTimer m_connectedFor;
    int m_quickLosses = 0; // connections lost soon after they were made, in a row
    unsigned m_delay = 1;  // seconds before the next attempt
    bool m_takenOver = false;
    // The message ids publishAndWait waits for, taken out as acknowledged.
    std::mutex m_waitingMutex;
    std::set<int> m_waiting;
    std::atomic<bool> m_threaded = false; // the client's own thread runs
    fenwix::WorkerThread m_connector;
};

} // namespace mqtt
