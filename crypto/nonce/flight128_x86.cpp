// The in-flight nonce path's 128-bit form, for every x86-64 processor with the fast forms: a
// pair of entries is two registers. Compiled with AVX (for the three-operand encoding of the
// 128-bit instructions), AES-NI and PCLMULQDQ, and without POPCNT or BMI; it runs only where
// flight128_decision is 1.
#include "crypto/keyed_mix/ops_x86.h"
#include "crypto/nonce/flight_pairs.h"

#include "crypto/nonce/flight_impl.h"

FLIGHT_FORM_ENTRY_POINTS(128, FlightPairs<FastOps>)
