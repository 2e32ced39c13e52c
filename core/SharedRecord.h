#pragma once

#include "RecordStore.h"

#include <functional>
#include <string>
#include <string_view>

// The record pair in the directory that every player shares through the
// set-group-id helper. Each record is a directory of its own holding both
// files, "record.N", made whole aside and then given its name by one
// rename that fails if the name exists. Readers take the highest N.
//
// So no lock is needed: a player who stops or kills their own helper at any
// instant delays nobody and can leave at most an old pair or a pair not yet
// named, which later records remove, a few at a time.
namespace core {

// Entries of the shared directory.
inline constexpr char generationPrefix[] = "record.";
// Where pairs are made before they are named; only helpers put anything
// there.
inline constexpr char stagingDirectory[] = "staging";

// Called at two moments of the work, when set.
struct Hooks
{
    // After a listing of the directory, before the pair it found is read.
    std::function<void()> afterListing;
    // Once a better pair is made whole, before it is named: at most once a
    // store, so that a kill at any instant leaves no record without it.
    std::function<void()> beforeNaming;
};

// Unfinished pairs that one account's helpers may hold at once, each under
// staging/UID.SLOT: a helper clears its account's dead pair in a slot
// before it stages there, and is refused (try again) when all are held.
inline constexpr int stagingSlots = 8;

// The current pair, whole: still the newest after it was read. Where there
// is none yet, an empty pair is made first: the creation step of the
// start-up. Until the flat files of an old release become a pair, there is
// nothing to read: try again later.
Pair readShared(const Directory &directory, const Hooks &hooks = {});

// Stores score and name as the new pair only when current is above the
// score of the pair that is current at that moment; otherwise nothing.
// Afterwards it clears a few older pairs, and unfinished ones that dead
// helpers of any account left, never many.
Outcome storeShared(const Directory &directory, std::string_view score, std::string_view name, double current,
                    const Hooks &hooks = {});

} // namespace core
