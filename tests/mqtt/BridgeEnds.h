// SPDX-License-Identifier: MIT
// Both ends the bridge joins, as the tests run them: the home-automation
// side on the broker, and the panel's model on a session bus.
#pragma once

#include "automation/PanelModel.h"
#include "channels/ChannelTable.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"

#include <mosquitto.h>
#include <mutex>
#include <QDBusConnection>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <vector>

namespace
{

constexpr int Bound = 15000; // ms: reconnecting waits up to a few seconds

// The home-automation side: everything published under the test's topics.
struct Peer {
    mosquitto* client = nullptr;
    std::mutex mutex;
    QMap<QString, QByteArray> last; // topic -> latest payload
    QStringList seen;               // "topic payload", in order

    QList<QByteArray> topics{"test/#", "ha/#"};

    explicit Peer(int port, const QList<QByteArray>& subscribe = {})
    {
        if (!subscribe.isEmpty())
            topics = subscribe;
        client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* peer = static_cast<Peer*>(self);
                const QString topic = QString::fromUtf8(m->topic);
                const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
                std::lock_guard lock(peer->mutex);
                peer->last[topic] = payload;
                peer->seen << topic + u' ' + QString::fromUtf8(payload);
            });
        mosquitto_connect_callback_set(client, [](mosquitto* c, void* self, int) {
            for (const QByteArray& topic : static_cast<Peer*>(self)->topics)
                mosquitto_subscribe(c, nullptr, topic.constData(), 1);
        });
        mosquitto_reconnect_delay_set(client, 1, 2, false);
        mosquitto_connect_async(client, "127.0.0.1", port, 10);
        mosquitto_loop_start(client);
    }
    ~Peer()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
    QByteArray value(const QString& topic)
    {
        std::lock_guard lock(mutex);
        return last.value(topic, QByteArrayLiteral("<none>"));
    }
    int count(const QString& prefix)
    {
        std::lock_guard lock(mutex);
        int n = 0;
        for (auto it = last.begin(); it != last.end(); ++it)
            n += it.key().startsWith(prefix) && !it.value().isEmpty();
        return n;
    }
    void send(const QString& topic, const QByteArray& payload, bool retain = false)
    {
        mosquitto_publish(client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                          payload.constData(), 1, retain);
    }
};

// The panel as the program runs it, without its window: the model, with its
// bus name and object on a connection of its own (to the session bus, or to
// another machine's), so its signals must go out on the bus it was given.
struct LocalPanel {
    std::vector<int> writes;
    automation::PanelModel model{[this](std::int16_t v) { writes.push_back(v); }};
    remote::PanelBus bus{model};
    QDBusConnection connection =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("panel"));

    LocalPanel() { bus.setBoard(QStringLiteral("/dev/parport0")); }
    // As the program does: the object first, then the name.
    bool up()
    {
        return bus.exportOn(connection) && connection.registerService(remote::serviceName());
    }
    void down()
    {
        connection.unregisterObject(remote::objectPath());
        connection.unregisterService(remote::serviceName());
    }
    ~LocalPanel() { down(); }
};

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString appliance(int channel)
{
    const auto name = channels::ChannelTable[std::size_t(channel)].initialCaption;
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

// In folder: two authorities (ca, other-ca) and, from the first, the
// broker's certificate for 127.0.0.1 (broker) and one for another host
// (elsewhere), each NAME.crt with NAME.key.
inline bool makeCertificates(const QString& folder)
{
    auto openssl = [&folder](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const QString ca : {"ca", "other-ca"})
        if (!openssl(QStringList{"req", "-x509"} + key +
                     QStringList{"-keyout", ca + ".key", "-out", ca + ".crt", "-days", "2", "-subj",
                                 "/CN=" + ca}))
            return false;
    for (const auto& [name, alt] :
         {std::pair{QStringLiteral("broker"), "IP:127.0.0.1"},
          std::pair{QStringLiteral("elsewhere"), "DNS:elsewhere.example"}})
        if (!openssl(QStringList{"req"} + key +
                     QStringList{"-keyout", name + ".key", "-out", name + ".csr", "-subj",
                                 "/CN=" + name, "-addext",
                                 QStringLiteral("subjectAltName=%1").arg(alt)}) ||
            !openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                      "-CAcreateserial", "-copy_extensions", "copyall", "-out", name + ".crt",
                      "-days", "2"}))
            return false;
    return true;
}

} // namespace
