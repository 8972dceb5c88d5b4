// SPDX-License-Identifier: MIT
#include "fenwix/core/BoardWriter.h"

#include <cstring>
#include <new>

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
    if (!m_thread)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread->join();
}

void BoardWriter::forgetParentThreads()
{
    // Locks held by the parent's other threads at fork() stay held in the
    // child for ever: make them afresh. The thread's object is let go, and
    // the next call starts one of the child's own.
    new (&m_mutex) std::mutex;
    new (&m_wake) std::condition_variable;
    new (&m_done) std::condition_variable;
    (void)m_thread.release();
    m_dirty = m_statePending = m_writing = m_urgent = m_stop = false;
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
    m_done.wait(lock, [&] { return m_traceUsed + lineSize <= m_traceBuffer.size(); });
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
    if (!m_thread)
        m_thread = std::make_unique<std::thread>(&BoardWriter::loop, this);
    else if (needed)
        m_wake.notify_one();
}

void BoardWriter::queue(int value, const std::string& status, const char* line,
                        std::size_t lineSize)
{
    bool needed = false;
    {
        std::unique_lock lock(m_mutex);
        needed = addState(value, status);
        needed = addTrace(lock, line, lineSize) || needed;
    }
    wake(needed);
}

void BoardWriter::trace(const char* line, std::size_t lineSize)
{
    bool needed = false;
    {
        std::unique_lock lock(m_mutex);
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
        std::lock_guard lock(m_mutex);
        needed = addState(value, status);
    }
    wake(needed);
}

void BoardWriter::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_dirty || m_stop; });
        if (!m_dirty)
            return;
        // Gather the calls of the next few milliseconds into one write.
        m_wake.wait_for(lock, m_coalesce, [this] { return m_stop || m_urgent; });
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
        m_done.notify_all(); // room in the trace buffer again
        lock.unlock();
        if (traced > 0)
            m_trace.append(m_traceOut.data(), traced);
        for (const auto& [value, status] : states)
            m_board.write(value, status);
        lock.lock();
        m_writing = false;
        m_done.notify_all();
    }
}

void BoardWriter::flush()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return !m_dirty && !m_writing; });
}

} // namespace fenwix
