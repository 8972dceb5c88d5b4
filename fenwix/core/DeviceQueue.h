// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/BoardWriter.h"
#include "fenwix/core/Device.h"
#include "fenwix/core/WorkerThread.h"

#include <deque>
#include <mutex>

namespace fenwix
{

// For a device whose transfers take milliseconds (USB): the caller only
// queues the byte; a thread of the library's own writes the queued bytes to
// the device in call order and hands each state, with the status the device
// gave it, to the board file's writer.
class DeviceQueue
{
  public:
    DeviceQueue(Device& device, BoardWriter& writer);
    // Writes what is still queued before it returns: the last byte of a
    // program that ends reaches the board.
    ~DeviceQueue();
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    void push(int value); // the call's value; the device gets its low byte
    // Returns once every queued byte has been written.
    void flush();
    // The device's byte, read after the queued writes.
    int read();
    // What the device last confirmed, without waiting: the byte it holds
    // (-1 while it fails or is not known, Pending while writes are on their
    // way) and its problem (empty: none).
    static constexpr int Pending = -2;
    // Asks the thread to read the board again when it is idle, so a later
    // call sees a board changed, unplugged or back.
    int known(std::string& problem);
    // In a child after fork(): the thread stayed behind in the parent.
    void forgetParentThreads();

  private:
    void loop();

    // A board slower than its caller keeps at most this many bytes waiting;
    // beyond it the newest replaces the last waiting one.
    static constexpr std::size_t MaxWaiting = 64;

    Device& m_device;
    BoardWriter& m_writer;
    std::mutex m_deviceMutex; // one transfer at a time: writes and read()
    std::deque<int> m_values;
    bool m_writing = false;
    bool m_watch = false; // a read is asked for
    // What the device confirmed last, under m_worker.mutex.
    int m_known = -1;
    std::string m_knownProblem;
    WorkerThread m_worker; // started at the first byte
};

} // namespace fenwix
