// The command line's message for how a run ended: built from the outcome's
// kind and facts (the command refused, its address), so that a refusal
// names what the target refused rather than a caption of the window's.
#pragma once

#include "core/Outcome.h"

namespace varnel::cli {

// The outcome with its text made to name what happened; kind and facts
// are left as they are.
Outcome Explained(Outcome outcome);

}  // namespace varnel::cli
