#include "engine/transport_observation.h"

namespace orlune {

const ObservationLines& kHostObservationLines = kMacOSObservationLines;

}  // namespace orlune
