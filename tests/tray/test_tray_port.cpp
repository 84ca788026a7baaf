#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/tcp_ports.h"
#include "tray/TrayPort.h"

namespace {

// Rows as the kernel writes them: 49152 (C000) listening, 49153 (C001)
// connected, an IPv6 row on 49155 (C003) in time-wait.
const char kTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:C000 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4220 1\n"
    "   1: 0100007F:C001 0100007F:4696 01 00000000:00000000 00:00000000 00000000  1000        0 4221 1\n"
    "   2: 0100007F:4696 0100007F:C001 01 00000000:00000000 00:00000000 00000000     0        0 4222 1\n";
const char kTcp6[] =
    "  sl  local_address                         remote_address                        st tx_queue\n"
    "   0: 00000000000000000000000001000000:C003 00000000000000000000000000000000:0000 06 00000000:00000000\n"
    "   1: broken line\n";

}  // namespace

TEST(TcpPorts, ParsesEveryRowOfBothTables) {
  std::vector<uint16_t> ports;
  plenwick::TcpPortsParse(kTcp, &ports);
  plenwick::TcpPortsParse(kTcp6, &ports);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<uint16_t>{18070, 49152, 49153, 49155}));
}

TEST(TcpPorts, SeesAListeningSocketOfOurs) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::vector<uint16_t> ports = plenwick::TcpPortsInUse();
  close(fd);
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
  EXPECT_TRUE(std::binary_search(ports.begin(), ports.end(), ntohs(addr.sin_port)));
}

TEST(TrayPort, FirstFreePortFrom49152) {
  std::vector<uint16_t> used;
  plenwick::TcpPortsParse(kTcp, &used);
  std::sort(used.begin(), used.end());
  EXPECT_EQ(ChooseTrayPort(used), 49154);

  EXPECT_EQ(ChooseTrayPort({}), 49152);
  EXPECT_EQ(ChooseTrayPort({80, 443, 18086}), 49152);
  // Duplicates (the same port in several rows) are skipped like one.
  EXPECT_EQ(ChooseTrayPort({49152, 49152, 49153, 49153, 49155}), 49154);
}

TEST(TrayPort, NoFreePortGivesZeroAndNever65535) {
  std::vector<uint16_t> all;
  for (uint32_t p = 49152; p <= 65534; ++p) all.push_back(static_cast<uint16_t>(p));
  EXPECT_EQ(ChooseTrayPort(all), 0);
  all.pop_back();  // 65534 free
  EXPECT_EQ(ChooseTrayPort(all), 65534);
}
