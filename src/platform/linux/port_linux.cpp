// port_linux.cpp - port access on Linux, tried in order: the parallel-port device
// /dev/parport0 (claimed, never waiting for another holder; address 888 is its data register),
// direct I/O with ioperm on 0x378 (root, x86 only), none (writes do nothing, reads yield 0).
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/port_layout.h"
#include "platform/linux/port_claim.h"
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
std::string device_path = "/dev/parport0";
bool device_chosen = false;  // named with --port: direct I/O is then no stand-in
platform::PortProblem device_problem = platform::PortProblem::none;

// How long start-up waits for a port that another program holds before it goes on without.
constexpr int CLAIM_TIMEOUT_MS = 300;

// The cause of a failed open or claim in the operator's words.
const char* cause_of(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no device";
        case EACCES:
        case EPERM:
            return "no permission";
        case EBUSY:
            return "busy, held by another program";
        case ENOSYS:
            return "not available on this system";
        default:
            return std::strerror(error);
    }
}

// The same cause in the three kinds the operator's message box tells apart.
platform::PortProblem problem_of(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return platform::PortProblem::no_permission;
        case EBUSY:
            return platform::PortProblem::busy;
        default:
            return platform::PortProblem::no_device;
    }
}

// Opens and claims the parallel-port device; on failure `cause` and device_problem say why.
bool try_ppdev(const char*& cause) {
    // O_NONBLOCK: the open itself never waits either.
    const int fd = ::open(device_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        cause = cause_of(errno);
        device_problem = problem_of(errno);
        return false;
    }
    switch (port_claim::claim_with_timeout(fd, CLAIM_TIMEOUT_MS)) {
        case port_claim::Result::claimed:
            ppdev_fd = fd;
            return true;
        case port_claim::Result::busy:
            cause = "busy, held by another program";
            device_problem = platform::PortProblem::busy;
            break;
        case port_claim::Result::failed:
            cause = cause_of(errno);
            device_problem = problem_of(errno);
            break;
    }
    ::close(fd);
    return false;
}

bool try_direct_io(const char*& cause) {
#if CNC_HAVE_DIRECT_IO
    if (::ioperm(port_layout::DATA_PORT, 1, 1) == 0) return true;
    cause = cause_of(errno);
#else
    cause = "not available on this processor";
#endif
    return false;
}

}  // namespace

namespace platform {

void set_port_device(const char* path) {
    device_path = path;
    device_chosen = true;
}

bool port_setup() {
    const char* device_cause = "";
    const char* direct_cause = "not tried for a device named on the command line";
    if (try_ppdev(device_cause)) {
        port_access = Access::ppdev;
        std::fprintf(stderr, "cncmirel: port access: ppdev %s\n", device_path.c_str());
    } else if (!device_chosen && try_direct_io(direct_cause)) {
        // Direct I/O reaches the first port at 0x378 only: never a stand-in for another device.
        port_access = Access::direct;
        std::fprintf(stderr, "cncmirel: port access: direct I/O at 0x378\n");
    } else {
        port_access = Access::none;
        std::fprintf(stderr,
                     "cncmirel: no parallel port access (%s: %s; direct I/O at 0x378: %s): "
                     "writes do nothing, reads give 0\n",
                     device_path.c_str(), device_cause, direct_cause);
    }
    if (port_access != Access::none) device_problem = PortProblem::none;
    return port_access != Access::none;
}

PortProblem port_problem() {
    return device_problem;
}

const char* port_device() {
    return device_path.c_str();
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
