#!/usr/bin/env python3
# Draws the reader's XPM images (supersampled shapes, median-cut palette).
# Usage: draw_icons.py OUTPUT_FOLDER. The build uses the committed .xpm files.
OUT = sys.argv[1]
S = 4  # supersampling factor

class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * (w * S) for _ in range(h * S)]
    def paint(self, inside, colour):
        # colour: function (x, y) -> (r, g, b, a) in 0..1, or tuple
        for j in range(self.h * S):
            y = (j + 0.5) / S
            row = self.px[j]
            for i in range(self.w * S):
                x = (i + 0.5) / S
                if inside(x, y):
                    c = colour(x, y) if callable(colour) else colour
                    r, g, b, a = c
                    R, G, B, A = row[i]
                    na = a + A * (1 - a)
                    if na > 0:
                        row[i] = ((r * a + R * A * (1 - a)) / na, (g * a + G * A * (1 - a)) / na,
                                  (b * a + B * A * (1 - a)) / na, na)
    def pixels(self):
        out = []
        for y in range(self.h):
            line = []
            for x in range(self.w):
                r = g = b = a = 0.0
                for j in range(S):
                    for i in range(S):
                        R, G, B, A = self.px[y * S + j][x * S + i]
                        r += R * A; g += G * A; b += B * A; a += A
                n = S * S
                if a / n < 0.5:
                    line.append(None)
                else:
                    line.append((round(255 * r / a), round(255 * g / a), round(255 * b / a)))
            out.append(line)
        return out

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1
def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r
def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1
def polygon(pts):
    def f(x, y):
        inside = False
        n = len(pts)
        for k in range(n):
            x0, y0 = pts[k]; x1, y1 = pts[(k + 1) % n]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside
    return f
def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    L2 = dx * dx + dy * dy
    def f(x, y):
        t = max(0, min(1, ((x - x0) * dx + (y - y0) * dy) / L2))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= width * width / 4
    return f
def rounded(x0, y0, x1, y1, r):
    def f(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1): return False
        cx = min(max(x, x0 + r), x1 - r); cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return f
def union(*fs):
    return lambda x, y: any(f(x, y) for f in fs)
def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)

def vgrad(y0, y1, c0, c1, alpha=1.0):
    def f(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(c0[k] + (c1[k] - c0[k]) * t for k in range(3)) + (alpha,)
    return f
def rgrad(cx, cy, r, c0, c1, alpha=1.0):
    def f(x, y):
        t = max(0.0, min(1.0, math.hypot(x - cx, y - cy) / r))
        return tuple(c0[k] + (c1[k] - c0[k]) * t for k in range(3)) + (alpha,)
    return f
def dgrad(x0, y0, x1, y1, c0, c1, alpha=1.0):
    dx, dy = x1 - x0, y1 - y0
    L2 = dx * dx + dy * dy
    def f(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / L2))
        return tuple(c0[k] + (c1[k] - c0[k]) * t for k in range(3)) + (alpha,)
    return f
def hexc(s):
    return tuple(int(s[i:i + 2], 16) / 255 for i in (0, 2, 4))
def rgba(s, a=1.0):
    return hexc(s) + (a,)

# --- palette reduction -------------------------------------------------------
def median_cut(colours, k):
    # colours: dict colour -> count
    boxes = [list(colours.items())]
    while len(boxes) < k:
        best = None
        for bi, box in enumerate(boxes):
            if len(box) < 2: continue
            spans = [max(c[0][d] for c in box) - min(c[0][d] for c in box) for d in range(3)]
            d = max(range(3), key=lambda d: spans[d])
            if best is None or spans[d] > best[0]:
                best = (spans[d], bi, d)
        if best is None: break
        _, bi, d = best
        box = sorted(boxes.pop(bi), key=lambda c: c[0][d])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    mapping, palette = {}, []
    for box in boxes:
        n = sum(c[1] for c in box)
        avg = tuple(round(sum(c[0][d] * c[1] for c in box) / n) for d in range(3))
        palette.append(avg)
        for c, _ in box: mapping[c] = avg
    return mapping

CHARS = ''.join(chr(c) for c in range(35, 127) if chr(c) not in '\\"?') + ' !'

def write_xpm(name, pixels, ncolours, cpp=1):
    h, w = len(pixels), len(pixels[0])
    has_none = any(p is None for row in pixels for p in row)
    want = ncolours - (1 if has_none else 0)
    counts = {}
    for row in pixels:
        for p in row:
            if p is not None: counts[p] = counts.get(p, 0) + 1
    if len(counts) > want:
        m = median_cut(counts, want)
        pixels = [[None if p is None else m[p] for p in row] for row in pixels]
    used = sorted({p for row in pixels for p in row if p is not None})
    if len(used) != want:
        print(f'{name}: {len(used)} colours, wanted {want}', file=sys.stderr)
    codes = []
    if cpp == 1:
        codes = list(CHARS)
    else:
        codes = [a + b for a in CHARS for b in CHARS]
    table = {}
    lines = []
    idx = 0
    if has_none:
        table[None] = codes[idx]; lines.append(f'"{codes[idx]} c None",'); idx += 1
    for c in used:
        table[c] = codes[idx]
        lines.append(f'"{codes[idx]} c #{c[0]:02X}{c[1]:02X}{c[2]:02X}",'); idx += 1
    body = [f'"{"".join(table[p] for p in row)}"' for row in pixels]
    var = name + '_xpm'
    text = f'/* XPM */\nstatic const char* const {var}[] = {{\n"{w} {h} {len(table)} {cpp}",\n'
    text += '\n'.join(lines) + '\n' + ',\n'.join(body) + '\n};\n'
    open(os.path.join(OUT, name + '.xpm'), 'w').write(text)
    print(name, w, h, len(table), cpp)

# --- the five type tools: a short barcode over a 3x5 pixel caption -----------
FONT = {
    '1': ['.#.', '##.', '.#.', '.#.', '###'], '2': ['##.', '..#', '.#.', '#..', '###'],
    '3': ['##.', '..#', '.#.', '..#', '##.'], '8': ['###', '#.#', '###', '#.#', '###'],
    '9': ['###', '#.#', '###', '..#', '##.'], 'E': ['###', '#..', '##.', '#..', '###'],
    'A': ['.#.', '#.#', '###', '#.#', '#.#'],
}
def type_icon(name, bars, caption):
    grid = [[None] * 18 for _ in range(18)]
    x = 1
    for k, width in enumerate(bars):
        if k % 2 == 0:
            for xx in range(x, min(x + width, 17)):
                for y in range(1, 11): grid[y][xx] = (0, 0, 0)
        x += width
    cw = len(caption) * 4 - 1
    x0 = (18 - cw) // 2
    for n, ch in enumerate(caption):
        for r, row in enumerate(FONT[ch]):
            for c, v in enumerate(row):
                if v == '#': grid[12 + r][x0 + n * 4 + c] = (0, 0, 0)
    write_xpm(name, grid, 2)

type_icon('upca_ean13', [1, 1, 1, 1, 2, 1, 1, 2, 1, 1, 2, 1, 1], '13')
type_icon('ean8', [1, 1, 1, 2, 2, 1, 1, 1, 1, 2, 1, 1, 1], '8')
type_icon('upce', [1, 1, 1, 1, 1, 2, 2, 1, 1, 1, 2, 1, 1], 'E')
type_icon('codebar39', [1, 1, 3, 1, 1, 3, 1, 1, 1, 1, 3], '39')
type_icon('codebar128', [2, 1, 1, 2, 1, 1, 3, 1, 1, 1, 2, 1], '128')

# --- mode tools: red scan lines ----------------------------------------------
c = Canvas(18, 18)
def disc(x, y):
    t = min(1.0, math.hypot(x - 9, y - 9) / 8.6)
    u = (math.atan2(y - 9, x - 9) + math.pi) / (2 * math.pi)
    return (1.0, 0.55 + 0.4 * t * u, 0.5 + 0.42 * t * (1 - u), 0.6)
c.paint(circle(9, 9, 8.6), disc)
for k in range(6):
    a = math.radians(k * 30)
    dx, dy = 8.2 * math.cos(a), 8.2 * math.sin(a)
    c.paint(segment(9 - dx, 9 - dy, 9 + dx, 9 + dy, 1.3), rgrad(9, 9, 8.5, hexc('FF2A1A'), hexc('8A0000')))
c.paint(circle(9, 9, 1.6), rgba('FFD0C8'))
write_xpm('omni_directional', c.pixels(), 86)

grid = [[None] * 18 for _ in range(18)]
shades = [(0x80, 0, 0), (0xB0, 0, 0), (0xD8, 0x10, 0x10), (0xFF, 0x30, 0x20), (0xFF, 0x70, 0x60), (0xC0, 0x20, 0x20), (0x60, 0, 0)]
for n, y in enumerate((3, 6, 9, 12, 15)):
    for x in range(1, 17):
        grid[y][x] = shades[int(min(abs(x - 8.5) // 1.1, 6))]
write_xpm('bi_directional', grid, 8)

# --- main toolbar ---------------------------------------------------------------
c = Canvas(33, 32)
c.paint(circle(16.5, 16, 15), rgrad(12, 10, 22, hexc('7CE36A'), hexc('1B6E12')))
c.paint(ring(16.5, 16, 14.2, 15.2), rgba('145410'))
c.paint(polygon([(12, 8.5), (12, 23.5), (24.5, 16)]), vgrad(8, 24, hexc('FFFFFF'), hexc('D6F2D0')))
write_xpm('play', c.pixels(), 86)

c = Canvas(32, 32)
c.paint(circle(16, 16, 15), rgrad(12, 10, 22, hexc('8FB8F0'), hexc('1E4C96')))
c.paint(rounded(9.5, 8.5, 14.5, 23.5, 1.2), rgba('FFFFFF'))
c.paint(rounded(17.5, 8.5, 22.5, 23.5, 1.2), rgba('FFFFFF'))
write_xpm('pause', c.pixels(), 27)

c = Canvas(32, 33)
c.paint(rounded(2, 6, 14, 12, 1.5), vgrad(6, 12, hexc('F2C94C'), hexc('D9A520')))
c.paint(rounded(2, 9, 30, 29, 1.5), dgrad(2, 9, 30, 29, hexc('F0C040'), hexc('9A6A08')))
c.paint(rect(6, 12, 27, 22), dgrad(6, 12, 27, 22, hexc('FFFFFF'), hexc('C8D0DC')))
for y in (14, 16, 18):
    c.paint(rect(8, y, 25, y + 0.8), rgba('9AA4B0'))
c.paint(polygon([(6.5, 17), (31, 17), (27, 29), (2, 29)]), dgrad(6, 17, 28, 29, hexc('FFEA90'), hexc('D09010')))
c.paint(polygon([(6.5, 17), (31, 17), (30.6, 18), (6.2, 18)]), rgba('FFF3C0', 0.9))
write_xpm('open_file', c.pixels(), 118, cpp=2)

grid = [[None] * 32 for _ in range(32)]
def put(inside, colour):
    for y in range(32):
        for x in range(32):
            if inside(x + 0.5, y + 0.5): grid[y][x] = colour
DARK, MID, LIGHT, BLACK, BLUE, WHITE = (0x40, 0x40, 0x48), (0x80, 0x80, 0x8C), (0xC4, 0xC4, 0xCC), (0, 0, 0), (0x30, 0x70, 0xD0), (0xFF, 0xFF, 0xFF)
put(rounded(2, 9, 30, 27, 3), DARK)
put(rounded(3, 10, 29, 26, 2.5), MID)
put(rect(10, 5, 20, 10), DARK)
put(rect(11, 6, 19, 10), LIGHT)
put(rect(4, 11, 9, 14), LIGHT)
put(circle(16, 18, 7.5), DARK)
put(circle(16, 18, 6), BLACK)
put(circle(16, 18, 4), BLUE)
put(circle(14.5, 16.5, 1.3), WHITE)
put(circle(25.5, 13, 1.2), WHITE)
write_xpm('camera_settings', grid, 7)

# --- history toolbar ------------------------------------------------------------
c = Canvas(16, 16)
c.paint(rect(2.5, 1.5, 12.5, 14.5), rgba('6E7480'))
c.paint(rect(3, 2, 12, 14), vgrad(2, 14, hexc('FFFFFF'), hexc('DDE2EA')))
c.paint(segment(6, 6, 14, 14, 2.4), rgrad(10, 10, 6, hexc('FF5A4A'), hexc('A00808')))
c.paint(segment(14, 6, 6, 14, 2.4), rgrad(10, 10, 6, hexc('FF5A4A'), hexc('A00808')))
write_xpm('clear', c.pixels(), 32)

c = Canvas(16, 15)
c.paint(rounded(1, 1, 15, 15, 1.2), vgrad(1, 15, hexc('3C6EC8'), hexc('1A3A78')))
c.paint(rect(4, 1, 12, 6), vgrad(1, 6, hexc('E8ECF2'), hexc('B8C0CC')))
c.paint(rect(9, 2, 11, 5), rgba('1A3A78'))
c.paint(rect(3, 8.5, 13, 15), rgba('FFFFFF'))
for y in (10, 12):
    c.paint(rect(4.5, y, 11.5, y + 0.9), rgba('9AA4B0'))
write_xpm('save_as', c.pixels(), 21)

# --- the window icon and the about icon: a barcode crossed by a red beam --------
def reader_icon(size, name, ncolours, cpp):
    k = size / 16.0
    c = Canvas(size, size)
    c.paint(rounded(0.3 * k, 0.3 * k, 15.7 * k, 15.7 * k, 2.2 * k), dgrad(0, 0, size, size, hexc('7A8AA0'), hexc('182030')))
    c.paint(rounded(1.5 * k, 1.5 * k, 14.5 * k, 14.5 * k, 1.4 * k), dgrad(0, 0, size, size, hexc('FFFFFF'), hexc('B8C4D4')))
    x = 3.0
    for n, wdt in enumerate([0.7, 0.5, 1.2, 0.5, 0.6, 1.0, 0.5, 0.8, 1.2, 0.5, 0.6, 0.9]):
        if n % 2 == 0:
            c.paint(rect(x * k, 3.2 * k, (x + wdt) * k, 12.8 * k), dgrad(3 * k, 3 * k, 13 * k, 13 * k, hexc('303848'), hexc('000000')))
        x += wdt
    glow = lambda px, py: (1.0, 0.1, 0.05, max(0.0, 0.75 - abs(py - 8 * k) / (1.6 * k)))
    c.paint(rect(1.5 * k, 6.2 * k, 14.5 * k, 9.8 * k), glow)
    c.paint(rect(1.0 * k, 7.55 * k, 15 * k, 8.45 * k), lambda px, py: (1.0, 0.15 + 0.25 * (1 - abs(px - 8 * k) / (7 * k)), 0.1, 1.0))
    write_xpm(name, c.pixels(), ncolours, cpp)

reader_icon(16, 'morvelix16', 63, 1)
reader_icon(56, 'morvelix56', 509, 2)
