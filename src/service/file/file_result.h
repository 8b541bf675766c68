// The result record of one file operation. The file pipelines fill it; the
// bypass operations hand it back zero-filled.
#pragma once

#include "qor/qorfile.h"
