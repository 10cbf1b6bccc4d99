// Command line of korvan-sim.
#pragma once

#include "UnitNetwork.h"

#include <cstdint>
#include <string>

namespace korvan::sim {

struct Options {
    NetworkSettings network;
    std::string linkPath = "/dev/ttyZSIM0";
    std::string controlPath; // empty: derived from the link name
    std::string dumpPath;    // empty: derived from the link name
    int dropPercent = 0;
    int corruptPercent = 0;
    double silenceSeconds = 0;
    double hangUpAfter = 0; // 0: never by itself
    std::uint32_t seed = 1;
    bool burst = false; // replies reach the station whole, not byte by byte
    bool verbose = false;
    bool help = false;
};

// Parses argv. Returns an error text, empty on success; fills in the derived paths.
std::string ParseOptions(int argc, char** argv, Options& options);

// Parses "3.05" into major 3, minor 5. False when it is not M or M.m with both parts 0..255.
bool ParseFirmware(const std::string& text, int& major, int& minor);

std::string UsageText();

} // namespace korvan::sim
