# A shot rendered by Blender's path tracer (Cycles on the CPU) with exactly known cameras,
# for the solve benchmark: textured boxes on a ground plane before a wall, glossy
# materials whose shading changes with the view, a sun with hard shadows, the renderer's
# pixel filter (anti-aliasing) and its sampling noise. Writes DIR/img%04d.png (grey) and
# DIR/cameras.txt in kx_render_sequence's format (pixel centres at integer coordinates).
#
#   blender -b -P path_traced_shot.py -- --out=DIR --shot=dolly|walk|handheld|pan
#       [--frames=N] [--width=W] [--height=H] [--samples=S] [--threads=T] [--seeds=N]
#
# dolly: sideways with a slow pan, 30 mm a frame (120 frames make the full arc);
# walk: forward with a slight bob (little parallax); handheld: the dolly with shake
# (smooth random turns and offsets) and motion blur; pan: a tripod pan, 0.25 degrees a
# frame. --seeds=N also writes DIR/seeds.txt: per frame pair, N corners of frame k on
# one surface that frame k + 1 sees, with their true positions in both frames.
import math
import os
import random
import sys

import bpy
import numpy as np
from mathutils import Matrix, Vector

args = dict(a[2:].split("=", 1) for a in sys.argv[sys.argv.index("--") + 1:] if "=" in a)
out = args["out"]
shot = args.get("shot", "dolly")
frames = int(args.get("frames", 120))
W, H = int(args.get("width", 1280)), int(args.get("height", 720))
samples = int(args.get("samples", 16))
seeds = int(args.get("seeds", 0))
random.seed(7)

bpy.ops.wm.read_factory_settings(use_empty=True)
sc = bpy.context.scene
sc.render.engine = "CYCLES"
sc.cycles.device = "CPU"
sc.cycles.samples = samples
sc.cycles.use_denoising = False
sc.cycles.use_adaptive_sampling = False
sc.cycles.max_bounces = 3
sc.cycles.seed = 0
sc.cycles.use_animated_seed = True  # fresh noise every frame, as a camera gives
sc.render.threads_mode = "FIXED"
sc.render.threads = int(args.get("threads", 3))
sc.render.resolution_x, sc.render.resolution_y = W, H
sc.render.resolution_percentage = 100
sc.render.image_settings.file_format = "PNG"
sc.render.image_settings.color_mode = "BW"
sc.view_settings.view_transform = "Standard"
sc.frame_start, sc.frame_end = 0, frames - 1


def material(name, seed, base):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    nt = m.node_tree
    bsdf = nt.nodes["Principled BSDF"]
    bsdf.inputs["Roughness"].default_value = 0.35
    bsdf.inputs["Specular"].default_value = 0.6
    coords = nt.nodes.new("ShaderNodeTexCoord")
    voronoi = nt.nodes.new("ShaderNodeTexVoronoi")
    voronoi.inputs["Scale"].default_value = 6.0 + 2 * seed
    noise = nt.nodes.new("ShaderNodeTexNoise")
    noise.inputs["Scale"].default_value = 9.0 + 2 * seed
    noise.inputs["Detail"].default_value = 4.0
    checker = nt.nodes.new("ShaderNodeTexChecker")
    checker.inputs["Scale"].default_value = 0.7 + 0.3 * seed
    for tex in (voronoi, noise, checker):
        nt.links.new(coords.outputs["Object"], tex.inputs["Vector"])
    product = nt.nodes.new("ShaderNodeMath")
    product.operation = "MULTIPLY"
    nt.links.new(voronoi.outputs["Distance"], product.inputs[0])
    nt.links.new(noise.outputs["Fac"], product.inputs[1])
    mix = nt.nodes.new("ShaderNodeMixRGB")
    mix.inputs["Fac"].default_value = 0.2
    nt.links.new(product.outputs[0], mix.inputs[1])
    nt.links.new(checker.outputs["Fac"], mix.inputs[2])
    ramp = nt.nodes.new("ShaderNodeValToRGB")
    ramp.color_ramp.elements[0].color = (0.03, 0.03, 0.03, 1)
    ramp.color_ramp.elements[1].color = base
    nt.links.new(mix.outputs[0], ramp.inputs["Fac"])
    nt.links.new(ramp.outputs["Color"], bsdf.inputs["Base Color"])
    return m


def grey(lo, hi):
    return (random.uniform(lo, hi), random.uniform(lo, hi), random.uniform(lo, hi), 1)


bpy.ops.mesh.primitive_plane_add(size=60, location=(0, 0, 0))
bpy.context.object.data.materials.append(material("ground", 0, (0.8, 0.75, 0.7, 1)))
for i in range(14):
    x, y, s = random.uniform(-7, 7), random.uniform(4, 16), random.uniform(0.5, 1.6)
    bpy.ops.mesh.primitive_cube_add(size=1, location=(x, y, s * 0.6))
    box = bpy.context.object
    box.scale = (s, s * random.uniform(0.6, 1.4), s * 1.2)
    box.rotation_euler = (0, 0, random.uniform(0, math.pi))
    box.data.materials.append(material("box%d" % i, 1 + i % 4, grey(0.5, 0.9)))
bpy.ops.mesh.primitive_plane_add(size=40, location=(0, 20, 10), rotation=(math.pi / 2, 0, 0))
bpy.context.object.data.materials.append(material("wall", 2, (0.7, 0.7, 0.75, 1)))
bpy.ops.object.light_add(type="SUN", location=(0, 0, 10))
sun = bpy.context.object
sun.data.energy = 4.0
sun.data.angle = 0.0  # a point-like sun: hard shadows
sun.rotation_euler = (math.radians(62), math.radians(-20), math.radians(30))
sc.world = bpy.data.worlds.new("sky")
sc.world.use_nodes = True
sc.world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.6

lens = bpy.data.cameras.new("lens")
lens.sensor_fit = "HORIZONTAL"
lens.sensor_width = 36.0
lens.lens = 36.0 * 1000.0 / 1280.0  # 1000 px at 1280 wide
camera = bpy.data.objects.new("camera", lens)
sc.collection.objects.link(camera)
sc.camera = camera
focal = lens.lens / lens.sensor_width * W

# Smooth shake: a few sines of random phase per axis.
phase = [[random.uniform(0, 2 * math.pi) for _ in range(3)] for _ in range(6)]


def shake(axis, k):
    p = phase[axis]
    return (math.sin(0.31 * k + p[0]) + 0.6 * math.sin(0.83 * k + p[1]) +
            0.3 * math.sin(2.1 * k + p[2])) / 1.9


def pose(k):
    """Camera centre and Blender rotation (camera looks along its -Z, +Y up) of frame k."""
    yaw, pitch, roll = 0.0, math.radians(-6.0), 0.0
    if shot == "pan":
        c = Vector((0.0, -4.0, 1.6))
        yaw = math.radians(0.25 * (k - frames / 2))
    elif shot == "walk":
        c = Vector((0.02 * math.sin(0.4 * k), -6.0 + 0.04 * k, 1.6 + 0.01 * math.sin(0.8 * k)))
        yaw = math.radians(0.05 * k)
    else:
        c = Vector((-1.8 + 0.03 * k, -4.0 + 0.008 * k, 1.6 + 0.002 * k))
        yaw = math.radians(6.0 - 0.1 * k)
        if shot == "handheld":
            c += Vector((shake(0, k), shake(1, k), shake(2, k))) * 0.02
            yaw += math.radians(0.4 * shake(3, k))
            pitch += math.radians(0.4 * shake(4, k))
            roll += math.radians(0.3 * shake(5, k))
    turn = (Matrix.Rotation(yaw, 4, "Z") @ Matrix.Rotation(math.radians(90), 4, "X") @
            Matrix.Rotation(pitch, 4, "X") @ Matrix.Rotation(roll, 4, "Z"))
    return c, turn


os.makedirs(out, exist_ok=True)
cams = []
with open(os.path.join(out, "cameras.txt"), "w") as f:
    f.write("# frame fx fy cx cy k1 R00 R01 R02 R10 R11 R12 R20 R21 R22 Cx Cy Cz; %dx%d "
            "path-traced %s\n" % (W, H, shot))
    for k in range(frames):
        c, turn = pose(k)
        rot = turn.to_3x3()
        R = Matrix((rot.col[0], -rot.col[1], -rot.col[2]))  # rows: right, down, forward
        cams.append((c, R))
        camera.matrix_world = Matrix.Translation(c) @ turn
        camera.keyframe_insert("location", frame=k)
        camera.keyframe_insert("rotation_euler", frame=k)
        f.write("%d %.17g %.17g %.17g %.17g 0" % (k, focal, focal, W / 2 - 0.5, H / 2 - 0.5))
        for row in R:
            f.write(" %.17g %.17g %.17g" % tuple(row))
        f.write(" %.17g %.17g %.17g\n" % tuple(c))
for curve in camera.animation_data.action.fcurves:
    for key in curve.keyframe_points:
        key.interpolation = "LINEAR"
if shot == "handheld":
    sc.render.use_motion_blur = True
    sc.render.motion_blur_shutter = 0.5  # centred on the frame: the true camera is mid-shutter

for k in range(frames):
    sc.frame_set(k)
    sc.render.filepath = os.path.join(out, "img%04d.png" % k)
    bpy.ops.render.render(write_still=True)

if seeds > 0:
    deps = bpy.context.evaluated_depsgraph_get()

    def ray(c, R, x, y):
        return (R.transposed() @ Vector(((x - W / 2 + 0.5) / focal, (y - H / 2 + 0.5) / focal,
                                         1.0))).normalized()

    def corners(path, n):
        img = bpy.data.images.load(path)
        px = np.array(img.pixels[:], dtype=np.float32).reshape(H, W, 4)[::-1, :, 0] * 255.0
        bpy.data.images.remove(img)
        gx, gy = np.zeros_like(px), np.zeros_like(px)
        gx[:, 1:-1] = (px[:, 2:] - px[:, :-2]) / 2
        gy[1:-1, :] = (px[2:, :] - px[:-2, :]) / 2

        def box(a, r=3):
            s = np.cumsum(np.cumsum(np.pad(a, ((r + 1, r), (r + 1, r))), 0), 1)
            return (s[2 * r + 1:, 2 * r + 1:] - s[:-2 * r - 1, 2 * r + 1:] -
                    s[2 * r + 1:, :-2 * r - 1] + s[:-2 * r - 1, :-2 * r - 1])

        a, b, c = box(gx * gx), box(gx * gy), box(gy * gy)
        score = (a + c) / 2 - np.sqrt(((a - c) / 2) ** 2 + b * b)
        m = 24
        score[:m, :] = score[-m:, :] = 0
        score[:, :m] = score[:, -m:] = 0
        taken = np.zeros((H // 10 + 1, W // 10 + 1), bool)
        found = []
        for index in np.argsort(score.ravel())[::-1][:200000]:
            y, x = divmod(int(index), W)
            if not taken[y // 10, x // 10]:
                taken[y // 10, x // 10] = True
                found.append((x, y))
                if len(found) >= n:
                    break
        return found

    with open(os.path.join(out, "seeds.txt"), "w") as f:
        f.write("# k x_k y_k x_k1 y_k1 (pixel centres at integers)\n")
        for k in range(frames - 1):
            (c0, R0), (c1, R1) = cams[k], cams[k + 1]
            got = 0
            for x, y in corners(os.path.join(out, "img%04d.png" % k), 3 * seeds):
                hit, X, *_ = sc.ray_cast(deps, c0, ray(c0, R0, x, y))
                if not hit:
                    continue
                z0 = (R0 @ (X - c0)).z
                # One surface under the window's centre: no occluding edge within 2 px.
                flat = True
                for ex, ey in ((2, 0), (-2, 0), (0, 2), (0, -2)):
                    h2, X2, *_ = sc.ray_cast(deps, c0, ray(c0, R0, x + ex, y + ey))
                    flat = flat and h2 and abs((R0 @ (X2 - c0)).z - z0) <= 0.02 * z0
                d = X - c1
                seen, at, *_ = sc.ray_cast(deps, c1, d.normalized(), distance=d.length + 1.0)
                if not flat or not seen or (at - X).length > 1e-3 * d.length:
                    continue
                p = R1 @ d
                u, v = focal * p.x / p.z + W / 2 - 0.5, focal * p.y / p.z + H / 2 - 0.5
                if p.z <= 0 or u < 24 or v < 24 or u > W - 25 or v > H - 25:
                    continue
                f.write("%d %.3f %.3f %.4f %.4f\n" % (k, x, y, u, v))
                got += 1
                if got >= seeds:
                    break
