#!/usr/bin/env python3
"""Writes money_cases.txt: Python's decimal module as the oracle for the exact
arithmetic of money! amounts (17 integer digits, 5 fraction digits).

    python3 tests/unit/data/money_gen.py > tests/unit/data/money_cases.txt

One case a line, amounts as plain decimal text, results with all five
fraction digits, or the word "overflow" or "zero-divide":

  add a b r | sub a b r | mul a b r | div a b r | rem a b r
  round MODE scale a r    MODE: default even down half-down floor ceiling
                          half-ceiling; scale is a positive amount
  fd x strict r           x a double in hex (float.hex); strict 1 or 0;
                          r the amount, or "bad"
  td a x                  the nearest double to the amount, in hex

The rules the oracle follows:
  - a result of 1e17 or more in magnitude is an overflow;
  - products and quotients keep 5 fraction digits, cut toward zero;
  - a product whose factors have more than 28 significant digits together
    (counted from the first non-zero digit to the fifth fraction digit) is
    an overflow, as is a quotient whose dividend has more than 16
    significant digits beyond its divisor's;
  - a remainder takes the sign of the dividend;
  - round ties are exact halves of the scale; even looks at the parity of
    the quotient; half-ceiling sends ties toward positive infinity;
  - a double becomes the decimal text of its 22 significant digits
    (correctly rounded, trailing zeros dropped); strict refuses a sixth
    fraction digit, else digits past the fifth are cut; magnitudes of 1e17
    and more, and non-zero ones below 1e-5, are refused.
"""
import decimal
import random
from decimal import Decimal

SEED = 20240612
COUNT = 400  # cases of each arithmetic kind

CTX = decimal.Context(prec=120, rounding=decimal.ROUND_DOWN)
decimal.setcontext(CTX)
UNIT = Decimal("0.00001")
LIMIT = Decimal(10) ** 17

MODES = {
    "default": decimal.ROUND_HALF_UP,
    "even": decimal.ROUND_HALF_EVEN,
    "down": decimal.ROUND_DOWN,
    "half-down": decimal.ROUND_HALF_DOWN,
    "floor": decimal.ROUND_FLOOR,
    "ceiling": decimal.ROUND_CEILING,
    "half-ceiling": None,
}
SCALES = ["1", "0.01", "0.05", "0.25", "10", "5", "0.00002", "3", "1000", "0.5", "0.00001", "7.5"]


def text(d):
    d = d.quantize(UNIT)
    # A zero amount has no sign.
    return str(abs(d) if d == 0 else d)


def rand_amount(rng, max_int_digits=17):
    kind = rng.random()
    if kind < 0.1:
        return Decimal(0)
    int_digits = rng.randint(0, max_int_digits)
    frac_digits = rng.choice([0, 0, 1, 2, 2, 3, 5, 5])
    i = rng.randint(0, 10 ** int_digits - 1) if int_digits else 0
    f = rng.randint(0, 10 ** frac_digits - 1) if frac_digits else 0
    d = Decimal(i) + (Decimal(f) / Decimal(10) ** frac_digits if frac_digits else 0)
    if d == 0 and rng.random() < 0.5:
        d = UNIT * rng.randint(1, 99)
    return -d if rng.random() < 0.4 else d


def significant(d):
    units = int(abs(d) / UNIT)
    return max(len(str(units)), 1)


def fits(r):
    return abs(r) < LIMIT


def cut(d):
    return d.quantize(UNIT, rounding=decimal.ROUND_DOWN)


def add(a, b):
    r = a + b
    return text(r) if fits(r) else "overflow"


def sub(a, b):
    r = a - b
    return text(r) if fits(r) else "overflow"


def mul(a, b):
    if a == 0 or b == 0:
        return text(Decimal(0))
    if significant(a) + significant(b) > 28:
        return "overflow"
    r = cut(a * b)
    return text(r) if fits(r) else "overflow"


def div(a, b):
    if b == 0:
        return "zero-divide"
    if significant(a) - significant(b) + 6 > 22:
        return "overflow"
    r = cut(a / b)
    return text(r) if fits(r) else "overflow"


def rem(a, b):
    if b == 0:
        return "zero-divide"
    return text(a % b)


def round_to(mode, scale, a):
    if a == 0:
        return text(a)
    q = a / scale
    if mode == "half-ceiling":
        frac = abs(q) - int(abs(q))
        rounding = decimal.ROUND_CEILING if frac == Decimal("0.5") else decimal.ROUND_HALF_UP
    else:
        rounding = MODES[mode]
    r = q.quantize(Decimal(1), rounding=rounding) * scale
    return text(r) if fits(r) else "overflow"


def from_double(x, strict):
    if x != x or abs(x) == float("inf") or abs(x) >= 1e17 or (x != 0 and abs(x) < 1e-05):
        return "bad"
    if x == 0:
        return text(Decimal(0))
    digits = Decimal("%.21e" % x).normalize()
    exponent = digits.as_tuple().exponent
    if exponent < -5:
        if strict:
            return "bad"
        digits = cut(digits)
    return text(digits)


def rand_double(rng):
    kind = rng.random()
    if kind < 0.3:
        # Binary fractions: always exact in 5 digits when small enough.
        return rng.randint(-10 ** 6, 10 ** 6) / rng.choice([1, 2, 4, 8, 16, 32])
    if kind < 0.5:
        return round(rng.uniform(-1e6, 1e6), rng.randint(0, 5))
    if kind < 0.7:
        return rng.uniform(-1, 1) * 10 ** rng.randint(-7, 18)
    if kind < 0.8:
        return float(rng.randint(-10 ** 17, 10 ** 17))
    return rng.choice([1e17, -1e17, 99999999999999984.0, 1e-05, 9.999e-06, 0.1, 0.5, -0.25, 1e16, 5e-05])


def main():
    rng = random.Random(SEED)
    out = []
    for _ in range(COUNT):
        a, b = rand_amount(rng), rand_amount(rng)
        out.append("add %s %s %s" % (text(a), text(b), add(a, b)))
        a, b = rand_amount(rng), rand_amount(rng)
        out.append("sub %s %s %s" % (text(a), text(b), sub(a, b)))
        a, b = rand_amount(rng, 12), rand_amount(rng, 10)
        out.append("mul %s %s %s" % (text(a), text(b), mul(a, b)))
        a, b = rand_amount(rng), rand_amount(rng, 9)
        out.append("div %s %s %s" % (text(a), text(b), div(a, b)))
        a, b = rand_amount(rng), rand_amount(rng, 9)
        out.append("rem %s %s %s" % (text(a), text(b), rem(a, b)))
    # Edges: the largest amount, carries across every digit, exact ties.
    top = LIMIT - UNIT
    edges = [("add", top, UNIT), ("add", -top, -UNIT), ("sub", -top, UNIT), ("add", top, -top),
             ("mul", Decimal("0.00001"), Decimal("0.00001")), ("mul", top, Decimal(1)),
             ("mul", Decimal("10000000000"), Decimal("10000000")), ("div", Decimal(1), Decimal(3)),
             ("div", Decimal(-1), Decimal(3)), ("div", top, Decimal("0.5")), ("rem", Decimal("-7"), Decimal("2")),
             ("rem", Decimal("7.5"), Decimal("-2")), ("div", Decimal(5), Decimal(0))]
    funcs = {"add": add, "sub": sub, "mul": mul, "div": div, "rem": rem}
    for op, a, b in edges:
        out.append("%s %s %s %s" % (op, text(a), text(b), funcs[op](a, b)))
    for mode in MODES:
        for scale in SCALES:
            s = Decimal(scale)
            values = [rand_amount(rng) for _ in range(12)]
            # Exact ties and near ties at this scale.
            for k in (1, 2, 3, 7, 10):
                tie = s * k + s / 2
                values += [tie, -tie, tie + UNIT, tie - UNIT]
            values.append(top)
            for a in values:
                a = cut(a)
                out.append("round %s %s %s %s" % (mode, text(s), text(a), round_to(mode, s, a)))
    for _ in range(COUNT):
        x = rand_double(rng)
        strict = rng.randint(0, 1)
        out.append("fd %s %d %s" % (x.hex(), strict, from_double(x, strict)))
    for _ in range(COUNT // 2):
        a = rand_amount(rng)
        out.append("td %s %s" % (text(a), float(a).hex()))
    print("\n".join(out))


if __name__ == "__main__":
    main()
