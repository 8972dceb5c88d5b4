// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include "channels/ChannelTable.h"
#include "panel/ControlPanel.h"
#include "panel/PanelLayout.h"

#include <cstdio>
#include <fstream>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <sstream>
#include <unistd.h>

namespace bench
{

namespace
{

long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// A bare window with the panel's widgets where the panel has them, with its
// texts in its faces (from the panel's own tables, so font loading is in
// the floor) and its two timers, but none of its workings.
QWidget* makeBareWindow()
{
    auto* w = new QWidget;
    w->setFont(panel::panelFont(panel::FontKind::Window));
    auto place = [w](QWidget* widget, const panel::Twips& at, panel::FontKind font) {
        widget->setParent(w);
        widget->setGeometry(at.rect());
        widget->setFont(panel::panelFont(font));
    };
    for (const panel::ButtonRow& row : panel::CommandButtons)
        place(new QPushButton(channels::text(row.caption)), row.place, panel::FontKind::Small);
    for (const channels::Channel& row : channels::ChannelTable) {
        const panel::ChannelLine& line = panel::ChannelLines[std::size_t(row.number)];
        const panel::Block& block = panel::blockOf(row.number);
        place(new QPushButton(channels::text(row.initialCaption)),
              {block.buttonLeft, line.top - panel::ButtonAboveFields, panel::ChannelButtonWidth,
               panel::ChannelButtonHeight},
              panel::FontKind::Small);
        for (const int left : block.fieldLefts)
            place(new QLineEdit, {left, line.top, panel::FieldWidth, panel::FieldHeight},
                  panel::FontKind::Small);
        for (const int left : block.separatorLefts)
            place(new QLabel(channels::text(panel::Separator)),
                  {left, line.top + 120, panel::SeparatorSize, panel::SeparatorSize},
                  panel::FontKind::Small);
    }
    for (const panel::LabelRow& row : panel::Labels)
        place(new QLabel(channels::text(row.caption)), row.place, row.font);
    auto* t1 = new QTimer(w);
    auto* t2 = new QTimer(w);
    t1->start(500);
    t2->start(1000);
    w->setFixedSize(panel::ControlPanel::ClientWidth, panel::ControlPanel::ClientHeight);
    return w;
}

class FirstPaint : public QObject
{
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            QTimer::singleShot(0, [] {
                std::printf("painted %ld\n", peakRssKb());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

struct Startup {
    double ms;
    long rssKb;
};

Startup runStartup(const char* mode)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
    child.waitForReadyRead(30000);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const QByteArray out = child.readAllStandardOutput();
    child.waitForFinished(30000);
    return {ms, out.startsWith("painted ") ? out.mid(8).trimmed().toLong() : -1};
}

} // namespace

// --- Child programs for start-up, memory and idle figures ---------------------------
int childStartup(int argc, char* argv[], bool withPanel)
{
    QApplication app(argc, argv);
    QWidget* w = withPanel ? new panel::ControlPanel([](std::int16_t) {}) : makeBareWindow();
    FirstPaint filter;
    w->installEventFilter(&filter);
    w->show();
    const int rc = QApplication::exec();
    delete w;
    return rc;
}

int childIdle(int argc, char* argv[])
{
    QApplication app(argc, argv);
    panel::ControlPanel window([](std::int16_t) {});
    window.show();
    return QApplication::exec();
}

void benchStartup(int runs)
{
    std::vector<double> panelMs, bareMs, panelKb, bareKb;
    for (int i = 0; i < runs; ++i) { // alternate, so drift hits both alike
        const Startup p = runStartup("--child-startup-panel");
        const Startup b = runStartup("--child-startup-bare");
        panelMs.push_back(p.ms);
        bareMs.push_back(b.ms);
        panelKb.push_back(double(p.rssKb));
        bareKb.push_back(double(b.rssKb));
    }
    const double pm = percentile(panelMs, 0.5), bm = percentile(bareMs, 0.5);
    const double pk = percentile(panelKb, 0.5), bk = percentile(bareKb, 0.5);
    addRow({"start-up to first paint", fmt("median %.1f ms (+%.1f ms)", pm, pm - bm),
            fmt("bare window %.1f ms", bm), "within 50 ms"});
    addRow({"peak resident memory", fmt("%.0f KiB (%.2fx)", pk, pk / bk),
            fmt("bare window %.0f KiB", bk), "within 10 %"});
}

void benchIdle(int seconds)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child-idle")});
    child.waitForStarted();
    const qint64 pid = child.processId();
    auto sample = [pid](double& cpuSeconds, long& switches) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string content((std::istreambuf_iterator<char>(stat)), {});
        const auto close = content.rfind(')');
        std::istringstream rest(content.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        cpuSeconds = double(utime + stime) / double(sysconf(_SC_CLK_TCK));
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        switches = 0;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                switches += std::stol(line.substr(line.find(':') + 1));
        }
    };
    QThread::sleep(2); // past start-up
    double cpu0 = 0, cpu1 = 0;
    long sw0 = 0, sw1 = 0;
    sample(cpu0, sw0);
    QThread::sleep(static_cast<unsigned long>(seconds));
    sample(cpu1, sw1);
    child.kill();
    child.waitForFinished();
    const double percent = 100.0 * (cpu1 - cpu0) / seconds;
    addRow({fmt("idle panel over %.0f s", seconds),
            fmt("%.3f %% of a core, %.1f wake-ups/s", percent, double(sw1 - sw0) / seconds),
            "timers: 2 + 1 per second", "< 0.2 %"});
}

} // namespace bench
