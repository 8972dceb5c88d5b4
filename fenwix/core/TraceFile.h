// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fenwix
{

// FENWIX_TRACE: one line per call, "<seconds>.<microseconds> <value>",
// appended whole whatever other processes append to the same file.
class TraceFile
{
  public:
    TraceFile(std::string path, Reports& reports) : m_path(std::move(path)), m_reports(reports) {}
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool enabled() const { return !m_path.empty(); }
    // The call's line, stamped now; returns its length.
    static int line(std::int16_t value, char* out, std::size_t size);
    void append(const char* data, std::size_t size);

  private:
    void problem(const std::string& what);

    std::string m_path;
    Reports& m_reports;
    int m_fd = -1;
    std::string m_lastProblem;
};

} // namespace fenwix
