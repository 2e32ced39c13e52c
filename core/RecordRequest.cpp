#include "RecordRequest.h"

#include "LeadingNumber.h"

namespace core {

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
    // The caption of the game's right-answer count.
    const std::optional<std::uint64_t> value = plainNumber(request.score, 5, 32767);
    if (!value) {
        why = "score is not 0 to 32767 as the game writes it";
        return std::nullopt;
    }
    if (request.name.size() > maxNameBytes) {
        why = "name longer than the game can type";
        return std::nullopt;
    }
    request.value = int(*value);
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
    const std::optional<std::uint64_t> score = plainNumber(bytes.substr(0, blank), 6, readLimit);
    const std::optional<std::uint64_t> name = plainNumber(bytes.substr(blank + 1, end - blank - 1), 6, readLimit);
    const std::string_view rest = bytes.substr(end + 1);
    if (!score || !name || rest.size() != *score + *name)
        return std::nullopt;
    return Pair{std::string(rest.substr(0, *score)), std::string(rest.substr(*score))};
}

} // namespace core
