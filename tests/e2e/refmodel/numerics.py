"""Numerical kernels of the reference model.

Floating-point arithmetic follows the C library / IEEE rules of the x86-64
machine: Python's own exceptions (division by zero, math domain and range
errors) are replaced by the values the hardware and the C library give.  The
default not-a-number produced by an invalid operation has its sign bit set.
"""

import math
import struct

INF = float("inf")
DNAN = struct.unpack("<d", bytes.fromhex("000000000000f8ff"))[0]   # default NaN (-nan)
QNAN = struct.unpack("<d", bytes.fromhex("000000000000f87f"))[0]   # positive quiet NaN

_sqrt = math.sqrt
_exp = math.exp
_copysign = math.copysign


def isnan(v):
    return v != v


def c_div(a, b):
    try:
        return a / b
    except ZeroDivisionError:
        if a != a:
            return a
        if a == 0.0:
            return DNAN
        return _copysign(INF, _copysign(1.0, a) * _copysign(1.0, b))


def c_sqrt(v):
    if v < 0.0:
        return DNAN
    return _sqrt(v)


def c_exp(v):
    try:
        return _exp(v)
    except OverflowError:
        return INF


def c_acos(v):
    if v != v:
        return v
    if v > 1.0 or v < -1.0:
        # The C library's arccosine returns a NaN with the sign bit clear
        # outside [-1, 1] (unlike the hardware's default NaN).
        return QNAN
    return math.acos(v)


def c_sin(v):
    if v in (INF, -INF):
        return DNAN
    return math.sin(v)


def c_cos(v):
    if v in (INF, -INF):
        return DNAN
    return math.cos(v)


def f32(v):
    """Round a double to single precision (and widen it back)."""
    try:
        return struct.unpack("f", struct.pack("f", v))[0]
    except OverflowError:
        return _copysign(INF, v)


def powi(x, m):
    """x**m for an integer m, by square-and-multiply from the lowest bit;
    a negative exponent gives 1/(x**|m|)."""
    n = -m if m < 0 else m
    y = x if n % 2 else 1.0
    n >>= 1
    while n:
        x = x * x
        if n % 2:
            y = y * x
        n >>= 1
    if m < 0:
        return c_div(1.0, y)
    return y


# ---------------------------------------------------------------------------
# Random numbers
# ---------------------------------------------------------------------------

def _i32(v):
    v &= 0xFFFFFFFF
    return v - 0x100000000 if v >= 0x80000000 else v


def ranuni(seed, n):
    """Returns (list of n numbers, new seed)."""
    out = []
    s = seed
    for _ in range(n):
        s = _i32(s ^ 123459876)
        if s < 0:
            k = -((-s) // 127773)      # truncation toward zero
        else:
            k = s // 127773
        s = _i32(16807 * (s - k * 127773) - 2836 * k)
        if s < 0:
            s = _i32(s + 2147483647)
        out.append(s * 4.656612873077393e-10)
    if n <= 0:
        return out, seed
    return out, s


# ---------------------------------------------------------------------------
# Complex error function
# ---------------------------------------------------------------------------

CC = 1.12837916709551
C1 = 0.2331002331002331
C2 = 0.18761726078799248


def errf(xx, yy):
    """w(xx + i yy) -> (wx, wy).  Fast path; falls back to the IEEE-exact
    variant when Python raises."""
    try:
        return _errf_fast(xx, yy)
    except (ZeroDivisionError, OverflowError, ValueError):
        return _errf_safe(xx, yy)


def _errf_fast(xx, yy):
    x = abs(xx)
    y = abs(yy)
    if y < 4.29 and x < 5.33:
        q = x * C2
        s = (1.0 - y * C1) * _sqrt(1.0 - q * q)
        h = 1.0 / (3.2 * s)
        nc = int(23.0 * s) + 7
        nu = int(21.0 * s) + 10
        # xl = h**(1-nc)
        e = nc - 1
        b = h
        p = b if e % 2 else 1.0
        e >>= 1
        while e:
            b = b * b
            if e % 2:
                p = p * b
            e >>= 1
        xl = 1.0 / p
        xh = y + 0.5 / h
        yh = x
        rxn = 0.0
        ryn = 0.0
        sx = 0.0
        sy = 0.0
        for n in range(nu, 0, -1):
            tx = xh + n * rxn
            ty = yh - n * ryn
            tn = tx * tx + ty * ty
            rxn = 0.5 * tx / tn
            ryn = 0.5 * ty / tn
            if n <= nc:
                saux = sx + xl
                sx = rxn * saux - ryn * sy
                sy = rxn * sy + ryn * saux
                xl = xl * h
        wx = CC * sx
        wy = CC * sy
    else:
        rx = 0.0
        ry = 0.0
        for n in (9, 8, 7, 6, 5, 4, 3, 2, 1):
            tx = y + n * rx
            ty = x - n * ry
            tn = tx * tx + ty * ty
            rx = 0.5 * tx / tn
            ry = 0.5 * ty / tn
        wx = CC * rx
        wy = CC * ry
    if y == 0.0:
        wx = _exp(-(x * x))
    if yy < 0.0:
        e = _exp(y * y - x * x)
        a2 = (2.0 * x) * y
        wx = (2.0 * e) * math.cos(a2) - wx
        wy = (-2.0 * e) * math.sin(a2) - wy
        if xx > 0.0:
            wy = -wy
    elif xx < 0.0:
        wy = -wy
    return wx, wy


def _errf_safe(xx, yy):
    x = abs(xx)
    y = abs(yy)
    if y < 4.29 and x < 5.33:
        q = x * C2
        s = (1.0 - y * C1) * c_sqrt(1.0 - q * q)
        h = c_div(1.0, 3.2 * s)
        nc = int(23.0 * s) + 7
        nu = int(21.0 * s) + 10
        xl = powi(h, 1 - nc)
        xh = y + c_div(0.5, h)
        yh = x
        rxn = 0.0
        ryn = 0.0
        sx = 0.0
        sy = 0.0
        for n in range(nu, 0, -1):
            tx = xh + n * rxn
            ty = yh - n * ryn
            tn = tx * tx + ty * ty
            rxn = c_div(0.5 * tx, tn)
            ryn = c_div(0.5 * ty, tn)
            if n <= nc:
                saux = sx + xl
                sx = rxn * saux - ryn * sy
                sy = rxn * sy + ryn * saux
                xl = xl * h
        wx = CC * sx
        wy = CC * sy
    else:
        rx = 0.0
        ry = 0.0
        for n in (9, 8, 7, 6, 5, 4, 3, 2, 1):
            tx = y + n * rx
            ty = x - n * ry
            tn = tx * tx + ty * ty
            rx = c_div(0.5 * tx, tn)
            ry = c_div(0.5 * ty, tn)
        wx = CC * rx
        wy = CC * ry
    if y == 0.0:
        wx = c_exp(-(x * x))
    if yy < 0.0:
        e = c_exp(y * y - x * x)
        a2 = (2.0 * x) * y
        wx = (2.0 * e) * c_cos(a2) - wx
        wy = (-2.0 * e) * c_sin(a2) - wy
        if xx > 0.0:
            wy = -wy
    elif xx < 0.0:
        wy = -wy
    return wx, wy


# ---------------------------------------------------------------------------
# Beam-beam kick function
# ---------------------------------------------------------------------------

PI = 4.0 * math.atan(1.0)
QFAC = 2.0 / math.sqrt(2.0 * PI)


class Encounter(object):
    """Parameters of one encounter, derived once from its bunch data."""

    __slots__ = ("x0", "y0", "swap", "round", "a", "b", "ab2", "S", "rho",
                 "rhoS", "a2x2", "b2x2", "D", "fk0x", "fk0y")

    def __init__(self, sigx, sigy, x0, y0):
        self.x0 = x0
        self.y0 = y0
        self.swap = sigx < sigy
        if self.swap:
            a, b = sigy, sigx
        else:
            a, b = sigx, sigy
        self.a = a
        self.b = b
        self.round = abs(c_div(a, b) - 1.0) < 0.01
        self.ab2 = (2.0 * a) * b
        self.S = c_sqrt(2.0 * (a * a - b * b))
        self.rho = c_div(b, a)
        self.rhoS = self.rho * self.S
        self.a2x2 = 2.0 * (a * a)
        self.b2x2 = 2.0 * (b * b)
        self.D = c_sqrt(a * a - b * b)
        self.fk0x = 0.0
        self.fk0y = 0.0


def ffrank(x, y, enc):
    """Kick function (Gx, Gy) of encounter enc at the position (x, y)."""
    try:
        return _ffrank_fast(x, y, enc)
    except (ZeroDivisionError, OverflowError, ValueError):
        return _ffrank_safe(x, y, enc)


def _ffrank_fast(x, y, enc):
    if enc.swap:
        u = y - enc.y0
        v = -(x - enc.x0)
    else:
        u = x - enc.x0
        v = y - enc.y0
    if u == 0.0 and v == 0.0:
        hu = 0.0
        hv = 0.0
    else:
        if enc.round:
            r2 = u * u + v * v
            g = QFAC / r2
            t = 1.0 - _exp(-r2 / enc.ab2)
            hu = (u * g) * t
            hv = (v * g) * t
        else:
            au = abs(u)
            av = abs(v)
            S = enc.S
            wr1, wi1 = _errf_fast(au / S, av / S)
            wr2, wi2 = _errf_fast((enc.rho * au) / S, av / enc.rhoS)
            E = _exp(-(u * u) / enc.a2x2 - (v * v) / enc.b2x2)
            D = enc.D
            sv = 1.0 if v > 0.0 else -1.0
            su = 1.0 if u > 0.0 else -1.0
            hv = (sv * (wr1 - E * wr2)) / D
            hu = (su * (wi1 - E * wi2)) / D
        if u == 0.0:
            hu = 0.0
        if v == 0.0:
            hv = 0.0
    if enc.swap:
        return -hv, hu
    return hu, hv


def _ffrank_safe(x, y, enc):
    if enc.swap:
        u = y - enc.y0
        v = -(x - enc.x0)
    else:
        u = x - enc.x0
        v = y - enc.y0
    if u == 0.0 and v == 0.0:
        hu = 0.0
        hv = 0.0
    else:
        if enc.round:
            r2 = u * u + v * v
            g = c_div(QFAC, r2)
            t = 1.0 - c_exp(c_div(-r2, enc.ab2))
            hu = (u * g) * t
            hv = (v * g) * t
        else:
            au = abs(u)
            av = abs(v)
            S = enc.S
            wr1, wi1 = errf(c_div(au, S), c_div(av, S))
            wr2, wi2 = errf(c_div(enc.rho * au, S), c_div(av, enc.rhoS))
            E = c_exp(c_div(-(u * u), enc.a2x2) - c_div(v * v, enc.b2x2))
            D = enc.D
            sv = 1.0 if v > 0.0 else -1.0
            su = 1.0 if u > 0.0 else -1.0
            hv = c_div(sv * (wr1 - E * wr2), D)
            hu = c_div(su * (wi1 - E * wi2), D)
        if u == 0.0:
            hu = 0.0
        if v == 0.0:
            hv = 0.0
    if enc.swap:
        return -hv, hu
    return hu, hv


# ---------------------------------------------------------------------------
# Real discrete Fourier transform (any accurate method; only the position of
# the largest magnitude is used)
# ---------------------------------------------------------------------------

def c06eaf_check(n):
    """Error code of the factorisation for length n (0 when accepted)."""
    if n < 2:
        return 3
    c = n
    t = 2
    ns = 0
    nu = 0
    while c > 1:
        tt = t
        while tt <= 19 and c % tt != 0:
            tt += 1
        if tt > 19:
            return 1
        t = tt
        c //= t
        if c % t == 0:
            c //= t
            if nu + 2 * (ns + 1) > 20:
                return 2
            ns += 1
        else:
            if nu + 1 + 2 * ns > 20:
                return 2
            nu += 1
    return 0


def _factors(n):
    f = []
    p = 2
    while n > 1:
        while n % p == 0:
            f.append(p)
            n //= p
        p += 1
    return f


def cfft(a):
    """Unscaled forward complex DFT (negative exponent) of the list a."""
    n = len(a)
    if n == 1:
        return list(a)
    fac = _factors(n)
    tw = [complex(math.cos(2.0 * math.pi * j / n), -math.sin(2.0 * math.pi * j / n))
          for j in range(n)]

    def rec(seq, stride, m, fi):
        # DFT of length m of the subsequence seq (already extracted)
        if m == 1:
            return seq
        p = fac[fi]
        q = m // p
        subs = [rec(seq[r::p], stride * p, q, fi + 1) for r in range(p)]
        out = [0j] * m
        step = stride  # twiddle for length m: exp(-2 pi i jk/m) = tw[(j*k*stride) % n]
        for k in range(m):
            kq = k % q
            acc = subs[0][kq]
            for r in range(1, p):
                acc += tw[(r * k * step) % n] * subs[r][kq]
            out[k] = acc
        return out

    return rec(list(a), 1, n, 0)


def hermitian_pair(xs, ys):
    """Scaled Hermitian-stored transforms of two real sequences of equal
    length n >= 2.  Returns (X, Y) as lists of n floats."""
    n = len(xs)
    sc = math.sqrt(float(n))
    finite = all(v == v and v not in (INF, -INF) for v in xs) and \
        all(v == v and v not in (INF, -INF) for v in ys)
    if finite:
        z = cfft([complex(a, b) for a, b in zip(xs, ys)])
        zx = [0j] * n
        zy = [0j] * n
        for k in range(n):
            zk = z[k]
            zc = z[(n - k) % n].conjugate()
            zx[k] = (zk + zc) * 0.5
            zy[k] = (zk - zc) * (-0.5j)
    else:
        zx = cfft([complex(a, 0.0) for a in xs])
        zy = cfft([complex(b, 0.0) for b in ys])

    def herm(zz):
        out = [0.0] * n
        half = n // 2
        for k in range(half + 1):
            out[k] = zz[k].real / sc
        for k in range(1, (n - 1) // 2 + 1):
            out[n - k] = zz[k].imag / sc
        return out

    return herm(zx), herm(zy)
