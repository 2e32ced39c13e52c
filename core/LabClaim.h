#pragma once

#include "RecordStore.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Lab mode: the school's server keeps one record for every PC of the lab.
// The record program, which has no network, hands a better score to the lab
// service (valtrino-labd) as a claim file in RECORD_DIR/lab/outbox; the
// service answers in lab/verdicts and keeps the lab's record, as last seen,
// in lab/seen. Everything here is plain files in the record directory.
//
// Claim file "outbox/<id>", written aside as ".<id>" then renamed:
//   ID " " ACCOUNT " " SCORE " " NAME
// ID a lowercase version-4 UUID; ACCOUNT the login name of the player's
// real uid (no blank); SCORE 0 to 32767 as the game writes it; NAME the
// rest of the file, the typed name's code-page bytes, without line end.
// Verdict file "verdicts/<id>": "stored\n" or "not-higher\n".
// Seen file "seen": SCORE " " NAME, as the server holds it, in the code page.
namespace core::lab {

inline constexpr char directory[] = "lab";
inline constexpr char outbox[] = "outbox";
inline constexpr char verdicts[] = "verdicts";
inline constexpr char seen[] = "seen";

struct Claim
{
    std::string id;
    std::string account;
    int score = 0;
    std::string name;
};

enum class Verdict { Stored, NotHigher };

// The record as a line of the seen file, or as a claim's score and name.
struct Record
{
    int score = 0;
    std::string name;
};

// A fresh version-4 UUID from the kernel's random numbers.
std::string newClaimId();
bool isClaimId(std::string_view text);

std::string claimText(const Claim &claim);
std::optional<Claim> parseClaim(std::string_view text);

std::string_view verdictText(Verdict verdict);
std::optional<Verdict> parseVerdict(std::string_view text);

std::string recordText(const Record &record);
std::optional<Record> parseRecord(std::string_view text);

// Writes the file whole, aside as ".<name>", then renames it into place so
// that a reader never sees it half written.
void publish(const Directory &directory, const std::string &name, std::string_view bytes, mode_t mode);

// The record program's side.

// On when the configuration exists and the lab directory with its outbox
// was made (by the valtrino-lab package); otherwise everything is as
// without lab mode.
bool enabled(const char *configuration, const Directory &records);

// The account a claim is made for: the login name of uid, which the player
// cannot choose, or "#N" when it has none.
std::string accountOf(uid_t uid);

// The lab's record as last seen, if any and readable.
std::optional<Record> lastSeen(const Directory &records);

// The better of the local pair and the lab's record; a tie keeps the local.
Pair better(const Pair &local, const std::optional<Record> &lab);

// Puts the claim in the outbox and waits at most wait for its verdict,
// which is then removed. Nothing when none came in time.
std::optional<Verdict> claim(const Directory &records, const Claim &claim, std::chrono::milliseconds wait);

} // namespace core::lab
