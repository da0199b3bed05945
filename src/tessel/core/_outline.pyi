# Types of tessel.core._outline (an extension module): its records are named tuples.
from typing import NamedTuple

class Word(NamedTuple):
    text: str
    line: int
    col: int
    end_line: int
    end_col: int

class Setting(NamedTuple):
    key: Word
    value: Word
    parts: int
    kind: str
    text: str
    number: float | None
    unit: str
    scaled: bool
    metre: str
    bracket: str
    error: str
    micrometres: float | None
    @property
    def word(self) -> Word: ...

class Element(NamedTuple):
    name: Word
    component: Word
    nets: tuple[Word, ...]
    settings: tuple[Setting, ...]
    subckt: int
    owner: int
    comment: Word | None
    location: str
    location_error: str
    id: int
    statement: Word
    source: bool

class Subckt(NamedTuple):
    name: Word
    ports: tuple[Word, ...]
    settings: tuple[Setting, ...]
    parent: int
    end: Word | None
    elements: tuple[int, ...]
    id: int
    statement: Word

class Net(NamedTuple):
    name: str
    terminals: tuple[Word, ...]
    elements: tuple[int, ...]

class Command(NamedTuple):
    word: Word
    kind: str
    lowered: str
    id: int
    statement: Word

class Refusal(NamedTuple):
    kind: str
    message: str
    word: Word
    id: int

class Cut(NamedTuple):
    word: Word
    marker: Word

class Quote(NamedTuple):
    word: Word
    quote: str

class Comment(NamedTuple):
    word: Word
    line: int
    end_line: int
    id: int
    location: str

class Ignored(NamedTuple):
    name: Word
    statement: Word
    id: int

class Outline(NamedTuple):
    subckts: tuple[Subckt, ...]
    elements: tuple[Element, ...]
    ignored: tuple[Ignored, ...]
    commands: tuple[Command, ...]
    comments: tuple[Comment, ...]
    refusals: tuple[Refusal, ...]
    cuts: tuple[Cut, ...]
    quotes: tuple[Quote, ...]
    lines: int

def read_outline(text: str) -> Outline: ...
def subckt_nets(outline: Outline, index: int) -> tuple[Net, ...]: ...
