// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/BoardFile.h"
#include "fenwix/core/TraceFile.h"
#include "fenwix/core/WorkerThread.h"

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace fenwix
{

// With a device the caller only writes the board; the board file and the
// trace follow on a thread of their own, which writes the latest state at
// most every coalesce and every status change in order.
class BoardWriter
{
  public:
    BoardWriter(BoardFile& board, TraceFile& trace, std::chrono::milliseconds coalesce);
    // Writes what is still queued before it returns.
    ~BoardWriter();
    BoardWriter(const BoardWriter&) = delete;
    BoardWriter& operator=(const BoardWriter&) = delete;

    // The state after a call, with its trace line (lineSize 0: none).
    void queue(int value, const std::string& status, const char* line, std::size_t lineSize);
    // The two halves of queue() for a device written on a thread of its own:
    // the call's trace line from the caller, its state once the device has it.
    void trace(const char* line, std::size_t lineSize);
    void state(int value, const std::string& status);
    // Returns once the board file shows the last call.
    void flush();
    // In a child after fork(): the thread stayed behind in the parent. The
    // parent's unwritten trace lines are the parent's to write.
    void forgetParentThreads();

  private:
    void loop();
    // With m_worker.mutex held; each returns whether the writer must be woken.
    bool addState(int value, const std::string& status);
    bool addTrace(std::unique_lock<std::mutex>& lock, const char* line, std::size_t lineSize);
    void wake(bool needed);

    BoardFile& m_board;
    TraceFile& m_trace;
    std::chrono::milliseconds m_coalesce;
    WorkerThread m_worker;       // started at the first call; flush() waits on its done
    bool m_dirty = false;        // a state or trace lines wait to be written
    bool m_statePending = false; // a state waits to be written
    bool m_writing = false;      // the writer is writing one
    bool m_urgent = false;       // the trace buffer fills: write without gathering
    int m_pendingValue = 0;
    std::string m_pendingStatus;
    // States whose status a later call changed before they were written.
    std::vector<std::pair<int, std::string>> m_statusChanges;
    // Trace lines of calls not yet written, in call order; m_traceOut is the
    // writer's own copy. Sized once, at construction.
    static constexpr std::size_t TraceBufferSize = 128 * 1024;
    std::vector<char> m_traceBuffer;
    std::size_t m_traceUsed = 0;
    std::vector<char> m_traceOut;
};

} // namespace fenwix
