"""``tessel lsp``: a language server for OC spice netlists (the ``lsp`` extra: pygls).

What it serves, module by module:

- `server`: the protocol over stdio, the server's state (`serve`, `TesselServer`);
- `features`: each request and notification, positions converted on the way in and out;
- `text`: a buffer's text, and the one place where the reader's positions (raw lines,
  code points) become the protocol's (its lines, the negotiated encoding) and back;
- `documents`: the open netlists, when each is checked (the outline phase on a thread of
  its own), what a change cancels;
- `readings`, `worker`, `frames`: the reading processes, one per project, which import
  the reader and sax and run the reading phase;
- `analysis`, `index`, `diagnostics`: what is known of one version of a buffer;
- `hover`, `navigation`, `completion`, `actions`: the answers.
"""
