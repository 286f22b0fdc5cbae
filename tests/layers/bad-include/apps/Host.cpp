// A host that includes a module internal: the check must refuse it.
#include "engine/Engine.h"
