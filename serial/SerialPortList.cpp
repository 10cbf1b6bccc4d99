// The machine's serial ports, as the registry lists them, in the order shown to the operator.
#include "BCPortFailures.h"

#include <algorithm>
#include <cctype>

namespace korvan {

using namespace comport;

// Text order ignoring letter case: COM10 before COM2, ttyS10 before ttyS2.
bool PortNameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

void ListSerialPorts(std::vector<std::string>& List) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        Raise(kRegistryFailed);
    }
    struct KeyCloser {
        HKEY key;
        ~KeyCloser() { RegCloseKey(key); }
    } closer{key};

    std::vector<std::string> ports;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) Raise(kRegistryFailed);
        // The device name, up to its terminating zero.
        const char* text = reinterpret_cast<const char*>(data);
        const char* end = text + std::min<DWORD>(dataLength, sizeof data);
        ports.emplace_back(text, std::find(text, end, '\0'));
    }
    std::stable_sort(ports.begin(), ports.end(), PortNameLess);
    List = std::move(ports);
}

} // namespace korvan
