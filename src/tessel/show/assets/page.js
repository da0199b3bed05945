// The page of `tessel show`: pan and zoom, hover, selection, the list of subcircuits and
// the findings.  NETLIST says what each instance and net of a sheet is, and holds their
// SVG markup.
//
// A browser lays out and paints every element of an SVG again when its view changes, which
// takes seconds for many thousands.  So while the view moves, only a CSS transform of the
// drawing changes (the compositor's work, whatever the drawing holds), and the drawing spans
// three times the view each way to show what lies beyond its edges.  When the view rests,
// the view box is set to match, and the instances in that span are put in the drawing, with
// their nets, found through a grid of the sheet; when they are too many (zoomed out), the
// drawing shows the sheet's overview instead, a few paths of boxes and straight wires, and
// what is under the pointer is found through the grid.  Nothing walks all instances while
// the view moves or rests.
"use strict";
(() => {
  const D = window.NETLIST;
  const $ = (selector) => document.querySelector(selector);
  const view = $("main"), tip = $("#tip"), details = $("#details");
  const svgs = [...document.querySelectorAll("svg.sheet")];
  const MOST = 3000;      // instances put in the drawing at most; beyond, the overview
  const DETAIL_FROM = 24; // symbol width in pixels from which labels and ports are shown
  const REST = 120;       // ms without movement after which the view is laid out
  const sheets = [];      // per sheet, made when first shown (see open)
  let cur = -1, frame = 0, resting = 0, selected = {insts: [], nets: []};

  const esc = (text) => String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
  const value = (v) => (typeof v === "string" ? v : JSON.stringify(v));
  const sheet = () => D.sheets[cur];
  const state = () => sheets[cur];

  function niceLength(span) {
    const power = 10 ** Math.floor(Math.log10(span));
    return [5, 2, 1].map((m) => m * power).find((l) => l <= span) || power;
  }

  // ---- the view: `v` is what is seen, `laid` what the view box shows; {x, y} is the world
  // point at the view's top left corner, s micrometres per pixel ----------------------------
  function move() {
    frame = 0;
    const {v, laid} = state();
    const length = niceLength(120 * v.s);
    $("#scalebar div").style.width = `${length / v.s}px`;
    $("#scalebar span").textContent = `${+length.toPrecision(3)} µm`;
    clearTimeout(resting);
    if (v.x === laid.x && v.y === laid.y && v.s === laid.s) return;
    svgs[cur].style.transform = `translate(${(laid.x - v.x) / v.s}px, ${(laid.y - v.y) / v.s}px) scale(${laid.s / v.s})`;
    resting = setTimeout(lay, REST);
  }
  const redraw = () => { frame ||= requestAnimationFrame(move); };

  function lay() {
    const st = state(), v = st.v, w = view.clientWidth * v.s, h = view.clientHeight * v.s;
    const svg = svgs[cur];
    svg.setAttribute("viewBox", `${v.x - w} ${v.y - h} ${3 * w} ${3 * h}`);
    svg.style.transform = "";
    st.laid = {...v};
    const span = inSpan(st, v.x - w, v.y - h, v.x + 2 * w, v.y + 2 * h);
    const near = span.length <= MOST;
    svg.classList.toggle("near", near);
    svg.classList.toggle("small", sheet().unit / v.s < DETAIL_FROM);
    show(near ? span : []);
    redraw();
  }

  // The instances whose grid cells meet the rectangle; stops counting past MOST.
  function inSpan(st, x0, y0, x1, y1) {
    const c = st.cell, out = [];
    const gx0 = Math.floor(x0 / c), gx1 = Math.floor(x1 / c), gy0 = Math.floor(y0 / c), gy1 = Math.floor(y1 / c);
    const take = (cell) => {
      for (const i of cell) out.push(i);
      return out.length > MOST;
    };
    if ((gx1 - gx0 + 1) * (gy1 - gy0 + 1) > st.grid.size) {
      for (const [key, cell] of st.grid) {
        const [gx, gy] = key.split(",").map(Number);
        if (gx >= gx0 && gx <= gx1 && gy >= gy0 && gy <= gy1 && take(cell)) break;
      }
      return out;
    }
    for (let gx = gx0; gx <= gx1; gx++) {
      for (let gy = gy0; gy <= gy1; gy++) {
        const cell = st.grid.get(`${gx},${gy}`);
        if (cell && take(cell)) return out;
      }
    }
    return out;
  }

  // Puts in the drawing exactly these instances, the selected ones and the nets of all.
  function show(list) {
    const st = state(), wanted = new Set([...list, ...selected.insts]);
    const nets = new Set(selected.nets);
    for (const i of wanted) for (const n of st.portNets[i]) if (n >= 0) nets.add(n);
    sync(st.insts, wanted, st.layers.insts, instMarkup, "i");
    const wire = (n) => sheet().nets[n][1] === "wire";
    sync(st.nets, new Set([...nets].filter(wire)), st.layers.wires, netMarkup, "n", wire);
    sync(st.nets, new Set([...nets].filter((n) => !wire(n))), st.layers.markers, netMarkup, "n", (n) => !wire(n));
  }

  // The markup of an instance or a net: its symbol's, filled in as the drawing's own code
  // fills it in for the SVG files.
  const fill = (template, values) => template.replace(/\{(\w+)\}/g, (_, key) => values[key]);
  function instMarkup(i) {
    const [name, , , , symbol, x, y, , , cls] = sheet().insts[i], [, , template, rings] = sheet().symbols[symbol];
    const open = state().portNets[i].map((n, p) => (n < 0 ? rings[p] : "")).join("");
    return fill(template, {cls, i, x, y, name: esc(name), rings: open});
  }
  function netMarkup(n) {
    const [, kind, , cls, shape] = sheet().nets[n];
    return kind === "wire" ? fill(sheet().wire, {cls, n, d: shape}) : shape;
  }

  // Makes `shown` (index to element; of the layer, where `mine` says which are) what is wanted.
  function sync(shown, wanted, layer, markup, key, mine = () => true) {
    for (const [k, element] of shown) {
      if (mine(k) && !wanted.has(k) && !element.dataset.keep) {
        element.remove();
        shown.delete(k);
      }
    }
    const missing = [...wanted].filter((k) => !shown.has(k));
    if (!missing.length) return;
    const count = layer.children.length;
    layer.insertAdjacentHTML("beforeend", missing.map(markup).join(""));
    for (const element of [...layer.children].slice(count)) shown.set(+element.dataset[key], element);
    for (const k of selected[key === "i" ? "insts" : "nets"]) shown.get(k)?.classList.add("sel");
  }

  function fit(box = sheet().view) {
    const [x, y, w, h] = box;
    const s = Math.max(w / view.clientWidth, h / view.clientHeight) || 1;
    state().v = {x: x + w / 2 - (view.clientWidth * s) / 2, y: y + h / 2 - (view.clientHeight * s) / 2, s};
    redraw();
  }

  function zoom(factor, px = view.clientWidth / 2, py = view.clientHeight / 2) {
    const v = state().v, s = v.s / factor;
    state().v = {x: v.x + px * (v.s - s), y: v.y + py * (v.s - s), s};
    redraw();
  }

  // Brings a box (world coordinates) into view, large enough to read.
  function reveal([x, y, w, h]) {
    const margin = sheet().unit * 4;
    fit([x - margin, y - margin, w + 2 * margin, h + 2 * margin]);
  }
  const instBox = (i) => {
    const [, , , , symbol, x, y] = sheet().insts[i], [x0, y0, x1, y1] = sheet().symbols[symbol][1];
    return [x + x0, y + y0, x1 - x0, y1 - y0];
  };

  let drag = null;
  view.addEventListener("pointerdown", (e) => {
    if (e.button !== 0 || e.target.closest("#zoom")) return;
    drag = {x: e.clientX, y: e.clientY, moved: false};
    view.setPointerCapture(e.pointerId);
  });
  view.addEventListener("pointermove", (e) => {
    if (drag) {
      const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
      if (!drag.moved && Math.hypot(dx, dy) < 4) return;
      drag.moved = true;
      view.classList.add("dragging");
      tip.hidden = true;
      const v = state().v;
      state().v = {...v, x: v.x - dx * v.s, y: v.y - dy * v.s};
      drag.x = e.clientX;
      drag.y = e.clientY;
      redraw();
      return;
    }
    hover(e);
  });
  view.addEventListener("pointerup", (e) => {
    const click = drag && !drag.moved;
    drag = null;
    view.classList.remove("dragging");
    if (click) pick(under(e));
  });
  view.addEventListener("pointerleave", () => { tip.hidden = true; });
  view.addEventListener("wheel", (e) => {
    e.preventDefault();
    const r = view.getBoundingClientRect();
    zoom(Math.exp(-e.deltaY * 0.0015), e.clientX - r.left, e.clientY - r.top);
  }, {passive: false});
  view.addEventListener("dblclick", (e) => {
    const t = under(e);
    const k = t && t.inst >= 0 ? D.sheets.findIndex((s) => s.name === sheet().insts[t.inst][1]) : -1;
    if (k >= 0) open(k);
  });
  $("#zoom").addEventListener("click", (e) => {
    const how = e.target.dataset.zoom;
    if (how === "fit") fit();
    else if (how) zoom(how === "in" ? 1.5 : 1 / 1.5);
  });
  addEventListener("keydown", (e) => {
    if (e.key === "Escape") select();
    else if (e.key === "f") fit();
  });
  addEventListener("resize", () => { if (cur >= 0) lay(); });

  // ---- what is under the pointer: an element of the drawing, or in the overview an
  // instance found through the grid --------------------------------------------------------
  function under(e) {
    const element = document.elementFromPoint(e.clientX, e.clientY);
    const t = element && element.closest && element.closest("svg.sheet .inst, svg.sheet .net");
    if (t) return t.classList.contains("inst") ? {inst: +t.dataset.i} : {net: +t.dataset.n};
    if (svgs[cur].classList.contains("near")) return null;
    // The instance whose box is nearest, within a few pixels: boxes may be tiny here.
    const r = view.getBoundingClientRect(), v = state().v;
    const x = v.x + (e.clientX - r.left) * v.s, y = v.y + (e.clientY - r.top) * v.s;
    const reach = Math.max(sheet().unit * 2, 4 * v.s);
    let best = null, nearest = 4 * v.s;
    for (const i of inSpan(state(), x - reach, y - reach, x + reach, y + reach)) {
      const [bx, by, bw, bh] = instBox(i);
      const d = Math.hypot(Math.max(bx - x, 0, x - bx - bw), Math.max(by - y, 0, y - by - bh));
      if (d <= nearest) [best, nearest] = [i, d];
    }
    return best === null ? null : {inst: best};
  }

  let hovered = null;
  function hover(e) {
    const t = under(e);
    const key = t && (t.inst ?? `n${t.net}`);
    if (key !== hovered) {
      hovered = key;
      tip.hidden = !t;
      if (t) tip.innerHTML = t.inst !== undefined ? describeInst(t.inst) : describeNet(t.net);
    }
    const r = view.getBoundingClientRect();
    tip.style.left = `${e.clientX - r.left + 14}px`;
    tip.style.top = `${e.clientY - r.top + 14}px`;
  }

  function describeInst(i) {
    const [name, component, settings, line, , , , placement, note] = sheet().insts[i];
    const set = Object.entries(settings).map(([k, v]) => `${esc(k)}=${esc(value(v))}`).join(" ");
    let where = "no location: laid out automatically";
    if (placement) {
      const [x, y, rotation, port] = placement.map(value);
      where = `at (${esc(x)}, ${esc(y)}) µm, rotated ${esc(rotation)}°${port ? `, by port ${esc(port)}` : ""}`;
    }
    return `<b>${esc(name)}</b> ${esc(component)}<br>${set || '<span class="muted">no settings</span>'}` +
      `<br>${line ? `${esc(D.file)}:${line}` : "line unknown"}<br>${where}${note ? `<br>${esc(note)}` : ""}`;
  }

  function describeNet(k) {
    const [name, kind, ends] = sheet().nets[k];
    const what = {wire: "net", port: "external port", lone: "net of one terminal (an external port)",
      unused: "declared port, not used"}[kind];
    const terminals = ends.map(([i, p]) => `${esc(sheet().insts[i][0])},${esc(sheet().symbols[sheet().insts[i][4]][0][p])}`);
    return `<b>${esc(name)}</b> ${what}<br>${terminals.join(" · ") || "no terminal"}`;
  }

  // ---- selection --------------------------------------------------------------------------
  function select(insts = [], nets = []) {
    const st = state();
    for (const i of selected.insts) st.insts.get(i)?.classList.remove("sel");
    for (const n of selected.nets) st.nets.get(n)?.classList.remove("sel");
    selected = {insts, nets};
    show([...st.insts.keys()]);
    for (const i of insts) st.insts.get(i).classList.add("sel");
    for (const n of nets) st.nets.get(n).classList.add("sel");
    details.parentElement.hidden = !insts.length && !nets.length;
  }

  function pick(t) {
    if (!t) select();
    else if (t.inst !== undefined) selectInst(t.inst);
    else selectNet(t.net);
  }

  function selectInst(i, move = false) {
    const portNets = state().portNets[i], inst = sheet().insts[i];
    select([i], portNets.filter((n) => n >= 0));
    const ports = sheet().symbols[inst[4]][0].map((p, k) => {
      const n = portNets[k];
      return `<tr><td>${esc(p)}</td><td>${n < 0 ? '<span class="muted">open</span>' : `<a data-net="${n}">${esc(sheet().nets[n][0])}</a>`}</td></tr>`;
    });
    const sub = D.sheets.findIndex((s) => s.name === inst[1]);
    details.innerHTML = describeInst(i) + (sub >= 0 ? `<br><a data-sheet="${sub}">open subcircuit ${esc(inst[1])}</a>` : "") +
      `<table>${ports.join("")}</table>`;
    if (move) reveal(instBox(i));
  }

  function selectNets(nets, move = false) {
    const ends = nets.flatMap((n) => sheet().nets[n][2].map(([i]) => i));
    select([...new Set(ends)], nets);
    details.innerHTML = nets.map(describeNet).join("<br>") + "<br>" +
      ends.map((i) => `<a data-inst="${i}">${esc(sheet().insts[i][0])}</a>`).join(" ");
    if (move) {
      const element = state().nets.get(nets[0]), b = element.getBBox();
      reveal([b.x, b.y, b.width, b.height]);
    }
  }
  const selectNet = (n, move) => selectNets([n], move);

  details.addEventListener("click", (e) => {
    const a = e.target.dataset;
    if (a.net) selectNet(+a.net, true);
    else if (a.inst) selectInst(+a.inst, true);
    else if (a.sheet) open(+a.sheet);
  });

  // ---- subcircuits and findings -----------------------------------------------------------
  function open(k) {
    if (cur >= 0) {
      select();
      svgs[cur].classList.remove("current");
    }
    cur = k;
    svgs[k].classList.add("current");
    history.replaceState(null, "", `#${encodeURIComponent(D.sheets[k].name)}`);
    document.querySelectorAll("#sheets li").forEach((li, j) => li.classList.toggle("current", j === k));
    if (!sheets[k]) {
      const s = D.sheets[k], grid = new Map(), cell = s.unit * 8;
      const portNets = s.insts.map((inst, i) => {
        const key = `${Math.floor(inst[5] / cell)},${Math.floor(inst[6] / cell)}`;
        if (!grid.has(key)) grid.set(key, []);
        grid.get(key).push(i);
        return s.symbols[inst[4]][0].map(() => -1);
      });
      s.nets.forEach(([, , ends], n) => { for (const [i, p] of ends) portNets[i][p] = n; });
      const layer = (name) => svgs[k].querySelector(`.${name}`);
      const layers = {insts: layer("insts"), wires: layer("wires"), markers: layer("markers")};
      const nets = new Map();
      // Markers of unused ports are there from the start and stay.
      for (const element of layers.markers.children) {
        element.dataset.keep = "1";
        nets.set(+element.dataset.n, element);
      }
      sheets[k] = {grid, cell, portNets, layers, insts: new Map(), nets};
      fit();
    }
    lay();
  }

  D.sheets.forEach((s, k) => {
    const li = document.createElement("li");
    li.innerHTML = `${esc(s.name)} <span class="muted">${s.insts.length} instance${s.insts.length === 1 ? "" : "s"}</span>`;
    li.addEventListener("click", () => open(k));
    $("#sheets").append(li);
  });

  const findings = $("#findings");
  $("#found").textContent = D.findings.length ? `(${D.findings.length})` : "";
  if (!D.findings.length) findings.innerHTML = '<li class="muted">none</li>';
  for (const [line, severity, code, message, k, inst, nets] of D.findings) {
    const li = document.createElement("li");
    li.className = severity;
    li.innerHTML = `${line ? `line ${line}: ` : ""}${esc(message)} <span class="muted">${esc(code)}</span>`;
    li.addEventListener("click", () => {
      if (k < 0) return;
      if (k !== cur) open(k);
      if (inst >= 0) selectInst(inst, true);
      else if (nets.length) selectNets(nets, true);
    });
    findings.append(li);
  }

  // The address may name the sheet to show first: page.html#stage.
  const named = D.sheets.findIndex((s) => `#${encodeURIComponent(s.name)}` === location.hash);
  if (svgs.length) open(Math.max(named, 0));
  document.body.dataset.ready = "true";
})();
