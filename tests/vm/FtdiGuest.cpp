// SPDX-License-Identifier: MIT
// FTDI bit-bang boards in the guest: a USB gadget made through configfs on
// dummy_hcd, whose one FunctionFS function a child of vmcheck serves as an
// FT245R (or an FT232R serial cable) does: FTDI's vendor requests on ep0,
// pin bytes on bulk OUT, modem status on bulk IN. The host side is the
// kernel's real USB stack, libusb and libftdi.
#include "tests/vm/Guest.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <fstream>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace guest
{

namespace
{

std::string gadgetOf(const std::string& serial)
{
    return "/sys/kernel/config/usb_gadget/" + serial;
}

bool put(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    return bool(out);
}

template <typename T> void append(std::string& blob, const T& value)
{
    blob.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// One vendor-specific interface, bulk IN 0x81 and bulk OUT 0x02 of 64 bytes,
// full speed; every control request comes to us, the device's own too.
std::string descriptors()
{
    std::string blob;
    usb_interface_descriptor intf{};
    intf.bLength = USB_DT_INTERFACE_SIZE;
    intf.bDescriptorType = USB_DT_INTERFACE;
    intf.bNumEndpoints = 2;
    intf.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    intf.bInterfaceSubClass = 0xFF;
    intf.bInterfaceProtocol = 0xFF;
    usb_endpoint_descriptor_no_audio in{}, out{};
    in.bLength = out.bLength = USB_DT_ENDPOINT_SIZE;
    in.bDescriptorType = out.bDescriptorType = USB_DT_ENDPOINT;
    in.bEndpointAddress = 1 | USB_DIR_IN;
    out.bEndpointAddress = 2 | USB_DIR_OUT;
    in.bmAttributes = out.bmAttributes = USB_ENDPOINT_XFER_BULK;
    in.wMaxPacketSize = out.wMaxPacketSize = htole16(64);
    usb_functionfs_descs_head_v2 head{};
    head.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    head.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
    append(blob, head);
    append(blob, htole32(3)); // full-speed descriptors
    append(blob, intf);
    append(blob, in);
    append(blob, out);
    reinterpret_cast<usb_functionfs_descs_head_v2*>(blob.data())->length =
        htole32(static_cast<std::uint32_t>(blob.size()));
    return blob;
}

std::string noStrings()
{
    usb_functionfs_strings_head head{};
    head.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    head.length = htole32(sizeof head);
    std::string blob;
    append(blob, head);
    return blob;
}

} // namespace

int ftdiBoard(const std::string& serial, const std::string& product, const std::string& udc,
              unsigned refused)
{
    const std::string g = gadgetOf(serial);
    const std::string ffs = "/dev/ffs-" + serial;
    for (const std::string& dir :
         {g, g + "/strings/0x409", g + "/configs/c.1", g + "/functions/ffs." + serial, ffs})
        ::mkdir(dir.c_str(), 0755);
    if (!put(g + "/idVendor", "0x0403") || !put(g + "/idProduct", "0x6001") ||
        !put(g + "/bcdDevice", "0x0600") || !put(g + "/strings/0x409/manufacturer", "FTDI") ||
        !put(g + "/strings/0x409/product", product) ||
        !put(g + "/strings/0x409/serialnumber", serial))
        return 2;
    (void)::symlink((g + "/functions/ffs." + serial).c_str(),
                    (g + "/configs/c.1/ffs." + serial).c_str());
    if (::mount(serial.c_str(), ffs.c_str(), "functionfs", 0, nullptr) != 0)
        return 3;
    const int ep0 = ::open((ffs + "/ep0").c_str(), O_RDWR);
    const std::string d = descriptors(), s = noStrings();
    if (ep0 < 0 || ::write(ep0, d.data(), d.size()) != ssize_t(d.size()) ||
        ::write(ep0, s.data(), s.size()) != ssize_t(s.size()))
        return 4;
    const int in = ::open((ffs + "/ep1").c_str(), O_RDWR);
    const int out = ::open((ffs + "/ep2").c_str(), O_RDWR);
    if (in < 0 || out < 0 || !put(g + "/UDC", udc))
        return 5;

    std::mutex mutex;
    std::atomic<unsigned> pins = 0;
    unsigned outputs = 0; // bit-bang mode's output pins; 0 outside it
    std::ofstream log("/tmp/ftdi-" + serial, std::ios::app);
    std::thread([&] {
        unsigned char bytes[64];
        for (;;) {
            const ssize_t n = ::read(out, bytes, sizeof bytes);
            if (n <= 0) { // not configured, or unplugged
                ::usleep(20000);
                continue;
            }
            std::lock_guard lock(mutex);
            for (ssize_t i = 0; i < n; ++i) {
                const unsigned mask = outputs & ~refused;
                pins = (pins & ~mask) | (bytes[i] & mask);
                log << pins << "\n" << std::flush;
            }
        }
    }).detach();
    std::thread([in] {
        const unsigned char status[2] = {0x01, 0x60}; // modem status, as the chip sends it
        for (;;)
            if (::write(in, status, sizeof status) < 0)
                ::usleep(20000);
    }).detach();

    for (;;) {
        usb_functionfs_event events[4];
        const ssize_t n = ::read(ep0, events, sizeof events);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 6;
        for (ssize_t i = 0; i < n / ssize_t(sizeof events[0]); ++i) {
            if (events[i].type != FUNCTIONFS_SETUP)
                continue;
            const usb_ctrlrequest& r = events[i].u.setup;
            const unsigned length = le16toh(r.wLength), value = le16toh(r.wValue);
            if (r.bRequestType & USB_DIR_IN) {
                unsigned char reply[64] = {};
                std::size_t size = 0;
                if (r.bRequest == 0x0C) { // read pins: after the bytes sent before it
                    ::usleep(5000);
                    std::lock_guard lock(mutex);
                    reply[0] = static_cast<unsigned char>(pins);
                    size = 1;
                } else if (r.bRequest == 0x0A) { // latency timer
                    reply[0] = 16;
                    size = 1;
                } else if (r.bRequest == 0x05 || r.bRequest == 0x90) { // modem status, EEPROM
                    reply[0] = r.bRequest == 0x05 ? 0x01 : 0xFF;
                    reply[1] = r.bRequest == 0x05 ? 0x60 : 0xFF;
                    size = 2;
                }
                (void)!::write(ep0, reply, std::min<std::size_t>(size, length));
            } else {
                if (r.bRequest == 0x0B) { // bit mode: pins as outputs, and the mode
                    std::lock_guard lock(mutex);
                    outputs = (value >> 8) ? (value & 0xFF) : 0;
                }
                unsigned char data[64];
                (void)!::read(ep0, data, std::min<std::size_t>(length, sizeof data));
            }
        }
    }
}

namespace
{

// The gadget's device as the host sees it, empty while it is not on the bus.
std::string usbDeviceOf(const std::string& serial)
{
    std::string found;
    if (DIR* dir = ::opendir("/sys/bus/usb/devices")) {
        while (const dirent* e = ::readdir(dir))
            if (readFile(std::string("/sys/bus/usb/devices/") + e->d_name + "/serial") ==
                serial + "\n")
                found = std::string("/sys/bus/usb/devices/") + e->d_name;
        ::closedir(dir);
    }
    return found;
}

Board plugFtdi(const std::string& serial, const std::string& product, const std::string& udc,
               unsigned refused = 0)
{
    return plug({"ftdiboard", serial, product, udc, std::to_string(refused)},
                [&] { return usbDeviceOf(serial); });
}

std::vector<int> ftdiLog(const std::string& serial)
{
    return statesIn("/tmp/ftdi-" + serial);
}

} // namespace

void ftdiBoards()
{
    const Run none = run({"writer", "7"}, {"FENWIX_LPT1=ftdi", "FENWIX_BOARD=/tmp/board-noftdi"});
    report("FTDI: with no board, one message naming the FT245R, and an error status",
           none.err.find("no FTDI relay board (FT245R USB FIFO)") != std::string::npos &&
               readFile("/tmp/board-noftdi").rfind("7\nftdi error: ", 0) == 0,
           show(none.err + readFile("/tmp/board-noftdi")));

    const Board fifo = plugFtdi("FTAAA", "FT245R USB FIFO", "dummy_udc.0");
    const Board cable = plugFtdi("FTBBB", "FT232R USB UART", "dummy_udc.1", 0x04);
    report("FTDI: an FT245R and an FT232R gadget appear on the USB bus",
           !fifo.node.empty() && !cable.node.empty(), fifo.node + " " + cable.node);
    const Run values = run({"writer", "1", "5", "255", "0", "170"},
                           {"FENWIX_LPT1=ftdi", "FENWIX_BOARD=/tmp/board-ftdi"});
    std::vector<int> seen = ftdiLog("FTAAA");
    report("FTDI: 1, 5, 255, 0, 170 reach the FT245R's pins in order; the serial cable is "
           "never switched by plain ftdi",
           values.status == 0 && seen == std::vector<int>{1, 5, 255, 0, 170} &&
               ftdiLog("FTBBB").empty(),
           show(values.err));
    report("FTDI: the board file names the board by its serial",
           readFile("/tmp/board-ftdi") == "170\nftdi:FTAAA ok\n",
           show(readFile("/tmp/board-ftdi")));
    const Run back = run({"reader"}, {"FENWIX_LPT1=ftdi:FTAAA"});
    report("FTDI: a fresh process reads the pins back", back.out == "170\n", show(back.out));
    const Run low = run({"writer", "1"}, {"FENWIX_LPT1=ftdi:FTAAA:active-low"});
    report("FTDI: active-low inverts the pins", lastOf(ftdiLog("FTAAA")) == 254, show(low.err));
    const Run named = run({"writer", "3"}, {"FENWIX_LPT1=ftdi:FTBBB"});
    const Run refused =
        run({"writer", "4"}, {"FENWIX_LPT1=ftdi:FTBBB", "FENWIX_BOARD=/tmp/board-ftdib"});
    report("FTDI: ftdi:SERIAL picks the other board; one that does not switch a pin gives an "
           "error status, never ok",
           ftdiLog("FTBBB") == std::vector<int>{3, 0} && named.status == 0 &&
               readFile("/tmp/board-ftdib").rfind("4\nftdi:FTBBB error: ", 0) == 0 &&
               refused.err.find("the pins hold 0 after 4") != std::string::npos,
           show(named.err + refused.err + readFile("/tmp/board-ftdib")));

    // Unplugged (the gadget unbound) and plugged back while one program drives it.
    const Run driver =
        run({"steps", "3", "wait:/tmp/f-out", "4", "wait:/tmp/f-back", "6", "wait:/tmp/f-end"},
            {"FENWIX_LPT1=ftdi:FTAAA", "FENWIX_BOARD=/tmp/board-freplug"}, nullptr, true);
    auto boardSays = [](const std::string& start) {
        return waitFor([&] { return readFile("/tmp/board-freplug").rfind(start, 0) == 0; });
    };
    const bool before = boardSays("3\nftdi:FTAAA ok\n");
    put(gadgetOf("FTAAA") + "/UDC", "\n");
    waitFor([] { return usbDeviceOf("FTAAA").empty(); });
    std::ofstream("/tmp/f-out") << "\n";
    const bool gone = boardSays("4\nftdi:FTAAA error: ");
    put(gadgetOf("FTAAA") + "/UDC", "dummy_udc.0");
    waitFor([] { return !usbDeviceOf("FTAAA").empty(); });
    std::ofstream("/tmp/f-back") << "\n";
    const bool again = boardSays("6\nftdi:FTAAA ok\n") && lastOf(ftdiLog("FTAAA")) == 6;
    std::ofstream("/tmp/f-end") << "\n";
    ::waitpid(driver.status, nullptr, 0);
    report("FTDI: unplugged gives an error status, plugged back it works again",
           before && gone && again, show(readFile("/tmp/board-freplug")));

    // A board the user may not open: its node under /dev/bus/usb.
    const std::string bus = readFile(fifo.node + "/busnum"), dev = readFile(fifo.node + "/devnum");
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                  std::atoi(dev.c_str()));
    ::chmod(node, 0600);
    const User outsider{1001, 1001, {}};
    const Run denied = run({"writer", "1"}, {"FENWIX_LPT1=ftdi:FTAAA"}, &outsider);
    report("FTDI: a board the user may not open gives the permission message",
           denied.err.find("Permission denied") != std::string::npos &&
               denied.err.find("ftdi.rules") != std::string::npos,
           show(denied.err) + node);
    for (const Board& b : {fifo, cable}) {
        ::kill(b.pid, SIGKILL);
        ::waitpid(b.pid, nullptr, 0);
    }
}

} // namespace guest
