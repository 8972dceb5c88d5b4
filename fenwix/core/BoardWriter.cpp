// SPDX-License-Identifier: MIT
#include "fenwix/core/BoardWriter.h"

#include <cstring>

namespace fenwix
{

BoardWriter::BoardWriter(BoardFile& board, TraceFile& trace, std::chrono::milliseconds coalesce)
    : m_board(board), m_trace(trace), m_coalesce(coalesce)
{
    if (m_trace.enabled()) {
        m_traceBuffer.resize(TraceBufferSize);
        m_traceOut.resize(TraceBufferSize);
    }
}

BoardWriter::~BoardWriter()
{
    m_worker.stop();
}

void BoardWriter::forgetParentThreads()
{
    m_worker.forgetParent();
    m_dirty = m_statePending = m_writing = m_urgent = false;
    m_traceUsed = 0;
    m_statusChanges.clear();
    m_pendingStatus.clear();
}

bool BoardWriter::addState(int value, const std::string& status)
{
    if (m_pendingStatus != status) {
        // A status change is never coalesced away: the state before it is
        // written first.
        if (m_statePending)
            m_statusChanges.emplace_back(m_pendingValue, m_pendingStatus);
        m_pendingStatus = status;
    }
    m_pendingValue = value;
    m_statePending = true;
    if (m_dirty)
        return false;
    m_dirty = true;
    return true; // once per gathering, not once per call
}

bool BoardWriter::addTrace(std::unique_lock<std::mutex>& lock, const char* line,
                           std::size_t lineSize)
{
    if (lineSize == 0)
        return false;
    // A full buffer waits for the writer rather than lose a line.
    m_worker.done.wait(lock, [&] { return m_traceUsed + lineSize <= m_traceBuffer.size(); });
    std::memcpy(m_traceBuffer.data() + m_traceUsed, line, lineSize);
    m_traceUsed += lineSize;
    if (m_traceUsed > m_traceBuffer.size() / 2 && !m_urgent) {
        m_urgent = true; // no gathering: write it now
        m_dirty = true;
        return true;
    }
    return false;
}

void BoardWriter::wake(bool needed)
{
    m_worker.start(&BoardWriter::loop, this, needed);
}

void BoardWriter::queue(int value, const std::string& status, const char* line,
                        std::size_t lineSize)
{
    bool needed = false;
    {
        std::unique_lock lock(m_worker.mutex);
        needed = addState(value, status);
        needed = addTrace(lock, line, lineSize) || needed;
    }
    wake(needed);
}

void BoardWriter::trace(const char* line, std::size_t lineSize)
{
    bool needed = false;
    {
        std::unique_lock lock(m_worker.mutex);
        needed = addTrace(lock, line, lineSize);
        if (lineSize > 0 && !m_dirty)
            needed = m_dirty = true;
    }
    wake(needed);
}

void BoardWriter::state(int value, const std::string& status)
{
    bool needed = false;
    {
        std::lock_guard lock(m_worker.mutex);
        needed = addState(value, status);
    }
    wake(needed);
}

void BoardWriter::loop()
{
    std::unique_lock lock(m_worker.mutex);
    for (;;) {
        m_worker.wake.wait(lock, [this] { return m_dirty || m_worker.stopping; });
        if (!m_dirty)
            return;
        // Gather the calls of the next few milliseconds into one write.
        m_worker.wake.wait_for(lock, m_coalesce, [this] { return m_worker.stopping || m_urgent; });
        std::vector<std::pair<int, std::string>> states;
        states.swap(m_statusChanges);
        if (m_statePending)
            states.emplace_back(m_pendingValue, m_pendingStatus);
        m_statePending = false;
        const std::size_t traced = m_traceUsed;
        if (traced > 0) // no buffers at all without a trace
            std::memcpy(m_traceOut.data(), m_traceBuffer.data(), traced);
        m_traceUsed = 0;
        m_dirty = false;
        m_urgent = false;
        m_writing = true;
        m_worker.done.notify_all(); // room in the trace buffer again
        lock.unlock();
        if (traced > 0)
            m_trace.append(m_traceOut.data(), traced);
        for (const auto& [value, status] : states)
            m_board.write(value, status);
        lock.lock();
        m_writing = false;
        m_worker.done.notify_all();
    }
}

void BoardWriter::flush()
{
    std::unique_lock lock(m_worker.mutex);
    m_worker.done.wait(lock, [this] { return !m_dirty && !m_writing; });
}

} // namespace fenwix
