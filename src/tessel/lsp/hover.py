"""What a hover says: of an instance, its component, settings as the reader reads them and
the port each net lands on; of a net, its terminals; of a subcircuit, its ports and
settings; of a setting, what the reader makes of its value, and why."""

from __future__ import annotations

from collections.abc import Callable, Iterable

from tessel.core._outline import Element, Setting, Subckt

from .index import COMPONENT, INSTANCE, KEY, NET, PORT, SUBCKT, VALUE, Hit, Index

__all__ = ["NOT_YET", "hover_text"]

# The ports of a component the reading has not looked up yet.
NOT_YET = ("<not yet>",)
Ports = Callable[[str], tuple[str, ...] | None]


def _number(x: float) -> str:
    """`x` as the result holds it, with a rounded form when that is much shorter."""
    exact, short = repr(x), f"{x:.10g}"
    return f"{exact} (about {short})" if float(short) != x and len(exact) > len(short) + 3 else exact


def value_of(setting: Setting, parameters: Iterable[str] = ()) -> str:
    """What the reader makes of a setting's value, and why."""
    written = f"`{setting.value.text}`" if setting.value.text else "nothing"
    kind = setting.kind
    if kind == "number":
        number = setting.number or 0.0
        said = f"{written} reads as the number {_number(number)}"
        if setting.scaled:
            said += f" (scale suffix `{setting.unit}`)"
        elif setting.unit:
            said += f" (`{setting.unit}` is no scale suffix: only p, n, u and m scale)"
        if setting.metre == "converted":
            said += (f"; the metre rule takes it for a length in metres, so the result holds "
                     f"**{_number(number * 1e6)}** (micrometres)")
        elif setting.scaled and setting.metre == "above":
            said += "; too large for the metre rule, it stays as it is (not micrometres)"
        else:
            said += f"; the result holds **{_number(number)}**"
        return said
    if kind == "text":
        said = f"{written} is the text `{setting.text}`"
        if setting.bracket:
            said += f" (the `{setting.bracket}` is never closed)"
        elif setting.unit:
            said += f" (`{setting.unit}` is no scale suffix, so it is no number)"
        return said
    if kind == "none":
        return "an empty value: the result holds None"
    if kind == "literal":
        return f"the Python literal `{setting.text}`, as the reader evaluates it"
    if kind == "unresolved":
        if setting.text in set(parameters):
            return f"the value of the parameter `{setting.text}`"
        return (f"no parameter is named `{setting.text}`: the value is None until the circuit is "
                "called with it")
    return f"the reader refuses it: {setting.error}"


def _settings(settings: tuple[Setting, ...], parameters: set[str]) -> list[str]:
    return [f"- `{s.key.text}`: {value_of(s, parameters)}" for s in settings]


def _port(ports: tuple[str, ...] | None, p: int, component: str) -> str:
    """Where terminal `p` of an element of `component` lands."""
    if ports is NOT_YET:
        return f"terminal {p + 1} (its port comes with the reading)"
    if ports is None:
        return f"terminal {p + 1} (`{component}` has no known ports)"
    if p < len(ports):
        return f"port `{ports[p]}`"
    return f"port `o{p + 1}`, which the reader invents (`{component}` has {len(ports)})"


def _instance(index: Index, e: Element, ports_of: Ports) -> str:
    doc = index.doc
    component = doc.component(e.component.text)
    where = f" in subcircuit `{index.subckts[e.owner].name.text}`" if e.owner >= 0 else " (no subcircuit keeps it)"
    lines = [f"**{e.name.text}**: instance of `{component}`{where}, line {e.name.line}"]
    if e.settings:
        lines += ["", "Settings, as the reader reads them:", *_settings(e.settings, doc.parameters(e))]
    ports = ports_of(component)
    if e.nets:
        lines += ["", "Terminals:"]
        lines += [f"- net `{net.text}` on {_port(ports, p, component)}" for p, net in enumerate(e.nets)]
    return "\n".join(lines)


def _subckt(index: Index, k: int) -> str:
    s: Subckt = index.subckts[k]
    end = f"lines {s.statement.line}-{s.end.end_line}" if s.end is not None else "never closed: the reader drops it"
    lines = [f"**{s.name.text}**: subcircuit ({end})",
             "", f"Ports: {', '.join(f'`{p.text}`' for p in s.ports) or 'none'}"]
    if s.settings:
        lines += ["", "Settings:", *_settings(s.settings, set(index.doc.params))]
    lines += ["", f"{len(s.elements)} instance{'s' if len(s.elements) != 1 else ''}"]
    return "\n".join(lines)


def _net(index: Index, scope: int, name: str, ports_of: Ports) -> str:
    terminals = index.terminals(scope, name)
    s = index.subckts[scope] if scope >= 0 else None
    declared = any(t.element < 0 for t in terminals)
    owner = f" of subcircuit `{s.name.text}`" if s is not None else ""
    ends = [t for t in terminals if t.element >= 0]
    lines = [f"**{name}**: {'declared port' if declared else 'net'}{owner}, "
             f"{len(ends)} terminal{'s' if len(ends) != 1 else ''}"]
    for t in ends:
        e = index.elements[t.element]
        component = index.doc.component(e.component.text)
        lines.append(f"- `{e.name.text}`, {_port(ports_of(component), t.position, component)}, "
                     f"line {t.word.line}")
    if not declared and len(ends) == 1:
        lines += ["", "One terminal and no declared port: the reader makes it an external port."]
    elif len(ends) > 2 and not declared:
        lines += ["", "The reader refuses a net of more than two terminals."]
    return "\n".join(lines)


def hover_text(index: Index, hit: Hit, ports_of: Ports) -> str | None:
    """The hover of `hit`, in Markdown, or None."""
    if hit.kind == INSTANCE:
        return _instance(index, index.elements[hit.element], ports_of)
    if hit.kind == SUBCKT:
        return _subckt(index, hit.subckt)
    if hit.kind == COMPONENT:
        e = index.elements[hit.element]
        component = index.doc.component(e.component.text)
        if (k := index.definition(component)) >= 0:
            return _subckt(index, k)
        ports = ports_of(component)
        if ports is NOT_YET:
            known = "its ports come with the reading"
        elif ports is None:
            known = "no known ports: no built-in element, model or cell of the PDK, or subcircuit of this file"
        else:
            known = f"ports {', '.join(f'`{p}`' for p in ports) or 'none'}"
        return f"**{component}**: component, {known}"
    if hit.kind in (NET, PORT):
        return _net(index, hit.subckt, hit.word.text, ports_of)
    if hit.kind in (KEY, VALUE):
        owner = index.elements[hit.element] if hit.element >= 0 else None
        settings = owner.settings if owner is not None else index.subckts[hit.subckt].settings
        setting = settings[hit.item]
        return f"`{setting.word.text}`: {value_of(setting, index.doc.parameters(owner))}"
    return None
