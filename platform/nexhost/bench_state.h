// Access to the one bench of the process, for the carrier API and the control API.
#pragma once

#include "model.h"

#include <mutex>

namespace tarq::bench {
std::recursive_mutex &benchMutex();
// The bench, built on first use; call with benchMutex() held.
model::Bench &benchLocked();
} // namespace tarq::bench
