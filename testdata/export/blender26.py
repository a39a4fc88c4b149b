# blender export (blender version 2.5x)
# created by TORBANE Kalvex 1.6.0
# Creation date: <date>
# USAGE: load this python script into Blender's text editor and execute the script with ALT-P
#        use the 'render_TORBANE_cam' for rendering your scene
#        use the helper object 'TORBANE_scene' to rotate, translate and scale the scene

import bpy
import mathutils
import string
import math
scene = bpy.context.scene
dummy = bpy.data.objects.new('TORBANE_scene', None)
dummy.location = (0.0, 0.0, 0.0)
dummy.rotation_euler = (0.0, 0.0, 0.0)
dummy.scale = (1.0, 1.0, 1.0)
scene.objects.link(dummy)
data = bpy.data.cameras.new('render_TORBANE_cam')
data.lens_unit = 'DEGREES'
vcam = bpy.data.objects.new('render_TORBANE_cam', data)
vcam.location = (0.0, 0.0, 0.0)
vcam.rotation_euler = (0.0, 0.0, 0.0)
vcam.scale = (1.0, 1.0, 1.0)
data.shift_x = 0.0
data.shift_y = 0.0
data.dof_distance = 0.0
data.clip_start = 0.1
data.clip_end = 1000.0
data.draw_size = 0.5
scene.objects.link(vcam)
vcam.parent = dummy
data = bpy.data.meshes.new('TORBANE_fp3d')
mesh = bpy.data.objects.new('TORBANE_fp3d', data)
mesh.location = (0.0, 0.0, 0.0)
mesh.rotation_euler = (0.0, 0.0, 0.0)
mesh.scale = (1.0, 1.0, 1.0)
scene.objects.link(mesh)
mesh.parent = dummy
render_settings = scene.render
render_settings.resolution_x = 1920
render_settings.resolution_y = 1080
render_settings.pixel_aspect_x = 100
render_settings.pixel_aspect_y = 110
render_settings.fps = 30

#Camera Parameters
scene.frame_set(100)
vcam.data.lens = 46.666667
vcam.matrix_world = ([0.984736,0.034767,-0.170547,0.000000], [0.019244,-0.995588,-0.091840,0.000000], [-0.172987,0.087156,-0.981060,0.000000], [100.500000,0.000000,-2000.000000,1.000000]) 
vcam.keyframe_insert('location')
vcam.keyframe_insert('scale')
vcam.keyframe_insert('rotation_euler')
vcam.data.keyframe_insert('lens')
scene.frame_set(101)
vcam.data.lens = 48.000000
vcam.matrix_world = ([0.943476,-0.117717,-0.309831,0.000000], [-0.026658,-0.958726,0.283079,0.000000], [-0.330366,-0.258819,-0.907673,0.000000], [150.250000,-20.500000,-1900.000000,1.000000]) 
vcam.keyframe_insert('location')
vcam.keyframe_insert('scale')
vcam.keyframe_insert('rotation_euler')
vcam.data.keyframe_insert('lens')
scene.frame_set(102)
vcam.data.lens = 51.333333
vcam.matrix_world = ([0.803167,0.188432,0.565169,0.000000], [0.386748,-0.886503,-0.254044,0.000000], [0.453154,0.422618,-0.784886,0.000000], [210.000000,-35.750000,-1750.500000,1.000000]) 
vcam.keyframe_insert('location')
vcam.keyframe_insert('scale')
vcam.keyframe_insert('rotation_euler')
vcam.data.keyframe_insert('lens')

# 3D Feature Points
verts = []
verts.append((1.000000,2.000000,3.000000)) 
verts.append((-250.500000,0.000000,1000.000000)) 
verts.append((1234567.500000,-0.000123,42.000000)) 
verts.append((0.500000,-7.250000,0.000000)) 
mesh.data.from_pydata(verts, [], [])
mesh.data.update()

