// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include "automation/PanelModel.h"
#include "remote/PanelBus.h"
#include "remote/PanelContract.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <QDBusConnection>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <sys/socket.h>

namespace bench
{

namespace
{

// Acknowledges what was read at once, as the bridge does, so that the floor
// is the broker's, not this client's delayed acknowledgements.
void acknowledgeNow(mosquitto* client)
{
    const int on = 1;
    setsockopt(mosquitto_socket(client), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

struct Listener {
    mosquitto* client = mosquitto_new(nullptr, true, this);
    std::atomic<int> echoes{0};
    Clock::time_point echoed;
    Listener(int port)
    {
        mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(client,
                                       [](mosquitto* c, void* self, const mosquitto_message*) {
                                           acknowledgeNow(c);
                                           auto* l = static_cast<Listener*>(self);
                                           l->echoed = Clock::now();
                                           ++l->echoes;
                                       });
        mosquitto_publish_callback_set(client, [](mosquitto* c, void*, int) { acknowledgeNow(c); });
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_subscribe(client, nullptr, "bench/echo", 1);
        mosquitto_loop_start(client);
    }
    ~Listener()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
    void send(const char* topic, const char* payload)
    {
        mosquitto_publish(client, nullptr, topic, int(std::strlen(payload)), payload, 1, false);
    }
};

} // namespace

// --- An MQTT command to the port write, beside the broker's own round trip ------
// The panel's model and bus object in this process, the real bridge program,
// a real mosquitto on 127.0.0.1, and a client that publishes and listens.
void benchMqtt(int commands, bool tunedBroker)
{
    const char* what = tunedBroker ? "MQTT command to port write (broker with set_tcp_nodelay)"
                                   : "MQTT command to port write (broker as installed)";
    auto skip = [what](const char* why) { addRow({what, why, "-", "-"}); };
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(remote::serviceName()))
        return skip("skipped: no session bus of its own (run-bench starts one)");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    QTemporaryDir dir;
    {
        std::ofstream(dir.filePath("mosquitto.conf").toStdString())
            << "listener " << port
            << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
            // Users' brokers keep Nagle's algorithm on (the default); the
            // tuned one shows the floor without it.
            << (tunedBroker ? "set_tcp_nodelay true\n" : "");
    }
    QProcess broker;
    broker.start("mosquitto", {"-c", dir.filePath("mosquitto.conf")});
    if (!broker.waitForStarted())
        return skip("skipped: no mosquitto");
    QThread::msleep(300);

    std::atomic<int> writes{0};
    Clock::time_point written;
    automation::PanelModel model([&](std::int16_t) {
        written = Clock::now();
        ++writes;
    });
    remote::PanelBus panelBus(model);
    panelBus.setBoard(QStringLiteral("virtual:bench"));
    panelBus.exportOn(bus);
    QProcess bridge;
    bridge.start(QCoreApplication::applicationDirPath() + "/pc-automation-mqtt",
                 {"--host", "127.0.0.1", "--port", QString::number(port), "--prefix", "bench/pc",
                  "--discovery-prefix", "bench/ha", "--node-id", "bench"});
    Listener peer(port);
    // Ready once a command goes through.
    const bool ready = waitFor([&] {
        peer.send("bench/pc/channel/0/set", "TOGGLE");
        return waitFor([&] { return writes > 0; }, 200);
    });
    std::vector<double> floor, command;
    for (int i = 0; ready && i < commands; ++i) {
        const int echoes = peer.echoes;
        auto t0 = Clock::now();
        peer.send("bench/echo", "x");
        waitFor([&] { return peer.echoes > echoes; });
        floor.push_back(micros(peer.echoed - t0));
        const int before = writes;
        t0 = Clock::now();
        peer.send("bench/pc/channel/0/set", "TOGGLE");
        waitFor([&] { return writes > before; });
        command.push_back(micros(written - t0));
    }
    bridge.kill();
    bridge.waitForFinished();
    broker.kill();
    broker.waitForFinished();
    bus.unregisterService(remote::serviceName());
    if (!ready)
        return skip("skipped: the bridge did not answer");
    const double f50 = percentile(floor, 0.5), f99 = percentile(floor, 0.99);
    const double c50 = percentile(command, 0.5), c99 = percentile(command, 0.99);
    addRow({what, fmt("median %.2f ms, p99 %.2f ms", c50 / 1000, c99 / 1000),
            fmt("broker round trip median %.2f ms, p99 %.2f ms", f50 / 1000, f99 / 1000),
            "within 1.5 ms of it (median), 8 ms (p99)"});
}

} // namespace bench
