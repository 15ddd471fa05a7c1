#include "engine/transport_observation.h"

namespace orlune {

const ObservationLines& kHostObservationLines = kLinuxObservationLines;

}  // namespace orlune
