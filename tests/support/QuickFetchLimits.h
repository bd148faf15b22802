#pragma once

#include "download/UGatorade.h"

// The fetch limits of the tests: the no-progress limit shortened, the waits between
// attempts down to a few milliseconds so that ten attempts take no time, and one second of
// a server's Retry-After counted as 20 ms.
inline FetchLimits QuickFetchLimits() {
    FetchLimits limits;
    limits.transferTimeoutMs = 5000;
    limits.firstBackoffMs = 1;
    limits.backoffCapMs = 4;
    limits.msPerRetryAfterSecond = 20;
    return limits;
}
