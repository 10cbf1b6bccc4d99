#include "Options.h"

#include <charconv>
#include <getopt.h>
#include <string_view>

namespace korvan::sim {

namespace {

bool ParseInt(std::string_view text, int& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseSeconds(const char* text, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == std::string_view(text).size() && value >= 0;
    } catch (...) {
        return false;
    }
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ParseFirmware(const std::string& text, int& major, int& minor) {
    const auto dot = text.find('.');
    const std::string_view whole(text);
    const std::string_view majorText = whole.substr(0, dot);
    const std::string_view minorText = dot == std::string::npos ? "0" : whole.substr(dot + 1);
    int ma = 0;
    int mi = 0;
    if (!ParseInt(majorText, ma) || !ParseInt(minorText, mi) || ma < 0 || ma > 255 || mi < 0 ||
        mi > 255)
        return false;
    major = ma;
    minor = mi;
    return true;
}

std::string UsageText() {
    return R"(Usage: korvan-sim [options]

Simulates a network of fire-automation units (the master unit "ЗОКТ-01" and up to nine
modules) answering as a Modbus RTU slave on a virtual serial port. The port is a
pseudo-terminal linked into /dev, by default under a name that sorts after the machine's
serial ports, so a station that opens the last port of its list finds it.

Line and unit:
  --link PATH        link to create for the station's side (default /dev/ttyZSIM0)
  --address N        slave address, 1..247 (default 1)
  --baud N           unit's line speed: 1200 2400 4800 9600 19200 38400 57600 (default 9600)
  --firmware M.mm    firmware version (default 3.05); 1.xx and 2.xx answer registers 0..95
                     only, 3.xx and later also 96..115
  --units N          units on the network, master included, 0..10 (default 4);
                     0 is what firmware without module support reports
  --registers N      registers the unit answers, 96 or 116, whatever firmware it reports
                     (default: as its firmware has them)
  --refuse-write REG every write to register REG gets exception 03
  --quiet            no scenario: nothing changes unless the station writes it
  --period SEC       length of one scenario cycle (default 60)
  --burst            each reply reaches the station in one piece when its last byte would
                     have arrived, as from an adapter that hands on whole frames; without it
                     the bytes arrive one by one at the line's pace

Faults (also switchable at run time through the control socket):
  --drop PCT         share of replies lost on the line, 0..100
  --corrupt PCT      share of replies sent with a damaged CRC, 0..100
  --silence SEC      the line carries nothing for the first SEC seconds
  --hangup-after SEC the port disappears SEC seconds after the start, as if pulled out
  --seed N           seed of the fault and garbage generators (default 1)

Control:
  --control PATH     control socket (default /tmp/korvan-sim-<link name>.sock)
  --dump PATH        register dump written on SIGUSR1 (default /tmp/korvan-sim-<link name>.regs)
  -v, --verbose      log every request to standard error
  -h, --help         this text

The unit: registers 0..79 are ten unit blocks (master, then modules 1..9), 80..84 the
network settings, 85 the unit count, 86 the firmware version, 94 the command signal (0xAA
start, 0x55 stop; shown in the master's inputs, bits 12 and 13), 95 the service command
(0xAA alarm reset, 0x55 factory settings; it clears itself), 96..115 the start sources and
blockings. Function 3 reads and function 6 writes; any other function, and a write to a
register the unit owns (faults 8k+1, inputs 8k+2, 85, 86), gets an exception reply.
The scenario repeats every period: the fire detector of module 1 raises the alarm and the
drives that take their start from it switch on after their delays, the generalised relays
follow, a fault comes and goes on the last module, a door contact on the master opens and
closes, and the alarm is reset at the unit.

When ready it prints one line to standard output:
  ready link=PATH tty=/dev/pts/N control=PATH dump=PATH
It removes the link and the socket when it ends (SIGINT, SIGTERM, SIGHUP).

Control socket: a Unix stream socket taking one command per line and answering one line,
"ok ..." or "error ...":
  drop PCT | corrupt PCT      share of replies lost / sent with a damaged CRC
  silence SEC | on | off      carry nothing for SEC seconds, until "off", or end it
  hangup                      close the station's side and remove the link (adapter pulled out)
  plug                        a new station side and link after a hang-up
  get REG                     "ok VALUE"
  set REG VALUE               change a register as the unit itself would (faults, inputs...)
  regs                        "ok V0 V1 ..." every register the unit answers for, in decimal
  dump [PATH]                 write the register dump to PATH (default: the --dump path)
  factory                     restore the factory settings, as the service command 0x55 does
  scenario on | off           start or stop the scenario
  stats                       counters of requests, replies and faults
  frames                      "ok N F1 F2 ...": N requests came in all, F the last 32 of them
                              (whole frames with their CRC, oldest first) in hexadecimal
Register dump: one line per register, "REGISTER VALUE" in decimal, written whole at once.
)";
}

std::string ParseOptions(int argc, char** argv, Options& options) {
    enum {
        optLink = 256,
        optAddress,
        optBaud,
        optFirmware,
        optUnits,
        optRegisters,
        optRefuseWrite,
        optQuiet,
        optPeriod,
        optDrop,
        optCorrupt,
        optSilence,
        optHangUp,
        optSeed,
        optControl,
        optDump,
        optBurst
    };
    static const option kLong[] = {
        {"link", required_argument, nullptr, optLink},
        {"address", required_argument, nullptr, optAddress},
        {"baud", required_argument, nullptr, optBaud},
        {"firmware", required_argument, nullptr, optFirmware},
        {"units", required_argument, nullptr, optUnits},
        {"registers", required_argument, nullptr, optRegisters},
        {"refuse-write", required_argument, nullptr, optRefuseWrite},
        {"quiet", no_argument, nullptr, optQuiet},
        {"period", required_argument, nullptr, optPeriod},
        {"drop", required_argument, nullptr, optDrop},
        {"corrupt", required_argument, nullptr, optCorrupt},
        {"silence", required_argument, nullptr, optSilence},
        {"hangup-after", required_argument, nullptr, optHangUp},
        {"seed", required_argument, nullptr, optSeed},
        {"control", required_argument, nullptr, optControl},
        {"dump", required_argument, nullptr, optDump},
        {"burst", no_argument, nullptr, optBurst},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // restart scanning, also when called more than once
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":hv", kLong, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        int number = 0;
        switch (c) {
        case 'h':
            options.help = true;
            return {};
        case 'v':
            options.verbose = true;
            break;
        case optLink:
            if (value.empty()) return "--link needs a path";
            options.linkPath = value;
            break;
        case optAddress:
            if (!ParseInt(value, number) || number < 1 || number > 247)
                return "--address must be 1..247";
            options.network.address = number;
            break;
        case optBaud:
            if (!ParseInt(value, number) || SpeedIndex(number) < 0)
                return "--baud must be one of 1200 2400 4800 9600 19200 38400 57600";
            options.network.baud = number;
            break;
        case optFirmware:
            if (!ParseFirmware(value, options.network.firmwareMajor, options.network.firmwareMinor))
                return "--firmware must look like 3.05";
            break;
        case optUnits:
            if (!ParseInt(value, number) || number < 0 || number > kUnits)
                return "--units must be 0..10";
            options.network.unitCount = number;
            break;
        case optRegisters:
            if (!ParseInt(value, number) || (number != 96 && number != 116))
                return "--registers must be 96 or 116";
            options.network.mappedRegisters = number;
            break;
        case optRefuseWrite:
            if (!ParseInt(value, number) || number < 0 || number >= kRegisters)
                return "--refuse-write must be a register 0..127";
            options.network.refusedWrite = number;
            break;
        case optBurst:
            options.burst = true;
            break;
        case optQuiet:
            options.network.scenario = false;
            break;
        case optPeriod:
            if (!ParseSeconds(optarg, options.network.period) || options.network.period < 1)
                return "--period must be at least 1 second";
            break;
        case optDrop:
        case optCorrupt:
            if (!ParseInt(value, number) || number < 0 || number > 100)
                return std::string(c == optDrop ? "--drop" : "--corrupt") + " must be 0..100";
            (c == optDrop ? options.dropPercent : options.corruptPercent) = number;
            break;
        case optSilence:
            if (!ParseSeconds(optarg, options.silenceSeconds))
                return "--silence must be a number of seconds";
            break;
        case optHangUp:
            if (!ParseSeconds(optarg, options.hangUpAfter) || options.hangUpAfter <= 0)
                return "--hangup-after must be a positive number of seconds";
            break;
        case optSeed:
            if (!ParseInt(value, number)) return "--seed must be a number";
            options.seed = static_cast<std::uint32_t>(number);
            break;
        case optControl:
            options.controlPath = value;
            break;
        case optDump:
            options.dumpPath = value;
            break;
        case ':':
            return std::string("option ") + argv[optind - 1] + " needs a value";
        default:
            return std::string("unknown option ") + argv[optind - 1];
        }
    }
    if (optind < argc) return std::string("unexpected argument ") + argv[optind];
    const std::string base = BaseName(options.linkPath);
    if (options.controlPath.empty()) options.controlPath = "/tmp/korvan-sim-" + base + ".sock";
    if (options.dumpPath.empty()) options.dumpPath = "/tmp/korvan-sim-" + base + ".regs";
    return {};
}

} // namespace korvan::sim
