// What start-up chooses for this processor, as one record: the hash forms, the nonce path and
// the batch size. The slots the rest of the program reads (fast_hash_support, the Haraka
// slots) are filled from it; it is written at start-up only.
#pragma once

#include <cstdint>

#include "crypto/cpu/cpu_features.h"
#include "crypto/hasher/hash_forms.h"
#include "crypto/nonce/nonce_path.h"

struct Selection {
    const HashForms* forms;
    const NoncePath* path;
    uint64_t batch_size;
};

// selection: the installed choice; the portable forms and the Finalize loop, which every
// processor runs, until select_haraka_implementations installs the processor's own.
extern Selection selection;

// batch_size_for returns the batch size for the probe answer |fast|: larger on the fast
// forms, so that a batch takes a similar time on either.
uint64_t batch_size_for(int32_t fast);

// install_selection makes |s| the process's choice: the record, fast_hash_support (the probe
// answer its forms stand for) and the three Haraka slots.
void install_selection(const Selection& s);

// select_haraka_implementations probes the processor, then installs its choice.
void select_haraka_implementations();

// fall_back_to_portable_forms makes the process run as if the probe had found no fast
// instructions: the portable forms, the Finalize loop and their batch size. A hasher already
// built keeps its mixing until its SelectMixing runs again.
void fall_back_to_portable_forms();
