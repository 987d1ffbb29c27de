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


# Orders above this make too many lines to tell apart (and take long to list).
MAX_ORDER = 30

COLOURS = {1: "#d62728", 2: "#ff7f0e", 3: "#2ca02c", 4: "#1f77b4",
           5: "#9467bd", 6: "#8c564b", 7: "#e377c2", 8: "#7f7f7f"}


def check_order(order):
    """Refuses an order the figure cannot show (a ValueError naming the bound)."""
    if not 1 <= order <= MAX_ORDER:
        raise ValueError("--order %d: the resonance order must be 1 ... %d (higher orders "
                         "are too many lines to tell apart)" % (order, MAX_ORDER))


def draw(ax, order, window):
    """Draws the lines up to ``order`` in ``window``, one legend entry per
    order, and returns them for ``label``."""
    check_order(order)
    labelled = set()
    lines = sorted(resonances(order, window), key=lambda r: r[3])
    for m, n, p, o, xs, ys in lines:  # the lower the order, the higher it lies
        lw = max(0.6, 2.4 - 0.35 * o)
        label = None
        if o not in labelled:
            label = "resonance order %d" % o
            labelled.add(o)
        ax.plot(xs, ys, color=COLOURS.get(o, "#bbbbbb"), lw=lw, alpha=0.55,
                zorder=1 - 0.01 * o, label=label)
    return lines


def label(ax, lines, fontsize=6.5):
    """Writes "(m, n)" on the lines of ``draw``, lowest orders first, where
    the text stays inside the axes and covers no other label; a line with
    no such place stays unlabelled. Call it when the figure's layout is
    final (after the colour bars and legends)."""
    fig = ax.figure
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    inside = ax.get_window_extent(renderer)
    placed = []
    for m, n, p, o, (xa, xb), (ya, yb) in sorted(lines, key=lambda r: (r[3], r[0], r[1])):
        for t in (0.5, 0.3, 0.7, 0.15, 0.85):
            text = ax.text(xa + t * (xb - xa), ya + t * (yb - ya), "(%d, %d)" % (m, n),
                           fontsize=fontsize, color=COLOURS.get(o, "#777777"),
                           ha="center", va="center", zorder=2, clip_on=True)
            box = text.get_window_extent(renderer)
            if (inside.x0 <= box.x0 and box.x1 <= inside.x1 and inside.y0 <= box.y0
                    and box.y1 <= inside.y1 and not any(box.overlaps(b) for b in placed)):
                placed.append(box)
                break
            text.remove()
    return len(placed)
