// The agent's use of the library's policy-record encoder and emergency file.
#include "library_glue.h"
