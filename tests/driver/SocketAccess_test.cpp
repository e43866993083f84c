// Who may reach the daemon's sockets, and what root creates, follows and changes
// while making them.
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "driver/Dispatcher.h"
#include "driver/FakeBackend.h"
#include "driver/RequestServer.h"
#include "driver/UnixSocket.h"
#include "protocol/SocketLocation.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using testing::FakeBackend;

constexpr uid_t kServed = 1000;
constexpr uid_t kStranger = 1001;
constexpr gid_t kHardwareGroup = 4242;
constexpr gid_t kUsers = 100;

// Serves a group for the length of a test, and no group afterwards.
class ScopedServedGroup {
 public:
  explicit ScopedServedGroup(gid_t group) { ServeGroup(group); }
  ~ScopedServedGroup() { ServeGroup(std::nullopt); }
  ScopedServedGroup(const ScopedServedGroup&) = delete;
  ScopedServedGroup& operator=(const ScopedServedGroup&) = delete;
};

TEST(SocketAccess, PeersAreTheUserRootAndTheServedGroup) {
  struct Case {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
    std::optional<gid_t> served;
    bool allowed;
  };
  const Case cases[] = {
      {kServed, kUsers, {}, std::nullopt, true},
      {0, 0, {}, std::nullopt, true},
      {kStranger, kHardwareGroup, {kHardwareGroup}, std::nullopt, false},  // no group served
      {kStranger, kHardwareGroup, {}, kHardwareGroup, true},               // primary group
      {kStranger, kUsers, {27, kHardwareGroup}, kHardwareGroup, true},     // supplementary group
      {kStranger, kUsers, {27, 4243}, kHardwareGroup, false},
      {kStranger, kUsers, {}, kHardwareGroup, false},
  };
  for (const Case& c : cases) {
    PeerCredentials peer;
    peer.uid = c.uid;
    peer.gid = c.gid;
    peer.groups = c.groups;
    EXPECT_EQ(PeerMayConnect(peer, kServed, c.served), c.allowed) << "uid " << c.uid << " gid " << c.gid;
  }
}

// With a served group the sockets are born 0660 and belong to that group; this
// user's own group serves for the test.
TEST(SocketAccess, AServedGroupGetsTheSocket) {
  TempDir dir;
  ScopedServedGroup group(::getegid());
  const std::string path = dir / "s.sock";
  Fd fd = ListenUnix(path, SOCK_SEQPACKET);
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_EQ(info.st_gid, ::getegid());
}

TEST(SocketAccess, TheLockFileIsNeverOpenedThroughALink) {
  TempDir dir;
  const std::string victim = dir / "victim";
  std::ofstream(victim) << "keep";
  ::chmod(victim.c_str(), 0644);
  fs::create_symlink(victim, dir / "s.sock.lock");
  const SocketFolder folder = SocketFolder::Open(dir.Path());
  EXPECT_THROW(folder.Lock("s.sock.lock"), std::runtime_error);
  struct stat info {};
  ASSERT_EQ(::stat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(info.st_size, 4);
  Fd held = folder.Lock("other.lock");
  EXPECT_TRUE(held.Valid());
  EXPECT_FALSE(folder.Lock("other.lock").Valid());
}

// Root never works inside a folder another user controls: not in one they own,
// not in one they can write, not through a link they planted on the way.
TEST(SocketAccess, RootRefusesFoldersOtherUsersControl) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  const std::string users = dir / "users";
  fs::create_directory(users);
  ASSERT_EQ(::chown(users.c_str(), 65534, 65534), 0);
  const std::string open = dir / "open";
  fs::create_directory(open);
  ::chmod(open.c_str(), 0777);
  const std::string target = dir / "target";
  fs::create_directory(target);
  ::chmod(target.c_str(), 0700);
  fs::create_symlink(target, dir / "link");

  for (const std::string& socket :
       {users + "/s.sock", users + "/sub/s.sock", open + "/s.sock", dir / "link/s.sock"}) {
    EXPECT_THROW(ListenUnix(socket, SOCK_SEQPACKET), std::runtime_error) << socket;
  }
  EXPECT_TRUE(fs::is_empty(users));
  EXPECT_TRUE(fs::is_empty(open));
  EXPECT_TRUE(fs::is_empty(target));
  // A root-owned folder only root can write is fine.
  EXPECT_TRUE(ListenUnix(target + "/s.sock", SOCK_SEQPACKET).Valid());
}

// Connects as another user (uid 65534) whose primary group is kUsers and whose
// one supplementary group is `group`, and says whether the daemon answered.
bool AnsweredAs(const std::string& path, gid_t group) {
  const pid_t child = ::fork();
  if (child == 0) {
    const gid_t groups[] = {group};
    if (::setgroups(1, groups) != 0 || ::setgid(kUsers) != 0 || ::setuid(65534) != 0) ::_exit(3);
    Fd fd = ConnectUnix(path, SOCK_SEQPACKET);
    if (!fd.Valid()) ::_exit(4);
    std::uint8_t message[16] = {0x4C, 0x60, 0x22, 0};
    ::send(fd.Get(), message, sizeof message, MSG_NOSIGNAL);
    const ssize_t n = ::recv(fd.Get(), message, sizeof message, 0);
    ::_exit(n > 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SocketAccess, MembersOfTheServedGroupGetAnswersOthersDoNot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0711);
  ScopedServedGroup group(kHardwareGroup);
  const std::string path = dir / "s.sock";
  FakeBackend backend;
  Dispatcher dispatcher(backend);
  RequestServer server(dispatcher, ListenUnix(path, SOCK_SEQPACKET));
  server.Start();
  EXPECT_TRUE(AnsweredAs(path, kHardwareGroup));
  ::chmod(path.c_str(), 0666);  // only the credential check is left to stop the next one
  EXPECT_FALSE(AnsweredAs(path, kHardwareGroup + 1));
  server.Stop();
}

// The program's side: the system daemon's socket counts only as root's socket in
// root's folder (here: this user standing in for root).
TEST(SocketAccess, SystemSocketCountsOnlyInItsOwnersFolder) {
  TempDir dir;
  const std::string folder = dir / "run";
  const uid_t me = ::geteuid();
  EXPECT_EQ(protocol::ProbeSystemSocket(folder, me), protocol::SystemSocket::Absent);
  fs::create_directory(folder);
  ::chmod(folder.c_str(), 0755);
  std::ofstream(folder + "/ZQ_I2cIo.sock") << "not a socket";
  EXPECT_EQ(protocol::ProbeSystemSocket(folder, me), protocol::SystemSocket::Absent);
  fs::remove(folder + "/ZQ_I2cIo.sock");
  Fd listening = ListenUnix(folder + "/ZQ_I2cIo.sock", SOCK_SEQPACKET);
  EXPECT_EQ(protocol::ProbeSystemSocket(folder, me), protocol::SystemSocket::Usable);
  EXPECT_EQ(protocol::ProbeSystemSocket(folder, me + 1), protocol::SystemSocket::Absent);
  fs::create_directory_symlink(folder, dir / "alias");
  EXPECT_EQ(protocol::ProbeSystemSocket(dir / "alias", me), protocol::SystemSocket::Absent);
  ::chmod(folder.c_str(), 0777);
  EXPECT_EQ(protocol::ProbeSystemSocket(folder, me), protocol::SystemSocket::Absent);
  ::chmod(folder.c_str(), 0755);
  if (me == 0) {
    ASSERT_EQ(::lchown((folder + "/ZQ_I2cIo.sock").c_str(), 65534, 65534), 0);
    EXPECT_EQ(protocol::ProbeSystemSocket(folder, me),
              protocol::SystemSocket::Absent);  // someone else's socket in root's folder
  } else {
    ::chmod((folder + "/ZQ_I2cIo.sock").c_str(), 0);
    EXPECT_EQ(protocol::ProbeSystemSocket(folder, me), protocol::SystemSocket::NotPermitted);
  }
}

}  // namespace
}  // namespace rq::driver
