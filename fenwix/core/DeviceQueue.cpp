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
    if (!m_thread)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread->join();
}

void DeviceQueue::forgetParentThreads()
{
    new (&m_mutex) std::mutex;
    new (&m_deviceMutex) std::mutex;
    new (&m_wake) std::condition_variable;
    new (&m_done) std::condition_variable;
    (void)m_thread.release();
    m_values.clear();
    m_writing = m_stop = false;
}

void DeviceQueue::push(int value)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_values.size() >= MaxWaiting)
            m_values.back() = value;
        else
            m_values.push_back(value);
    }
    if (!m_thread)
        m_thread = std::make_unique<std::thread>(&DeviceQueue::loop, this);
    else
        m_wake.notify_one();
}

void DeviceQueue::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_values.empty() || m_stop; });
        if (m_values.empty())
            return;
        const int value = m_values.front();
        m_values.pop_front();
        m_writing = true;
        lock.unlock();
        std::string status;
        {
            std::lock_guard device(m_deviceMutex);
            const int err = m_device.write(static_cast<std::uint8_t>(value & 0xFF));
            status = m_device.name() + (err ? " error: " + errorText(err) : std::string(" ok"));
        }
        m_writer.state(value, status);
        lock.lock();
        m_writing = false;
        m_done.notify_all();
    }
}

void DeviceQueue::flush()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_values.empty() && !m_writing; });
}

int DeviceQueue::read()
{
    flush();
    std::lock_guard device(m_deviceMutex);
    return m_device.read();
}

} // namespace fenwix
