#include "platform/Volumes.h"

#include "platform/LinuxVolumes.h"

namespace quelt {

IVolumes& systemVolumes() {
  static TLinuxVolumes volumes;
  return volumes;
}

}  // namespace quelt
