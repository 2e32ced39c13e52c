#pragma once

#include "RecordStore.h"

#include <string>
#include <string_view>

// The record pair in the directory that every player shares through the
// set-group-id helper. Each record is a directory of its own holding both
// files, "record.N", made whole aside and then given its name by one
// rename that fails if the name exists. Readers take the highest N.
//
// So no lock is needed: a player who stops or kills their own helper at any
// instant delays nobody and can leave at most an old pair or a pair not yet
// named, which the next record removes.
namespace core {

// Entries of the shared directory.
inline constexpr char generationPrefix[] = "record.";
// Where pairs are made before they are named; only helpers put anything
// there.
inline constexpr char stagingDirectory[] = "staging";

// The current pair, whole. Where there is none yet, an empty pair is made
// first: the creation step of the start-up.
Pair readShared(const Directory &directory);

// Stores score and name as the new pair only when current is above the
// score of the pair that is current at that moment; otherwise nothing.
Outcome storeShared(const Directory &directory, std::string_view score, std::string_view name, double current);

} // namespace core
