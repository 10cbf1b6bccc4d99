// The one registry key the station reads, HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM: the
// machine's serial devices. Each value's data is a device name to which "/dev/" is prefixed to
// open it: every terminal that a device driver has registered (/sys/class/tty/NAME/device/driver
// exists), except the kernel's placeholder UART ports whose type reads 0, and every symbolic link
// directly in /dev that points to a pseudo-terminal /dev/pts/N, the virtual ports of socat or the
// unit simulator.
#include "PosixObjects.h"

#include <cctype>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

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

bool IsPseudoTerminalPath(std::string target) {
    if (target.rfind("/dev/", 0) != 0) target = "/dev/" + target;
    constexpr char prefix[] = "/dev/pts/";
    if (target.rfind(prefix, 0) != 0) return false;
    const std::string number = target.substr(sizeof prefix - 1);
    if (number.empty()) return false;
    for (char c : number) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// False when the terminal class folder cannot be read.
bool ReadDeviceMap(const std::string& root, std::vector<Value>& values) {
    const std::string ttyClass = Join(root, "/sys/class/tty");
    DIR* dir = opendir(ttyClass.c_str());
    if (!dir) return false;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string folder = ttyClass + "/" + name;
        if (!Exists(folder + "/device/driver") || IsPlaceholderPort(folder)) continue;
        values.push_back({"\\Device\\" + name, name});
    }
    closedir(dir);

    const std::string devFolder = Join(root, "/dev");
    if (DIR* dev = opendir(devFolder.c_str())) {
        while (dirent* entry = readdir(dev)) {
            const std::string name = entry->d_name;
            const std::string link = devFolder + "/" + name;
            struct stat st {};
            if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
            char target[4096];
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            std::string resolved = target;
            if (!IsPseudoTerminalPath(resolved)) continue;
            if (resolved.rfind("/dev/", 0) != 0) resolved = "/dev/" + resolved;
            if (!Exists(Join(root, resolved))) continue; // the pair behind it is gone
            values.push_back({"\\Device\\" + name, name});
        }
        closedir(dev);
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
