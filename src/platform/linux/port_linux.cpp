// port_linux.cpp - port access on Linux, tried in order: the parallel-port device
// /dev/parport0 (claimed; address 888 is its data register), direct I/O with ioperm on 0x378
// (root, x86 only), none (writes do nothing, reads yield 0).
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "drive/port_layout.h"
#include "platform/port.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define CNC_HAVE_DIRECT_IO 1
#else
#define CNC_HAVE_DIRECT_IO 0
#endif

namespace {

enum class Access { none, ppdev, direct };
Access port_access = Access::none;
int ppdev_fd = -1;
std::string ppdev_path = "/dev/parport0";
bool ppdev_path_chosen = false;
std::string ppdev_description;

bool try_ppdev() {
    const int fd = ::open(ppdev_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    if (::ioctl(fd, PPCLAIM) != 0) {
        ::close(fd);
        return false;
    }
    ppdev_fd = fd;
    return true;
}

bool try_direct_io() {
#if CNC_HAVE_DIRECT_IO
    return ::ioperm(port_layout::DATA_PORT, 1, 1) == 0;
#else
    return false;
#endif
}

}  // namespace

namespace platform {

void set_port_device(const char* path) {
    ppdev_path = path;
    ppdev_path_chosen = true;
}

const char* port_setup() {
    const char* description = "none (no parallel port access: writes do nothing, reads give 0)";
    if (try_ppdev()) {
        port_access = Access::ppdev;
        ppdev_description = "ppdev " + ppdev_path;
        description = ppdev_description.c_str();
    } else if (!ppdev_path_chosen && try_direct_io()) {
        // Direct I/O reaches the first port at 0x378 only: never a stand-in for another device.
        port_access = Access::direct;
        description = "direct I/O at 0x378";
    } else {
        port_access = Access::none;
    }
    std::fprintf(stderr, "cncmirel: port access: %s\n", description);
    return description;
}

void port_teardown() {
    if (port_access == Access::ppdev && ppdev_fd >= 0) {
        ::ioctl(ppdev_fd, PPRELEASE);
        ::close(ppdev_fd);
        ppdev_fd = -1;
    }
    port_access = Access::none;
}

void Out32(std::uint16_t address, std::uint8_t value) {
    switch (port_access) {
        case Access::ppdev:
            // The device knows only its own registers: the data register stands for 888.
            if (address == port_layout::DATA_PORT) {
                unsigned char byte = value;
                ::ioctl(ppdev_fd, PPWDATA, &byte);
            }
            break;
        case Access::direct:
#if CNC_HAVE_DIRECT_IO
            if (address == port_layout::DATA_PORT) outb(value, address);
#endif
            break;
        case Access::none:
            break;
    }
}

std::uint8_t Inp32(std::uint16_t address) {
    switch (port_access) {
        case Access::ppdev:
            if (address == port_layout::DATA_PORT) {
                unsigned char byte = 0;
                if (::ioctl(ppdev_fd, PPRDATA, &byte) == 0) return byte;
            }
            return 0;
        case Access::direct:
#if CNC_HAVE_DIRECT_IO
            if (address == port_layout::DATA_PORT) return inb(address);
#endif
            return 0;
        case Access::none:
            return 0;
    }
    return 0;
}

}  // namespace platform
