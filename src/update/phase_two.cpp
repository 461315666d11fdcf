#include "entry/exit_codes.h"
#include "entry/modes.h"

namespace tamsel {

// Phase two arrives with the installer run; until then it claims nothing.
int phase_two(const RunContext&, Log&, Platform&) { return exit_code::not_built; }

}  // namespace tamsel
