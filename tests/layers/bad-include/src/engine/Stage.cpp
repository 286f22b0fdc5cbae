// An engine file that reaches up into the operator: the check must refuse it.
#include "operator/Operator.h"
