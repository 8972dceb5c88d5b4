// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace fenwix
{

// A thread of the library's own with its lock and wake-ups: started at the
// first piece of work, told to stop and joined by its owner's destructor
// (after which the owner's members may go), let go in a child after fork().
class WorkerThread
{
  public:
    std::mutex mutex;
    std::condition_variable wake; // the worker waits for work or stopping
    std::condition_variable done; // others wait for the worker
    bool stopping = false;        // under mutex

    // Starts body (a member function of owner) at the first call; after
    // that wakes it when needed.
    template <typename Owner> void start(void (Owner::*body)(), Owner* owner, bool needed)
    {
        if (!m_thread)
            m_thread = std::make_unique<std::thread>(body, owner);
        else if (needed)
            wake.notify_one();
    }
    // Returns once the worker has finished what it had and ended.
    void stop()
    {
        if (!m_thread)
            return;
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        m_thread->join();
        m_thread.reset();
    }
    // In a child after fork(): locks held by the parent's other threads stay
    // held in the child for ever, so they are made afresh; the thread stayed
    // behind in the parent, and the next piece of work starts the child's own.
    void forgetParent()
    {
        new (&mutex) std::mutex;
        new (&wake) std::condition_variable;
        new (&done) std::condition_variable;
        (void)m_thread.release();
        stopping = false;
    }

  private:
    std::unique_ptr<std::thread> m_thread;
};

} // namespace fenwix
