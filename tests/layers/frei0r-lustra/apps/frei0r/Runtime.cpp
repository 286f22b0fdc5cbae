// The plug-ins including one of lustra's own files: the check must refuse it.
#include "Commands.h"
