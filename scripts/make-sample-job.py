#!/usr/bin/env python3
"""Writes samples/sample-job.json: a job whose inline 33-point LUT gives a warm,
gently filmic look (soft S-curve, teal shadows, amber highlights, a little less
saturation). Run it again only to change the look; the output is committed."""
import argparse
import json
import math
import pathlib

N = 33


def smoothstep(x):
    return x * x * (3 - 2 * x)


def look(r, g, b):
    # Soft S-curve for contrast.
    r, g, b = (0.65 * c + 0.35 * smoothstep(c) for c in (r, g, b))
    luma = 0.2126 * r + 0.7152 * g + 0.0722 * b
    # Saturation a touch lower.
    r, g, b = (luma + 0.88 * (c - luma) for c in (r, g, b))
    # Split toning: teal in the shadows, amber in the highlights.
    shadow = (1 - luma) ** 2
    highlight = luma ** 2
    r += -0.035 * shadow + 0.045 * highlight
    g += 0.010 * shadow + 0.015 * highlight
    b += 0.040 * shadow - 0.050 * highlight
    return tuple(min(1.0, max(0.0, c)) for c in (r, g, b))


def cube_text():
    lines = ['TITLE "Vantrel sample: warm film"', f"LUT_3D_SIZE {N}",
             "DOMAIN_MIN 0.0 0.0 0.0", "DOMAIN_MAX 1.0 1.0 1.0"]
    for bi in range(N):
        for gi in range(N):
            for ri in range(N):
                rgb = look(ri / (N - 1), gi / (N - 1), bi / (N - 1))
                lines.append(" ".join(f"{c:.6f}" for c in rgb))
    return "\n".join(lines) + "\n"


argparse.ArgumentParser(description=__doc__).parse_args()
job = {
    "version": 1,
    "output": {"container": "mp4"},
    "grade": {"lutCube": cube_text()},
}
out = pathlib.Path(__file__).resolve().parent.parent / "samples" / "sample-job.json"
out.write_text(json.dumps(job, indent=2) + "\n")
print(f"wrote {out}")
