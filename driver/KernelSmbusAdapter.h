#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "driver/Backend.h"
#include "driver/KernelOwnership.h"

namespace rq::driver {

// The calls the kernel-adapter path makes on /dev/i2c-N. The daemon uses the
// kernel's (libi2c); tests put a fake in its place. Transfers return what libi2c
// returns: a value or byte count, negative on failure.
class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  virtual int Open(const std::string& path) = 0;  // a descriptor, or -1 with errno set
  virtual void Close(int fd) = 0;
  virtual bool Functions(int fd, unsigned long& functions) = 0;  // I2C_FUNCS
  virtual bool SelectSlave(int fd, std::uint8_t slave) = 0;      // I2C_SLAVE, 7-bit form
  virtual std::int32_t ReadByteData(int fd, std::uint8_t command) = 0;
  virtual std::int32_t WriteByteData(int fd, std::uint8_t command, std::uint8_t value) = 0;
  virtual std::int32_t ReadBlockData(int fd, std::uint8_t command,
                                     std::uint8_t* values) = 0;  // 32 bytes of room
  virtual std::int32_t WriteBlockData(int fd, std::uint8_t command, std::uint8_t length,
                                      const std::uint8_t* values) = 0;
};

std::unique_ptr<I2cDevice> KernelI2cDevice();

// The adapter the kernel's driver of an SMBus host registered, through i2c-dev:
// the daemon reaches the host's slaves through it instead of racing that driver on
// the host's registers. Nothing is loaded: without i2c-dev there is no adapter.
class KernelSmbusAdapter {
 public:
  struct Location {
    std::string sysfsRoot = "/sys";
    std::string deviceFolder = "/dev";
  };
  // The adapter whose parent is `host`, open and able to do byte and block data;
  // null with the reason in `why` otherwise.
  static std::unique_ptr<KernelSmbusAdapter> Open(I2cDevice& device, const Location& where,
                                                  KernelOwnership::PciFunction host, std::string& why);
  ~KernelSmbusAdapter();
  KernelSmbusAdapter(const KernelSmbusAdapter&) = delete;
  KernelSmbusAdapter& operator=(const KernelSmbusAdapter&) = delete;

  const std::string& Path() const { return path_; }
  // One transaction; false when the slave did not answer or the kernel refused it.
  bool Transaction(SmbusTransfer& transfer);

 private:
  KernelSmbusAdapter(I2cDevice& device, int fd, std::string path)
      : device_(device), fd_(fd), path_(std::move(path)) {}

  I2cDevice& device_;
  int fd_;
  std::string path_;
};

}  // namespace rq::driver
