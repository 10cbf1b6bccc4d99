// Two programs claiming one port at the same instant: exactly one of them may get it.
#include "PosixPortClaim.h"
#include "PosixWin32.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class Claimant { Station, FlockTool };

// Claims the port as the station does, or as a terminal program that only asks for flock; true
// when it got the port.
bool Claim(Claimant who, const std::string& path) {
    if (who == Claimant::Station) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr) != INVALID_HANDLE_VALUE;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    close(fd); // gives up, as picocom does
    return false;
}

// Forks the two claimants, lets them go at once by closing the pipe they wait on, and counts
// those that got the port while each keeps what it took until both have answered.
int Winners(Claimant first, Claimant second, const std::string& path) {
    int go[2], answers[2], done[2];
    if (pipe(go) != 0 || pipe(answers) != 0 || pipe(done) != 0) return -1;
    pid_t children[2];
    const Claimant who[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        if (children[i] == 0) {
            close(go[1]);
            close(done[1]);
            close(answers[0]);
            char c;
            [[maybe_unused]] ssize_t n = read(go[0], &c, 1); // EOF: the start
            c = Claim(who[i], path) ? '1' : '0';
            n = write(answers[1], &c, 1);
            n = read(done[0], &c, 1); // EOF: both have answered
            _exit(0);
        }
    }
    close(go[0]);
    close(answers[1]);
    close(done[0]);
    close(go[1]);
    int winners = 0;
    char c;
    for (int i = 0; i < 2; ++i)
        winners += read(answers[0], &c, 1) == 1 && c == '1';
    close(answers[0]);
    close(done[1]);
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
    return winners;
}

TEST(PortClaim, OfTwoSimultaneousClaimsExactlyOneWinsInEveryRound) {
    korvan::testing::PtyPair pair;
    const fs::path locks = fs::temp_directory_path() / ("kvt-race-" + std::to_string(getpid()));
    fs::create_directories(locks);
    korvan::posix::SetLockFolders({locks.string()});
    std::string rounds;
    for (int round = 0; round < 60; ++round) {
        const Claimant other = round % 2 == 0 ? Claimant::Station : Claimant::FlockTool;
        const int winners = round % 4 < 2 ? Winners(Claimant::Station, other, pair.PortPath())
                                          : Winners(other, Claimant::Station, pair.PortPath());
        rounds += static_cast<char>('0' + winners);
    }
    EXPECT_EQ(rounds, std::string(60, '1')) << "winners of each round";
    korvan::posix::SetLockFolders({});
    fs::remove_all(locks);
}

} // namespace
