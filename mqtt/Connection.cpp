// SPDX-License-Identifier: MIT
#include "mqtt/Connection.h"

#include "mqtt/Discovery.h"
#include "remote/CommandLineCommon.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <QFile>
#include <sys/socket.h>
#include <thread>

namespace mqtt
{

namespace
{

constexpr int KeepAliveSeconds = 30;
constexpr unsigned ReconnectFirst = 1, ReconnectLongest = 30;    // seconds, doubling
constexpr unsigned TakenOverFirst = 60, TakenOverLongest = 3600; // doubling at each takeover
constexpr int LoopWaitMs = 500; // how soon the client's thread sees it must stop
constexpr qint64 QuickLossMs = 5000;

} // namespace

Connection::Connection(const Settings& settings, const QString& willTopic, QObject* parent)
    : QObject(parent), m_settings(settings), m_willTopic(willTopic.toUtf8())
{
}

Connection::~Connection()
{
    m_connector.stop();
    if (m_client)
        mosquitto_destroy(m_client);
}

QString Connection::setUp()
{
    m_client = mosquitto_new(m_settings.clientId.toUtf8().constData(), true, this);
    if (!m_client)
        return QStringLiteral("cannot create the MQTT client");
    // Version 5: a broker says why it ends a connection (another client
    // taking over the id, for one).
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small packets go at once: a command's acknowledgement held back for a
    // full segment delays the next command by milliseconds.
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    if (!m_settings.user.isEmpty()) {
        QByteArray password;
        if (!m_settings.passwordFile.isEmpty()) {
            QFile file(m_settings.passwordFile);
            if (!file.open(QIODevice::ReadOnly))
                return QStringLiteral("password file %1: %2")
                    .arg(m_settings.passwordFile, file.errorString());
            password = file.readLine().trimmed();
            if (file.permissions() & (QFile::ReadGroup | QFile::ReadOther))
                cli::say(QStringLiteral("password file %1 can be read by other users; make it "
                                        "yours alone (chmod 600 %1)")
                             .arg(m_settings.passwordFile));
        }
        mosquitto_username_pw_set(m_client, m_settings.user.toUtf8().constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_settings.caFile.isEmpty() &&
        mosquitto_tls_set(m_client, m_settings.caFile.toUtf8().constData(), nullptr, nullptr,
                          nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("CA file %1 cannot be used").arg(m_settings.caFile);
    // Said for us by the broker when we vanish without a word.
    mosquitto_will_set(m_client, m_willTopic.constData(), 7, "offline", Qos, true);
    // The client's traffic runs on this object's own thread (connectLoop),
    // while the program's thread publishes.
    mosquitto_threaded_set(m_client, true);
    mosquitto_connect_v5_callback_set(m_client, &Connection::onConnect);
    mosquitto_disconnect_v5_callback_set(m_client, &Connection::onDisconnect);
    mosquitto_message_callback_set(m_client, &Connection::onMessage);
    mosquitto_publish_callback_set(m_client, &Connection::onPublish);
    return {};
}

void Connection::keepConnected()
{
    cli::say(QStringLiteral("connecting to %1:%2").arg(m_settings.host).arg(m_settings.port));
    m_connector.start(&Connection::connectLoop, this, false);
}

void Connection::connectLoop()
{
    // Every way a connection fails or ends (refused, broken packets, TLS, a
    // broker gone) comes back here and ends in another try, after a growing
    // delay: the client's own loop would give up for good on some of them.
    const QByteArray host = m_settings.host.toUtf8();
    m_threaded = true;
    m_delay = ReconnectFirst;
    auto stopping = [this] {
        std::lock_guard lock(m_connector.mutex);
        return m_connector.stopping;
    };
    while (!stopping()) {
        int rc = mosquitto_connect(m_client, host.constData(), m_settings.port, KeepAliveSeconds);
        while (rc == MOSQ_ERR_SUCCESS && !stopping()) {
            rc = mosquitto_loop(m_client, LoopWaitMs, 1);
            acknowledgeNow();
        }
        if (rc == MOSQ_ERR_SUCCESS)
            return; // stopping: close() ends the connection
        const QString why = reason(rc, errno);
        QMetaObject::invokeMethod(this, [this, why] { problem(why); });
        std::unique_lock lock(m_connector.mutex);
        if (m_connector.wake.wait_for(lock, std::chrono::seconds(m_delay),
                                      [this] { return m_connector.stopping; }))
            return;
        if (!m_takenOver)
            m_delay = std::min(m_delay * 2, ReconnectLongest);
    }
}

void Connection::acknowledgeNow()
{
    // What was read is acknowledged at once, not up to 40 ms later: a broker
    // that keeps Nagle's algorithm on (as installed) holds its next packet
    // (the next command) until its last small one (an acknowledgement of
    // our state) is acknowledged. The kernel forgets this after a while, so
    // it is said again after every read.
    const int fd = mosquitto_socket(m_client);
    const int on = 1;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

QString Connection::reason(int rc, int err)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(std::strerror(err));
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS failed: the broker may not speak TLS on this port, its "
                              "certificate may not be signed by the CA file %1, or may not name "
                              "%2")
            .arg(m_settings.caFile, m_settings.host);
    case MOSQ_ERR_EAI:
        return QStringLiteral("the host name %1 cannot be resolved; check --host and the "
                              "network")
            .arg(m_settings.host);
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
        return QStringLiteral("what answers on the port does not speak MQTT (%1)")
            .arg(QString::fromLocal8Bit(mosquitto_strerror(rc)));
    default:
        return QString::fromLocal8Bit(mosquitto_strerror(rc));
    }
}

bool Connection::connectOnce()
{
    const int rc = mosquitto_connect(m_client, m_settings.host.toUtf8().constData(),
                                     m_settings.port, KeepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    cli::say(QStringLiteral("cannot connect to %1:%2: %3")
                 .arg(m_settings.host)
                 .arg(m_settings.port)
                 .arg(reason(rc, errno)));
    return false;
}

bool Connection::publishAndWait(const QList<QPair<QByteArray, QByteArray>>& messages)
{
    auto waiting = [this] {
        std::lock_guard lock(m_waitingMutex);
        return !m_waiting.empty();
    };
    for (const auto& [topic, payload] : messages) {
        std::lock_guard lock(m_waitingMutex); // before the acknowledgement can come
        int mid = 0;
        if (mosquitto_publish(m_client, &mid, topic.constData(), int(payload.size()),
                              payload.constData(), Qos, true) == MOSQ_ERR_SUCCESS)
            m_waiting.insert(mid);
    }
    // Ten seconds at most; without the client's own thread, this one runs it.
    for (int i = 0; i < 1000 && waiting(); ++i) {
        if (m_threaded)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        else
            mosquitto_loop(m_client, 10, 1);
    }
    std::lock_guard lock(m_waitingMutex);
    const bool all = m_waiting.empty();
    m_waiting.clear();
    return all;
}

void Connection::close(const QByteArray& lastWords)
{
    if (!m_client)
        return;
    m_connector.stop();
    if (m_connected && !lastWords.isEmpty())
        mosquitto_publish(m_client, nullptr, m_willTopic.constData(), int(lastWords.size()),
                          lastWords.constData(), Qos, true);
    mosquitto_disconnect(m_client);
    // The client's thread has ended: this one sends what is queued.
    for (int i = 0; i < 20 && mosquitto_loop(m_client, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
    m_connected = false;
}

int Connection::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!m_connected)
        return MOSQ_ERR_NO_CONN;
    return mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), Qos, retain);
}

void Connection::subscribe(const QStringList& topics)
{
    for (const QString& topic : topics)
        mosquitto_subscribe(m_client, nullptr, topic.toUtf8().constData(), Qos);
}

void Connection::onConnect(mosquitto* client, void* self, int rc, int, const mosquitto_property*)
{
    auto* connection = static_cast<Connection*>(self);
    if (rc == 0)
        connection->m_connectedFor.start();
    (void)client;
    QMetaObject::invokeMethod(
        connection, [connection, rc] { connection->wasConnected(rc); }, Qt::QueuedConnection);
}

void Connection::onDisconnect(mosquitto* client, void* self, int rc, const mosquitto_property*)
{
    // On the client's thread, before it waits to reconnect: the wait is set here.
    auto* connection = static_cast<Connection*>(self);
    // A broker cuts off the older of two clients with one id; most brokers
    // let the client see only a lost connection, soon after it was made.
    const bool quick =
        connection->m_connectedFor.isValid() && connection->m_connectedFor.elapsed() < QuickLossMs;
    connection->m_connectedFor.invalidate();
    connection->m_quickLosses = quick ? connection->m_quickLosses + 1 : 0;
    const bool takenOver = rc == MQTT_RC_SESSION_TAKEN_OVER || connection->m_quickLosses >= 2;
    (void)client;
    if (takenOver) {
        // Reconnecting soon would cut the other client off in turn: longer
        // each time, until a connection lasts.
        connection->m_quickLosses = 0;
        connection->m_delay = connection->m_takenOver
                                  ? std::min(connection->m_delay * 2, TakenOverLongest)
                                  : TakenOverFirst;
        connection->m_takenOver = true;
    } else if (!quick) {
        connection->m_takenOver = false;
        connection->m_delay = ReconnectFirst;
    }
    QMetaObject::invokeMethod(
        connection, [connection, rc, takenOver] { connection->wasDisconnected(rc, takenOver); },
        Qt::QueuedConnection);
}

void Connection::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* connection = static_cast<Connection*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(
        connection,
        [connection, topic, payload, retained] {
            emit connection->message(topic, payload, retained);
        },
        Qt::QueuedConnection);
}

void Connection::onPublish(mosquitto*, void* self, int mid)
{
    auto* connection = static_cast<Connection*>(self);
    std::lock_guard lock(connection->m_waitingMutex);
    connection->m_waiting.erase(mid);
}

void Connection::wasConnected(int rc)
{
    if (rc != 0) {
        problem(QStringLiteral("it refused the connection: %1")
                    .arg(QString::fromLocal8Bit(mosquitto_reason_string(rc))));
        return;
    }
    m_connected = true;
    m_lastProblem.clear();
    cli::say(QStringLiteral("connected to %1:%2%3")
                 .arg(m_settings.host)
                 .arg(m_settings.port)
                 .arg(m_everConnected ? QStringLiteral(" again") : QString()));
    m_everConnected = true;
    emit connected();
}

void Connection::wasDisconnected(int rc, bool takenOver)
{
    const bool wasUp = m_connected;
    m_connected = false;
    if (takenOver) {
        problem(QStringLiteral("the broker cut the connection off again just after it was made: "
                               "another client uses the client id %1 and took over (give each "
                               "bridge its own --client-id); waiting a minute or more between "
                               "attempts")
                    .arg(m_settings.clientId));
        return;
    }
    const QString why = rc == MOSQ_ERR_KEEPALIVE
                            ? QStringLiteral("no answer within %1 s").arg(KeepAliveSeconds)
                        : rc > MOSQ_ERR_UNKNOWN // a reason code the broker sent
                            ? QString::fromLocal8Bit(mosquitto_reason_string(rc))
                            : QString::fromLocal8Bit(mosquitto_strerror(rc));
    if (wasUp) {
        cli::say(QStringLiteral("lost the broker (%1); trying again").arg(why));
        m_lastProblem = why;
    } else {
        problem(why);
    }
}

void Connection::problem(const QString& problem)
{
    if (problem == m_lastProblem)
        return;
    m_lastProblem = problem;
    if (!problem.isEmpty())
        cli::say(QStringLiteral("cannot reach the broker at %1:%2: %3; trying again")
                     .arg(m_settings.host)
                     .arg(m_settings.port)
                     .arg(problem));
}

} // namespace mqtt
