#include "PrivateNetwork.h"

// Before main, while the program has one thread: a namespace is left per thread.
[[maybe_unused]] static const bool kPrivateNetwork = InPrivateNetwork();
