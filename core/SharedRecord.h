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

// What the helper does at two points of its work.
struct Steps
{
    // After a listing of the directory, before the pair it found is read:
    // only the tests' helper pauses there.
    void (*listed)() = nullptr;
    // Once a better pair is made whole, before it is named: at most once a
    // store, so that a kill at any instant leaves no record without it.
    std::function<void()> naming;
};

// The current pair, whole: still the newest after it was read. Where there
// is none yet, an empty pair is made first: the creation step of the
// start-up.
Pair readShared(const Directory &directory, const Steps &steps = {});

// Stores score and name as the new pair only when current is above the
// score of the pair that is current at that moment; otherwise nothing.
// Afterwards it clears a few older or unfinished pairs, never many.
Outcome storeShared(const Directory &directory, std::string_view score, std::string_view name, double current,
                    const Steps &steps = {});

} // namespace core
