# Runs inside Blender (see check_blender_exports.sh): loads one exported file and compares
# the camera Blender builds from it, frame by frame, with the cameras the export fixture
# was made from (export/writers/export_fixture_for_test.h).
#   blender -b --factory-startup --python-exit-code 1 -P check_blender_exports.py -- bpy FILE
#   blender -b --factory-startup --python-exit-code 1 -P check_blender_exports.py -- dae FILE
#   blender -b --factory-startup --python-exit-code 1 -P check_blender_exports.py -- objects FILE
# The last loads the document with the user objects (export/writers/user_objects_for_test.h)
# and compares each mesh's place below the root and its vertex and face counts.
import math
import sys

import bpy
import mathutils

# image index, file index, centre, pan, tilt, roll (degrees), f (mm), W, H, sx, sy
CAMERAS = [
    (10, 100, (100.5, 0.0, -2000.0), 10, 5, 2, 35.0, 1920, 1080, 0.0125, 0.01375),
    (11, 101, (150.25, -20.5, -1900.0), 20, -15, -7, 36.0, 1920, 1080, 0.0125, 0.01375),
    (12, 102, (210.0, -35.75, -1750.5), -30, 25, 12, 38.5, 1920, 1080, 0.0125, 0.01375),
]
FPS = 29.97
TOLERANCE = 1e-5


def rotation(pan, tilt, roll):
    """Ry(pan) Rx(tilt) Rz(roll): the columns are the image right, image down and viewing axes."""
    r = math.radians
    return (mathutils.Matrix.Rotation(r(pan), 3, 'Y') @ mathutils.Matrix.Rotation(r(tilt), 3, 'X')
            @ mathutils.Matrix.Rotation(r(roll), 3, 'Z'))


def camera_to_world(camera):
    """The tracking camera as a Blender camera: y up in the image, looking along its -z."""
    _, _, c, pan, tilt, roll = camera[:6]
    m = (rotation(pan, tilt, roll) @ mathutils.Matrix.Diagonal((1, -1, -1))).to_4x4()
    m.translation = c
    return m


def close(a, b):
    return abs(a - b) <= TOLERANCE * max(1.0, abs(a), abs(b))


failures = []


def compare_matrix(label, got, want):
    worst = max(abs(got[i][j] - want[i][j]) / max(1.0, abs(want[i][j]))
                for i in range(4) for j in range(4))
    print(f"{label}: largest relative matrix difference {worst:.2e}")
    if worst > TOLERANCE:
        failures.append(label)
        print("  got ", [list(row) for row in got])
        print("  want", [list(row) for row in want])


def compare_value(label, got, want):
    print(f"{label}: {got:.6f} (expected {want:.6f})")
    if not close(got, want):
        failures.append(label)


def check_bpy_script(path):
    # The script targets Blender 2.6x; later releases renamed four things. The shim renames
    # them and leaves every number as the export wrote it.
    text = open(path).read()
    for old, new in (("scene.objects.link(", "scene.collection.objects.link("),
                     ("data.draw_size", "data.display_size"),
                     ("data.dof_distance", "data.dof.focus_distance"),
                     ("data.lens_unit = 'DEGREES'", "data.lens_unit = 'FOV'")):
        text = text.replace(old, new)
    exec(compile(text, path, "exec"), {"__name__": "__main__"})
    scene = bpy.context.scene
    vcam = bpy.data.objects["render_TORBANE_cam"]
    print(f"render {scene.render.resolution_x} x {scene.render.resolution_y}, pixel aspect "
          f"{scene.render.pixel_aspect_x}:{scene.render.pixel_aspect_y}, fps {scene.render.fps}")
    if (scene.render.resolution_x, scene.render.resolution_y, scene.render.fps) != (1920, 1080, 30):
        failures.append("render settings")
    for camera in CAMERAS:
        frame, f, width, sx = camera[1], camera[6], camera[7], camera[9]
        scene.frame_set(frame)
        compare_matrix(f"frame {frame} world matrix", vcam.matrix_world, camera_to_world(camera))
        compare_value(f"frame {frame} lens", vcam.data.lens, f * 32.0 / (sx * width))
    points = bpy.data.objects["TORBANE_fp3d"].data.vertices
    print(f"{len(points)} points, first {tuple(points[0].co)}")


def check_collada(path):
    bpy.ops.wm.collada_import(filepath=path)
    scene = bpy.context.scene
    cams = [o for o in scene.objects if o.type == 'CAMERA']
    print("objects:", sorted(o.name for o in scene.objects))
    print("cameras:", [o.name for o in cams])
    imported = [o for o in cams if o.name.startswith("Camera") and o.animation_data]
    if len(imported) != 1:
        failures.append("one animated camera")
        return
    cam = imported[0]
    # The importer keeps the document's frame (Y up, the tracking system turned by 180
    # degrees about X) below the root node, which carries the unit and the axis change.
    root = cam.parent
    print(f"root {root.name}: world matrix {[list(map(lambda v: round(v, 6), row)) for row in root.matrix_world]}")
    flip = mathutils.Matrix.Diagonal((1, -1, -1, 1))
    for i, camera in enumerate(CAMERAS):
        # Key i sits at i / fps seconds: the importer's frame i / fps * scene fps (from 0).
        frame = i / FPS * scene.render.fps / scene.render.fps_base
        scene.frame_set(int(math.floor(frame)), subframe=frame - math.floor(frame))
        want = flip @ camera_to_world(camera)
        local = cam.matrix_local
        compare_value(f"key {i} distance to the root", local.translation.length,
                      want.translation.length)
        compare_matrix(f"key {i} centre", mathutils.Matrix.Translation(local.translation),
                       mathutils.Matrix.Translation(want.translation))
        # Blender's importer turns the animated rotate elements into an XYZ Euler (applied
        # X, then Y, then Z) whatever their order in the node; the document's order is
        # rotateY, rotateX, rotateZ. Compare the angles Blender read, and say whether the
        # pose itself came through.
        _, pan, tilt, roll = camera[2:6]
        euler = cam.rotation_euler
        compare_value(f"key {i} rotateX (tilt)", math.degrees(euler.x), tilt)
        compare_value(f"key {i} rotateY (-pan)", math.degrees(euler.y), -pan)
        compare_value(f"key {i} rotateZ (-roll)", math.degrees(euler.z), -roll)
        pose = local.to_3x3().normalized()
        worst = max(abs(pose[r][c] - want[r][c]) for r in range(3) for c in range(3))
        print(f"key {i} orientation as Blender shows it: largest difference {worst:.2e}"
              f"{' (the importer applied the rotations in X, Y, Z order)' if worst > 1e-4 else ''}")
        f, width, sx = camera[6], camera[7], camera[9]
        xfov = 2.0 * math.degrees(math.atan(width * sx / (2.0 * f)))
        compare_value(f"key {i} horizontal angle", math.degrees(cam.data.angle_x), xfov)
    points = [o for o in scene.objects if o.name.startswith("auto_")]
    print(f"{len(points)} point nodes")


def placed(turn_y, x, y, z):
    """A turn about Y (degrees), then a move: an object's transform in the scene."""
    m = mathutils.Matrix.Rotation(math.radians(turn_y), 4, 'Y')
    m.translation = (x, y, z)
    return m


# geometry: (transform in the scene, vertices, faces, textured)
BOX = placed(30, -100, 0, 500)
OBJECTS = {
    "Camera_1-geom": (placed(0, 10, 20, 30), 4, 1, False),
    "Box-geom": (BOX, 8, 6, False),
    "Box_1-geom": (BOX @ placed(0, 25, 40, 15), 9, 9, False),  # nested in the box
    "My_Photo-geom": (placed(0, 0, 0, 0), 4, 2, True),
    "Hidden-geom": (placed(0, 0, 0, 0), 8, 6, False),
}


def check_objects(path):
    bpy.ops.wm.collada_import(filepath=path)
    scene = bpy.context.scene
    root = next(o for o in scene.objects if o.name.endswith("SceneNode"))
    flip = mathutils.Matrix.Diagonal((1, -1, -1, 1))
    found = 0
    for o in scene.objects:
        if o.type != 'MESH' or o.data.name not in OBJECTS:
            continue
        found += 1
        scene_transform, vertices, faces, textured = OBJECTS[o.data.name]
        # Below the root the document's frame: the scene turned by 180 degrees about X.
        compare_matrix(f"{o.name} ({o.data.name}) place", root.matrix_world.inverted() @ o.matrix_world,
                       flip @ scene_transform)
        materials = [m.name for m in o.data.materials if m]
        print(f"  {len(o.data.vertices)} vertices, {len(o.data.polygons)} faces, materials {materials}")
        if (len(o.data.vertices), len(o.data.polygons), bool(materials)) != (vertices, faces, textured):
            failures.append(f"{o.data.name} counts")
    if found != len(OBJECTS):
        failures.append(f"{found} of {len(OBJECTS)} meshes")


mode, path = sys.argv[sys.argv.index("--") + 1:][:2]
if mode == "bpy":
    check_bpy_script(path)
elif mode == "objects":
    check_objects(path)
else:
    check_collada(path)
if failures:
    print("MISMATCH:", ", ".join(failures))
    sys.exit(1)
print("all cameras match")
