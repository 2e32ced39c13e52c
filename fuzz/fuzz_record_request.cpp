// The record helper's request reader on any input: it either refuses with a
// reason, or accepts exactly a request the game could have sent, whose parts
// put together give back the input.
#include "RecordRequest.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fault(const char *what, std::string_view input)
{
    std::fprintf(stderr, "record request of %zu bytes: %s\n", input.size(), what);
    std::abort();
}

bool gameScore(std::string_view score, int value)
{
    return score == std::to_string(value) && value >= 0 && value <= 32767;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    // The helper's answer, read by the game: only what the helper writes.
    if (const std::optional<core::Pair> pair = core::parseAnswer(input)) {
        if (core::answerOf(*pair) != input)
            fault("answer parts do not give back the answer", input);
        if (pair->score.size() > core::readLimit || pair->name.size() > core::readLimit)
            fault("answer past the read limit", input);
    }
    std::string why;
    const std::optional<core::Request> request = core::parseRequest(input, why);
    if (!request) {
        if (why.empty())
            fault("refused without a reason", input);
        return 0;
    }
    if (input.size() > core::maxRequestBytes)
        fault("accepted a request past the bound", input);
    if (request->kind == core::Request::Read) {
        if (input != "read\n")
            fault("accepted as read", input);
        return 0;
    }
    if (!gameScore(request->score, request->value))
        fault("accepted a score the game cannot write", input);
    if (request->name.size() > core::maxNameBytes)
        fault("accepted a name longer than the game types", input);
    const std::string again = "record\n" + std::string(request->score) + '\n' + std::string(request->name);
    if (again != input)
        fault("parts do not give back the request", input);
    return 0;
}
