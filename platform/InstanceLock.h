#pragma once
#include <memory>
#include <string>

namespace rq::platform {

// The single-instance mutex: an exclusive flock on a file of that name in the
// runtime folder. The kernel drops it when the process ends, however it ends.
class InstanceLock {
 public:
  // Takes the lock named `name`. `alreadyExists` becomes true when another process
  // holds it (the result is then null); a lock that cannot be created at all yields
  // null with `alreadyExists` false.
  static std::unique_ptr<InstanceLock> Create(const std::string& name, bool& alreadyExists);
  // The same on the lock file `path` (created 0600 when missing). Only a regular
  // file of the effective user is locked: a link or someone else's file is no lock
  // of ours (null, `alreadyExists` false).
  static std::unique_ptr<InstanceLock> CreateAt(const std::string& path, bool& alreadyExists);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace rq::platform
