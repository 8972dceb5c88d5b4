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
        m_worker.wake.wait(lock, [this] { return !m_values.empty() || m_worker.stopping; });
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
            status = deviceStatus(m_device.name(), err);
        }
        m_writer.state(value, status);
        lock.lock();
        m_writing = false;
        m_worker.done.notify_all();
    }
}

void DeviceQueue::flush()
{
    std::unique_lock lock(m_worker.mutex);
    m_worker.done.wait(lock, [this] { return m_values.empty() && !m_writing; });
}

int DeviceQueue::read()
{
    flush();
    std::lock_guard device(m_deviceMutex);
    return m_device.read();
}

} // namespace fenwix
