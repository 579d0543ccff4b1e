"""Python-level benchmarks of quorvel.jid against a measured floor.

Every workload runs over 1000 distinct inputs. The variants of a workload
(JID, the vectorcall floor, the tp_new floor) and an empty
loop of the same shape run interleaved, round after round; each round gives
ns/op for every variant with the empty loop's cost taken off, and the
median over the rounds is reported. Only ratios measured side by side in one
run mean anything on a shared machine, so no absolute figure is a target.

The command-line workload (cli_bench.py) runs the tool and two naive loops
over a generated file of a million addresses; the batch workload
(batch_bench.py) runs quorvel.batch over the same mix as a column
(`--only batch` runs it alone).

Usage: bench.py [--core-json FILE] [--json OUT] [--rounds N] [--only NAME] [--cli-lines N]
                [--batch-rows N] [--batch-rounds N]
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import pickle
import platform
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field

from quorvel import escape_node
from quorvel.jid import JID, unescape_node
from quorvel.precis import JID as PrecisJID
from quorvel.uri import build as build_uri
from quorvel.uri import parse as parse_uri

import bench_floor

# No other address library is installed or run here; the peer column stays
# for a comparison made elsewhere and reads n/a.
PEER = None
PEER_ERROR = "no peer is measured"

N = 1000

# ---- inputs --------------------------------------------------------------


def ascii_full(i):
    return f"user{i}@example.com/res-{i % 10}"


CORPORA = {
    "ascii": ascii_full,
    "mixed": lambda i: f"User{i}@Example.COM/Res",
    "domain": lambda i: f"host{i}.example.org",
    "latin1": lambda i: f"jürgen{i}@münchen.example/r",
    "greek": lambda i: f"αλφα{i}@ελ.example/r",
    "cyrillic": lambda i: f"почта{i}@пример.рф/r",
    "cjk": lambda i: f"用户{i}@例子.中国/r",
    # Right-to-left throughout, as nameprep's bidi rule wants for a domain.
    "arabic": lambda i: f"مستخدم@مثال{i}م.موقع/r",
    "strasse": lambda i: f"user{i}@straße.example/r",
}


def corpus(name):
    return [CORPORA[name](i) for i in range(N)]


# ---- workloads -------------------------------------------------------------


@dataclass
class Variant:
    body: str  # one statement run per item; names: x (or a, b), the namespace
    items: list
    shape: str = "x"  # the loop target, for the empty loop of the same shape


@dataclass
class Workload:
    name: str
    jid: Variant
    floor: Variant
    floor_new: Variant | None = None
    peer: Variant | None = None
    target: float | None = None
    target_note: str = ""
    results: dict = field(default_factory=dict)


def jids(texts):
    return [JID(t) for t in texts]


def floors(texts):
    return [bench_floor.VectorFloor(t) for t in texts]


def peers(texts):
    return [PEER.fromstr(t) for t in texts] if PEER else None


def build_workloads():
    ws = []
    construction_targets = {"ascii": 1.5, "mixed": 1.7, "domain": 1.4}
    for name in CORPORA:
        texts = corpus(name)
        ws.append(
            Workload(
                f"JID(str) {name}",
                Variant("JID(x)", texts),
                Variant("VectorFloor(x)", texts),
                Variant("Floor(x)", texts),
                Variant("PEER.fromstr(x)", texts) if PEER else None,
                target=construction_targets.get(name),
            )
        )
    texts = corpus("ascii")
    ws.append(
        Workload(
            "JID(str, bare=True)",
            Variant("JID(x, bare=True)", texts),
            Variant("VectorFloor(x)", texts),
            Variant("Floor(x)", texts),
            Variant("PEER.fromstr(x).bare()", texts) if PEER else None,
            target=None,
            target_note="floor takes no flag",
        )
    )
    js = jids(texts)
    fs = floors(texts)
    ps = peers(texts)
    ws.append(
        Workload(
            "JID(j, bare=True)",
            Variant("JID(x, bare=True)", js),
            Variant("VectorFloor(x)", texts),
            None,
            Variant("x.bare()", ps) if ps else None,
            target=1.3,
        )
    )
    getters = [("bare", "x.bare", "x.bare", "x.bare()"),
               ("node", "x.node", "x.bare", "x.localpart"),
               ("domain", "x.domain", "x.bare", "x.domain"),
               ("resource", "x.resource", "x.bare", "x.resource"),
               ("str()", "str(x)", "str(x)", "str(x)"),
               ("hash()", "hash(x)", "hash(x)", "hash(x)")]
    for label, jbody, fbody, pbody in getters:
        ws.append(
            Workload(
                f"get {label}" if label[0].isalpha() and "(" not in label else label,
                Variant(jbody, js),
                Variant(fbody, fs),
                None,
                Variant(pbody, ps) if ps else None,
                target=1.2,
            )
        )
    # Equal pairs of distinct objects, so the comparison reads every byte.
    pairs_j = list(zip(js, jids(texts)))
    pairs_f = list(zip(fs, floors(texts)))
    pairs_p = list(zip(ps, peers(texts))) if ps else None
    ws.append(
        Workload(
            "JID == JID",
            Variant("a == b", pairs_j, "a, b"),
            Variant("a == b", pairs_f, "a, b"),
            None,
            Variant("a == b", pairs_p, "a, b") if pairs_p else None,
            target=1.2,
        )
    )
    # A fresh str each time would measure the str's own creation; the texts
    # are distinct objects equal to the JIDs' texts.
    other_texts = [("%s" % t).encode().decode() for t in texts]
    ws.append(
        Workload(
            "JID == str",
            Variant("a == b", list(zip(js, other_texts)), "a, b"),
            Variant("VectorFloor(b) == a", list(zip(fs, other_texts)), "a, b"),
            None,
            None,
            target=1.6,
            target_note="floor: construct + compare",
        )
    )
    resources = [(j, f"phone-{i}") for i, j in enumerate(jids(texts))]
    # The floor builds the resulting address from its text: what any type
    # has to do to make a new address, against which JID checks the new
    # resource and joins it to the parts it already holds.
    resulting = [(None, f"{JID(t).bare}/phone-{i}") for i, t in enumerate(texts)]
    ws.append(
        Workload(
            "set resource",
            Variant("a.resource = b", resources, "a, b"),
            Variant("VectorFloor(b)", resulting, "a, b"),
            target=2.0,
            target_note="floor: construct the result",
        )
    )
    ws.append(
        Workload(
            "pickle round trip",
            Variant("loads(dumps(x, 4))", js),
            Variant("loads(dumps(x, 4))", fs),
            None,
            Variant("loads(dumps(x, 4))", ps) if ps else None,
        )
    )
    escaped = [f"user\\20name{i}\\40home" for i in range(N)]
    ws.append(
        Workload(
            "unescape_node",
            Variant("unescape_node(x)", escaped),
            Variant("unescape(x)", escaped),
        )
    )
    # escape_node against unescape_node of its result: 20-character display
    # texts with three characters to escape, and with none.
    displays = [f"d'artagnan {i:04d}@home" for i in range(N)]
    ws.append(
        Workload(
            "escape_node",
            Variant("escape_node(x)", displays),
            Variant("unescape_node(x)", [escape_node(d) for d in displays]),
            target=3.0,
            target_note="floor: unescape_node of the result",
        )
    )
    plain = [f"juliet.capulet-{i:05d}" for i in range(N)]
    ws.append(
        Workload(
            "escape_node, none",
            Variant("escape_node(x)", plain),
            Variant("unescape_node(x)", [escape_node(d) for d in plain]),
            target=3.0,
            target_note="floor: unescape_node of the result",
        )
    )
    # Parsing an xmpp: URI (percent-encoded as build writes it) against
    # constructing the JID it holds.
    for name, paths in (("ascii", corpus("ascii")), ("latin1", corpus("latin1"))):
        ws.append(
            Workload(
                f"uri.parse {name}",
                Variant("parse_uri(x)", [build_uri(p, action="message") for p in paths]),
                Variant("JID(x)", paths),
                target=2.0,
                target_note="floor: JID of the path",
            )
        )
    return ws


NAMESPACE = {
    "JID": JID,
    "PrecisJID": PrecisJID,
    "VectorFloor": bench_floor.VectorFloor,
    "FloorCall": bench_floor.FloorCall,
    "FloorView": bench_floor.FloorView,
    "FloorAlloc": bench_floor.FloorAlloc,
    "Floor": bench_floor.Floor,
    "PEER": PEER,
    "loads": pickle.loads,
    "dumps": pickle.dumps,
    "unescape_node": unescape_node,
    "unescape": bench_floor.unescape,
    "escape_node": escape_node,
    "parse_uri": parse_uri,
}


def compile_loop(body, shape):
    # Globals become locals of the loop function, as in tight user code.
    names = ", ".join(f"{k}={k}" for k in NAMESPACE)
    src = f"def run(items, {names}):\n    for {shape} in items:\n        {body}\n"
    ns = dict(NAMESPACE)
    exec(src, ns)  # noqa: S102 - our own fixed templates
    return ns["run"]


# ---- timing ----------------------------------------------------------------


def calibrate(fn, items, budget_ns=2_000_000):
    """Repetitions per round so that one round of fn takes about budget_ns."""
    t0 = time.perf_counter_ns()
    fn(items)
    once = max(time.perf_counter_ns() - t0, 1)
    return max(1, min(50, budget_ns // once))


def measure(workload, rounds):
    variants = {"jid": workload.jid, "floor": workload.floor}
    if workload.floor_new:
        variants["floor_new"] = workload.floor_new
    if workload.peer:
        variants["peer"] = workload.peer
    return measure_variants(variants, rounds)


def measure_variants(variants, rounds):
    prepared = {}
    for key, v in variants.items():
        fn = compile_loop(v.body, v.shape)
        empty = compile_loop("pass", v.shape)
        prepared[key] = (fn, empty, v.items, calibrate(fn, v.items))
    samples = {key: [] for key in prepared}
    gc.disable()
    try:
        for _ in range(rounds):
            for key, (fn, empty, items, reps) in prepared.items():
                t0 = time.perf_counter_ns()
                for _ in range(reps):
                    fn(items)
                t1 = time.perf_counter_ns()
                for _ in range(reps):
                    empty(items)
                t2 = time.perf_counter_ns()
                n = reps * len(items)
                samples[key].append(((t1 - t0) - (t2 - t1)) / n)
            gc.collect()
    finally:
        gc.enable()
    return {key: statistics.median(s) for key, s in samples.items()}


# ---- where a construction's time goes ----------------------------------------

BREAKDOWN_STAGES = [
    ("call", "FloorCall(x)"),
    ("UTF-8 view + separators", "FloorView(x)"),
    ("allocation + copy", "FloorAlloc(x)"),
    ("object", "VectorFloor(x)"),
]


def floor_breakdown(rounds):
    """ns/op of each stage of the floor's JID(str) ascii, and JID's, side by side."""
    texts = corpus("ascii")
    variants = {label: Variant(body, texts) for label, body in BREAKDOWN_STAGES}
    variants["JID"] = Variant("JID(x)", texts)
    return measure_variants(variants, rounds)


def breakdown_lines(r):
    lines = ["", "floor breakdown, JID(str) ascii (ns/op, each stage adds to the one before)"]
    previous = 0.0
    for label, _ in BREAKDOWN_STAGES:
        lines.append(f"  {label:<26}{r[label]:>8.1f}  (+{r[label] - previous:.1f})")
        previous = r[label]
    lines.append(f"  {'JID(x)':<26}{r['JID']:>8.1f}  (+{r['JID'] - previous:.1f} beyond the floor)")
    return lines


# ---- non-ASCII construction against ASCII --------------------------------

NON_ASCII = ("latin1", "greek", "cyrillic", "cjk", "arabic", "strasse")
NON_ASCII_TARGET = 4.0


def non_ascii_vs_ascii(rounds):
    """ns/op of JID(x) over each non-ASCII corpus and over the ASCII one,
    interleaved in the same rounds so that the ratios share their noise."""
    variants = {name: Variant("JID(x)", corpus(name)) for name in ("ascii",) + NON_ASCII}
    return measure_variants(variants, rounds)


def non_ascii_lines(r):
    lines = ["", f"JID(str) of non-ASCII addresses against JID(str) ascii ({r['ascii']:.1f} ns), "
             f"target <= {NON_ASCII_TARGET:.0f}x"]
    for name in NON_ASCII:
        ratio = r[name] / r["ascii"]
        lines.append(f"  {name:<10}{r[name]:>8.1f} ns  {ratio:>5.2f}x  "
                     f"{'yes' if ratio <= NON_ASCII_TARGET else 'NO'}")
    return lines


# ---- RFC 7622 addresses ----------------------------------------------------

PRECIS_CORPORA = ("latin1", "greek", "cyrillic", "cjk", "arabic", "strasse")
PRECIS_TARGETS = {"ascii": 1.15, "non-ASCII": 3.0, "reference": 50.0}


def reference():
    """The tests' slow way (precis-i18n and idna part by part), if they are
    installed: absent otherwise."""
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
    try:
        import precis_oracle
    except ImportError:
        return None
    return precis_oracle.prepare


def precis_rows(rounds):
    """quorvel.precis.JID(x) against quorvel.jid.JID(x) of the same ASCII
    text, over the non-ASCII corpora against its own ASCII construction, and
    against the references (fewer rounds: they are slow)."""
    variants = {"jid ascii": Variant("JID(x)", corpus("ascii")),
                "precis ascii": Variant("PrecisJID(x)", corpus("ascii"))}
    for name in PRECIS_CORPORA:
        variants[f"precis {name}"] = Variant("PrecisJID(x)", corpus(name))
    r = measure_variants(variants, rounds)
    slow = reference()
    if slow is not None:
        NAMESPACE["reference_prepare"] = slow
        refs = {f"reference {name}": Variant("reference_prepare(x)", corpus(name)[:200])
                for name in ("ascii", "latin1", "cjk")}
        r.update(measure_variants(refs, max(3, rounds // 7)))
    return r


def precis_lines(r):
    ascii_ratio = r["precis ascii"] / r["jid ascii"]
    lines = ["", f"quorvel.precis.JID(str): ascii {r['precis ascii']:.1f} ns against quorvel.jid.JID "
             f"{r['jid ascii']:.1f} ns: {ascii_ratio:.2f}x (target <= {PRECIS_TARGETS['ascii']}x: "
             f"{'yes' if ascii_ratio <= PRECIS_TARGETS['ascii'] else 'NO'})"]
    for name in PRECIS_CORPORA:
        ratio = r[f"precis {name}"] / r["precis ascii"]
        lines.append(f"  {name:<10}{r[f'precis {name}']:>8.1f} ns  {ratio:>5.2f}x its ascii  "
                     f"{'yes' if ratio <= PRECIS_TARGETS['non-ASCII'] else 'NO'}")
    for name in ("ascii", "latin1", "cjk"):
        if f"reference {name}" in r:
            speedup = r[f"reference {name}"] / r[f"precis {name}" if name != "ascii" else "precis ascii"]
            lines.append(f"  precis-i18n + idna {name}: {r[f'reference {name}']:.0f} ns, "
                         f"{speedup:.0f}x slower (target >= {PRECIS_TARGETS['reference']:.0f}x: "
                         f"{'yes' if speedup >= PRECIS_TARGETS['reference'] else 'NO'})")
    if "reference ascii" not in r:
        lines.append("  precis-i18n + idna: n/a (not installed; the test extra has them)")
    return lines


# ---- memory ----------------------------------------------------------------

MEMORY_SNIPPET = r"""
import gc, os, sys
kind = sys.argv[1]
n = 1_000_000
page = os.sysconf("SC_PAGE_SIZE")
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page
gc.disable()
if kind == "jid":
    from quorvel.jid import JID as make
elif kind == "floor":
    import bench_floor
    make = bench_floor.VectorFloor
else:
    make = None
slots = [None] * n
# Warm up the allocators' pools so the first objects are not special.
warm = [f"u{i:07d}@example.com/res1" for i in range(1000)]
del warm
before = rss()
for i in range(n):
    text = f"u{i:07d}@example.com/res1"   # 25 bytes
    slots[i] = text if make is None else make(text)
after = rss()
assert len(str(slots[0])) == 25
print((after - before) / n)
"""


def memory_per_object(kind):
    out = subprocess.run([sys.executable, "-c", MEMORY_SNIPPET, kind], check=True,
                         capture_output=True, text=True, env=os.environ.copy())
    return float(out.stdout.strip())


# ---- the C++ results -----------------------------------------------------


def core_rows(path):
    if not path or not os.path.exists(path):
        return None
    with open(path) as f:
        data = json.load(f)
    # With repetitions, the medians stand for their runs.
    medians = [b for b in data["benchmarks"] if b.get("aggregate_name") == "median"]
    chosen = medians or [b for b in data["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
    by_name = {b.get("run_name", b["name"]) if medians else b["name"]: b for b in chosen}
    rows = []
    for name in CORPORA:
        parse = by_name.get(f"parse/{name}")
        copy = by_name.get(f"copy_floor/{name}")
        icu = by_name.get(f"icu_floor/{name}")
        if not parse or "error_occurred" in parse and parse["error_occurred"]:
            continue
        # CPU time: on a shared machine wall time also counts the waits for a core.
        per = parse["cpu_time"] / N  # ns per corpus pass
        row = {
            "corpus": name,
            "ns_per_address": per,
            "mb_per_s": parse["bytes_per_second"] / 1e6,
            "copy_floor_ns": copy["cpu_time"] / N if copy else None,
            "icu_floor_ns": icu["cpu_time"] / N if icu else None,
        }
        row["vs_copy"] = per / row["copy_floor_ns"] if row["copy_floor_ns"] else None
        row["vs_icu"] = per / row["icu_floor_ns"] if row["icu_floor_ns"] else None
        rows.append(row)
    series = {}
    for bname, b in by_name.items():
        for prefix in ("long_resource/", "long_domain/", "ascii_resource/"):
            if bname.startswith(prefix):
                size = int(bname[len(prefix):])
                series.setdefault(prefix[:-1], []).append(
                    {"size": size, "ns": b["cpu_time"], "gb_per_s": b["bytes_per_second"] / 1e9})
    return {"parse": rows, "series": series}


# ---- report ----------------------------------------------------------------


def fmt(v, spec="{:.1f}"):
    return "n/a" if v is None else spec.format(v)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--core-json")
    ap.add_argument("--json", default=os.path.join(os.path.dirname(__file__), "results.json"))
    ap.add_argument("--rounds", type=int, default=21)
    ap.add_argument("--only", help="substring of the workload names to run (\"non-ASCII\": only the non-ASCII "
                    "against ASCII rows; \"batch\": only the quorvel.batch table)")
    ap.add_argument("--no-memory", action="store_true")
    ap.add_argument("--cli-lines", type=int, default=1_000_000,
                    help="addresses in the generated file of the command-line workload (0: skip it)")
    ap.add_argument("--cli-rounds", type=int, default=3)
    ap.add_argument("--batch-rows", type=int, default=1_000_000,
                    help="rows of the quorvel.batch workload (0: skip it)")
    ap.add_argument("--batch-rounds", type=int, default=5)
    args = ap.parse_args()
    batch_only = args.only == "batch"

    workloads = [] if batch_only else [w for w in build_workloads() if not args.only or args.only in w.name]
    for w in workloads:
        w.results = measure(w, args.rounds)

    lines = []
    header = f"{'workload':<24}{'ns/op':>9}{'floor':>9}{'tp_new':>9}{'ratio':>8}{'target':>8}  {'met':<4}{'peer x':>9}"
    if not batch_only:
        lines.append(header)
        lines.append("-" * len(header))
    rows = []
    for w in workloads:
        r = w.results
        ratio = r["jid"] / r["floor"] if r["floor"] > 0 else None
        peer = r["peer"] / r["jid"] if "peer" in r and r["jid"] > 0 else None
        met = None if w.target is None or ratio is None else ratio <= w.target
        if w.name.startswith("JID(str) ") and peer is not None:
            met_peer = peer >= 50
        else:
            met_peer = None
        rows.append({"workload": w.name, "ns_per_op": r["jid"], "floor_ns": r["floor"],
                     "floor_tp_new_ns": r.get("floor_new"), "ratio": ratio, "target": w.target,
                     "met": met, "peer_ns": r.get("peer"), "peer_speedup": peer,
                     "peer_target_met": met_peer, "note": w.target_note})
        lines.append(
            f"{w.name:<24}{r['jid']:>9.1f}{r['floor']:>9.1f}{fmt(r.get('floor_new')):>9}"
            f"{fmt(ratio, '{:.2f}'):>8}{fmt(w.target, '{:.1f}'):>8}  "
            f"{'' if met is None else ('yes' if met else 'NO'):<4}{fmt(peer, '{:.0f}x' if peer and peer >= 10 else '{:.2f}x'):>9}"
            + (f"  ({w.target_note})" if w.target_note else ""))
    breakdown = None
    if not args.only:
        breakdown = floor_breakdown(args.rounds)
        lines.extend(breakdown_lines(breakdown))
    non_ascii = None
    if not args.only or args.only == "non-ASCII":
        non_ascii = non_ascii_vs_ascii(args.rounds)
        lines.extend(non_ascii_lines(non_ascii))
    precis = None
    if not args.only or args.only == "precis":
        precis = precis_rows(args.rounds)
        lines.extend(precis_lines(precis))
    if not args.only:
        lines.append("")
    if not batch_only:
        lines.append(f"peer: n/a ({PEER_ERROR})")

    memory = None
    if not args.no_memory and not batch_only:
        per = {k: memory_per_object(k) for k in ("str", "jid", "floor")}
        memory = {"bytes_per_str": per["str"], "bytes_per_jid": per["jid"],
                  "bytes_per_floor": per["floor"], "ratio": per["jid"] / per["str"], "target": 1.3}
        lines.append("")
        lines.append(f"memory, 1,000,000 x 25-byte address: JID {per['jid']:.1f} B, str {per['str']:.1f} B, "
                     f"floor {per['floor']:.1f} B; JID/str {memory['ratio']:.2f} (target <= 1.3: "
                     f"{'yes' if memory['ratio'] <= 1.3 else 'NO'})")

    cli = None
    if args.cli_lines and not args.only:
        import cli_bench

        cli = cli_bench.measure(args.cli_lines, args.cli_rounds)
        lines.append("")
        lines.extend(cli_bench.report_lines(cli, args.cli_lines))
        cli["long_lines"] = cli_bench.measure_long_lines(args.cli_rounds)
        lines.extend(cli_bench.long_line_report(cli["long_lines"]))
        cli["dedupe_modes"] = cli_bench.measure_dedupe_modes(args.cli_lines, args.cli_rounds)
        lines.extend(cli_bench.dedupe_mode_report(cli["dedupe_modes"]))

    batch = None
    if args.batch_rows and (not args.only or batch_only):
        import batch_bench

        batch = batch_bench.measure(args.batch_rows, args.batch_rounds)
        lines.append("")
        lines.extend(batch_bench.report_lines(batch))

    core = None if batch_only else core_rows(args.core_json)
    if core:
        lines.append("")
        h = f"{'core parse_address':<24}{'ns/addr':>9}{'MB/s':>8}{'copy':>8}{'x copy':>8}{'ICU':>9}{'x ICU':>7}  met(<=1.5x ICU)"
        lines.append(h)
        lines.append("-" * len(h))
        copy_targets = {"ascii": 1.3, "mixed": 2.0}
        for row in core["parse"]:
            met = None if row["vs_icu"] is None else row["vs_icu"] <= 1.5
            row["met"] = met
            copy_target = copy_targets.get(row["corpus"])
            row["copy_target"] = copy_target
            row["copy_met"] = None if copy_target is None else row["vs_copy"] <= copy_target
            lines.append(
                f"{row['corpus']:<24}{row['ns_per_address']:>9.1f}{row['mb_per_s']:>8.0f}"
                f"{fmt(row['copy_floor_ns']):>8}{fmt(row['vs_copy'], '{:.2f}'):>8}"
                f"{fmt(row['icu_floor_ns']):>9}{fmt(row['vs_icu'], '{:.2f}'):>7}  "
                f"{'' if met is None else ('yes' if met else 'NO')}"
                + ("" if copy_target is None else
                   f"x copy <= {copy_target}: {'yes' if row['copy_met'] else 'NO'}"))
        for name, pts in sorted(core["series"].items()):
            pts.sort(key=lambda p: p["size"])
            desc = ", ".join(f"{p['size']}B {p['ns'] / max(p['size'], 1):.2f} ns/B" for p in pts)
            lines.append(f"{name}: {desc}")
            if name == "ascii_resource":
                gbs = pts[-1]["gb_per_s"]
                lines.append(f"  1 KB ASCII resource: {gbs:.2f} GB/s (target >= 2: {'yes' if gbs >= 2 else 'NO'})")
            elif len(pts) >= 3:
                # Linear: the per-byte cost at 1 MB is close to that at 1 KB.
                small = next(p for p in pts if p["size"] >= 1024)
                big = pts[-1]
                growth = (big["ns"] / big["size"]) / (small["ns"] / small["size"])
                lines.append(f"  per-byte cost 1 MB vs 1 KB: {growth:.2f}x ({'linear' if growth < 2 else 'NOT linear'})")

    print("\n".join(lines))
    out = {
        "python": sys.version.split()[0],
        "machine": platform.machine(),
        "rounds": args.rounds,
        "inputs_per_workload": N,
        "peer": None,
        "peer_error": PEER_ERROR,
        "workloads": rows,
        "memory": memory,
        "floor_breakdown": breakdown,
        "non_ascii_vs_ascii": None if non_ascii is None else {
            "ns_per_op": non_ascii, "target": NON_ASCII_TARGET,
            "ratios": {name: non_ascii[name] / non_ascii["ascii"] for name in NON_ASCII}},
        "precis": None if precis is None else {"ns_per_op": precis, "targets": PRECIS_TARGETS},
        "cli": cli,
        "batch": batch,
        "core": core,
    }
    with open(args.json, "w") as f:
        json.dump(out, f, indent=2)
    print(f"\nwrote {args.json}")


if __name__ == "__main__":
    main()
