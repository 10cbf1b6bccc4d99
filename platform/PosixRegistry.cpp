// The one registry key the station reads, HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM: the
// machine's serial devices. Each value's data is a device name to which "/dev/" is prefixed to
// open it: every terminal that a device driver has registered (/sys/class/tty/NAME/device/driver
// exists) and that has its node in /dev, except the kernel's placeholder UART ports whose type
// reads 0 and the active kernel consoles; and every symbolic link directly in /dev that points
// to a pseudo-terminal /dev/pts/N, the virtual ports of socat or the unit simulator, unless the
// link leads through /proc (/dev/stdin and its kin). A terminal that is the station's own
// (its controlling terminal or a standard stream) is never listed. Names are bytes as the system
// has them; one too long for the 256-byte buffers of the key's readers is left out.
#include "PosixObjects.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kValuePrefix[] = "\\Device\\";
// Value name and data, each with its terminating zero, fit in 256 bytes.
constexpr std::size_t kLongestName = 256 - 1 - (sizeof kValuePrefix - 1);

std::mutex rootMutex;
std::string& RootRef() {
    static std::string* root = new std::string("/");
    return *root;
}

struct Value {
    std::string name;
    std::string data;
};

class RegistryKey : public Object {
  public:
    explicit RegistryKey(std::vector<Value> values) : values_(std::move(values)) {}
    const std::vector<Value>& Values() const { return values_; }

  private:
    std::vector<Value> values_;
};

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

std::string Join(const std::string& root, const std::string& path) {
    if (root.empty() || root == "/") return path;
    return (root.back() == '/' ? root.substr(0, root.size() - 1) : root) + path;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// A placeholder port of a UART driver: the slot exists but no UART answered (type 0).
bool IsPlaceholderPort(const std::string& ttyFolder) {
    std::ifstream type(ttyFolder + "/type");
    int value = -1;
    return type >> value && value == 0;
}

// The kernel consoles in use ("tty0 ttyS0"): a serial one carries the system's messages and
// maybe a login, and is nobody's Modbus line.
std::set<std::string> ActiveConsoles(const std::string& root) {
    std::ifstream active(Join(root, "/sys/class/tty/console/active"));
    return {std::istream_iterator<std::string>(active), std::istream_iterator<std::string>()};
}

// Where the link at path (as seen from "/") ends, following chains of links inside the tree, a
// relative target read from its link's folder; empty for a loop and for a chain through /proc,
// whose links (/proc/self/fd/N) lead to whatever the station itself has open: started from a
// terminal, /dev/stdout ends at that terminal.
std::string FinalTarget(const std::string& root, std::string path) {
    for (int hop = 0; hop < 8; ++hop) {
        char target[4096];
        const ssize_t n = readlink(Join(root, path).c_str(), target, sizeof target - 1);
        if (n <= 0) return path;
        target[n] = '\0';
        path = (std::filesystem::path(path).parent_path() / target).lexically_normal().string();
        if (path == "/proc" || path.rfind("/proc/", 0) == 0) return {};
    }
    return {};
}

// The terminals that are the station's own: its standard streams' and its controlling terminal
// (field 7 of /proc/self/stat). Polling one would write Modbus requests into the operator's shell.
std::vector<dev_t> OwnTerminals() {
    std::vector<dev_t> own;
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat st {};
        if (isatty(fd) == 1 && fstat(fd, &st) == 0) own.push_back(st.st_rdev);
    }
    std::ifstream statFile("/proc/self/stat");
    std::string line;
    std::getline(statFile, line);
    const std::size_t afterName = line.rfind(')'); // the name may hold spaces and parentheses
    if (afterName != std::string::npos) {
        std::istringstream fields(line.substr(afterName + 1));
        std::string state;
        long parent = 0, group = 0, session = 0, tty = 0;
        if (fields >> state >> parent >> group >> session >> tty && tty != 0) {
            own.push_back(static_cast<dev_t>(tty));
        }
    }
    return own;
}

bool IsOwnTerminal(const std::string& node, const std::vector<dev_t>& own) {
    struct stat st {};
    return stat(node.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
           std::find(own.begin(), own.end(), st.st_rdev) != own.end();
}

bool IsPseudoTerminalPath(const std::string& target) {
    constexpr char prefix[] = "/dev/pts/";
    if (target.rfind(prefix, 0) != 0) return false;
    const std::string number = target.substr(sizeof prefix - 1);
    if (number.empty()) return false;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

} // namespace

std::vector<LinkedTerminal> LinksToPseudoTerminals(const std::string& root) {
    std::vector<LinkedTerminal> linked;
    const std::string devFolder = Join(root, "/dev");
    DIR* dev = opendir(devFolder.c_str());
    if (!dev) return linked;
    while (dirent* entry = readdir(dev)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (lstat((devFolder + "/" + name).c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        const std::string resolved = FinalTarget(root, "/dev/" + name);
        if (!IsPseudoTerminalPath(resolved)) continue;
        const std::string node = Join(root, resolved);
        if (!Exists(node)) continue; // the pair behind it is gone
        linked.push_back({name, node});
    }
    closedir(dev);
    return linked;
}

namespace {

// False when the terminal class folder cannot be read.
bool ReadDeviceMap(const std::string& root, std::vector<Value>& values) {
    const std::string ttyClass = Join(root, "/sys/class/tty");
    DIR* dir = opendir(ttyClass.c_str());
    if (!dir) return false;
    const std::string devFolder = Join(root, "/dev");
    const std::set<std::string> consoles = ActiveConsoles(root);
    const std::vector<dev_t> own = OwnTerminals();
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name.size() > kLongestName) continue;
        const std::string folder = ttyClass + "/" + name;
        if (!Exists(folder + "/device/driver") || IsPlaceholderPort(folder)) continue;
        struct stat node {};
        const std::string nodePath = devFolder + "/" + name;
        if (consoles.count(name) || lstat(nodePath.c_str(), &node) != 0) continue;
        if (IsOwnTerminal(nodePath, own)) continue;
        values.push_back({kValuePrefix + name, name});
    }
    closedir(dir);

    for (const LinkedTerminal& linked : LinksToPseudoTerminals(root)) {
        if (linked.name.size() > kLongestName || IsOwnTerminal(linked.node, own)) continue;
        values.push_back({kValuePrefix + linked.name, linked.name});
    }
    return true;
}

} // namespace

void SetDeviceMapRoot(const std::string& root) {
    std::lock_guard lock(rootMutex);
    RootRef() = root.empty() ? "/" : root;
}

std::string DeviceMapRoot() {
    std::lock_guard lock(rootMutex);
    return RootRef();
}

std::string UsbSerialNumber(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "..") return {};
    std::error_code error;
    std::filesystem::path folder = std::filesystem::canonical(
        Join(DeviceMapRoot(), "/sys/class/tty/" + name + "/device"), error);
    if (error) return {};
    // The terminal's device is the USB interface (ttyACM) or a child of it (ttyUSB); the USB
    // device, with its idVendor and serial, is above.
    for (int up = 0; up < 3 && folder.has_relative_path(); ++up, folder = folder.parent_path()) {
        if (!Exists((folder / "idVendor").string())) continue;
        std::ifstream serial(folder / "serial");
        std::string number;
        std::getline(serial, number);
        return number;
    }
    return {};
}

} // namespace korvan::posix

using namespace korvan::posix;

extern "C" {

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    if (key != HKEY_LOCAL_MACHINE || !subKey || !EqualsIgnoringCase(subKey, kSerialCommKey)) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::vector<Value> values;
    if (!ReadDeviceMap(DeviceMapRoot(), values)) return ERROR_ACCESS_DENIED;
    HANDLE handle =
        HandleTable::Instance().Insert(std::make_shared<RegistryKey>(std::move(values)));
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength) {
    auto k = HandleTable::Instance().FindAs<RegistryKey>(reinterpret_cast<HANDLE>(key));
    if (!k) return ERROR_INVALID_HANDLE;
    if (!valueName || !valueNameLength) return ERROR_INVALID_PARAMETER;
    const auto& values = k->Values();
    if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = values[index];
    if (v.name.size() + 1 > *valueNameLength) return ERROR_MORE_DATA;
    std::memcpy(valueName, v.name.c_str(), v.name.size() + 1);
    *valueNameLength = static_cast<DWORD>(v.name.size());
    if (type) *type = REG_SZ;
    const DWORD needed = static_cast<DWORD>(v.data.size() + 1);
    if (data) {
        if (!dataLength) return ERROR_INVALID_PARAMETER;
        if (needed > *dataLength) {
            *dataLength = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, v.data.c_str(), needed);
    }
    if (dataLength) *dataLength = needed;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    return HandleTable::Instance().Remove(reinterpret_cast<HANDLE>(key)) ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

} // extern "C"
