// The syntax of a "location=" annotation in a comment: where an instance is
// placed, and optionally by which port.
//
//     $ location=(10,20,90)          x, y, rotation
//     * location=(o1)(0,5u,180)      port, then x, y, rotation
//
// The annotation runs from "location=" to the next blank; its white space is
// removed, then it is cut at ")(" into a port group and a coordinate group,
// and each group loses its leading "(" and trailing ")".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessel::text {

struct LocationText {
    enum class Status {
        None,              // no "location=" in the comment
        Found,
        SeveralMarkers,    // "location=" more than once: `parts` pieces
        SeveralGroups,     // ")(" more than once: `parts` pieces
    };
    Status status = Status::None;
    std::size_t parts = 0;
    std::string_view port;         // empty when there is no port group
    std::string_view coordinates;  // the comma-separated coordinate texts
};

// Reads the annotation of `comment`; `buffer` holds the location text when
// white space had to be taken out of it.
LocationText read_location(std::string_view comment, std::string &buffer);

// The comma-separated pieces of a coordinate group, in order: at least one
// (an empty group is one empty piece).
class CoordinatePieces {
public:
    explicit CoordinatePieces(std::string_view coordinates) : rest_(coordinates) {}

    bool next(std::string_view &piece) {
        if (done_) return false;
        const std::size_t comma = rest_.find(',');
        piece = rest_.substr(0, comma);
        if (comma == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(comma + 1);
        return true;
    }

private:
    std::string_view rest_;
    bool done_ = false;
};

}  // namespace tessel::text
