// The running build, as configured (kept apart so a new build number recompiles only this file).
#include "VantorModels/Updates.h"

namespace vantor {

BuildInfo BuildInfo::running() { return BuildInfo{VANTOR_VERSION, VANTOR_BUILD, VANTOR_BETA != 0}; }

} // namespace vantor
