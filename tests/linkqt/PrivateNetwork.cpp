#include "../firewall/PrivateNetwork.h"

// The live tests capture on a loopback of their own, so what other programs send over the
// machine's loopback never reaches their counts. Entered before main, while the program has
// one thread: a namespace is left per thread.
[[maybe_unused]] static const bool kPrivateNetwork = InPrivateNetwork();
