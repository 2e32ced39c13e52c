#include "RecordRequest.h"

namespace core {

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

// A length of the answer's first line: plain digits, at most readLimit.
std::optional<std::size_t> lengthOf(std::string_view text)
{
    if (text.empty() || text.size() > 6 || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    std::size_t length = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        length = length * 10 + std::size_t(c - '0');
    }
    if (length > readLimit)
        return std::nullopt;
    return length;
}

} // namespace

std::optional<Request> parseRequest(std::string_view bytes, std::string &why)
{
    if (bytes.size() > maxRequestBytes) {
        why = "request too long";
        return std::nullopt;
    }
    if (bytes == "read\n")
        return Request{};

    constexpr std::string_view record = "record\n";
    if (!bytes.starts_with(record)) {
        why = "unknown request: neither \"read\" nor \"record\"";
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

std::string answerOf(const Pair &pair)
{
    return std::to_string(pair.score.size()) + ' ' + std::to_string(pair.name.size()) + '\n' + pair.score + pair.name;
}

std::optional<Pair> parseAnswer(std::string_view bytes)
{
    const std::size_t blank = bytes.find(' ');
    const std::size_t end = bytes.find('\n');
    if (blank == std::string_view::npos || end == std::string_view::npos || blank > end)
        return std::nullopt;
    const std::optional<std::size_t> score = lengthOf(bytes.substr(0, blank));
    const std::optional<std::size_t> name = lengthOf(bytes.substr(blank + 1, end - blank - 1));
    const std::string_view rest = bytes.substr(end + 1);
    if (!score || !name || rest.size() != *score + *name)
        return std::nullopt;
    return Pair{std::string(rest.substr(0, *score)), std::string(rest.substr(*score))};
}

} // namespace core
