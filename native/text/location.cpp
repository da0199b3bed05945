#include "text/location.hpp"

#include "text/chars.hpp"

namespace tessel::text {

namespace {

constexpr std::string_view kMarker = "location=";
constexpr std::string_view kBetween = ")(";

// How many parts `text.split(separator)` makes.
std::size_t count_parts(std::string_view text, std::string_view separator) {
    std::size_t parts = 1;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, at + separator.size()))
        ++parts;
    return parts;
}

// `re.sub(r"\s*", "", text)`: the text itself when it holds no white space
// (the usual case), else what is left of it, in `kept`.
std::string_view without_white_space(std::string_view text, std::string &kept) {
    const unsigned char *p = bytes(text), *end = p + text.size();
    const unsigned char *clean = p;
    while (clean < end && !maybe_special(*clean)) ++clean;
    if (clean == end) return text;
    kept.assign(text.data(), static_cast<std::size_t>(clean - p));
    for (const unsigned char *q = clean; q < end;) {
        CharClass c = classify(q, end);
        if (c.kind == Kind::Ordinary) kept.append(reinterpret_cast<const char *>(q), c.size);
        q += c.size;
    }
    return kept;
}

std::string_view strip_parentheses(std::string_view group) {
    while (!group.empty() && group.front() == '(') group.remove_prefix(1);
    while (!group.empty() && group.back() == ')') group.remove_suffix(1);
    return group;
}

}  // namespace

LocationText read_location(std::string_view comment, std::string &buffer) {
    LocationText out;
    const std::size_t marker = comment.find(kMarker);
    if (marker == std::string_view::npos) return out;
    if (std::size_t parts = count_parts(comment, kMarker); parts != 2) {
        out.status = LocationText::Status::SeveralMarkers;
        out.parts = parts;
        return out;
    }
    std::string_view rest = comment.substr(marker + kMarker.size());
    std::string_view location = without_white_space(rest.substr(0, rest.find(' ')), buffer);

    std::string_view port = "()", coordinates = location;
    if (const std::size_t between = location.find(kBetween); between != std::string_view::npos) {
        if (std::size_t parts = count_parts(location, kBetween); parts != 2) {
            out.status = LocationText::Status::SeveralGroups;
            out.parts = parts;
            return out;
        }
        port = location.substr(0, between);
        coordinates = location.substr(between + kBetween.size());
    }
    out.status = LocationText::Status::Found;
    out.port = strip_parentheses(port);
    out.coordinates = strip_parentheses(coordinates);
    return out;
}

}  // namespace tessel::text
