#include "coordinator/DictationCoordinator.h"

namespace tessvale {

} // namespace tessvale
