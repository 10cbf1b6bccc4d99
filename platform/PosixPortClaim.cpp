#include "PosixPortClaim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

// Pseudo-terminal slaves have majors 136 to 143, 256 minors each; their master is /dev/ptmx.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
const dev_t kPtmx = makedev(5, 2);

std::mutex foldersMutex;
std::vector<std::string>& FoldersRef() {
    static auto* folders = new std::vector<std::string>;
    return *folders;
}

std::vector<std::string> LockFolders() {
    std::vector<std::string> given;
    {
        std::lock_guard lock(foldersMutex);
        given = FoldersRef();
    }
    if (given.empty()) given = {"/run/lock", "/var/lock"};
    // /var/lock is usually a link to /run/lock: look at each real folder once.
    std::vector<std::string> folders;
    for (const std::string& folder : given) {
        char* real = realpath(folder.c_str(), nullptr);
        if (!real) continue;
        const std::string resolved = real;
        std::free(real);
        bool seen = false;
        for (const std::string& f : folders)
            seen = seen || f == resolved;
        if (!seen) folders.push_back(resolved);
    }
    return folders;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names others lock the device by: the one we were given and the device's own (a link in
// /dev to a pseudo-terminal is locked by either).
std::vector<std::string> LockNames(const std::string& path) {
    std::vector<std::string> names{BaseName(path)};
    if (char* real = realpath(path.c_str(), nullptr)) {
        const std::string own = BaseName(real);
        std::free(real);
        if (own != names.front()) names.push_back(own);
    }
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return n.empty() || n == ".."; }),
                names.end());
    return names;
}

// The process id a lock file names, or 0 when it names none.
pid_t LockOwner(const std::string& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char text[32] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    long pid = 0;
    if (std::sscanf(text, "%ld", &pid) != 1 || pid <= 0 || pid > 0x3FFFFFFF) return 0;
    return static_cast<pid_t>(pid);
}

bool Alive(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

// "picocom (PID 812)", or only the id when the process's name cannot be read.
std::string DescribeProcess(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    const std::string id = "PID " + std::to_string(pid);
    return name.empty() ? id : name + " (" + id + ")";
}

std::string DescribeLockFile(const std::string& file, const struct stat& st) {
    const passwd* owner = getpwuid(st.st_uid);
    return file + " (" + (owner ? owner->pw_name : "UID " + std::to_string(st.st_uid)) + ")";
}

// Takes LCK..name in the first folder that lets us; EBUSY when a live process holds it anywhere,
// ESTALE when a dead one's lock cannot be removed. A folder we may not write leaves that lock
// untaken: the lock files are advisory.
int TakeLockFile(const std::vector<std::string>& folders, const std::string& name,
                 PortClaim& claim) {
    for (const std::string& folder : folders) {
        const std::string file = folder + "/LCK.." + name;
        const pid_t owner = LockOwner(file);
        if (owner != 0 && owner != getpid() && Alive(owner)) {
            claim.refusal = DescribeProcess(owner);
            return EBUSY;
        }
        struct stat st {};
        // Empty and new: its maker has created it and is about to write its id.
        if (owner == 0 && lstat(file.c_str(), &st) == 0 && st.st_size == 0 &&
            time(nullptr) - st.st_mtime < 2) {
            return EBUSY;
        }
        // Stale, or left by us. One of another user in the sticky /run/lock stays: root's, say.
        if (lstat(file.c_str(), &st) == 0 && unlink(file.c_str()) != 0 && errno != ENOENT) {
            claim.refusal = DescribeLockFile(file, st);
            return ESTALE;
        }
    }
    for (const std::string& folder : folders) {
        const std::string file = folder + "/LCK.." + name;
        const int fd =
            open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST) return EBUSY; // someone took it just now
            continue;
        }
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
        const bool written = write(fd, text, static_cast<std::size_t>(length)) == length;
        close(fd);
        if (!written) {
            unlink(file.c_str());
            continue;
        }
        claim.lockFiles.push_back(file);
        return 0;
    }
    return 0;
}

// The pseudo-terminal number that the master open on /proc/<pid>/fd/<fd> serves, or -1.
long MasterIndex(const std::string& pid, const char* fd) {
    FILE* info = std::fopen(("/proc/" + pid + "/fdinfo/" + fd).c_str(), "re");
    if (!info) return -1;
    long index = -1;
    char line[128];
    while (std::fgets(line, sizeof line, info)) {
        if (std::sscanf(line, "tty-index: %ld", &index) == 1) break;
    }
    std::fclose(info);
    return index;
}

// Whether the process has the device of node open. On a pseudo-terminal the process that also
// holds its master is the far end of the line (socat, the unit simulator), not a competitor, and
// only a slave of the same devpts instance is ours: each instance numbers its own from 0.
bool ProcessHolds(const std::string& pid, const struct stat& node, long ptyIndex) {
    const std::string folder = "/proc/" + pid + "/fd";
    DIR* dir = opendir(folder.c_str()); // refused for other users' processes unless root
    if (!dir) return false;
    bool slave = false;
    bool master = false;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string link = folder + "/" + entry->d_name;
        char target[16];
        const ssize_t n = readlink(link.c_str(), target, sizeof target);
        // Only descriptors of device nodes are looked at: a stat of anything else might block.
        if (n < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
        struct stat st {};
        if (stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        if (st.st_rdev == node.st_rdev && (ptyIndex < 0 || st.st_dev == node.st_dev)) {
            slave = true;
        } else if (ptyIndex >= 0 && st.st_rdev == kPtmx &&
                   MasterIndex(pid, entry->d_name) == ptyIndex) {
            master = true;
        }
    }
    closedir(dir);
    return slave && !master;
}

// The pseudo-terminal number of a slave device, or -1 for any other device.
long PtyIndex(dev_t device) {
    const unsigned major = ::major(device);
    if (major < kFirstPtyMajor || major > kLastPtyMajor) return -1;
    return static_cast<long>((major - kFirstPtyMajor) * 256 + ::minor(device));
}

} // namespace

pid_t ProcessHolding(const struct stat& node) {
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    const std::string self = std::to_string(getpid());
    const long ptyIndex = PtyIndex(node.st_rdev);
    pid_t holder = 0;
    while (holder == 0) {
        dirent* entry = readdir(proc);
        if (!entry) break;
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9' || self == name) continue;
        if (ProcessHolds(name, node, ptyIndex)) holder = static_cast<pid_t>(std::atol(name));
    }
    closedir(proc);
    return holder;
}

namespace {

// A process that has the device open and keeps it. Whoever opened the device beside us and asks
// for flock has lost it to us and closes its descriptor at once; only one still there after a
// short grace holds the port (a program that takes no lock, or one that took it before us).
pid_t LastingHolder(const struct stat& node) {
    constexpr auto kGrace = std::chrono::milliseconds(100);
    constexpr timespec kLookAgain{0, 5'000'000};
    const auto giveUp = std::chrono::steady_clock::now() + kGrace;
    const long ptyIndex = PtyIndex(node.st_rdev);
    pid_t holder = ProcessHolding(node);
    while (holder != 0) {
        // Only the one found is looked at again: a look through all of /proc costs far more.
        const std::string pid = std::to_string(holder);
        while (ProcessHolds(pid, node, ptyIndex)) {
            if (std::chrono::steady_clock::now() >= giveUp) return holder;
            nanosleep(&kLookAgain, nullptr);
        }
        holder = ProcessHolding(node);
    }
    return 0;
}

} // namespace

int ClaimDevice(int fd, const std::string& path, PortClaim& claim) {
    struct stat st {};
    const bool device = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && isatty(fd) == 1;
    const auto refuse = [&](int error) {
        ReleaseDevice(fd, claim);
        // Closed before anything else: another claimant that got the flock looks for holders
        // now, and a descriptor kept while we find out who beat us would make both lose.
        close(fd);
        if (error == EBUSY && device && claim.refusal.empty()) {
            if (const pid_t holder = ProcessHolding(st)) claim.refusal = DescribeProcess(holder);
        }
        return error;
    };
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    claim.flocked = true;
    if (!device) return 0;
    const bool pseudo = PtyIndex(st.st_rdev) >= 0;

    const std::vector<std::string> folders = LockFolders();
    for (const std::string& name : LockNames(path)) {
        if (int error = TakeLockFile(folders, name, claim)) return refuse(error);
    }
    if (const pid_t holder = LastingHolder(st)) {
        claim.refusal = DescribeProcess(holder);
        return refuse(EBUSY);
    }
    // On a pseudo-terminal the flag outlives every descriptor, also ours after a SIGKILL, and
    // would keep out everybody but root until the pair is made again.
    if (!pseudo && ioctl(fd, TIOCEXCL) == 0) claim.exclusive = true;
    return 0;
}

void ReleaseDevice(int fd, PortClaim& claim) {
    if (claim.exclusive) ioctl(fd, TIOCNXCL);
    claim.exclusive = false;
    for (const std::string& file : claim.lockFiles) {
        if (LockOwner(file) == getpid()) unlink(file.c_str());
    }
    claim.lockFiles.clear();
    if (claim.flocked) flock(fd, LOCK_UN);
    claim.flocked = false;
}

void SetLockFolders(const std::vector<std::string>& folders) {
    std::lock_guard lock(foldersMutex);
    FoldersRef() = folders;
}

} // namespace korvan::posix
