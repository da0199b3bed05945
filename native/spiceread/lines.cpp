// Line pipeline: the relevant-line stream and its Python-visible stages.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_split_comments(nb::module_ &m) { def_placeholder(m, "_split_comments"); }
void def_split_words(nb::module_ &m) { def_placeholder(m, "_split_words"); }
void def_chain(nb::module_ &m) { def_placeholder(m, "_chain"); }
void def_strip_lines(nb::module_ &m) { def_placeholder(m, "_strip_lines"); }
void def_join_continuations(nb::module_ &m) { def_placeholder(m, "_join_continuations"); }
void def_standardize_spaces(nb::module_ &m) { def_placeholder(m, "_standardize_spaces"); }
void def_filter_empty(nb::module_ &m) { def_placeholder(m, "_filter_empty"); }
void def_iter_relevant_lines(nb::module_ &m) { def_placeholder(m, "_iter_relevant_lines"); }

}  // namespace tessel::spiceread
