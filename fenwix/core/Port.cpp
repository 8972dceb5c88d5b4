#include "fenwix/core/Port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <linux/ppdev.h>
#include <new>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fenwix
{

namespace
{

std::string errorText(int err)
{
    return std::strerror(err);
}

// Groups whose members may do far more than drive a port.
bool grantsMore(const std::string& group, gid_t gid)
{
    static constexpr const char* Wide[] = {"root", "wheel", "sudo",  "adm",    "admin",
                                           "disk", "kmem",  "tty",   "shadow", "staff",
                                           "sys",  "video", "input", "docker"};
    if (gid == 0)
        return true;
    for (const char* name : Wide)
        if (group == name)
            return true;
    return false;
}

// The remedy for a device the user may not open: join its group only where
// that group is for devices like this port and nothing more.
std::string accessRemedy(const std::string& device)
{
    constexpr unsigned ParportMajor = 99; // the kernel's ppdev devices
    struct stat st {
    };
    if (::stat(device.c_str(), &st) != 0)
        return "give your user read and write access to the device";
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != ParportMajor)
        return device + " is not a parallel port (ppdev) device; set FENWIX_LPT1 to one such as "
                        "/dev/parport0, or to virtual";
    struct group grp {
    };
    struct group* found = nullptr;
    char buffer[1024];
    std::string group;
    if (::getgrgid_r(st.st_gid, &grp, buffer, sizeof buffer, &found) == 0 && found)
        group = found->gr_name;
    if (group.empty() || grantsMore(group, st.st_gid))
        return "the port belongs to group " + (group.empty() ? std::to_string(st.st_gid) : group) +
               ", which grants far more than the port; give the port a group of its own with a "
               "udev rule (see 60-pc-automation-parport.rules.example) and join that group";
    return "add your user to the group that owns it (sudo usermod -aG " + group +
           " $USER), then log in again";
}

void writeAll(int fd, std::string_view text)
{
    // One write per line keeps lines whole on an O_APPEND descriptor.
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

DeviceOps systemDeviceOps()
{
    return DeviceOps{
        [](const char* path, int flags) { return ::open(path, flags); },
        [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); },
        [](int fd) { return ::close(fd); },
    };
}

Reporter stderrReporter()
{
    return [](std::string_view line) {
        std::string text(line);
        text += '\n';
        writeAll(STDERR_FILENO, text);
    };
}

Config configFromEnvironment(const Getenv& getenv, const std::function<bool(const char*)>& exists)
{
    Config config;
    const BoardLocation board = boardLocation(getenv);
    config.boardPath = board.path;
    config.privateFolder = board.privateFolder;
    if (const char* trace = getenv("FENWIX_TRACE"); trace && *trace)
        config.tracePath = trace;

    const char* lpt = getenv("FENWIX_LPT1");
    if (!lpt || !*lpt) {
        constexpr const char* standard = "/dev/parport0";
        const bool present = exists ? exists(standard) : ::access(standard, F_OK) == 0;
        config.virtualBoard = !present;
        if (present)
            config.device = standard;
    } else if (std::strcmp(lpt, "virtual") == 0) {
        config.virtualBoard = true;
    } else {
        config.virtualBoard = false;
        config.device = lpt;
    }
    return config;
}

std::string deviceProblem(const std::string& device, const char* step, int err)
{
    std::string line = "FENWIX: " + device + ": " + step + " failed: " + errorText(err) + "; ";
    switch (err) {
    case ENOENT:
        line += "load the parallel port drivers (sudo modprobe parport_pc ppdev), or set "
                "FENWIX_LPT1 to the right device or to virtual";
        break;
    case EACCES:
    case EPERM:
        line += accessRemedy(device);
        break;
    case ENOTTY:
    case EINVAL:
    case EISDIR:
        line += "this is not a parallel port (ppdev) device; set FENWIX_LPT1 to one such as "
                "/dev/parport0, or to virtual";
        break;
    case EBUSY:
        line += "another driver or program holds the port (the printer driver can be unloaded "
                "with sudo modprobe -r lp); trying again at the next write";
        break;
    case ENXIO:
    case ENODEV:
        line += "no parallel port answers behind this device; check the card and the "
                "parport_pc driver (dmesg)";
        break;
    default:
        line += "trying again at the next write";
        break;
    }
    return line;
}

namespace
{

// The ports of this process, for the fork handler.
std::mutex portsMutex;
std::vector<Port*> ports;

void registerPort(Port* port)
{
    static std::once_flag handler;
    std::call_once(handler, [] {
        ::pthread_atfork(nullptr, nullptr, [] {
            // The child has one thread; the others' locks may be held for ever.
            new (&portsMutex) std::mutex;
            for (Port* p : ports)
                p->forgetParentThreads();
        });
    });
    std::lock_guard lock(portsMutex);
    ports.push_back(port);
}

void unregisterPort(Port* port)
{
    std::lock_guard lock(portsMutex);
    ports.erase(std::remove(ports.begin(), ports.end(), port), ports.end());
}

} // namespace

void Port::forgetParentThreads()
{
    // Locks held by the parent's other threads at fork() stay held in the
    // child for ever: make them afresh. The writer thread is not here: its
    // object is let go, and the next call starts one of the child's own. The
    // parent's unwritten trace lines are the parent's to write.
    new (&m_mutex) std::mutex;
    new (&m_reportMutex) std::mutex;
    new (&m_boardMutex) std::mutex;
    new (&m_boardWake) std::condition_variable;
    new (&m_boardDone) std::condition_variable;
    (void)m_boardWriter.release();
    m_boardDirty = m_boardWriting = m_boardUrgent = m_boardStop = false;
    m_traceUsed = 0;
    m_statusChanges.clear();
    m_pendingStatus.clear();
    if (m_pendingClaim) {
        (void)new (&m_pendingClaim->thread) std::thread; // the claim's thread stayed behind
        m_ops.close(m_pendingClaim->fd);
        m_pendingClaim.reset();
    }
}

Port::Port(Config config, DeviceOps ops, Reporter report)
    : m_config(std::move(config)), m_ops(std::move(ops)), m_report(std::move(report))
{
    if (!m_config.virtualBoard && !m_config.tracePath.empty()) {
        m_traceBuffer.resize(TraceBufferSize);
        m_traceOut.resize(TraceBufferSize);
    }
    registerPort(this);
}

Port::~Port()
{
    // The board file gets the last state before the port goes away (at exit,
    // return from main or the library's unloading).
    unregisterPort(this);
    if (m_boardWriter) {
        {
            std::lock_guard lock(m_boardMutex);
            m_boardStop = true;
        }
        m_boardWake.notify_one();
        m_boardWriter->join();
    }
    closeDevice();
    if (m_pendingClaim) {
        // A claim that has answered is joined. One the kernel still holds (the
        // process is ending while another driver uses the port) is left to
        // finish on its own: it touches nothing but its own copies.
        PendingClaim& claim = *m_pendingClaim;
        if (claim.result.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            claim.thread.join();
        else
            claim.thread.detach();
        m_ops.close(claim.fd);
    }
    if (m_traceFd >= 0)
        ::close(m_traceFd);
    if (m_boardLockFd >= 0)
        ::close(m_boardLockFd);
}

void Port::reportOnce(std::string& last, const std::string& line)
{
    // Callers and the writer thread both report; this lock is never held
    // while waiting for anything else.
    std::lock_guard report(m_reportMutex);
    if (line == last)
        return;
    last = line;
    if (m_report)
        m_report(line);
}

int Port::openFd()
{
    const int fd = m_ops.open(m_config.device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        reportOnce(m_lastDeviceProblem, deviceProblem(m_config.device, "open", err));
        return -err;
    }
    return fd;
}

int Port::fail(int fd, const char* step, int err)
{
    m_ops.close(fd);
    reportOnce(m_lastDeviceProblem, deviceProblem(m_config.device, step, err));
    return err;
}

int Port::openDevice()
{
    if (m_pendingClaim)
        return finishSharedClaim(std::chrono::milliseconds(0));

    int fd = openFd();
    if (fd < 0)
        return -fd;
    // Exclusive access must be asked for before the first claim; the kernel
    // refuses it at once while another driver shares the port.
    if (m_ops.ioctl(fd, PPEXCL, nullptr) != 0)
        return fail(fd, "exclusive access", errno);
    if (m_ops.ioctl(fd, PPCLAIM, nullptr) == 0)
        return setUpDevice(fd);

    // Another driver (typically the printer driver lp) shares the port. A
    // shared claim waits for as long as that driver uses the port, so it runs
    // aside and the panel's write goes on without it.
    m_ops.close(fd);
    fd = openFd();
    if (fd < 0)
        return -fd;
    std::promise<int> result;
    std::future<int> answer = result.get_future();
    std::thread claim([ioctl = m_ops.ioctl, fd, result = std::move(result)]() mutable {
        const int rc = ioctl(fd, PPCLAIM, nullptr);
        result.set_value(rc == 0 ? 0 : errno);
    });
    m_pendingClaim = PendingClaim{fd, std::move(answer), std::move(claim)};
    return finishSharedClaim(m_config.sharedClaimWait);
}

int Port::finishSharedClaim(std::chrono::milliseconds wait)
{
    if (m_pendingClaim->result.wait_for(wait) != std::future_status::ready) {
        reportOnce(m_lastDeviceProblem, deviceProblem(m_config.device, "claim", EBUSY));
        return EBUSY;
    }
    const int fd = m_pendingClaim->fd;
    const int err = m_pendingClaim->result.get();
    m_pendingClaim->thread.join();
    m_pendingClaim.reset();
    if (err != 0)
        return fail(fd, "claim", err);
    return setUpDevice(fd);
}

int Port::setUpDevice(int fd)
{
    int forward = 0;
    if (m_ops.ioctl(fd, PPDATADIR, &forward) != 0) {
        const int err = errno;
        m_ops.ioctl(fd, PPRELEASE, nullptr);
        return fail(fd, "data direction", err);
    }
    m_fd = fd;
    return 0;
}

void Port::closeDevice()
{
    if (m_fd < 0)
        return;
    m_ops.ioctl(m_fd, PPRELEASE, nullptr);
    m_ops.close(m_fd);
    m_fd = -1;
}

void Port::writeDevice(std::uint8_t byte)
{
    int err = m_fd < 0 ? openDevice() : 0;
    if (err == 0 && m_ops.ioctl(m_fd, PPWDATA, &byte) != 0) {
        err = errno;
        reportOnce(m_lastDeviceProblem, deviceProblem(m_config.device, "write", err));
        closeDevice(); // open and claim afresh at the next call
    }
    if (err == 0 && !m_lastDeviceProblem.empty()) {
        m_lastDeviceProblem.clear();
        std::lock_guard report(m_reportMutex);
        if (m_report)
            m_report("FENWIX: " + m_config.device + ": writing again");
    }
    setDeviceStatus(err);
}

void Port::setDeviceStatus(int err)
{
    // Built once per change: the steady path allocates nothing.
    if (err == m_statusError)
        return;
    m_statusError = err;
    m_status = m_config.device + (err ? " error: " + errorText(err) : std::string(" ok"));
}

void Port::traceProblem(const std::string& what)
{
    reportOnce(m_lastTraceProblem, "FENWIX: trace file " + m_config.tracePath + ": " + what);
}

int Port::traceLine(std::int16_t value, char* line, std::size_t size)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::snprintf(line, size, "%lld.%06ld %d\n", static_cast<long long>(now.tv_sec),
                         now.tv_nsec / 1000L, static_cast<int>(value));
}

void Port::appendTrace(const char* data, std::size_t size)
{
    // A trace file deleted while in use is started again, and said so.
    struct stat st {
    };
    if (m_traceFd >= 0 && ::fstat(m_traceFd, &st) == 0 && st.st_nlink == 0) {
        traceProblem("deleted while in use; starting it again");
        ::close(m_traceFd);
        m_traceFd = -1;
    }
    if (m_traceFd < 0) {
        // Non-blocking, so a FIFO without a reader cannot hold the caller.
        const int fd =
            ::open(m_config.tracePath.c_str(),
                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
        if (fd < 0) {
            traceProblem(errorText(errno) + "; no trace is kept");
            return;
        }
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            traceProblem("not a regular file; no trace is kept");
            return;
        }
        m_traceFd = fd;
    }
    // One write of whole lines on the O_APPEND descriptor keeps lines whole,
    // whatever other processes append.
    if (::write(m_traceFd, data, size) != static_cast<ssize_t>(size))
        traceProblem(errorText(errno) + "; trace lines are missing");
    else
        m_lastTraceProblem.clear(); // a later loss is reported again
}

std::string Port::boardPlaceProblem()
{
    // Asked before every replace, and before a lock is made beside the board.
    if (std::string problem = replaceProblem(m_config.boardPath); !problem.empty())
        return problem;
    if (m_config.privateFolder.empty())
        return {};
    if (::mkdir(m_config.privateFolder.c_str(), 0700) != 0 && errno != EEXIST)
        return "folder " + m_config.privateFolder + ": " + errorText(errno);
    const std::string problem = folderNotPrivate(m_config.privateFolder);
    if (!problem.empty())
        return "folder " + m_config.privateFolder + " is " + problem +
               ", so it is not used; set XDG_RUNTIME_DIR or FENWIX_BOARD to a private place";
    return {};
}

std::string Port::holdVirtualBoard()
{
    if (m_boardLockFd >= 0)
        return {};
    // A lock of the open file (not the process), so it also keeps apart two
    // ports of one process; the kernel drops it when the holder ends, however.
    const std::string lockPath = m_config.boardPath + ".lock";
    const int fd = ::open(lockPath.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        return "lock " + lockPath + ": " + errorText(errno);
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return "lock " + lockPath + ": not a regular file";
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
        return "in use by process " + pid.substr(0, pid.find('\n')) +
               "; another program drives this virtual board (end it, or set FENWIX_BOARD to "
               "another file)";
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the holder's name is missing.
    }
    m_boardLockFd = fd;
    return {};
}

std::string Port::replaceBoard(int value, const std::string& status)
{
    if (!m_boardTidied) {
        removeDeadTemporaries(m_config.boardPath);
        m_boardTidied = true;
    }
    const std::string contents = formatBoardState(value, status);
    std::string problem = replaceFile(m_config.boardPath, contents);
    if (problem.empty() && m_config.boardWritten)
        m_config.boardWritten(contents);
    return problem;
}

void Port::reportBoard(std::string problem)
{
    if (problem.empty()) {
        m_lastBoardProblem.clear();
        return;
    }
    if (problem.find(';') == std::string::npos)
        problem += "; set FENWIX_BOARD to a writable path";
    reportOnce(m_lastBoardProblem, "FENWIX: board file " + m_config.boardPath + ": " + problem);
}

void Port::writeVirtualBoard(std::int16_t value)
{
    // Here the file is the output: it is written before the call returns.
    std::string problem = boardPlaceProblem();
    if (problem.empty()) {
        problem = holdVirtualBoard();
        if (!problem.empty())
            m_status = "virtual error: board " + problem.substr(0, problem.find(';'));
    }
    if (problem.empty())
        problem = replaceBoard(value, m_status);
    reportBoard(std::move(problem));
}

void Port::queueBoard(std::int16_t value, const char* line, std::size_t lineSize)
{
    bool wake = false;
    {
        std::unique_lock lock(m_boardMutex);
        if (m_pendingStatus != m_status) {
            // A status change is never coalesced away: the state before it is
            // written first.
            if (m_boardDirty)
                m_statusChanges.emplace_back(m_pendingValue, m_pendingStatus);
            m_pendingStatus = m_status;
        }
        m_pendingValue = value;
        if (lineSize > 0) {
            // A full buffer waits for the writer rather than lose a line.
            m_boardDone.wait(lock, [&] { return m_traceUsed + lineSize <= m_traceBuffer.size(); });
            std::memcpy(m_traceBuffer.data() + m_traceUsed, line, lineSize);
            m_traceUsed += lineSize;
            if (m_traceUsed > m_traceBuffer.size() / 2 && !m_boardUrgent) {
                m_boardUrgent = true; // no gathering: write it now
                wake = true;
            }
        }
        if (!m_boardDirty) {
            m_boardDirty = true;
            wake = true; // once per gathering, not once per call
        }
    }
    if (!m_boardWriter)
        m_boardWriter = std::make_unique<std::thread>(&Port::boardWriterLoop, this);
    else if (wake)
        m_boardWake.notify_one();
}

void Port::boardWriterLoop()
{
    std::unique_lock lock(m_boardMutex);
    for (;;) {
        m_boardWake.wait(lock, [this] { return m_boardDirty || m_boardStop; });
        if (!m_boardDirty)
            return;
        // Gather the calls of the next few milliseconds into one write.
        m_boardWake.wait_for(lock, m_config.boardCoalesce,
                             [this] { return m_boardStop || m_boardUrgent; });
        std::vector<std::pair<int, std::string>> states;
        states.swap(m_statusChanges);
        states.emplace_back(m_pendingValue, m_pendingStatus);
        const std::size_t traced = m_traceUsed;
        if (traced > 0) // no buffers at all without a trace
            std::memcpy(m_traceOut.data(), m_traceBuffer.data(), traced);
        m_traceUsed = 0;
        m_boardDirty = false;
        m_boardUrgent = false;
        m_boardWriting = true;
        m_boardDone.notify_all(); // room in the trace buffer again
        lock.unlock();
        if (traced > 0)
            appendTrace(m_traceOut.data(), traced);
        for (const auto& [value, status] : states) {
            std::string problem = boardPlaceProblem();
            if (problem.empty())
                problem = replaceBoard(value, status);
            reportBoard(std::move(problem));
        }
        lock.lock();
        m_boardWriting = false;
        m_boardDone.notify_all();
    }
}

void Port::flush()
{
    std::unique_lock lock(m_boardMutex);
    m_boardDone.wait(lock, [this] { return !m_boardDirty && !m_boardWriting; });
}

void Port::out(std::int16_t value)
{
    std::lock_guard lock(m_mutex);
    const bool tracing = !m_config.tracePath.empty();
    char line[64];
    const int lineSize = tracing ? traceLine(value, line, sizeof line) : 0;
    if (m_config.virtualBoard) {
        // The file is the output here: trace and board are written before the
        // call returns.
        if (tracing)
            appendTrace(line, static_cast<std::size_t>(lineSize));
        m_status = "virtual";
        writeVirtualBoard(value);
    } else {
        // The device write is the call; the trace line (buffered, written
        // within a few milliseconds and at exit) and the board file follow
        // on the writer thread.
        writeDevice(static_cast<std::uint8_t>(value & 0xFF));
        queueBoard(value, line, static_cast<std::size_t>(lineSize));
    }
}

} // namespace fenwix
