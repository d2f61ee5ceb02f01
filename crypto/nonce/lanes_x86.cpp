// The two-lane path on x86-64, over the fast forms' primitives; compiled with AES-NI and
// PCLMULQDQ, and a second time for the tests with ZANTU_PLAIN_SWITCH.
#include "crypto/keyed_mix/ops_x86.h"
#include "crypto/nonce/lanes_impl.h"

LANES_FORM(FastOps)
