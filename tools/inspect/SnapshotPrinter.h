#pragma once
// Shows a StateSnapshot: a table for people, or one JSON object for scripts.
#include <ostream>

#include "tools/inspect/StateSnapshot.h"

namespace obxinspect {

void PrintTable(const StateSnapshot& snap, std::ostream& out);
void PrintJson(const StateSnapshot& snap, std::ostream& out);

}  // namespace obxinspect
