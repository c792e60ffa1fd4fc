// Placeholder: the Qt implementation of Operator is being written.
#include "board/Operator.h"
