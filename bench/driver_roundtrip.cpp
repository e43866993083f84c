// Round trip of each request kind through the ZQ_I2cIo daemon (virtual board),
// beside a bare Unix-socket echo of the same message size: what the daemon adds
// over the socket itself. The two are timed in alternating rounds on one processor
// and compared round by round, so the ratio holds on a busy machine. It should
// stay under 1.5.
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "driver/UnixSocket.h"
#include "hw/SocketDriverHandle.h"
#include "protocol/Protocol.h"
#include "support/DaemonProcess.h"
#include "support/TempDir.h"

namespace {

namespace proto = rq::protocol;
using Clock = std::chrono::steady_clock;

// 20000 requests of each kind, in rounds short enough that a busy spell of the
// machine spans few of them.
constexpr int kRounds = 40;
constexpr int kRequestsPerRound = 500;
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

// One round: `requests` requests of one kind through the daemon, then (or first,
// on odd rounds) as many through the echo; microseconds per request of each.
struct Round {
  double daemonUs = 0;
  double echoUs = 0;
};

double MicrosPerRequest(Clock::duration elapsed) {
  return std::chrono::duration<double, std::micro>(elapsed).count() / kRequestsPerRound;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

class Timer {
 public:
  Timer(rq::hw::DriverHandle& daemon, int echo) : daemon_(daemon), echo_(echo) {}

  // Microseconds per request through the daemon; a negative value when one failed.
  double Daemon(const Kind& kind) {
    std::vector<std::uint8_t> work;
    const auto start = Clock::now();
    for (int i = 0; i < kRequestsPerRound; ++i) {
      work = kind.buffer;
      if (!daemon_.DeviceIoControl(kind.code, work.data(), static_cast<std::uint32_t>(work.size())))
        return -1;
    }
    return MicrosPerRequest(Clock::now() - start);
  }

  // Microseconds per message of the same size through the bare echo.
  double Echo(const Kind& kind) {
    std::vector<std::uint8_t> work;
    std::vector<std::uint8_t> message(proto::wire::kHeaderLength + kind.buffer.size(), 0);
    std::vector<std::uint8_t> reply(message.size() + 1);
    const auto start = Clock::now();
    for (int i = 0; i < kRequestsPerRound; ++i) {
      work = kind.buffer;
      std::copy(work.begin(), work.end(), message.begin() + proto::wire::kHeaderLength);
      ::send(echo_, message.data(), message.size(), MSG_NOSIGNAL);
      ::recv(echo_, reply.data(), reply.size(), 0);
    }
    return MicrosPerRequest(Clock::now() - start);
  }

  // The two measurements in alternating order, so that a busy spell of the machine
  // falls on both alike and a slow start does not always land on the same one.
  std::optional<Round> Measure(const Kind& kind, int index) {
    Round round;
    if (index % 2 == 1) round.echoUs = Echo(kind);
    round.daemonUs = Daemon(kind);
    if (index % 2 == 0) round.echoUs = Echo(kind);
    if (round.daemonUs < 0) return std::nullopt;
    return round;
  }

 private:
  rq::hw::DriverHandle& daemon_;
  int echo_;
};

// Keeps this process, and the daemon and echo it starts, on the processor it runs
// on now: every round trip then wakes its server on the same processor, so one
// measurement does not pay for a wake-up on a busier processor that the other
// escapes. The processor, or -1 when pinning is not possible.
int PinToOneCpu() {
  const int cpu = ::sched_getcpu();
  if (cpu < 0) return -1;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return ::sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu = PinToOneCpu();
  rq::test::DaemonProcess::Options options;
  options.arguments = {"--board", "default"};
  if (argc > 1) options.program = argv[1];
  const rq::test::TempDir dir;
  const std::string echoSocket = dir / "echo.sock";
  rq::test::DaemonProcess daemon(dir / "ZQ_I2cIo.sock", options);
  if (!daemon.Ready()) {
    std::fprintf(stderr, "driver_roundtrip: cannot start %s\n", options.program.c_str());
    return 1;
  }
  const pid_t echo = StartEcho(echoSocket);
  auto handle = rq::hw::SocketDriverHandle::Connect(daemon.Socket());
  rq::driver::Fd echoFd = rq::driver::ConnectUnix(echoSocket, SOCK_SEQPACKET);
  int status = 0;
  if (!handle || !echoFd.Valid()) {
    std::fprintf(stderr, "driver_roundtrip: cannot connect\n");
    status = 1;
  }

  if (status == 0) {
    std::printf("%d rounds of %d requests each, daemon and echo alternating, on %s; medians\n", kRounds,
                kRequestsPerRound, cpu < 0 ? "any processor" : ("processor " + std::to_string(cpu)).c_str());
    std::printf("%-20s %6s %12s %12s %7s\n", "request", "bytes", "daemon us", "echo us", "ratio");
    Timer timer(*handle, echoFd.Get());
    for (const Kind& kind : Kinds()) {
      std::vector<double> daemonUs, echoUs, ratios;
      for (int index = 0; index < kRounds && status == 0; ++index) {
        const std::optional<Round> round = timer.Measure(kind, index);
        if (!round) {
          std::fprintf(stderr, "driver_roundtrip: %s failed\n", kind.name);
          status = 1;
          break;
        }
        daemonUs.push_back(round->daemonUs);
        echoUs.push_back(round->echoUs);
        ratios.push_back(round->daemonUs / round->echoUs);
      }
      if (status != 0) break;
      // The median of the paired rounds' ratios: each pair ran under the same load.
      const double ratio = Median(ratios);
      std::printf("%-20s %6zu %12.2f %12.2f %7.2f%s\n", kind.name,
                  proto::wire::kHeaderLength + kind.buffer.size(), Median(daemonUs), Median(echoUs), ratio,
                  ratio > kRatioLimit ? "  over the limit" : "");
    }
  }

  handle.reset();
  echoFd.Reset();
  daemon.Stop();
  ::kill(echo, SIGTERM);
  ::waitpid(echo, nullptr, 0);
  return status;
}
