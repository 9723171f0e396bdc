#pragma once
// The services the host offers every component, registered before a component
// is loaded.
#include "host/RuntimeContext.h"
#include "orsa/ILogger.h"

namespace orsahost {

// Registers one object of each host service under its interface type name and
// a registry name: "orsa.security" (ISecurityHelper), "orsa.zip" (IZipHelper),
// "orsa.sdo" (ISdoHelper), "orsa.ws" (IWebServiceInvoker, default time-outs),
// "orsa.download" (IDownloader and IVerifiedDownloader, default bounds; it logs its transfers
// through `logs` when given), "orsa.httphold" (IHttpClientHold). Registering twice into one context
// adds nothing the second time.
void RegisterHostServices(RuntimeContext& context,
                          orsa::ILogManagerPtr logs = orsa::ILogManagerPtr());

}  // namespace orsahost
