// SPDX-License-Identifier: MIT
#include "fenwix/core/FtdiDevice.h"

#include <cerrno>
#include <ftdi.h>
#include <libusb.h>

namespace fenwix
{

namespace
{

constexpr int VendorId = 0x0403;
constexpr int ProductIds[] = {0x6001, 0x6015}; // FT232R/FT245R, FT-X
// The chips built as FIFOs, which relay boards use; UARTs are serial cables.
constexpr const char* FifoWord = "FIFO";

constexpr const char* Remedy = "give your user access to FTDI boards with a udev rule (see "
                               "60-pc-automation-ftdi.rules.example), then plug the board in again";

int errnoOf(int usbError)
{
    switch (usbError) {
    case LIBUSB_ERROR_ACCESS:
        return EACCES;
    case LIBUSB_ERROR_NO_DEVICE:
        return ENODEV;
    case LIBUSB_ERROR_BUSY:
        return EBUSY;
    case LIBUSB_ERROR_TIMEOUT:
        return ETIMEDOUT;
    default:
        return EIO;
    }
}

// libftdi over libusb, with a fresh context for each list and open: one
// long-lived context would see a board plugged in later only through udev's
// hot-plug messages.
class Libftdi final : public FtdiLink
{
  public:
    ~Libftdi() override { close(); }

    int list(std::vector<FtdiChip>& chips, std::string& why) override
    {
        ftdi_context* ctx = ftdi_new();
        if (!ctx) {
            why = "libftdi could not start";
            return ENOMEM;
        }
        int err = 0;
        for (const int product : ProductIds) {
            ftdi_device_list* found = nullptr;
            if (ftdi_usb_find_all(ctx, &found, VendorId, product) < 0) {
                why = ftdi_get_error_string(ctx);
                err = EIO;
                break;
            }
            for (ftdi_device_list* d = found; d; d = d->next) {
                FtdiChip chip;
                chip.bus = libusb_get_bus_number(d->dev);
                chip.address = libusb_get_device_address(d->dev);
                // Opened by libusb first, for its reason when it cannot be.
                libusb_device_handle* handle = nullptr;
                const int rc = libusb_open(d->dev, &handle);
                if (rc != 0) {
                    chip.problem = errnoOf(rc);
                } else {
                    libusb_close(handle);
                    char name[128] = {}, serial[128] = {};
                    if (ftdi_usb_get_strings(ctx, d->dev, nullptr, 0, name, sizeof name, serial,
                                             sizeof serial) < 0)
                        chip.problem = EIO;
                    chip.product = name;
                    chip.serial = serial;
                }
                chips.push_back(std::move(chip));
            }
            ftdi_list_free(&found);
        }
        ftdi_free(ctx);
        return err;
    }

    int open(const FtdiChip& chip, std::string& why) override
    {
        close();
        m_ctx = ftdi_new();
        if (!m_ctx) {
            why = "libftdi could not start";
            return ENOMEM;
        }
        int err = ENODEV;
        why = "unplugged";
        for (const int product : ProductIds) {
            ftdi_device_list* found = nullptr;
            if (ftdi_usb_find_all(m_ctx, &found, VendorId, product) < 0)
                continue;
            for (ftdi_device_list* d = found; d && err == ENODEV; d = d->next) {
                if (libusb_get_bus_number(d->dev) != chip.bus ||
                    libusb_get_device_address(d->dev) != chip.address)
                    continue;
                // Detaches the kernel's ftdi_sio from this board, if bound.
                if (ftdi_usb_open_dev(m_ctx, d->dev) < 0 ||
                    ftdi_set_bitmode(m_ctx, 0xFF, BITMODE_BITBANG) < 0) {
                    why = ftdi_get_error_string(m_ctx);
                    err = EIO;
                } else {
                    err = 0;
                }
            }
            ftdi_list_free(&found);
        }
        if (err)
            close();
        return err;
    }

    int write(std::uint8_t pins, std::string& why) override
    {
        if (m_ctx && ftdi_write_data(m_ctx, &pins, 1) == 1)
            return 0;
        why = m_ctx ? ftdi_get_error_string(m_ctx) : "not open";
        return EIO;
    }

    int readPins(std::uint8_t& pins, std::string& why) override
    {
        if (m_ctx && ftdi_read_pins(m_ctx, &pins) == 0)
            return 0;
        why = m_ctx ? ftdi_get_error_string(m_ctx) : "not open";
        return EIO;
    }

    void close() override
    {
        if (!m_ctx)
            return;
        ftdi_usb_close(m_ctx); // the pins keep their level
        ftdi_free(m_ctx);
        m_ctx = nullptr;
    }

  private:
    ftdi_context* m_ctx = nullptr;
};

std::string described(const FtdiChip& chip)
{
    return (chip.serial.empty() ? "no serial" : chip.serial) + " (" +
           (chip.problem           ? "cannot be opened: " + errorText(chip.problem)
            : chip.product.empty() ? "no product name"
                                   : chip.product) +
           ")";
}

} // namespace

std::unique_ptr<FtdiLink> libftdiLink()
{
    return std::make_unique<Libftdi>();
}

bool namesFtdiBoard(const std::string& choice)
{
    return choice == "ftdi" || choice.rfind("ftdi:", 0) == 0;
}

FtdiDevice::FtdiDevice(const std::string& choice, std::unique_ptr<FtdiLink> link, Reports& reports)
    : m_link(std::move(link)), m_reports(reports), m_name(choice)
{
    std::string rest = choice.size() > 5 ? choice.substr(5) : "";
    if (rest == "active-low" || (rest.size() > 11 && rest.ends_with(":active-low"))) {
        m_activeLow = true;
        rest.resize(rest == "active-low" ? 0 : rest.size() - 11);
    }
    m_serial = rest;
    if (m_serial.find(':') != std::string::npos)
        m_choiceProblem = "write ftdi, ftdi:SERIAL, or either followed by :active-low";
}

FtdiDevice::~FtdiDevice()
{
    close();
}

int FtdiDevice::fail(const std::string& line, int err)
{
    close();
    m_reports.once(m_lastProblem, "FENWIX: " + line);
    return err;
}

void FtdiDevice::close()
{
    if (m_open)
        m_link->close();
    m_open = false;
}

int FtdiDevice::open()
{
    if (!m_choiceProblem.empty())
        return fail(m_name + ": " + m_choiceProblem, EINVAL);
    std::vector<FtdiChip> chips;
    std::string why;
    if (const int err = m_link->list(chips, why))
        return fail(m_name + ": looking for FTDI boards failed: " + why +
                        "; trying again at the next write",
                    err);
    // A serial names any chip, a serial cable's too; without one only a FIFO
    // chip is taken, and only when it is the only one.
    std::vector<const FtdiChip*> wanted;
    std::string found;
    for (const FtdiChip& chip : chips) {
        found += (found.empty() ? "" : ", ") + described(chip);
        if (m_serial.empty() ? chip.product.find(FifoWord) != std::string::npos
                             : chip.serial == m_serial)
            wanted.push_back(&chip);
    }
    const std::string list = found.empty() ? "" : " (found: " + found + ")";
    if (wanted.empty()) {
        for (const FtdiChip& chip : chips)
            if (chip.problem)
                return fail(
                    m_name + ": an FTDI chip " + described(chip) + "; " +
                        (chip.problem == EACCES ? Remedy : "trying again at the next write"),
                    chip.problem);
        return fail(
            m_name + ": no FTDI relay board " +
                (m_serial.empty() ? std::string("(FT245R USB FIFO)") : "with serial " + m_serial) +
                " is plugged in" + list +
                (m_serial.empty() ? "; a serial cable (USB UART) is switched only when "
                                    "named: ftdi:SERIAL"
                                  : "; plug it in, or choose one of those") +
                "; trying again at the next write",
            ENODEV);
    }
    if (wanted.size() > 1)
        return fail(m_name + ": several FTDI relay boards are plugged in" + list +
                        "; choose one with ftdi:SERIAL",
                    EBUSY);
    const FtdiChip& chip = *wanted.front();
    if (chip.problem)
        return fail(m_name + ": " + described(chip) + "; " +
                        (chip.problem == EACCES ? Remedy : "trying again at the next write"),
                    chip.problem);
    if (const int err = m_link->open(chip, why))
        return fail(m_name + ": opening " + described(chip) + " failed: " + why +
                        "; trying again at the next write",
                    err);
    m_open = true;
    m_name = "ftdi:" + (chip.serial.empty() ? m_serial : chip.serial) +
             (m_activeLow ? ":active-low" : "");
    return 0;
}

int FtdiDevice::readBack(int& byte, std::string& why)
{
    std::uint8_t pins = 0;
    const int err = m_link->readPins(pins, why);
    byte = m_activeLow ? (~pins & 0xFF) : pins;
    return err;
}

int FtdiDevice::write(std::uint8_t byte)
{
    m_disagrees = false;
    if (!m_open)
        if (const int err = open())
            return err;
    std::string why;
    int now = 0;
    int err = m_link->write(m_activeLow ? static_cast<std::uint8_t>(~byte) : byte, why);
    if (!err)
        err = readBack(now, why);
    if (err)
        return fail(m_name + ": writing failed: " + why +
                        "; the board was unplugged or stopped answering; trying again at the "
                        "next write",
                    err);
    m_held = now;
    m_disagrees = now != byte;
    return m_reports.confirmed(m_lastProblem, m_name, now, byte, "pins",
                               "check the board's power supply");
}

int FtdiDevice::read()
{
    if (!m_open && open() != 0)
        return -1;
    std::string why;
    int now = 0;
    if (const int err = readBack(now, why)) {
        fail(m_name + ": reading failed: " + why, err);
        return -1;
    }
    m_held = now;
    if (!m_disagrees)
        m_reports.cured(m_lastProblem, m_name, "answering again");
    return now;
}

} // namespace fenwix
