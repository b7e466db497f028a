#include "platform/builtin_objects.h"

namespace zorvik {

// Not built yet: creation fails like a missing component.
ObjectRef make_winhttp_request_object() { return nullptr; }

} // namespace zorvik
