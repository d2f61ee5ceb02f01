// The two-lane path on aarch64, over the fast forms' primitives; compiled with
// -march=armv8-a+crypto, and a second time for the tests with ZANTU_PLAIN_SWITCH.
#include "crypto/keyed_mix/ops_arm64.h"
#include "crypto/nonce/lanes_impl.h"

LANES_FORM(NeonOps)
