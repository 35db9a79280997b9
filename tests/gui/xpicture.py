#!/usr/bin/env python3
"""xpicture.py — what the GUI test needs to know about the browser's window
and its pictures, from xwininfo and xwd files of the whole screen.

  xpicture.py layout WINDOW          the parts' places in screen pixels:
                                     "view X Y W H", "location X Y W H",
                                     "button N X Y" (the column, top first),
                                     "pad N X Y" (the pad, left first)
  xpicture.py colours FILE X Y W H   distinct colours in a region
  xpicture.py same FILE FILE X Y W H 1 when the region is equal in both
  xpicture.py white FILE X Y W H     pixels of the labels' white in a region
  xpicture.py red FILE X Y W H       pixels of a pure red in a region
  xpicture.py mean FILE X Y W H      the region's mean colour, "R G B"
"""
import re
import struct
import subprocess
import sys


def layout(window):
    out = subprocess.run(['xwininfo', '-tree', '-id', window], capture_output=True, text=True).stdout
    # Each child line: id (name): ()  WxH+x+y  +X+Y, indented by depth.
    rows = []
    for line in out.splitlines():
        m = re.match(r'^(\s*)0x[0-9a-f]+ .*?(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
        c = re.match(r'^(\s*)(\d+) childre?n?:', line)
        if m:
            rows.append({'depth': len(m.group(1)), 'w': int(m.group(2)), 'h': int(m.group(3)),
                         'x': int(m.group(4)), 'y': int(m.group(5)), 'children': 0})
        elif c and rows:
            rows[-1]['children'] = int(c.group(2))
    # The client area is the biggest window; its parts lie one level down.
    client = max(rows, key=lambda r: r['w'] * r['h'])
    parts = [r for r in rows if r['depth'] == client['depth'] + 3]
    def children(part):
        found = []
        for r in rows[rows.index(part) + 1:]:
            if r['depth'] <= part['depth']:
                break
            if r['depth'] == part['depth'] + 3:
                found.append(r)
        return found
    views = [r for r in parts if r['children'] == 0 and r['w'] >= 100 and r['h'] >= 100]
    view = min(views, key=lambda r: r['w'] * r['h'])
    print('view', view['x'], view['y'], view['w'], view['h'])
    for part in parts:
        if part['children'] == 2:
            print('location', part['x'], part['y'], part['w'], part['h'])
        elif part['children'] == 8:
            for n, b in enumerate(sorted(children(part), key=lambda r: r['y'])):
                print('button', n, b['x'] + b['w'] // 2, b['y'] + b['h'] // 2)
        elif part['children'] == 6:
            for n, b in enumerate(sorted(children(part), key=lambda r: r['x'])):
                print('pad', n, b['x'] + b['w'] // 2, b['y'] + b['h'] // 2)


def region(name, x, y, w, h):
    d = open(name, 'rb').read()
    if len(d) < 100:
        return []
    head = struct.unpack('>25I', d[:100])
    size, width, height, bpp, line, ncolours = head[0], head[4], head[5], head[11], head[12], head[19]
    start = size + 12 * ncolours
    step = bpp // 8
    if step not in (3, 4):
        return []
    rows = []
    for row in range(max(0, y), min(height, y + h)):
        base = start + row * line
        rows.append(d[base + max(0, x) * step:base + min(width, x + w) * step])
    return rows, step


def main():
    what = sys.argv[1]
    if what == 'layout':
        layout(sys.argv[2])
        return
    if what == 'same':
        a = region(sys.argv[2], *map(int, sys.argv[4:8]))
        b = region(sys.argv[3], *map(int, sys.argv[4:8]))
        print(1 if a and a == b else 0)
        return
    got = region(sys.argv[2], *map(int, sys.argv[3:7]))
    if not got:
        print(0)
        return
    rows, step = got
    if what == 'mean':
        total, n = [0, 0, 0], 0
        for r in rows:
            for i in range(0, len(r) - step + 1, step):
                # xwd keeps the pixels as B G R (X) on a little-endian server
                total[0] += r[i + 2]; total[1] += r[i + 1]; total[2] += r[i]
                n += 1
        print(*(t // max(n, 1) for t in total))
    elif what == 'colours':
        seen = set()
        for r in rows[::2]:
            for i in range(0, len(r) - step + 1, 2 * step):
                seen.add(r[i:i + 3])
        print(len(seen))
    elif what == 'red':
        n = 0
        for r in rows:
            for i in range(0, len(r) - step + 1, step):
                n += r[i] <= 40 and r[i + 1] <= 40 and r[i + 2] >= 200
        print(n)
    elif what == 'white':
        n = 0
        for r in rows:
            for i in range(0, len(r) - step + 1, step):
                n += r[i] >= 250 and r[i + 1] >= 250 and r[i + 2] >= 250
        print(n)


main()
