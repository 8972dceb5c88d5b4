// SPDX-License-Identifier: MIT
#include "fenwix/core/PpdevDevice.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <new>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fenwix
{

DeviceOps systemDeviceOps()
{
    return DeviceOps{
        [](const char* path, int flags) { return ::open(path, flags); },
        [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); },
        [](int fd) { return ::close(fd); },
    };
}

PpdevDevice::PpdevDevice(std::string path, DeviceOps ops, Reports& reports,
                         std::chrono::milliseconds sharedClaimWait)
    : m_path(std::move(path)), m_ops(std::move(ops)), m_reports(reports),
      m_sharedClaimWait(sharedClaimWait)
{
}

PpdevDevice::~PpdevDevice()
{
    close();
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
}

void PpdevDevice::forgetParentThreads()
{
    if (m_pendingClaim) {
        (void)new (&m_pendingClaim->thread) std::thread; // the claim's thread stayed behind
        m_ops.close(m_pendingClaim->fd);
        m_pendingClaim.reset();
    }
}

int PpdevDevice::openFd()
{
    const int fd = m_ops.open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        m_reports.once(m_lastProblem, deviceProblem(m_path, "open", err));
        return -err;
    }
    return fd;
}

int PpdevDevice::fail(int fd, const char* step, int err)
{
    m_ops.close(fd);
    m_reports.once(m_lastProblem, deviceProblem(m_path, step, err));
    return err;
}

int PpdevDevice::open()
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
        return setUp(fd);

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
    return finishSharedClaim(m_sharedClaimWait);
}

int PpdevDevice::finishSharedClaim(std::chrono::milliseconds wait)
{
    if (m_pendingClaim->result.wait_for(wait) != std::future_status::ready) {
        m_reports.once(m_lastProblem, deviceProblem(m_path, "claim", EBUSY));
        return EBUSY;
    }
    const int fd = m_pendingClaim->fd;
    const int err = m_pendingClaim->result.get();
    m_pendingClaim->thread.join();
    m_pendingClaim.reset();
    if (err != 0)
        return fail(fd, "claim", err);
    return setUp(fd);
}

int PpdevDevice::setUp(int fd)
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

void PpdevDevice::close()
{
    if (m_fd < 0)
        return;
    m_ops.ioctl(m_fd, PPRELEASE, nullptr);
    m_ops.close(m_fd);
    m_fd = -1;
}

int PpdevDevice::write(std::uint8_t byte)
{
    int err = m_fd < 0 ? open() : 0;
    if (err == 0 && m_ops.ioctl(m_fd, PPWDATA, &byte) != 0) {
        err = errno;
        m_reports.once(m_lastProblem, deviceProblem(m_path, "write", err));
        close(); // open and claim afresh at the next call
    }
    if (err == 0)
        m_reports.cured(m_lastProblem, m_path, "writing again");
    return err;
}

int PpdevDevice::read()
{
    if (m_fd < 0 && open() != 0)
        return -1;
    unsigned char byte = 0;
    if (m_ops.ioctl(m_fd, PPRDATA, &byte) != 0) {
        m_reports.once(m_lastProblem, deviceProblem(m_path, "read", errno));
        close();
        return -1;
    }
    // Opened and claimed again: the port answers.
    m_reports.cured(m_lastProblem, m_path, "answering again");
    return byte;
}

} // namespace fenwix
