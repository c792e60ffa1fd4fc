// Placeholder: the main window is being written.
#include "board/Station.h"
