fps 25
frange 0 1
opcf /obj
opadd null TORBANE_scene
opparm TORBANE_scene r (0 0 180)
oplocate -x 0 -y 0 TORBANE_scene
objparent off
opadd cam TORBANE_cam
oplocate -x 0 -y -1 TORBANE_cam
opwire TORBANE_scene -0 TORBANE_cam
opparm TORBANE_cam res ( 720 576 )
opparm TORBANE_cam aspect 0.909091
opparm TORBANE_cam focal (35 ) aperture (36) rOrd ( xyz )
viewcamera -c TORBANE_cam Build.pane1.world.persp1 
opparm TORBANE_cam t (100 -50 2000) r (160 30 5)
chadd TORBANE_cam tx ty tz rx ry rz
fcur 0
chkey -f 0 -v 100 TORBANE_cam/tx
chkey -f 0 -v -50 TORBANE_cam/ty
chkey -f 0 -v 2000 TORBANE_cam/tz
chkey -f 0 -v 160 TORBANE_cam/rx
chkey -f 0 -v 30 TORBANE_cam/ry
chkey -f 0 -v 5 TORBANE_cam/rz
chcommit
fcur 1
chkey -f 1 -v 150.5 TORBANE_cam/tx
chkey -f 1 -v -40.25 TORBANE_cam/ty
chkey -f 1 -v 1990 TORBANE_cam/tz
chkey -f 1 -v 162 TORBANE_cam/rx
chkey -f 1 -v 35 TORBANE_cam/ry
chkey -f 1 -v 4 TORBANE_cam/rz
chcommit
opadd null FeaturePoint0
oplocate -x 0 -y -2 FeaturePoint0
opwire TORBANE_scene -0 FeaturePoint0
opparm FeaturePoint0 s (1 1 1)
opparm FeaturePoint0 t (1.5 -2.25 3000 )
opadd null FeaturePoint1
oplocate -x 1 -y -2 FeaturePoint1
opwire TORBANE_scene -0 FeaturePoint1
opparm FeaturePoint1 s (1 1 1)
opparm FeaturePoint1 t (-10 0 2500.5 )
opcf /
