#include "driver/KernelSmbusAdapter.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

extern "C" {
#include <i2c/smbus.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
}

namespace rq::driver {
namespace {

namespace fs = std::filesystem;

constexpr unsigned long kNeededFunctions = I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_BLOCK_DATA;
constexpr std::size_t kBlockMax = I2C_SMBUS_BLOCK_MAX;

class LibI2cDevice final : public I2cDevice {
 public:
  int Open(const std::string& path) override { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); }
  void Close(int fd) override { ::close(fd); }
  bool Functions(int fd, unsigned long& functions) override {
    return ::ioctl(fd, I2C_FUNCS, &functions) == 0;
  }
  bool SelectSlave(int fd, std::uint8_t slave) override {
    return ::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(slave)) == 0;
  }
  std::int32_t ReadByteData(int fd, std::uint8_t command) override {
    return i2c_smbus_read_byte_data(fd, command);
  }
  std::int32_t WriteByteData(int fd, std::uint8_t command, std::uint8_t value) override {
    return i2c_smbus_write_byte_data(fd, command, value);
  }
  std::int32_t ReadBlockData(int fd, std::uint8_t command, std::uint8_t* values) override {
    return i2c_smbus_read_block_data(fd, command, values);
  }
  std::int32_t WriteBlockData(int fd, std::uint8_t command, std::uint8_t length,
                              const std::uint8_t* values) override {
    return i2c_smbus_write_block_data(fd, command, length, values);
  }
};

std::string PciName(KernelOwnership::PciFunction function) {
  char name[32];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", function.bus, function.device, function.function);
  return name;
}

// The adapter's name (i2c-N) among the PCI function's children, or empty.
std::string AdapterOf(const std::string& sysfsRoot, const std::string& pciName) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sysfsRoot + "/bus/pci/devices/" + pciName, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("i2c-", 0) == 0 && name.size() > 4 &&
        name.find_first_not_of("0123456789", 4) == std::string::npos)
      return name;
  }
  return {};
}

}  // namespace

std::unique_ptr<I2cDevice> KernelI2cDevice() { return std::make_unique<LibI2cDevice>(); }

std::unique_ptr<KernelSmbusAdapter> KernelSmbusAdapter::Open(I2cDevice& device, const Location& where,
                                                             KernelOwnership::PciFunction host,
                                                             std::string& why) {
  const std::string pciName = PciName(host);
  const std::string adapter = AdapterOf(where.sysfsRoot, pciName);
  if (adapter.empty()) {
    why = "the kernel's driver of " + pciName + " registered no I2C adapter";
    return nullptr;
  }
  std::error_code error;
  if (!fs::exists(where.sysfsRoot + "/class/i2c-dev/" + adapter, error)) {
    why = "the I2C adapter " + adapter + " has no device node: the i2c-dev module is not loaded";
    return nullptr;
  }
  const std::string path = where.deviceFolder + "/" + adapter;
  const int fd = device.Open(path);
  if (fd < 0) {
    why = path + ": " + std::strerror(errno);
    return nullptr;
  }
  unsigned long functions = 0;
  if (!device.Functions(fd, functions) || (functions & kNeededFunctions) != kNeededFunctions) {
    device.Close(fd);
    why = path + " does not do SMBus byte and block data";
    return nullptr;
  }
  return std::unique_ptr<KernelSmbusAdapter>(new KernelSmbusAdapter(device, fd, path));
}

KernelSmbusAdapter::~KernelSmbusAdapter() { device_.Close(fd_); }

bool KernelSmbusAdapter::Transaction(SmbusTransfer& transfer) {
  if (!device_.SelectSlave(fd_, transfer.slave)) return false;
  switch (transfer.kind) {
    case SmbusTransfer::Kind::kReadByteData: {
      const std::int32_t value = device_.ReadByteData(fd_, transfer.command);
      if (value < 0) return false;
      transfer.data.assign(1, static_cast<std::uint8_t>(value));
      return true;
    }
    case SmbusTransfer::Kind::kWriteByteData:
      return transfer.data.size() == 1 && device_.WriteByteData(fd_, transfer.command, transfer.data[0]) >= 0;
    case SmbusTransfer::Kind::kReadBlockData: {
      std::uint8_t values[kBlockMax] = {};
      const std::int32_t count = device_.ReadBlockData(fd_, transfer.command, values);
      if (count <= 0 || static_cast<std::size_t>(count) > kBlockMax) return false;
      transfer.data.assign(values, values + count);
      return true;
    }
    case SmbusTransfer::Kind::kWriteBlockData:
      if (transfer.data.empty() || transfer.data.size() > kBlockMax) return false;
      return device_.WriteBlockData(fd_, transfer.command, static_cast<std::uint8_t>(transfer.data.size()),
                                    transfer.data.data()) >= 0;
  }
  return false;
}

}  // namespace rq::driver
