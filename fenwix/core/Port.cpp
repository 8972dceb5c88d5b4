#include "fenwix/core/Port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

namespace
{

std::string errorText(int err)
{
    return std::strerror(err);
}

std::string ownerGroup(const std::string& path)
{
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0)
        return {};
    struct group grp {
    };
    struct group* found = nullptr;
    char buffer[1024];
    if (::getgrgid_r(st.st_gid, &grp, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return found->gr_name;
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
    config.boardPath = boardPath(getenv);
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
    case EPERM: {
        const std::string group = ownerGroup(device);
        if (!group.empty())
            line += "add your user to the group that owns it (sudo usermod -aG " + group +
                    " $USER), then log in again";
        else
            line += "give your user read and write access to the device";
        break;
    }
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

Port::Port(Config config, DeviceOps ops, Reporter report)
    : m_config(std::move(config)), m_ops(std::move(ops)), m_report(std::move(report))
{
}

Port::~Port()
{
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
}

void Port::reportOnce(std::string& last, const std::string& line)
{
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
    if (err != 0) {
        m_status = m_config.device + " error: " + errorText(err);
        return;
    }
    if (!m_lastDeviceProblem.empty()) {
        m_lastDeviceProblem.clear();
        if (m_report)
            m_report("FENWIX: " + m_config.device + ": writing again");
    }
    m_status = m_config.device + " ok";
}

void Port::writeTrace(std::int16_t value)
{
    if (m_config.tracePath.empty())
        return;
    if (m_traceFd < 0) {
        m_traceFd = ::open(m_config.tracePath.c_str(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
        if (m_traceFd < 0) {
            reportOnce(m_lastTraceProblem, "FENWIX: trace file " + m_config.tracePath + ": " +
                                               errorText(errno) + "; no trace is kept");
            return;
        }
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char line[64];
    const int n =
        std::snprintf(line, sizeof line, "%lld.%06ld %d\n", static_cast<long long>(now.tv_sec),
                      now.tv_nsec / 1000L, static_cast<int>(value));
    if (::write(m_traceFd, line, static_cast<std::size_t>(n)) != n)
        reportOnce(m_lastTraceProblem, "FENWIX: trace file " + m_config.tracePath + ": " +
                                           errorText(errno) + "; trace lines are missing");
}

void Port::writeBoard(std::int16_t value)
{
    const int err = replaceFile(m_config.boardPath, formatBoardState(value, m_status));
    if (err != 0)
        reportOnce(m_lastBoardProblem, "FENWIX: board file " + m_config.boardPath + ": " +
                                           errorText(err) +
                                           "; set FENWIX_BOARD to a writable path");
    else
        m_lastBoardProblem.clear();
}

void Port::out(std::int16_t value)
{
    std::lock_guard lock(m_mutex);
    writeTrace(value);
    if (m_config.virtualBoard)
        m_status = "virtual";
    else
        writeDevice(static_cast<std::uint8_t>(value & 0xFF));
    writeBoard(value);
}

} // namespace fenwix
