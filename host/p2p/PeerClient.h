#pragma once
// Fetching one file from one peer into the update folder.
#include <string>

#include "host/p2p/P2pSettings.h"
#include "platform/StopToken.h"

namespace orsap2p {

enum class Fetch {
  kStored,        // received whole, MD5 checked, renamed into place
  kNotHeld,       // the peer has no such file, or is busy
  kUnreachable,   // no connection, or no answer in time
  kBadContent,    // received, but the MD5 differs: thrown away
  kBroken,        // the peer answered nonsense or stopped mid-file
  kLocalFailure,  // the file could not be written here
  kStopped,       // the quit request ended it
};

// Asks `peer` for the content with `md5` (lowercase) and, when it arrives
// whole with that MD5, stores it as `folder`/`name` (native path): written to
// a temporary file in the folder, flushed and renamed over any old file.
// Nothing is left behind on failure. `stop` (or kNoWaitHandle) ends every
// wait.
// `detail` says what went wrong.
Fetch FetchFromPeer(const Peer& peer, const std::string& md5, const std::string& folder,
                    const std::string& name, int timeoutSeconds, platform::WaitHandle stop,
                    std::string& detail);

}  // namespace orsap2p
