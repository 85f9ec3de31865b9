"""The small model that every producer in the corpus writes, with its expected values.

Each producer gets the same cells, so one set of expected values serves every file. The
expected values are computed here in Python from the inputs, independently of the engine.
"""

SHEETS = ["Inputs", "Calc Sheet"]
ACTIVE = 1  # the second sheet is active

price, quantity, discount, active = 12.5, 4.0, 0.1, True
spaced = "  spaced text "
unicode_text = "Z\u00fcrich \u2013 \u6771\u4eac"
# Producers write numbers with 15 significant digits, so inputs are chosen to survive that;
# the formula Inputs!B8*3 then makes 0.30000000000000004, which a saved file must keep.
tenth = 0.1

# (sheet, cell, kind, content): kind n = number, s = text, b = boolean, f = formula,
# a = array formula over the single cell.
INPUTS = [
    ("Inputs", "A1", "s", "Name"), ("Inputs", "B1", "s", "Value"),
    ("Inputs", "A2", "s", "price"), ("Inputs", "B2", "n", price),
    ("Inputs", "A3", "s", "quantity"), ("Inputs", "B3", "n", quantity),
    ("Inputs", "A4", "s", "discount"), ("Inputs", "B4", "n", discount),
    ("Inputs", "A5", "s", "active"), ("Inputs", "B5", "b", active),
    ("Inputs", "A6", "s", "note"), ("Inputs", "B6", "s", spaced),
    ("Inputs", "A7", "s", "unicode"), ("Inputs", "B7", "s", unicode_text),
    ("Inputs", "A8", "s", "tenth"), ("Inputs", "B8", "n", tenth),
]

NAMES = [("rate", "Inputs!$B$4")]

ERROR = {"error": "#DIV/0!"}
VALUE_ERROR = {"error": "#VALUE!"}

# Formulas with their expected values. Column B is one formula filled down (a shared
# formula where the producer writes them).
FORMULAS = [
    ("Calc Sheet", "A1", "f", "Inputs!B2*Inputs!B3", price * quantity),
    ("Calc Sheet", "A2", "f", "A1*(1-rate)", price * quantity * (1 - discount)),
    ("Calc Sheet", "A3", "f", 'IF(Inputs!B5,"on","off")', "on" if active else "off"),
    ("Calc Sheet", "A4", "f", 'Inputs!B6&"|"', spaced + "|"),
    ("Calc Sheet", "A5", "f", "1/0", ERROR),
    ("Calc Sheet", "A6", "f", "Inputs!B8*3", tenth * 3),
    ("Calc Sheet", "B1", "f", "Inputs!B2*2", price * 2),
    ("Calc Sheet", "B2", "f", "Inputs!B3*2", quantity * 2),
    ("Calc Sheet", "B3", "f", "Inputs!B4*2", discount * 2),
    ("Calc Sheet", "B4", "f", "Inputs!B5*2", (1 if active else 0) * 2),
    ("Calc Sheet", "B5", "f", "Inputs!B6*2", VALUE_ERROR),
    ("Calc Sheet", "C1", "f", "SUM(Inputs!B2:B4)", price + quantity + discount),
    ("Calc Sheet", "C2", "a", "SUM(Inputs!B2:B3*2)", price * 2 + quantity * 2),
    ("Calc Sheet", "C3", "f", 'A3="on"', True),
    ("Calc Sheet", "C4", "f", "Inputs!B7", unicode_text),
    ("Calc Sheet", "C5", "f", "'Calc Sheet'!A1+1", price * quantity + 1),
]

SHARED = ("Calc Sheet", "B1:B5")  # the filled-down block


def expected():
    return {"%s!%s" % (s, c): v for (s, c, _k, _f, v) in FORMULAS}
