#pragma once

// The record a context registers with is read by the views, so it is
// declared with them; this path stays for code that includes it from here.
#include "vorn/views/ContextInfo.h"
