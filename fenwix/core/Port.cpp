// SPDX-License-Identifier: MIT
#include "fenwix/core/Port.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <pthread.h>
#include <unistd.h>
#include <vector>

namespace fenwix
{

Config configFromEnvironment(const Getenv& getenv, const std::function<bool(const char*)>& exists)
{
    Config config;
    const BoardLocation board = boardLocation(getenv);
    config.boardPath = board.path;
    config.privateFolder = board.privateFolder;
    if (const char* trace = getenv("FENWIX_TRACE"); trace && *trace)
        config.tracePath = trace;

    if (const char* with = getenv("FENWIX_CHOSEN_WITH"); with && *with)
        config.chosenWith = with;
    const char* lpt = getenv("FENWIX_LPT1");
    if (!lpt || !*lpt) {
        constexpr const char* standard = "/dev/parport0";
        const bool present = exists ? exists(standard) : ::access(standard, F_OK) == 0;
        config.virtualBoard = !present;
        if (present)
            config.device = standard;
    } else if (std::strcmp(lpt, "virtual") == 0) {
        config.virtualBoard = true;
    } else {
        config.virtualBoard = false;
        config.device = lpt;
        config.gpio = namesGpioBoard(config.device);
        config.ftdi = namesFtdiBoard(config.device);
        config.hid = !config.gpio && !config.ftdi && namesUsbRelayBoard(config.device);
    }
    return config;
}

namespace
{

// The ports of this process, for the fork handler.
std::mutex portsMutex;
std::vector<Port*> ports;

void registerPort(Port* port)
{
    static std::once_flag handler;
    std::call_once(handler, [] {
        ::pthread_atfork(nullptr, nullptr, [] {
            // The child has one thread; the others' locks may be held for ever.
            new (&portsMutex) std::mutex;
            for (Port* p : ports)
                p->forgetParentThreads();
        });
    });
    std::lock_guard lock(portsMutex);
    ports.push_back(port);
}

void unregisterPort(Port* port)
{
    std::lock_guard lock(portsMutex);
    ports.erase(std::remove(ports.begin(), ports.end(), port), ports.end());
}

} // namespace

Port::Port(Config config, DeviceOps ops, Reporter report)
    : m_config(std::move(config)),
      m_reports(advisedReporter(std::move(report), m_config.chosenWith)),
      m_trace(m_config.tracePath, m_reports),
      m_board(m_config.boardPath, m_config.privateFolder, m_reports, m_config.boardWritten)
{
    if (m_config.hid)
        m_device = std::make_unique<HidDevice>(m_config.device, std::move(ops), m_reports,
                                               m_config.hidFolders);
    else if (m_config.gpio)
        m_device = std::make_unique<GpioDevice>(m_config.device, std::move(ops), m_reports,
                                                m_config.gpioFolders);
    else if (m_config.ftdi)
        m_device = std::make_unique<FtdiDevice>(m_config.device, m_config.ftdiLink(), m_reports);
    else if (!m_config.virtualBoard)
        m_device = std::make_unique<PpdevDevice>(m_config.device, std::move(ops), m_reports,
                                                 m_config.sharedClaimWait);
    if (m_device)
        m_writer = std::make_unique<BoardWriter>(m_board, m_trace, m_config.boardCoalesce);
    // USB boards' transfers take milliseconds (a GPIO chip may be one).
    if (m_config.hid || m_config.gpio || m_config.ftdi)
        m_queue = std::make_unique<DeviceQueue>(*m_device, *m_writer);
    registerPort(this);
}

Port::~Port()
{
    // The board file gets the last state before the port goes away (at exit,
    // return from main or the library's unloading): the members' order.
    unregisterPort(this);
}

void Port::forgetParentThreads()
{
    new (&m_mutex) std::mutex;
    m_reports.forgetParentThreads();
    if (m_writer)
        m_writer->forgetParentThreads();
    if (m_queue)
        m_queue->forgetParentThreads();
    if (m_device)
        m_device->forgetParentThreads();
}

void Port::flush()
{
    if (m_queue)
        m_queue->flush();
    if (m_writer)
        m_writer->flush();
}

void Port::setDeviceStatus(int err)
{
    // Built once per change: the steady path allocates nothing.
    if (err == m_statusError)
        return;
    m_statusError = err;
    m_status = deviceStatus(m_device->name(), err);
}

void Port::writeVirtualBoard(std::int16_t value)
{
    // Here the file is the output: it is written before the call returns.
    std::string problem = m_board.placeProblem();
    if (problem.empty()) {
        problem = m_board.hold();
        if (!problem.empty())
            m_status = "virtual error: board " + problem.substr(0, problem.find(';'));
    }
    if (problem.empty())
        problem = m_board.replace(value, m_status);
    m_virtualProblem =
        problem.empty() ? std::string() : "board file " + m_config.boardPath + ": " + problem;
    m_board.report(std::move(problem));
}

int Port::status(std::string& problem)
{
    std::lock_guard lock(m_mutex);
    int held = -1;
    if (m_queue) {
        held = m_queue->known(problem);
    } else if (m_device) {
        // A cheap look at the latch; it also opens and claims a port that
        // failed before, which is how a port that is back is seen.
        held = m_device->read();
        problem = m_device->problem();
    }
    if (m_device) {
        problem = advised(std::move(problem), m_config.chosenWith, true);
        return problem.empty() || held == DeviceQueue::Pending ? held : -1;
    }
    // The virtual board: the file is the board. A write that failed is
    // tried for nothing here; the place is looked at again.
    if (!m_virtualProblem.empty() && m_board.placeProblem().empty() && m_board.hold().empty() &&
        ::access(folderOf(m_config.boardPath).c_str(), W_OK) == 0)
        m_virtualProblem.clear();
    problem = m_virtualProblem;
    return problem.empty() ? m_board.readVirtual() : -1;
}

int Port::in()
{
    std::lock_guard lock(m_mutex);
    if (m_queue)
        return m_queue->read();
    return m_device ? m_device->read() : m_board.readVirtual();
}

void Port::out(std::int16_t value)
{
    std::lock_guard lock(m_mutex);
    char line[64];
    const int lineSize = m_trace.enabled() ? TraceFile::line(value, line, sizeof line) : 0;
    if (!m_device) {
        // The file is the output here: trace and board are written before the
        // call returns.
        if (lineSize > 0)
            m_trace.append(line, static_cast<std::size_t>(lineSize));
        m_status = "virtual";
        writeVirtualBoard(value);
    } else if (m_queue) {
        // USB transfers take milliseconds: the library's thread makes them.
        m_writer->trace(line, static_cast<std::size_t>(lineSize));
        m_queue->push(value);
    } else {
        // The device write is the call; the trace line (buffered, written
        // within a few milliseconds and at exit) and the board file follow
        // on the writer thread.
        setDeviceStatus(m_device->write(static_cast<std::uint8_t>(value & 0xFF)));
        m_writer->queue(value, m_status, line, static_cast<std::size_t>(lineSize));
    }
}

} // namespace fenwix
