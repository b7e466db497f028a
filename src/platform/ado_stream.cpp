#include "platform/builtin_objects.h"

namespace zorvik {

// Not built yet: creation fails like a missing component.
ObjectRef make_ado_stream() { return nullptr; }

} // namespace zorvik
