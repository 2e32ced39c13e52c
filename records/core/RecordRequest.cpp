#include "RecordRequest.h"

namespace recordcore {

namespace {

// "0" or 1..32767 without sign, blanks or leading zeros: the caption of the
// game's right-answer count.
std::optional<int> scoreValue(std::string_view text)
{
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 32767)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Request> parseRequest(std::string_view bytes, std::string &why)
{
    if (bytes.size() > maxRequestBytes) {
        why = "request too long";
        return std::nullopt;
    }
    if (bytes == "create\n")
        return Request{};

    constexpr std::string_view record = "record\n";
    if (!bytes.starts_with(record)) {
        why = "unknown request: neither \"create\" nor \"record\"";
        return std::nullopt;
    }
    const std::string_view rest = bytes.substr(record.size());
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        why = "record request without a line end after the score";
        return std::nullopt;
    }
    Request request;
    request.kind = Request::Record;
    request.score = rest.substr(0, end);
    request.name = rest.substr(end + 1);
    const std::optional<int> value = scoreValue(request.score);
    if (!value) {
        why = "score is not 0 to 32767 as the game writes it";
        return std::nullopt;
    }
    if (request.name.size() > maxNameBytes) {
        why = "name longer than the game can type";
        return std::nullopt;
    }
    request.value = *value;
    return request;
}

} // namespace recordcore
