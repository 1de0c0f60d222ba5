#pragma once

// The fake HTTP file server lives in the test kit; this name stays for the
// tests that include it from here.
#include "../support/httpfileserver.h"
