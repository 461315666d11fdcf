// The Windows error of a failed call, for the log's number field.
#pragma once
#include <windows.h>

#include "common/result.h"

namespace tamsel::win32 {

// Called right where the call failed, before anything can overwrite it.
inline Failure last_failure() { return Failure{GetLastError()}; }

}  // namespace tamsel::win32
