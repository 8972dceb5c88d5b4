// SPDX-License-Identifier: MIT
#include "fenwix/core/Files.h"

#include "fenwix/core/Advice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace
{

std::string nameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<path>.<pid>.": the start of every temporary copy this process makes.
std::string temporaryPrefix(const std::string& path, pid_t pid)
{
    return path + "." + std::to_string(pid) + ".";
}

std::string failed(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

} // namespace

std::string replaceProblem(const std::string& path)
{
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return "not a regular file; it is left as it is";
    return {};
}

std::string replaceFile(const std::string& path, std::string_view contents, mode_t mode)
{
    std::string temp = temporaryPrefix(path, ::getpid()) + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    auto fail = [&](const char* what, int err) {
        ::unlink(temp.c_str());
        return failed(what, err);
    };
    ::fchmod(fd, mode); // whatever the umask
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail("write", err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        return fail("close", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail("rename", errno);
    return {};
}

void removeDeadTemporaries(const std::string& path)
{
    const std::string folder = folderOf(path);
    const std::string prefix = nameOf(path) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // <name>.<pid>.<anything>
        const std::size_t digits = name.find_first_not_of("0123456789", prefix.size());
        if (digits == prefix.size() || digits == std::string::npos || name[digits] != '.' ||
            digits + 1 == name.size())
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        const std::string full = folder + "/" + name;
        struct stat st {
        };
        if (pid <= 0 || ::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink(full.c_str());
    }
    ::closedir(dir);
}

HeldLock holdLock(const std::string& lockPath, mode_t mode)
{
    // A lock of the open file (not the process), so it also keeps apart two
    // holders in one process; the kernel drops it when the holder ends, however.
    const int fd = ::open(lockPath.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0)
        return {-1, "lock " + lockPath + ": " + errorText(errno), {}};
    struct stat st {
    };
    // A hard link would have another file's contents replaced by the pid.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
        ::close(fd);
        return {-1, "lock " + lockPath + ": not a regular file of its own", {}};
    }
    struct flock lock {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        char holder[32] = {};
        const ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
        ::close(fd);
        const std::string pid = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "?";
        return {-1, "held", pid.substr(0, pid.find('\n'))};
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the holder's name is missing.
    }
    return {fd, {}, {}};
}

ReadFile readRegular(const std::string& path, std::size_t limit, Links links)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY |
                                            (links == Links::Refuse ? O_NOFOLLOW : 0));
    if (fd < 0)
        return {{}, std::strerror(errno)};
    ReadFile read;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        read.problem = "not a regular file";
    } else if (static_cast<std::size_t>(st.st_size) > limit) {
        read.problem = "larger than " + std::to_string(limit) + " bytes";
    } else {
        // One more than allowed: a file that grew since is still refused.
        read.bytes.resize(limit + 1);
        std::size_t done = 0;
        while (done < read.bytes.size()) {
            const ssize_t n = ::read(fd, read.bytes.data() + done, read.bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                read.problem = std::strerror(errno);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        read.bytes.resize(read.problem.empty() ? done : 0);
        if (done > limit) {
            read.bytes.clear();
            read.problem = "larger than " + std::to_string(limit) + " bytes";
        }
    }
    ::close(fd);
    return read;
}

} // namespace fenwix
