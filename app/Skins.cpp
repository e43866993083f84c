#include "app/Skins.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitSkinResources() { Q_INIT_RESOURCE(rqskins); }

namespace rq::app {

void LoadSkins() {
  static const bool loaded = (InitSkinResources(), true);
  (void)loaded;
}

}  // namespace rq::app
