#include "platform/detail/SystemErrorText.h"

namespace platform {

std::string SystemErrorText(long) { return std::string(); }

}  // namespace platform
