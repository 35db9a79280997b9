#!/usr/bin/env python3
"""Writes the motion of the character hall's two figures: walker.wkn, a stick
figure walking round a circle, and dancer.wkn, the skinned dancer swaying on
the spot. Both are made here from a few sine waves; run it again after
changing them:  python3 worlds/figures_motion.py worlds/
"""
import math
import sys

# One body for both figures, in metres, standing with the hips at the origin
# of the root segment: (segment, parent site it hangs from, its own sites).
# Every segment's first site is where it hangs; the rest are drawn to.
BODY = [
    ("hips", None, [("base", (0, 0, 0)), ("waist", (0, 0.15, 0)), ("rhip", (0.12, -0.05, 0)),
                    ("lhip", (-0.12, -0.05, 0))]),
    ("torso", "hips.waist", [("base", (0, 0.15, 0)), ("neck", (0, 0.6, 0)), ("rshoulder", (0.2, 0.55, 0)),
                             ("lshoulder", (-0.2, 0.55, 0))]),
    ("head", "torso.neck", [("base", (0, 0.6, 0)), ("top", (0, 0.85, 0))]),
    ("rupperarm", "torso.rshoulder", [("base", (0.2, 0.55, 0)), ("elbow", (0.22, 0.25, 0))]),
    ("rforearm", "rupperarm.elbow", [("base", (0.22, 0.25, 0)), ("wrist", (0.24, -0.02, 0))]),
    ("lupperarm", "torso.lshoulder", [("base", (-0.2, 0.55, 0)), ("elbow", (-0.22, 0.25, 0))]),
    ("lforearm", "lupperarm.elbow", [("base", (-0.22, 0.25, 0)), ("wrist", (-0.24, -0.02, 0))]),
    ("rthigh", "hips.rhip", [("base", (0.12, -0.05, 0)), ("knee", (0.12, -0.5, 0))]),
    ("rshin", "rthigh.knee", [("base", (0.12, -0.5, 0)), ("ankle", (0.12, -0.95, 0))]),
    ("lthigh", "hips.lhip", [("base", (-0.12, -0.05, 0)), ("knee", (-0.12, -0.5, 0))]),
    ("lshin", "lthigh.knee", [("base", (-0.12, -0.5, 0)), ("ankle", (-0.12, -0.95, 0))]),
]
HIP_HEIGHT = 0.95


def body_text(prefix, name, start):
    out = ["# %s: written by figures_motion.py" % name, "bgnbody", "name %s" % name]
    for segment, _, sites in BODY:
        out.append("bgnsegment name %s%s scale 1 1 1" % (prefix, segment))
        for site, (x, y, z) in sites:
            out.append("  bgnsite name %s xfm %g %g %g 0 0 0 endsite" % (site, x, y, z))
        out.append("endsegment")
    # The root starts where the last frame leaves it, so that stepping on from
    # the last frame to the first moves it by one step, not back to the start.
    out.append("root %ships.base xfm %.4f %.4f %.4f 0 0 0" % ((prefix,) + tuple(start)))
    joints = []
    for segment, parent, _ in BODY:
        if parent:
            joints.append(segment)
            out.append("bgnjoint name %s%s connect %s%s %s%s.base endjoint" % (prefix, segment, prefix, parent,
                                                                               prefix, segment))
    out.append("endbody")
    return out, joints


def capture_text(prefix, name, joints):
    channels = 6 + 3 * len(joints)
    out = ["bgncapture", "bgninput name %s file %d filename %s.mov endinput" % (name, channels, name)]
    for i, joint in enumerate(joints):
        # Three angles a joint: the middle one is the joint's channel.
        out.append("bgntarget object joint %s.%s%s 0 0 %d endtarget" % (name, prefix, joint, 7 + 3 * i))
    out.append("endcapture")
    return out


def frame_line(root, turn, angles, joints):
    values = list(root) + list(turn)
    for joint in joints:
        values += list(angles.get(joint, (0, 0, 0)))
    return " ".join("%.4f" % v for v in values)


def walker(frames=80, radius=1.6):
    """Two strides a lap of the circle: legs and arms swing against each other."""
    lines = []
    for f in range(frames):
        lap = 2 * math.pi * f / frames
        stride = 2 * math.pi * f / (frames / 4)
        swing = 28 * math.sin(stride)
        bob = 0.03 * abs(math.cos(stride))
        root = (radius * math.sin(lap), HIP_HEIGHT + bob, radius * math.cos(lap))
        # The figure faces -z; turned to face along the circle.
        turn = (0, math.degrees(lap) - 90, 0)
        angles = {
            "rthigh": (swing, 0, 0), "lthigh": (-swing, 0, 0),
            "rshin": (-max(0.0, -swing) * 1.4, 0, 0), "lshin": (-max(0.0, swing) * 1.4, 0, 0),
            "rupperarm": (-0.8 * swing, 0, 0), "lupperarm": (0.8 * swing, 0, 0),
            "rforearm": (20, 0, 0), "lforearm": (20, 0, 0),
            "torso": (-4, 0, 0), "head": (0, 8 * math.sin(stride), 0),
        }
        lines.append((root, turn, angles))
    return lines


def dancer(frames=60):
    """On the spot: the hips sway, the arms go up and down, the knees bend."""
    lines = []
    for f in range(frames):
        t = 2 * math.pi * f / frames
        root = (0, HIP_HEIGHT - 0.06 * (1 - math.cos(2 * t)) / 2, 0)
        turn = (0, 25 * math.sin(t), 6 * math.sin(t))
        arms = 70 + 60 * math.sin(2 * t)
        angles = {
            "rupperarm": (0, 0, arms), "lupperarm": (0, 0, -arms),
            "rforearm": (0, 0, 30 * math.sin(2 * t)), "lforearm": (0, 0, -30 * math.sin(2 * t)),
            "rthigh": (12 * (1 - math.cos(2 * t)) / 2, 0, 0), "lthigh": (12 * (1 - math.cos(2 * t)) / 2, 0, 0),
            "rshin": (-24 * (1 - math.cos(2 * t)) / 2, 0, 0), "lshin": (-24 * (1 - math.cos(2 * t)) / 2, 0, 0),
            "torso": (0, 0, -6 * math.sin(t)), "head": (0, 20 * math.sin(2 * t), 0),
        }
        lines.append((root, turn, angles))
    return lines


def character(prefix, name, frames):
    text, joints = body_text(prefix, name, frames[-1][0])
    text += capture_text(prefix, name, joints)
    for root, turn, angles in frames:
        text.append(frame_line(root, turn, angles, joints))
    return text


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    for file, lines in (("walker.wkn", character("", "walker", walker())),
                        ("dancer.wkn", character("dancer_", "dancer", dancer()))):
        with open("%s/%s" % (folder, file), "w", newline="\n") as f:
            f.write("\n".join(lines) + "\n")
