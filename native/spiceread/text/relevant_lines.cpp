#include "spiceread/text/relevant_lines.hpp"

#include "spiceread/text/chars.hpp"

namespace tessel::spiceread::text {

void RelevantLineScanner::take_rest_of_line(const unsigned char *p, std::string &line,
                                            bool pending_blank) {
    const unsigned char *end = end_;
    while (p < end) {
        const unsigned char *run = p;
        while (p < end && !maybe_special(*p)) ++p;
        if (p == run) {
            CharClass c = classify(p, end);
            if (c.kind == Kind::LineBreak) {
                pos_ = p + c.size;
                return;
            }
            if (c.kind == Kind::Space) {
                pending_blank = true;
                p += c.size;
                continue;
            }
            p += c.size;  // an ordinary character behind a lead byte
        }
        if (pending_blank && !line.empty()) line.push_back(' ');
        pending_blank = false;
        line.append(reinterpret_cast<const char *>(run), p - run);
    }
    pos_ = end;
}

const unsigned char *RelevantLineScanner::continuation_at() const {
    const unsigned char *p = pos_;
    while (p < end_) {
        if (!maybe_special(*p)) return *p == '+' ? p : nullptr;
        CharClass c = classify(p, end_);
        if (c.kind != Kind::Space) return nullptr;
        p += c.size;
    }
    return nullptr;
}

bool RelevantLineScanner::next(std::string &line) {
    line.clear();
    while (pos_ < end_) {
        // The first raw line of a group is taken as it stands, even when it
        // begins with "+".
        take_rest_of_line(pos_, line, false);
        while (const unsigned char *plus = continuation_at())
            take_rest_of_line(plus + 1, line, true);
        if (!line.empty()) return true;
    }
    return false;
}

}  // namespace tessel::spiceread::text
