#pragma once

namespace rq::app {

// Registers the compiled-in skin pictures and region resources; cheap after the
// first call. Everything that loads a picture or a region calls it, so that a
// program linking the windows' library never finds them missing.
void LoadSkins();

}  // namespace rq::app
