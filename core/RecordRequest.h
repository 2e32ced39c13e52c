#pragma once

#include "RecordStore.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the game asks of valtrino-record, the set-group-id program that keeps
// the record in the shared directory, closed to the players, and what it
// answers.
//
// The request is the whole of its standard input:
//   "read\n"                        the creation step and the reading of both
//                                   files, at the start-up
//   "record\n" SCORE "\n" NAME      the record write of the game end
// SCORE is what the game shows as its count of right answers: "0", or 1 to
// 32767 in decimal digits with no sign, blank or leading zero. NAME is the
// rest of the input, the player's name in the code page (any byte), at most
// maxNameBytes long. Anything else is refused and nothing is written.
//
// The answer to "read", on standard output: "N M\n", then the N bytes of
// punt.txt and the M bytes of nom.txt, each at most readLimit.
//
// Exit status:
//   0                     done: the files read, or the record stored
//   1 (notHigher)         the score is not above the stored one: nothing written
//   2 (refused)           not a request as above: nothing written, the reason
//                         on standard error
//   3 (pending)           lab mode only: stored on this PC and handed to the
//                         lab service, whose server has not answered yet
//   53, 61, 70, 75, 76    the runtime error number of an I/O failure, exactly
//                         as the game would raise it writing by itself
// Any other end (another status, a signal) is not the helper's answer.
namespace core {

enum HelperStatus : int {
    done = 0,
    notHigher = 1,
    refused = 2,
    pending = 3,
};

// The longest name the game can produce: its input box takes 32767
// characters, each one byte in the code page.
inline constexpr std::size_t maxNameBytes = 32767;
inline constexpr std::size_t maxRequestBytes = sizeof "record\n32767\n" - 1 + maxNameBytes;

struct Request
{
    enum Kind { Read, Record };
    Kind kind = Read;
    std::string_view score; // Record only; views into the request's bytes
    std::string_view name;
    int value = 0;
};

// The request in the bytes, or nothing with the reason in why.
std::optional<Request> parseRequest(std::string_view bytes, std::string &why);

inline constexpr std::size_t maxAnswerBytes = sizeof "65536 65536\n" - 1 + 2 * readLimit;

std::string answerOf(const Pair &pair);
// The pair in an answer to "read", or nothing when it is not one.
std::optional<Pair> parseAnswer(std::string_view bytes);

} // namespace core
