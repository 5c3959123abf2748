// port.h - byte access to I/O ports. Without access a write does nothing and a read yields 0.
// Declarations only: the controller links linux/, tests and tools link fake/.
#pragma once

#include <cstdint>

namespace platform {

// Names the parallel-port device that port_setup tries (default /dev/parport0); call it before
// port_setup.
void set_port_device(const char* path);
// Sets up port access once, never waiting for a port that another program holds; false when
// the port cannot be reached (the program then runs on: writes do nothing, reads give 0).
bool port_setup();
// Why port_setup could not reach the port, for the operator; none after a successful setup.
enum class PortProblem { none, no_device, no_permission, busy };
PortProblem port_problem();
// The parallel-port device that port_setup tried.
const char* port_device();
// Releases port access.
void port_teardown();
void Out32(std::uint16_t address, std::uint8_t value);
std::uint8_t Inp32(std::uint16_t address);

}  // namespace platform
