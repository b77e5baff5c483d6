// Inside the library: an engine outcome raised as the public error of its
// kind.
#pragma once

#include "core/Outcome.h"
#include "varnel/errors.h"

namespace varnel::lib {

// Returns for Finished; throws the error of any other kind.
void RaiseOutcome(const Outcome& outcome);

}  // namespace varnel::lib
