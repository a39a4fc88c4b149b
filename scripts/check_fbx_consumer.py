#!/usr/bin/env python3
"""Compares an ASCII FBX camera path with what FBX2glTF made of it.

Usage: check_fbx_consumer.py FILE.fbx FILE.gltf

Reads the models, the take and the camera's T and R keys from the FBX text, and the
nodes, animation and samples from the glTF (with its buffer beside it). At every sample
time of the converter the FBX keys are interpolated linearly (held before the first key
and after the last) and compared: translation in the file's units (the converter's root
scale undone), rotation as the Euler angles X, Y, Z applied in that order (Rz Ry Rx).
Prints what the converter made of the file and exits 1 on any difference.
"""
import json
import math
import os
import re
import struct
import sys

FBX_TIME = 46186158000.0


def read_fbx(path):
    text = open(path, encoding="ascii").read()
    models = re.findall(r'^\tModel: "Model::([^"]+)", "(\w+)" \{', text, re.M)
    take = re.search(r'^\tTake: "([^"]+)" \{', text, re.M).group(1)
    camera = next(name for name, kind in models if kind == "Camera")
    at = text.index('\t\tModel: "Model::%s" {\n\t\t\tVersion: 1.1' % camera)
    block = text[at:text.index("\nVersion5:", at)]
    keys = {}
    for group in "TR":
        g = block.index('\t\t\t\tChannel: "%s" {' % group)
        for axis in "XYZ":
            a = block.index('\t\t\t\t\tChannel: "%s" {' % axis, g)
            end = block.index("\t\t\t\t\t\tColor:", a)
            lines = re.findall(r"^\t{7}(\d+),([-0-9.e]+),L", block[a:end], re.M)
            keys[group + axis] = [(int(t) / FBX_TIME, float(v)) for t, v in lines]
    return models, take, camera, keys


def read_gltf(path):
    g = json.load(open(path))
    buffer = open(os.path.join(os.path.dirname(path), g["buffers"][0]["uri"]), "rb").read()

    def accessor(i):
        a = g["accessors"][i]
        view = g["bufferViews"][a["bufferView"]]
        n = {"SCALAR": 1, "VEC3": 3, "VEC4": 4}[a["type"]]
        offset = view.get("byteOffset", 0) + a.get("byteOffset", 0)
        values = struct.unpack_from("<%df" % (n * a["count"]), buffer, offset)
        return [values[k * n:(k + 1) * n] for k in range(a["count"])]

    return g, accessor


def at_time(keys, t):
    if t <= keys[0][0]:
        return keys[0][1]
    for (t0, v0), (t1, v1) in zip(keys, keys[1:]):
        if t <= t1:
            return v0 + (v1 - v0) * (t - t0) / (t1 - t0)
    return keys[-1][1]


def euler_xyz_quaternion(x, y, z):
    """The quaternion (x, y, z, w) of Rz(z) Ry(y) Rx(x), angles in degrees."""
    def axis_angle(axis, degrees):
        h = math.radians(degrees) / 2
        q = [0.0, 0.0, 0.0, math.cos(h)]
        q[axis] = math.sin(h)
        return q

    def multiply(a, b):
        ax, ay, az, aw = a
        bx, by, bz, bw = b
        return [aw * bx + ax * bw + ay * bz - az * by,
                aw * by - ax * bz + ay * bw + az * bx,
                aw * bz + ax * by - ay * bx + az * bw,
                aw * bw - ax * bx - ay * by - az * bz]

    return multiply(axis_angle(2, z), multiply(axis_angle(1, y), axis_angle(0, x)))


def rotate(q, v):
    x, y, z, w = q
    m = [[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
         [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
         [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]]
    return [sum(m[i][j] * v[j] for j in range(3)) for i in range(3)]


def main(fbx_path, gltf_path):
    models, take, camera, keys = read_fbx(fbx_path)
    g, accessor = read_gltf(gltf_path)
    failures = []
    names = [n.get("name") for n in g["nodes"]]
    print("nodes:", ", ".join(names))
    for name, _ in models:
        if name not in names:
            failures.append("model %s is not a node" % name)
    animations = [a["name"] for a in g.get("animations", [])]
    print("animations:", ", ".join(animations))
    if animations != [take]:
        failures.append("take %r read as %r" % (take, animations))
        return failures
    nodes = {n.get("name"): i for i, n in enumerate(g["nodes"])}
    root = next(n for n in g["nodes"] if camera in [g["nodes"][c]["name"]
                                                    for c in n.get("children", [])])
    scale = root.get("scale", [1, 1, 1])[0]
    print("root node %s, scale %g (FBX units to the converter's)" % (root["name"], scale))
    for cam in g.get("cameras", []):
        print("camera:", json.dumps(cam))
    animation = g["animations"][0]
    worst_t = worst_r = 0.0
    samples = 0
    for channel in animation["channels"]:
        if channel["target"]["node"] != nodes[camera]:
            continue
        sampler = animation["samplers"][channel["sampler"]]
        times = [t[0] for t in accessor(sampler["input"])]
        values = accessor(sampler["output"])
        samples = len(times)
        for t, v in zip(times, values):
            if channel["target"]["path"] == "translation":
                expected = [at_time(keys["T" + a], t) for a in "XYZ"]
                worst_t = max(worst_t, max(abs(v[i] * scale - expected[i]) for i in range(3)))
            elif channel["target"]["path"] == "rotation":
                q = euler_xyz_quaternion(*[at_time(keys["R" + a], t) for a in "XYZ"])
                # The angle between two unit quaternions, well conditioned near 0.
                sign = 1.0 if sum(q[i] * v[i] for i in range(4)) >= 0 else -1.0
                chord = math.sqrt(sum((q[i] - sign * v[i]) ** 2 for i in range(4)))
                worst_r = max(worst_r, math.degrees(4 * math.asin(min(1.0, chord / 2))))
    print("camera samples: %d at %s to %s s; FBX keys: %d from %g to %g s" % (
        samples, times[0] if samples else "-", times[-1] if samples else "-",
        len(keys["TX"]), keys["TX"][0][0], keys["TX"][-1][0]))
    print("largest translation difference %.3g (file units), rotation %.3g degrees" % (
        worst_t, worst_r))
    if samples == 0:
        failures.append("no camera samples")
    if worst_t > 1e-3 * max(1.0, max(abs(v) for _, v in keys["TX"] + keys["TY"] + keys["TZ"])):
        failures.append("translation differs by %g" % worst_t)
    if worst_r > 1e-3:
        failures.append("rotation differs by %g degrees" % worst_r)
    return failures


if __name__ == "__main__":
    problems = main(sys.argv[1], sys.argv[2])
    for p in problems:
        print("DIFFERENCE:", p)
    print("FBX2glTF read the file as written" if not problems else "FBX2glTF differs")
    sys.exit(1 if problems else 0)
