// The serial device map behind the registry key HARDWARE\DEVICEMAP\SERIALCOMM, on fake trees.
#include "PosixDeviceWatch.h"
#include "PosixWin32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class DeviceMap : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kvt-devmap-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "dev/pts");
        fs::create_directories(root / "sys/bus/serial/drivers/port");
        fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
    }
    void TearDown() override {
        korvan::posix::SetDeviceMapRoot("/");
        fs::remove_all(root);
    }
    // A terminal of the tty class; driver: the driver folder its device links to, or none.
    void AddTty(const std::string& name, const std::string& driver, const char* type = nullptr,
                bool node = true) {
        const fs::path tty = root / "sys/class/tty" / name;
        fs::create_directories(tty / "device");
        if (!driver.empty()) fs::create_directory_symlink(root / driver, tty / "device/driver");
        if (type) std::ofstream(tty / "type") << type << "\n";
        if (node) std::ofstream(root / "dev" / name) << "";
    }
    void AddPseudoTerminal(const std::string& number) {
        std::ofstream(root / "dev/pts" / number) << "";
    }
    void AddLink(const std::string& name, const std::string& target) {
        fs::create_symlink(target, root / "dev" / name);
    }
    std::vector<std::string> Read(LONG* openResult = nullptr) {
        korvan::posix::SetDeviceMapRoot(root.string());
        std::vector<std::string> devices;
        HKEY key = nullptr;
        const LONG r =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
        if (openResult) *openResult = r;
        if (r != ERROR_SUCCESS) return devices;
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[256];
            DWORD nameLength = sizeof name;
            DWORD dataLength = sizeof data;
            DWORD type = 0;
            const LONG e =
                RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength);
            if (e == ERROR_NO_MORE_ITEMS) break;
            EXPECT_EQ(e, ERROR_SUCCESS);
            if (e != ERROR_SUCCESS) break;
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(dataLength,
                      std::char_traits<char>::length(reinterpret_cast<char*>(data)) + 1);
            devices.emplace_back(reinterpret_cast<char*>(data));
        }
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        std::sort(devices.begin(), devices.end());
        return devices;
    }

    fs::path root;
};

TEST_F(DeviceMap, ListsDriverBackedTerminalsAndLinksToPseudoTerminals) {
    AddTty("ttyS0", "sys/bus/serial/drivers/port", "0"); // placeholder slot: left out
    AddTty("ttyS1", "sys/bus/serial/drivers/port", "4"); // 16550A
    AddTty("ttyUSB0", "sys/bus/usb-serial/drivers/ftdi_sio");
    AddTty("ttyACM0", "");                               // device without a driver
    fs::create_directories(root / "sys/class/tty/tty0"); // virtual console, no device
    AddPseudoTerminal("3");
    AddLink("ttyZSIM0", "/dev/pts/3");
    AddLink("ttyRel", "pts/3");        // relative target
    AddLink("ttyGone", "/dev/pts/44"); // the pair behind it has ended
    // Started from a terminal, the standard streams' links end at its pseudo-terminal.
    fs::create_directories(root / "proc/self/fd");
    const char* streams[] = {"stdin", "stdout", "stderr"};
    for (int fd = 0; fd < 3; ++fd) {
        fs::create_symlink("/dev/pts/3", root / "proc/self/fd" / std::to_string(fd));
        AddLink(streams[fd], "/proc/self/fd/" + std::to_string(fd));
    }
    AddLink("fd", "/proc/self/fd");
    AddLink("ttyViaProc", "../proc/self/fd/1");
    AddLink("ptmx", "pts/ptmx");
    AddLink("ttyOdd", "/dev/pts/3x");

    EXPECT_EQ(Read(), (std::vector<std::string>{"ttyRel", "ttyS1", "ttyUSB0", "ttyZSIM0"}));
}

TEST_F(DeviceMap, LeavesOutConsolesTerminalsWithoutNodesAndNamesItCannotCarry) {
    const std::string longName = "ttyUSB" + std::string(242, 'x'); // 248 characters
    const std::string notUtf8 = "tty\xC0\xFFodd";
    const char* serial = "sys/bus/serial/drivers/port";
    AddTty("ttyS0", serial, "4");
    AddTty("ttyS1", serial, "4");
    AddTty("ttyS2", serial, "4");
    fs::create_directories(root / "sys/class/tty/console");
    std::ofstream(root / "sys/class/tty/console/active") << "tty0 ttyS0 ttyS2\n";
    AddTty("ttyUSB0", "sys/bus/usb-serial/drivers/ftdi_sio", nullptr, false); // no node
    AddTty(longName, serial, "4");
    AddTty(longName.substr(0, 247), serial, "4"); // the longest that fits
    AddTty(notUtf8, serial, "4");
    AddPseudoTerminal("5");
    AddLink(longName + "L", "/dev/pts/5");
    AddLink("ttyUp", "../dev/pts/5");
    AddLink("ttyChain", "ttyUp");
    AddLink("ttyLoop", "ttyLoop");

    EXPECT_EQ(Read(), (std::vector<std::string>{"ttyChain", "ttyS1", longName.substr(0, 247),
                                                "ttyUp", notUtf8}));
}

// Pseudo-terminals come and go by the hundred a second on a busy machine; only the end of one
// that a link leads to may wake the station.
TEST_F(DeviceMap, TheWatchWakesForEntriesOfDevAndTheTerminalsItsLinksLeadTo) {
    AddPseudoTerminal("5");
    AddLink("ttyZSIM0", "/dev/pts/5");
    korvan::posix::SetDeviceMapRoot(root.string());
    korvan::posix::DeviceWatch watch;
    ASSERT_GE(watch.Fd(), 0);

    AddPseudoTerminal("7");
    fs::remove(root / "dev/pts/7");
    EXPECT_FALSE(watch.TakeChanges()) << "another program's pseudo-terminal";
    fs::remove(root / "dev/pts/5");
    EXPECT_TRUE(watch.TakeChanges()) << "the pair behind a link ended";
    AddPseudoTerminal("5");
    AddLink("ttyZSIM1", "pts/5");
    EXPECT_TRUE(watch.TakeChanges()) << "a new link";
    fs::remove(root / "dev/pts/5");
    EXPECT_TRUE(watch.TakeChanges()) << "the pair behind the new link ended";
}

TEST_F(DeviceMap, UsbSerialNumbersAreFoundAboveTheTerminalsOfBothUsbDrivers) {
    const fs::path usb = root / "sys/devices/pci0000:00/usb1";
    for (const char* device : {"1-1", "1-2", "1-3"}) {
        fs::create_directories(usb / device);
        std::ofstream(usb / device / "idVendor") << "0403\n";
    }
    std::ofstream(usb / "1-1/serial") << "A10K3XYZ\n";
    std::ofstream(usb / "1-2/serial") << "8D7F15\n";     // 1-3 has none
    fs::create_directories(usb / "1-1/1-1:1.0/ttyUSB0"); // usb-serial: the port under the interface
    fs::create_directories(usb / "1-2/1-2:1.0");         // cdc-acm: the interface itself
    fs::create_directories(usb / "1-3/1-3:1.0/ttyUSB1");
    const auto addTty = [&](const std::string& name, const fs::path& device) {
        fs::create_directories(root / "sys/class/tty" / name);
        fs::create_directory_symlink(device, root / "sys/class/tty" / name / "device");
    };
    addTty("ttyUSB0", usb / "1-1/1-1:1.0/ttyUSB0");
    addTty("ttyACM0", usb / "1-2/1-2:1.0");
    addTty("ttyUSB1", usb / "1-3/1-3:1.0/ttyUSB1");
    addTty("ttyS1", root / "sys/devices/platform/serial8250");
    fs::create_directories(root / "sys/devices/platform/serial8250");
    korvan::posix::SetDeviceMapRoot(root.string());

    EXPECT_EQ(korvan::posix::UsbSerialNumber("ttyUSB0"), "A10K3XYZ");
    EXPECT_EQ(korvan::posix::UsbSerialNumber("ttyACM0"), "8D7F15");
    EXPECT_EQ(korvan::posix::UsbSerialNumber("ttyUSB1"), "");
    EXPECT_EQ(korvan::posix::UsbSerialNumber("ttyS1"), "");
    EXPECT_EQ(korvan::posix::UsbSerialNumber("ttyGone"), "");
}

TEST_F(DeviceMap, AnEmptyMachineHasAnEmptyKeyAndAnUnreadableOneNoKey) {
    LONG r = -1;
    EXPECT_TRUE(Read(&r).empty());
    EXPECT_EQ(r, ERROR_SUCCESS);

    fs::remove_all(root / "sys");
    Read(&r);
    EXPECT_NE(r, ERROR_SUCCESS);

    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST_F(DeviceMap, ValuesThatDoNotFitTheCallersBuffersAreRefused) {
    AddTty("ttyUSB0", "sys/bus/usb-serial/drivers/ftdi_sio");
    korvan::posix::SetDeviceMapRoot(root.string());
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    char name[256];
    BYTE data[4];
    DWORD nameLength = sizeof name;
    DWORD dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, data, &dataLength),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataLength, 8u);
    char shortName[3];
    DWORD shortLength = sizeof shortName;
    dataLength = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, shortName, &shortLength, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
}

} // namespace
