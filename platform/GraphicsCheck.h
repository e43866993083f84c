#pragma once
#include <string>
#include <vector>

namespace rq::platform {

// The libraries the stress programs draw with: OpenGL and the X connection.
std::vector<std::string> GraphicsLibraries();

// True when every library of GraphicsLibraries() loads (each is unloaded again at
// once): the check behind the warning that the test programs cannot run.
bool GraphicsLibrariesPresent();

// Test seam: while alive, GraphicsLibraries() returns `libraries` instead, so that
// a missing library can be simulated with a name that does not exist.
class ScopedGraphicsLibraries {
 public:
  explicit ScopedGraphicsLibraries(std::vector<std::string> libraries);
  ~ScopedGraphicsLibraries();
  ScopedGraphicsLibraries(const ScopedGraphicsLibraries&) = delete;
  ScopedGraphicsLibraries& operator=(const ScopedGraphicsLibraries&) = delete;

 private:
  std::vector<std::string> previous_;
  bool hadPrevious_;
};

}  // namespace rq::platform
