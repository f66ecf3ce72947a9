#include "platform/display/display.h"

namespace platform::display {

std::unique_ptr<Backend> CreateX11(const char*) { return nullptr; }

}  // namespace platform::display
