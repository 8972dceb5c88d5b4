// SPDX-License-Identifier: MIT
#include "fenwix/core/BoardFile.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

BoardFile::BoardFile(std::string path, std::string privateFolder, Reports& reports, Written written)
    : m_path(std::move(path)), m_privateFolder(std::move(privateFolder)), m_reports(reports),
      m_written(std::move(written))
{
}

BoardFile::~BoardFile()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::string BoardFile::placeProblem()
{
    // Asked before every replace, and before a lock is made beside the board.
    if (std::string problem = replaceProblem(m_path); !problem.empty())
        return problem;
    if (m_privateFolder.empty())
        return {};
    if (::mkdir(m_privateFolder.c_str(), 0700) != 0 && errno != EEXIST)
        return "folder " + m_privateFolder + ": " + errorText(errno);
    const std::string problem = folderNotPrivate(m_privateFolder);
    if (!problem.empty())
        return "folder " + m_privateFolder + " is " + problem +
               ", so it is not used; set XDG_RUNTIME_DIR or FENWIX_BOARD to a private place";
    return {};
}

std::string BoardFile::hold()
{
    if (m_lockFd >= 0)
        return {};
    const HeldLock held = holdLock(m_path + ".lock", 0644);
    if (held.fd >= 0) {
        m_lockFd = held.fd;
        return {};
    }
    if (held.holder.empty())
        return held.problem;
    return "in use by process " + held.holder +
           "; another program drives this virtual board (end it, or set FENWIX_BOARD to "
           "another file)";
}

std::string BoardFile::replace(int value, const std::string& status)
{
    if (!m_tidied) {
        removeDeadTemporaries(m_path);
        m_tidied = true;
    }
    const std::string contents = formatBoardState(value, status);
    // Readable by the viewer of another session.
    std::string problem = replaceFile(m_path, contents, 0644);
    if (problem.empty() && m_written)
        m_written(contents);
    return problem;
}

void BoardFile::report(std::string problem)
{
    if (problem.empty()) {
        m_lastProblem.clear();
        return;
    }
    if (problem.find(';') == std::string::npos)
        problem += "; set FENWIX_BOARD to a writable path";
    m_reports.once(m_lastProblem, "FENWIX: board file " + m_path + ": " + problem);
}

int BoardFile::readVirtual() const
{
    // Regular files only, without blocking: a FIFO planted here holds no one.
    const ReadFile read = readRegular(m_path, MaxBoardFileSize, Links::Follow);
    if (!read.problem.empty() || read.bytes.empty())
        return -1;
    const auto state = parseBoardState(read.bytes);
    return state && state->status == "virtual" ? state->value : -1;
}

void BoardFile::write(int value, const std::string& status)
{
    std::string problem = placeProblem();
    if (problem.empty())
        problem = replace(value, status);
    report(std::move(problem));
}

} // namespace fenwix
