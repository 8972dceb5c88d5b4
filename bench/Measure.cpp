// SPDX-License-Identifier: MIT
#include "bench/Measure.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace bench
{

namespace
{

std::vector<Row> table;

std::string machine()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2) + ", " +
                   std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores";
    }
    return "unknown machine";
}

} // namespace

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

std::string fmt(const char* format, double a, double b)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

void addRow(Row row)
{
    table.push_back(std::move(row));
}

void printTable()
{
    std::printf("machine: %s\n\n", machine().c_str());
    std::printf("| measure | figure | anchor | aim |\n|---|---|---|---|\n");
    for (const Row& r : table)
        std::printf("| %s | %s | %s | %s |\n", r.what.c_str(), r.figure.c_str(), r.anchor.c_str(),
                    r.aim.c_str());
}


CallFigures timeCalls(int n, const std::function<void(int)>& op)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        op(i);
        samples.push_back(micros(Clock::now() - t0));
    }
    const auto over = static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(), [](double us) { return us > 1000; }));
    return {percentile(samples, 0.5), percentile(samples, 0.99), over};
}

double callsPerSecond(const std::function<void(int)>& op)
{
    const auto end = Clock::now() + std::chrono::seconds(1);
    int calls = 0;
    while (Clock::now() < end)
        for (int i = 0; i < 100; ++i)
            op(calls++);
    return calls;
}

} // namespace bench
