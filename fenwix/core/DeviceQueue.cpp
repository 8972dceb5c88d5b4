// SPDX-License-Identifier: MIT
#include "fenwix/core/DeviceQueue.h"

#include "fenwix/core/Advice.h"

#include <new>
#include <string>

namespace fenwix
{

DeviceQueue::DeviceQueue(Device& device, BoardWriter& writer) : m_device(device), m_writer(writer)
{
}

DeviceQueue::~DeviceQueue()
{
    m_worker.stop();
}

void DeviceQueue::forgetParentThreads()
{
    m_worker.forgetParent();
    new (&m_deviceMutex) std::mutex;
    m_values.clear();
    m_writing = false;
    m_watch = false;
}

void DeviceQueue::push(int value)
{
    {
        std::lock_guard lock(m_worker.mutex);
        if (m_values.size() >= MaxWaiting)
            m_values.back() = value;
        else
            m_values.push_back(value);
    }
    m_worker.start(&DeviceQueue::loop, this, true);
}

void DeviceQueue::loop()
{
    std::unique_lock lock(m_worker.mutex);
    for (;;) {
        m_worker.wake.wait(lock,
                           [this] { return !m_values.empty() || m_watch || m_worker.stopping; });
        if (m_values.empty() && (!m_watch || m_worker.stopping))
            return;
        const bool write = !m_values.empty();
        const int value = write ? m_values.front() : 0;
        if (write)
            m_values.pop_front();
        m_watch = false;
        m_writing = true;
        lock.unlock();
        std::string status, problem;
        int held = -1;
        {
            std::lock_guard device(m_deviceMutex);
            const int err = write ? m_device.write(static_cast<std::uint8_t>(value & 0xFF)) : 0;
            status = deviceStatus(m_device.name(), err);
            held = write ? (err ? -1 : m_device.held()) : m_device.read();
            problem = m_device.problem();
        }
        if (write)
            m_writer.state(value, status);
        lock.lock();
        m_known = problem.empty() ? held : -1;
        m_knownProblem = std::move(problem);
        m_writing = false;
        m_worker.done.notify_all();
    }
}

void DeviceQueue::flush()
{
    std::unique_lock lock(m_worker.mutex);
    m_worker.done.wait(lock, [this] { return m_values.empty() && !m_writing && !m_watch; });
}

int DeviceQueue::known(std::string& problem)
{
    int value = -1;
    bool ask = false;
    {
        std::lock_guard lock(m_worker.mutex);
        problem = m_knownProblem;
        value = m_values.empty() && !m_writing ? m_known : Pending;
        // Even with a read on its way: it may have looked before the
        // caller's change, and a later call must see the board as it is now.
        ask = !m_watch && m_values.empty();
        m_watch = m_watch || ask;
    }
    if (ask)
        m_worker.start(&DeviceQueue::loop, this, true);
    return value;
}

int DeviceQueue::read()
{
    flush();
    std::lock_guard device(m_deviceMutex);
    return m_device.read();
}

} // namespace fenwix
