// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <string>
#include <vector>

// What every measure of the benchmark shares: the clock, percentiles, the
// one table the figures go in, and the timing of repeated calls. One file
// per measure beside it.
namespace bench
{

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d);
double percentile(std::vector<double> v, double p);
std::string fmt(const char* format, double a, double b = 0);

struct Row {
    std::string what;
    std::string figure;
    std::string anchor;
    std::string aim;
};
void addRow(Row row);
// The machine, then the table in Markdown.
void printTable();

struct CallFigures {
    double median, p99;
    std::size_t overOneMs;
};
CallFigures timeCalls(int n, const std::function<void(int)>& op);
double callsPerSecond(const std::function<void(int)>& op);

// Runs events until done() or the deadline; false on the deadline.
template <typename Done> bool waitFor(Done done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// The measures.
void benchScheduler(int ticks);
void benchMqtt(int commands, bool tunedBroker);
void benchClick(int clicks);
void benchPortCall(const QString& folder, const char* label, int calls);
void benchPpdevCall(const QString& folder, int calls);
void benchStartup(int runs);
void benchIdle(int seconds);
// The child programs the start-up and idle measures run.
int childStartup(int argc, char* argv[], bool withPanel);
int childIdle(int argc, char* argv[]);

} // namespace bench
