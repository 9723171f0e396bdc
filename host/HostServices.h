#pragma once
// The services the host offers every component, registered before a component
// is loaded.
#include "host/RuntimeContext.h"

namespace orsahost {

// Registers one object of each host service under its interface type name,
// with the names listed in the .cpp ("orsa.security", "orsa.zip", ...).
// Registering twice into one context adds nothing the second time.
void RegisterHostServices(RuntimeContext& context);

}  // namespace orsahost
