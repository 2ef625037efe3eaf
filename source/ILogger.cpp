#include "ILogger.h"

namespace Brelt::MW::Base {

// Never deleted: code running after static destructors may still use it.
ILogger* const GlobalLogger = new NullLogger();

}  // namespace Brelt::MW::Base
