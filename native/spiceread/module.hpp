// What the parts of `tessel.core.spiceread` share: the module's namespace,
// and the one table of its functions.
#pragma once

#include <nanobind/nanobind.h>

#include "common/names.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

ModuleScope &scope();

// The module's functions, in the order in which the module defines them:
// X(name, binder, signature).  Every one may be rebound in the module's
// namespace, and the reading then calls what the name is bound to (see
// route.hpp).  Its binder, in the stage file that implements it, binds it
// under that name with that signature text (nb::sig).
#define TESSEL_SPICEREAD_FUNCTIONS(X)                                                              \
    X(parse_oc_spice, def_parse_oc_spice, /* entry.cpp */                                          \
      "def parse_oc_spice(path_or_buf: str | pathlib.Path | typing.TextIO, "                       \
      "settings_keymap: dict[str, str] | None = None, component_map: dict[str, str] | None = "     \
      "None, **kwargs: typing.Any) -> dict[str, typing.Any]")                                      \
    X(_recursive_netlist_from_ir, def_recursive_netlist_from_ir, /* netlist.cpp */                 \
      "def _recursive_netlist_from_ir(ir: dict, settings_keymap: dict, comments: dict) -> dict")   \
    X(_netlist_from_subckt, def_netlist_from_subckt, /* netlist.cpp */                             \
      "def _netlist_from_subckt(ir: dict, subckt: Subckt, settings_keymap: dict, "                 \
      "comments: dict | None = None) -> dict")                                                     \
    X(_parse_oc_spice_into_ir, def_parse_oc_spice_into_ir, /* entry.cpp */                         \
      "def _parse_oc_spice_into_ir(path_or_buf: str | pathlib.Path | typing.TextIO, "              \
      "component_map: dict, **kwargs: typing.Any) -> tuple[dict, dict]")                           \
    X(_split_comments, def_split_comments, /* lines.cpp */                                         \
      "def _split_comments(line: str) -> tuple[str, str]")                                         \
    X(_split_words, def_split_words, /* lines.cpp */                                               \
      "def _split_words(line: str) -> typing.Iterator[str]")                                       \
    X(_parse_into_ir, def_parse_into_ir, /* ir_build.cpp */                                        \
      "def _parse_into_ir(lines: typing.Iterable[str], component_map: dict, "                      \
      "**kwargs: typing.Any) -> tuple[dict, dict]")                                                \
    X(_handle_sources, def_handle_sources, /* ir_steps.cpp */                                      \
      "def _handle_sources(words: typing.Iterable[str]) -> list[str]")                             \
    X(_parse_value, def_parse_value, /* values.cpp */                                              \
      "def _parse_value(value, /, **kwargs)")                                                      \
    X(_eval, def_eval, /* values.cpp */                                                            \
      "def _eval(key_or_value: str, /, **kwargs)")                                                 \
    X(_chain, def_chain, /* lines.cpp */                                                           \
      "def _chain(*funcs: typing.Callable) -> typing.Callable")                                    \
    X(_strip_lines, def_strip_lines, /* lines.cpp */                                               \
      "def _strip_lines(lines: typing.Iterable[str]) -> typing.Iterator[str]")                     \
    X(_join_continuations, def_join_continuations, /* lines.cpp */                                 \
      "def _join_continuations(lines: typing.Iterable[str]) -> typing.Iterator[str]")              \
    X(_standardize_spaces, def_standardize_spaces, /* lines.cpp */                                 \
      "def _standardize_spaces(lines: typing.Iterable[str]) -> typing.Iterator[str]")              \
    X(_filter_empty, def_filter_empty, /* lines.cpp */                                             \
      "def _filter_empty(lines: typing.Iterable[str]) -> typing.Iterator[str]")                    \
    X(_get_parent_id, def_get_parent_id, /* ir_steps.cpp */                                        \
      "def _get_parent_id(parents: list) -> int")                                                  \
    X(_get_ir_ports, def_get_ir_ports, /* ir_steps.cpp */                                          \
      "def _get_ir_ports(words: list[str]) -> tuple[str, ...]")                                    \
    X(_get_ir_settings, def_get_ir_settings, /* ir_steps.cpp */                                    \
      "def _get_ir_settings(words: list[str], **kwargs: typing.Any) -> dict")                      \
    X(_get_ports_from_model, def_get_ports_from_model, /* ports.cpp */                             \
      "def _get_ports_from_model(component: str) -> tuple[str, ...] | None")                       \
    X(_get_ports_from_component, def_get_ports_from_component, /* ports.cpp */                     \
      "def _get_ports_from_component(component: str) -> tuple[str, ...] | None")                   \
    X(_get_ports, def_get_ports, /* ports.cpp, wrapped by lru_cache */                             \
      "def _get_ports(component: str) -> tuple[str, ...] | None")                                  \
    X(_sort_ports, def_sort_ports, /* ports.cpp */                                                 \
      "def _sort_ports(ports: typing.Sequence[str]) -> tuple[str, ...]")                           \
    X(_get_port, def_get_port, /* ports.cpp */                                                     \
      "def _get_port(ports: tuple[str, ...], i: int) -> str")                                      \
    X(_map_settings_keys, def_map_settings_keys, /* settings.cpp */                                \
      "def _map_settings_keys(settings: dict, settings_keymap: dict) -> dict")                     \
    X(_convert_um, def_convert_um, /* settings.cpp */                                              \
      "def _convert_um(settings: dict) -> dict")                                                   \
    X(_is_probably_um, def_is_probably_um, /* settings.cpp */                                      \
      "def _is_probably_um(val: float, low: float = 1e-10, high: float = 0.01) -> bool")           \
    X(_patch_settings, def_patch_settings, /* settings.cpp */                                      \
      "def _patch_settings(settings: dict, settings_keymap: dict) -> dict")                        \
    X(_iter_relevant_lines, def_iter_relevant_lines, /* lines.cpp */                               \
      "def _iter_relevant_lines(content: str) -> typing.Iterator[str]")                            \
    X(_parse_location_comment, def_parse_location_comment, /* location.cpp */                      \
      "def _parse_location_comment(comment: str) -> dict")                                         \
    X(_patch_ports, def_patch_ports, /* patch.cpp */                                               \
      "def _patch_ports(netlist: dict) -> None")

// The other module-level names the steps look up when they run: the lazy
// bindings, and the record class that tells subcircuits in an IR of records.
#define TESSEL_SPICEREAD_BINDINGS(X) X(ast) X(sax) X(ts_pdk) X(natsorted) X(Subckt)

// Binds function `name` into `m`, published with `signature`.
using Binder = void (*)(nb::module_ &m, const char *name, const char *signature);
#define TESSEL_DECLARE_BINDER(name, binder, signature) void binder(nb::module_ &, const char *, const char *);
TESSEL_SPICEREAD_FUNCTIONS(TESSEL_DECLARE_BINDER)
#undef TESSEL_DECLARE_BINDER

}  // namespace tessel::spiceread
