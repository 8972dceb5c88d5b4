// SPDX-License-Identifier: MIT
#include "fenwix/core/TraceFile.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

TraceFile::~TraceFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void TraceFile::problem(const std::string& what)
{
    m_reports.once(m_lastProblem, "FENWIX: trace file " + m_path + ": " + what);
}

int TraceFile::line(std::int16_t value, char* out, std::size_t size)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::snprintf(out, size, "%lld.%06ld %d\n", static_cast<long long>(now.tv_sec),
                         now.tv_nsec / 1000L, static_cast<int>(value));
}

void TraceFile::append(const char* data, std::size_t size)
{
    // A trace file deleted while in use is started again, and said so.
    struct stat st {
    };
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_nlink == 0) {
        problem("deleted while in use; starting it again");
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0) {
        // Non-blocking, so a FIFO without a reader cannot hold the caller.
        const int fd =
            ::open(m_path.c_str(),
                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
        if (fd < 0) {
            problem(errorText(errno) + "; no trace is kept");
            return;
        }
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            problem("not a regular file; no trace is kept");
            return;
        }
        m_fd = fd;
    }
    // One write of whole lines on the O_APPEND descriptor keeps lines whole,
    // whatever other processes append.
    if (::write(m_fd, data, size) != static_cast<ssize_t>(size))
        problem(errorText(errno) + "; trace lines are missing");
    else
        m_lastProblem.clear(); // a later loss is reported again
}

} // namespace fenwix
