// fake_port.cpp - a latch port: a read returns the last byte written; every write is logged
// with the virtual time.
#include "platform/clock.h"
#include "platform/fake/fake.h"
#include "platform/port.h"

namespace fake {

PortRecord port;

void reset_port() {
    port = PortRecord{};
}

std::vector<std::uint8_t> written_bytes() {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(port.writes.size());
    for (const PortWrite& w : port.writes) bytes.push_back(w.value);
    return bytes;
}

}  // namespace fake

namespace platform {

void set_port_device(const char* path) {
    fake::port.device = path;
}

bool port_setup() {
    return fake::port.access;
}

PortProblem port_problem() {
    return fake::port.access ? PortProblem::none : fake::port.problem;
}

const char* port_device() {
    return fake::port.device.c_str();
}

void port_teardown() {}

void Out32(std::uint16_t address, std::uint8_t value) {
    if (!fake::port.access) return;
    fake::port.latch = value;
    if (fake::port.keep_log) fake::port.writes.push_back({monotonic_ns(), address, value});
    if (fake::port.on_write) fake::port.on_write(value);
}

std::uint8_t Inp32(std::uint16_t) {
    ++fake::port.read_count;
    return fake::port.access ? fake::port.latch : 0;
}

}  // namespace platform
