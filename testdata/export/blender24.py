# blender export 
# created by TORBANE Kalvex 1.6.0
# Creation date: <date>
# USAGE: load this python script into Blender's text editor and execute the script with ALT-P
#        use the 'render_TORBANE_cam' for rendering your scene
#        use the helper object 'TORBANE_scene' to rotate, translate and scale the scene

import Blender
version = Blender.Get('version')
from Blender import Camera, Object, Scene, NMesh
from Blender import Mathutils
from Blender.Mathutils import *
scn = Scene.getCurrent()
context = scn.getRenderingContext()
context.imageSizeX(1920)
context.imageSizeY(1080)
context.aspectRatioX(100)
context.aspectRatioY(110)
context.framesPerSec(30)
context.startFrame(11)
context.endFrame(13)
context.enablePremultiply()
context.enableSequencer(1)
Blender.Set('curframe',1)

#Camera Parameters
c0011 = Camera.New('persp')
c0011.lens = 46.666667
o0011 = Object.New('Camera')
o0011.name = "TORBANE_cam11"
o0011.setMatrix(Mathutils.Matrix([0.984736,0.034767,-0.170547,0.000000], [0.019244,-0.995588,-0.091840,0.000000], [-0.172987,0.087156,-0.981060,0.000000], [100.500000,0.000000,-2000.000000,1.000000])) 
o0011.link(c0011)
scn.link(o0011)

c0012 = Camera.New('persp')
c0012.lens = 48.000000
o0012 = Object.New('Camera')
o0012.name = "TORBANE_cam12"
o0012.setMatrix(Mathutils.Matrix([0.943476,-0.117717,-0.309831,0.000000], [-0.026658,-0.958726,0.283079,0.000000], [-0.330366,-0.258819,-0.907673,0.000000], [150.250000,-20.500000,-1900.000000,1.000000])) 
o0012.link(c0012)
scn.link(o0012)

c0013 = Camera.New('persp')
c0013.lens = 51.333333
o0013 = Object.New('Camera')
o0013.name = "TORBANE_cam13"
o0013.setMatrix(Mathutils.Matrix([0.803167,0.188432,0.565169,0.000000], [0.386748,-0.886503,-0.254044,0.000000], [0.453154,0.422618,-0.784886,0.000000], [210.000000,-35.750000,-1750.500000,1.000000])) 
o0013.link(c0013)
scn.link(o0013)


#Render camera animated with IpoCurves
crender = Camera.New('persp')
crender.lens = 35.0
crender.setDrawSize(1.0)
orender = Object.New('Camera')
orender.name = "render_TORBANE_cam"
orender.link(crender)
scn.link(orender)
scn.setCurrentCamera(orender)
ipo = Blender.Ipo.New('Object','render_cam_objipo')
orender.setIpo(ipo)
locx = ipo.addCurve('LocX')
locx.setInterpolation('Linear')
locy = ipo.addCurve('LocY')
locy.setInterpolation('Linear')
locz = ipo.addCurve('LocZ')
locz.setInterpolation('Linear')
rotx = ipo.addCurve('RotX')
rotx.setInterpolation('Linear')
roty = ipo.addCurve('RotY')
roty.setInterpolation('Linear')
rotz = ipo.addCurve('RotZ')
rotz.setInterpolation('Linear')
camipo = Blender.Ipo.New('Camera','render_cam_camipo')
crender.setIpo(camipo)
lenscurve = camipo.addCurve('Lens')
lenscurve.setInterpolation('Linear')
locx.addBezier((11,o0011.LocX))
locy.addBezier((11,o0011.LocY))
locz.addBezier((11,o0011.LocZ))
rotx.addBezier((11,o0011.RotX*18/3.141593))
roty.addBezier((11,o0011.RotY*18/3.141593))
rotz.addBezier((11,o0011.RotZ*18/3.141593))
lenscurve.addBezier((11,c0011.lens))
locx.addBezier((12,o0012.LocX))
locy.addBezier((12,o0012.LocY))
locz.addBezier((12,o0012.LocZ))
rotx.addBezier((12,o0012.RotX*18/3.141593))
roty.addBezier((12,o0012.RotY*18/3.141593))
rotz.addBezier((12,o0012.RotZ*18/3.141593))
lenscurve.addBezier((12,c0012.lens))
locx.addBezier((13,o0013.LocX))
locy.addBezier((13,o0013.LocY))
locz.addBezier((13,o0013.LocZ))
rotx.addBezier((13,o0013.RotX*18/3.141593))
roty.addBezier((13,o0013.RotY*18/3.141593))
rotz.addBezier((13,o0013.RotZ*18/3.141593))
lenscurve.addBezier((13,c0013.lens))

allob=Object.Get()
for o in allob:
   print o.name[:11]
   if o.name[:11]=='TORBANE_cam':
     scn.unlink(o)

# 3D Feature Points
ob=Object.New('Mesh','TORBANE_FP3D_cloud')
ob.setLocation(0.0,0.0,0.0)
mesh=ob.getData()
scn.link(ob)
v=NMesh.Vert(1.000000,2.000000,3.000000 ) 
mesh.verts.append(v)
v=NMesh.Vert(-250.500000,0.000000,1000.000000 ) 
mesh.verts.append(v)
v=NMesh.Vert(1234567.500000,-0.000123,42.000000 ) 
mesh.verts.append(v)
v=NMesh.Vert(0.500000,-7.250000,0.000000 ) 
mesh.verts.append(v)
mesh.update()
scn.update()

# Scene Helper Object
scene_dummy= Object.New('Empty','TORBANE_scene')
scene_dummy.setLocation(0.0, 0.0, 0.0) 
scn.link(scene_dummy)
scene_dummy.makeParent([orender,ob])

scene_dummy.setEuler([-3.141593/2.0, 0.0, 0.0])
scene_dummy.SizeX=0.2
scene_dummy.SizeY=0.2
scene_dummy.SizeZ=0.2
