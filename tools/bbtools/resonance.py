"""Resonance lines m Qx + n Qy = p in a tune window: found, clipped to the
window and drawn."""

import math


def resonances(order, window):
    """Resonance lines m Qx + n Qy = p up to |m| + |n| <= order that cross
    ``window`` = (qx0, qx1, qy0, qy1). Returns a list of (m, n, p, order,
    (qx_a, qx_b), (qy_a, qy_b)) segments clipped to the window."""
    qx0, qx1, qy0, qy1 = window
    found = []
    seen = set()
    for m in range(0, order + 1):
        for n in range(-order, order + 1):
            o = abs(m) + abs(n)
            if o == 0 or o > order or (m == 0 and n < 0):
                continue
            corners = [m * a + n * b for a in (qx0, qx1) for b in (qy0, qy1)]
            for p in range(math.floor(min(corners)), math.ceil(max(corners)) + 1):
                g = math.gcd(math.gcd(m, abs(n)), abs(p))
                key = (m // g, n // g, p // g) if g else (m, n, p)
                if key in seen:
                    continue
                seg = _clip_line(m, n, p, window)
                if seg is None:
                    continue
                seen.add(key)
                found.append((m, n, p, o) + seg)
    return found


def _clip_line(m, n, p, window):
    qx0, qx1, qy0, qy1 = window
    pts = []
    if n != 0:
        for qx in (qx0, qx1):
            qy = (p - m * qx) / n
            if qy0 - 1e-12 <= qy <= qy1 + 1e-12:
                pts.append((qx, qy))
    if m != 0:
        for qy in (qy0, qy1):
            qx = (p - n * qy) / m
            if qx0 - 1e-12 <= qx <= qx1 + 1e-12:
                pts.append((qx, qy))
    pts = sorted(set((round(a, 12), round(b, 12)) for a, b in pts))
    if len(pts) < 2:
        return None
    (xa, ya), (xb, yb) = pts[0], pts[-1]
    if abs(xa - xb) < 1e-12 and abs(ya - yb) < 1e-12:
        return None
    return ((xa, xb), (ya, yb))


def draw(ax, order, window):
    colours = {1: "#d62728", 2: "#ff7f0e", 3: "#2ca02c", 4: "#1f77b4",
               5: "#9467bd", 6: "#8c564b", 7: "#e377c2", 8: "#7f7f7f"}
    labelled = set()
    for m, n, p, o, xs, ys in sorted(resonances(order, window), key=lambda r: -r[3]):
        lw = max(0.6, 2.4 - 0.35 * o)
        label = None
        if o not in labelled:
            label = "resonance order %d" % o
            labelled.add(o)
        ax.plot(xs, ys, color=colours.get(o, "#bbbbbb"), lw=lw, alpha=0.55,
                zorder=1, label=label)

