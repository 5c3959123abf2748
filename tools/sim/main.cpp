// main.cpp - cncmirel-sim's entry point.
#include <cstdio>
#include <string>
#include <vector>

#include "sim.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return sim::run_command_line(args, stdout, stderr);
}
