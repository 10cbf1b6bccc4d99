// A network of the test's own that can fall silent: a network namespace with its own loopback,
// where every packet of one TCP port is dropped (nftables) without a word to either end, as when
// a cable is cut or a converter behind a switch goes dead. Needs root.
#pragma once

#include <cstdlib>
#include <string>

#include <sched.h>

namespace korvan::testing {

// The calling thread, and what it starts from then on, leave the machine's network. Besides the
// loopback the namespace has an address on a veth pair: a program that resolves addresses only
// on a machine with a network (getaddrinfo's AI_ADDRCONFIG, as ser2net) finds one.
inline bool EnterOwnNetwork() {
    return unshare(CLONE_NEWNET) == 0 &&
           std::system("ip link set lo up && ip link add korvan0 type veth peer name korvan1 && "
                       "ip addr add 10.254.0.1/24 dev korvan0 && ip link set korvan0 up && "
                       "ip link set korvan1 up") == 0;
}

// Every packet to or from the TCP port is lost, or flows again.
inline bool Silence(unsigned port, bool silent) {
    const std::string p = std::to_string(port);
    const std::string command =
        silent ? "nft 'table inet silence { chain in { type filter hook input priority 0; "
                 "tcp dport " +
                     p + " drop; tcp sport " + p + " drop; }; }'"
               : "nft delete table inet silence";
    return std::system(command.c_str()) == 0;
}

} // namespace korvan::testing
