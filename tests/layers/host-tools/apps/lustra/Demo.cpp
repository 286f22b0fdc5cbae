// A shipped host that includes a generator's header: the check must refuse it.
#include "common/PngWriter.h"
