#!/usr/bin/env python3
"""Draws the symbol icons under packaging/icons/symbols/ (run after changing a drawing).

Every symbol is a 24 x 24 line drawing in two inks: "ink" is the glyph, "cut" the marks knocked out
of a filled shape (the tick on a filled circle). Three variants come out of one drawing:
  light/NAME.svg  dark ink for light backgrounds,
  dark/NAME.svg   light ink for dark backgrounds,
  tray/NAME.svg   white ink over a dark halo, for a panel of either colour (the tray symbols only).
The application tints the light variant at run time where a drawing is shown in a colour.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "symbols")
W = 2.0  # stroke width

# The symbols the tray icon can show; these get a tray variant.
TRAY = {"mic", "person.crop.circle.badge.xmark", "exclamationmark.triangle.fill", "record.circle.fill",
        "waveform", "sparkles", "text.cursor"}


def s(d, role="ink", width=W):
    return ("path", role, False, {"d": d, "w": width})


def f(d, role="ink"):
    return ("path", role, True, {"d": d, "w": 0})


def circle(cx, cy, r, role="ink", fill=False, width=W):
    d = f"M{cx - r:g} {cy:g}a{r:g} {r:g} 0 1 0 {2 * r:g} 0a{r:g} {r:g} 0 1 0 {-2 * r:g} 0Z"
    return ("path", role, fill, {"d": d, "w": 0 if fill else width})


def star(cx, cy, r):
    return f(f"M{cx:g} {cy - r:g}Q{cx:g} {cy:g} {cx + r:g} {cy:g}Q{cx:g} {cy:g} {cx:g} {cy + r:g}"
             f"Q{cx:g} {cy:g} {cx - r:g} {cy:g}Q{cx:g} {cy:g} {cx:g} {cy - r:g}Z")


def gear():
    points = []
    teeth = 8
    for i in range(teeth * 2):
        radius = 9.5 if i % 2 == 0 else 7.4
        for k in (-1, 1):
            angle = (i + k * 0.3) * math.pi / teeth
            points.append((12 + radius * math.cos(angle), 12 + radius * math.sin(angle)))
    d = "M" + "L".join(f"{x:.2f} {y:.2f}" for x, y in points) + "Z"
    return s(d)


def person(badge):
    parts = [
        s("M13.2 19.21A8.5 8.5 0 1 1 19.21 13.2"),
        circle(11, 9, 3),
        s("M5.6 17.2c1.4-2.1 3.3-3.1 5.4-3.1 1.2 0 2.3.3 3.3.9"),
        circle(18.5, 18.5, 5, fill=True),
    ]
    return parts + badge


SYMBOLS = {
    "mic": [s("M12 3a3 3 0 0 1 3 3v5a3 3 0 0 1-6 0V6a3 3 0 0 1 3-3Z"), s("M5.5 11a6.5 6.5 0 0 0 13 0"),
            s("M12 17.5V21"), s("M9 21h6")],
    "mic.fill": [f("M12 3a3 3 0 0 1 3 3v5a3 3 0 0 1-6 0V6a3 3 0 0 1 3-3Z"), s("M12 3a3 3 0 0 1 3 3v5a3 3 0 0 1-6 0V6a3 3 0 0 1 3-3Z"),
                 s("M5.5 11a6.5 6.5 0 0 0 13 0"), s("M12 17.5V21"), s("M9 21h6")],
    "stop.fill": [f("M8 5.5h8A2.5 2.5 0 0 1 18.5 8v8a2.5 2.5 0 0 1-2.5 2.5H8A2.5 2.5 0 0 1 5.5 16V8A2.5 2.5 0 0 1 8 5.5Z")],
    "record.circle.fill": [circle(12, 12, 9.5, fill=True), circle(12, 12, 6.8, role="cut", fill=True),
                           circle(12, 12, 4.6, fill=True)],
    "waveform": [s("M4 10v4"), s("M8 7v10"), s("M12 3.5v17"), s("M16 6.5v11"), s("M20 9.5v5")],
    "sparkles": [star(10, 13.5, 7.5), star(18.5, 5.5, 3.2)],
    "text.cursor": [s("M12 5v14"), s("M8.5 3.5c1.8 0 3.5.7 3.5 1.5 0-.8 1.7-1.5 3.5-1.5"),
                    s("M8.5 20.5c1.8 0 3.5-.7 3.5-1.5 0 .8 1.7 1.5 3.5 1.5"), s("M10 12h4")],
    "exclamationmark.triangle.fill": [
        f("M10.3 4.1a2 2 0 0 1 3.4 0l7.6 13.4a2 2 0 0 1-1.7 3H4.4a2 2 0 0 1-1.7-3Z"),
        s("M12 9v5", role="cut", width=2.2), circle(12, 17.3, 1.25, role="cut", fill=True)],
    "person.crop.circle.badge.xmark": person([s("M16.6 16.6l3.8 3.8", role="cut", width=1.8),
                                              s("M20.4 16.6l-3.8 3.8", role="cut", width=1.8)]),
    "person.crop.circle.badge.plus": person([s("M18.5 15.8v5.4", role="cut", width=1.8),
                                             s("M15.8 18.5h5.4", role="cut", width=1.8)]),
    "arrow.clockwise": [s("M19 12a7 7 0 1 1-2.1-5"), s("M17.5 3v4.2h-4.2")],
    "arrow.triangle.2.circlepath": [s("M4.5 12a7.5 7.5 0 0 1 13.1-5"), s("M18.3 3.3v3.9h-3.9"),
                                    s("M19.5 12a7.5 7.5 0 0 1-13.1 5"), s("M5.7 20.7v-3.9h3.9")],
    "doc.on.doc": [s("M9 6.5V5a2 2 0 0 1 2-2h7a2 2 0 0 1 2 2v10a2 2 0 0 1-2 2h-1.5"),
                   s("M6 7h7a2 2 0 0 1 2 2v10a2 2 0 0 1-2 2H6a2 2 0 0 1-2-2V9a2 2 0 0 1 2-2Z")],
    "gearshape": [gear(), circle(12, 12, 3)],
    "globe": [circle(12, 12, 9), s("M12 3c-2.6 2.4-3.9 5.4-3.9 9s1.3 6.6 3.9 9c2.6-2.4 3.9-5.4 3.9-9S14.6 5.4 12 3Z"),
              s("M3 12h18"), s("M4.6 7.5h14.8"), s("M4.6 16.5h14.8")],
    "power": [s("M16.2 6.6A7.5 7.5 0 1 1 7.8 6.6"), s("M12 3v8.5")],
    "rectangle.portrait.and.arrow.right": [s("M10 4H6.5A2.5 2.5 0 0 0 4 6.5v11A2.5 2.5 0 0 0 6.5 20H10"),
                                           s("M10 12h10.5"), s("M16.5 8l4 4-4 4")],
    "slider.horizontal.3": [s("M3 6h9.5"), s("M17.5 6H21"), circle(15, 6, 2.5), s("M3 12h2.5"), s("M10.5 12H21"),
                            circle(8, 12, 2.5), s("M3 18h11.5"), s("M19.5 18H21"), circle(17, 18, 2.5)],
    "arrow.down.circle.fill": [circle(12, 12, 9.5, fill=True), s("M12 7v9.5", role="cut"),
                               s("M8 12.5l4 4 4-4", role="cut")],
    "checkmark.circle.fill": [circle(12, 12, 9.5, fill=True), s("M7.5 12.3l3 3 6-6.3", role="cut")],
    "arrow.right.circle.fill": [circle(12, 12, 9.5, fill=True), s("M7 12h9.5", role="cut"),
                                s("M12.5 8l4 4-4 4", role="cut")],
    "circle": [circle(12, 12, 9)],
}


def element(shape, colour, extra_width=0.0, opacity=1.0):
    _, _, fill, attrs = shape
    width = attrs["w"] + extra_width
    paint = f'fill="{colour}"' if fill else 'fill="none"'
    if width > 0:
        paint += f' stroke="{colour}" stroke-width="{width:g}" stroke-linecap="round" stroke-linejoin="round"'
    if opacity < 1:
        paint += f' opacity="{opacity:g}"'
    return f'  <path d="{attrs["d"]}" {paint}/>'


def svg(shapes, ink, cut, halo=None):
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">']
    if halo:
        lines += [element(shape, halo, 2.6, 0.85) for shape in shapes if shape[1] == "ink"]
    for shape in shapes:
        lines.append(element(shape, ink if shape[1] == "ink" else cut))
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main():
    variants = {"light": ("#1d1d1f", "#ffffff", None), "dark": ("#f5f5f7", "#1d1d1f", None),
                "tray": ("#ffffff", "#1d1d1f", "#000000")}
    for variant, (ink, cut, halo) in variants.items():
        os.makedirs(os.path.join(OUT, variant), exist_ok=True)
        for name, shapes in SYMBOLS.items():
            if variant == "tray" and name not in TRAY:
                continue
            with open(os.path.join(OUT, variant, name + ".svg"), "w", encoding="utf-8") as out:
                out.write(svg(shapes, ink, cut, halo))


if __name__ == "__main__":
    main()
