/* TCP ports in use on this machine.
 *
 * The ports come from the kernel's tables /proc/net/tcp and /proc/net/tcp6:
 * the local port of every row, whatever its state (listening, connected,
 * time-wait, ...), IPv4 and IPv6 alike. The list is sorted ascending and keeps
 * duplicates. A table that cannot be read contributes nothing.
 */
#ifndef PLENWICK_PLATFORM_TCP_PORTS_H
#define PLENWICK_PLATFORM_TCP_PORTS_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace plenwick {

/* Local ports of both kernel tables, ascending. */
std::vector<uint16_t> TcpPortsInUse();

/* Local ports of one table's text (the format of /proc/net/tcp or tcp6),
 * appended to |ports| unsorted. Lines that do not parse are skipped. */
void TcpPortsParse(const std::string& table, std::vector<uint16_t>* ports);

/* Socket inode of the listener on 127.0.0.1:port in one table's text (the
 * format of /proc/net/tcp); 0 when there is none. */
unsigned long TcpLoopbackListenerParse(const std::string& table, uint16_t port);

/* The same from this network namespace's /proc/net/tcp. */
unsigned long TcpLoopbackListener(uint16_t port);

/* Whether process pid has the socket of inode among its descriptors. */
bool ProcessHasSocket(pid_t pid, unsigned long inode);

}  // namespace plenwick

#endif
