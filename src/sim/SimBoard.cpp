// Placeholder: the simulated board's model is being written.
#include "sim/SimBoard.h"
