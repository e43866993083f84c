// Round trip of each request kind through the ZQ_I2cIo daemon (virtual board),
// beside a bare Unix-socket echo of the same message size: what the daemon adds
// over the socket itself. The ratio should stay under 1.5.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/Protocol.h"
#include "driver/UnixSocket.h"
#include "hw/SocketDriverHandle.h"

namespace {

namespace proto = rq::driver;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20000;
constexpr double kRatioLimit = 1.5;

struct Kind {
  const char* name;
  std::uint32_t code;
  std::vector<std::uint8_t> buffer;
};

std::vector<Kind> Kinds() {
  std::vector<Kind> kinds;
  std::vector<std::uint8_t> port(proto::port_request::kLength, 0);
  proto::StoreU32(port.data(), proto::port_request::kPort, 0x80);
  kinds.push_back({"read port byte", proto::kIoctlReadPortByte, port});
  kinds.push_back({"write port byte", proto::kIoctlWritePortByte, port});
  std::vector<std::uint8_t> indexed(proto::indexed_request::kLength, 0);
  proto::StoreU32(indexed.data(), proto::indexed_request::kIndexPort, 0x2E);
  proto::StoreU32(indexed.data(), proto::indexed_request::kDataPort, 0x2F);
  proto::StoreU32(indexed.data(), proto::indexed_request::kRegister, 0x20);
  kinds.push_back({"read indexed byte", proto::kIoctlReadIndexedByte, indexed});
  kinds.push_back({"write indexed byte", proto::kIoctlWriteIndexedByte, indexed});
  std::vector<std::uint8_t> pci(proto::pci_request::kLength, 0);
  kinds.push_back({"read PCI word", proto::kIoctlReadPciConfigWord, pci});
  std::vector<std::uint8_t> memory(proto::memory_request::kHeaderLength + 200, 0);
  proto::StoreU32(memory.data(), proto::memory_request::kAddress, 0xFE0C1);
  proto::StoreU16(memory.data(), proto::memory_request::kLengthField, 200);
  kinds.push_back({"read memory (200)", proto::kIoctlReadPhysicalMemory, memory});
  kinds.push_back({"read TSC", proto::kIoctlReadTimeStampCounter, std::vector<std::uint8_t>(8, 0)});
  return kinds;
}

// A process that sends every message straight back.
pid_t StartEcho(const std::string& path) {
  rq::driver::Fd listening = rq::driver::ListenUnix(path, SOCK_SEQPACKET);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  rq::driver::Fd connection(::accept(listening.Get(), nullptr, nullptr));
  std::vector<std::uint8_t> message(proto::wire::kMaxMessageLength);
  while (true) {
    const ssize_t n = ::recv(connection.Get(), message.data(), message.size(), 0);
    if (n <= 0) ::_exit(0);
    if (::send(connection.Get(), message.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) ::_exit(0);
  }
}

pid_t StartDaemon(const std::string& program, const std::string& socket) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string ready = std::to_string(fds[1]);
    ::execl(program.c_str(), program.c_str(), "--foreground", "--board", "default", "--socket",
            socket.c_str(), "--ready-fd", ready.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  pollfd pfd{fds[0], POLLIN, 0};
  char byte = 0;
  const bool ready = ::poll(&pfd, 1, 10000) == 1 && ::read(fds[0], &byte, 1) == 1;
  ::close(fds[0]);
  return ready ? pid : -1;
}

double MicrosPerRound(Clock::duration elapsed) {
  return std::chrono::duration<double, std::micro>(elapsed).count() / kRounds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
  const std::string program = argc > 1 ? argv[1] : (self.parent_path() / "ZQ_I2cIo").string();
  char pattern[] = "/tmp/rq-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const std::string daemonSocket = dir + "/ZQ_I2cIo.sock", echoSocket = dir + "/echo.sock";

  const pid_t daemon = StartDaemon(program, daemonSocket);
  if (daemon < 0) {
    std::fprintf(stderr, "driver_roundtrip: cannot start %s\n", program.c_str());
    return 1;
  }
  const pid_t echo = StartEcho(echoSocket);
  auto handle = rq::hw::SocketDriverHandle::Connect(daemonSocket);
  rq::driver::Fd echoFd = rq::driver::ConnectUnix(echoSocket, SOCK_SEQPACKET);
  int status = 0;
  if (!handle || !echoFd.Valid()) {
    std::fprintf(stderr, "driver_roundtrip: cannot connect\n");
    status = 1;
  }

  if (status == 0) {
    std::printf("%-20s %6s %12s %12s %7s\n", "request", "bytes", "daemon us", "echo us", "ratio");
    for (Kind& kind : Kinds()) {
      const std::size_t length = proto::wire::kHeaderLength + kind.buffer.size();
      std::vector<std::uint8_t> work = kind.buffer;
      const auto daemonStart = Clock::now();
      for (int i = 0; i < kRounds; ++i) {
        work = kind.buffer;
        if (!handle->DeviceIoControl(kind.code, work.data(), static_cast<std::uint32_t>(work.size()))) {
          std::fprintf(stderr, "driver_roundtrip: %s failed\n", kind.name);
          status = 1;
          break;
        }
      }
      const double daemonUs = MicrosPerRound(Clock::now() - daemonStart);

      std::vector<std::uint8_t> message(length, 0), reply(length + 1);
      const auto echoStart = Clock::now();
      for (int i = 0; i < kRounds; ++i) {
        work = kind.buffer;
        std::copy(work.begin(), work.end(), message.begin() + proto::wire::kHeaderLength);
        ::send(echoFd.Get(), message.data(), message.size(), MSG_NOSIGNAL);
        ::recv(echoFd.Get(), reply.data(), reply.size(), 0);
      }
      const double echoUs = MicrosPerRound(Clock::now() - echoStart);
      const double ratio = daemonUs / echoUs;
      std::printf("%-20s %6zu %12.2f %12.2f %7.2f%s\n", kind.name, length, daemonUs, echoUs, ratio,
                  ratio > kRatioLimit ? "  over the limit" : "");
    }
  }

  handle.reset();
  echoFd.Reset();
  ::kill(daemon, SIGTERM);
  ::waitpid(daemon, nullptr, 0);
  ::kill(echo, SIGTERM);
  ::waitpid(echo, nullptr, 0);
  std::filesystem::remove_all(dir);
  return status;
}
