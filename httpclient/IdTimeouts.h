// The two values a time limit in ms takes besides a count of ms. Every wait
// of the client (select, a connect, a read) reads them by these names.
#pragma once

#include <cstdint>

// Use the default limit: a read waits under the connection's ReadTimeout,
// a connect is the platform's plain blocking connect.
constexpr int32_t IdTimeoutDefault = -1;
// No limit: the wait lasts until the event comes.
constexpr int32_t IdTimeoutInfinite = -2;
