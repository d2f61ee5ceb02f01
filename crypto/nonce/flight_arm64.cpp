// The in-flight nonce path on aarch64: a pair of entries is two NEON registers. Compiled with
// -march=armv8-a+crypto; it runs only where fast_hash_decision is 1.
#include "crypto/keyed_mix/ops_arm64.h"
#include "crypto/nonce/flight_pairs.h"

#include "crypto/nonce/flight_impl.h"

FLIGHT_FORM_ENTRY_POINTS(arm64, FlightPairs<NeonOps>)
