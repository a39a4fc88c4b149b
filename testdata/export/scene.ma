//Maya ASCII 1.0 scene file
//Created by TORBANE Kalvex 1.6.0
//Creation date: Thu Jun 14 09:05:03 2012
//Frame index in TORBANE: 10 - 12
//File index: 100 - 102
// USAGE: import this maya script file into maya
//        use the 'TORBANECam' for rendering your scene
//        use the locator object 'TORBANE_scene' to rotate, translate and scale the scene

requires maya "6.0";
//requires maya "1.0";
currentUnit -l millimeter -a degree -t pal;
playbackOptions -min 10 -max 12 -animationStartTime 10 -animationEndTime 12;

// the five next lines set global render attributes
select -ne defaultResolution;
	 setAttr ".w" 1920;
	 setAttr ".h" 1080;
	 setAttr ".dar" 1.61616;
	 setAttr ".ldar" yes;

// the locator object 'TORBANE_scene' can be used to translate, rotate and scale the scene
createNode transform -n "TORBANE_scene";
	 setAttr ".s" -type "double3" 1.0 1.0 1.0;
createNode locator -n "TORBANE_scene_shape" -p "TORBANE_scene";
	 setAttr -k off ".v";

// the camera and its animCurve
createNode transform -n "TORBANECam" -p "TORBANE_scene";
	 setAttr ".ro" 2;
	 setAttr ".s" -type "double3" 0.4 0.4 0.4;
createNode camera -n "TORBANECam_Shape" -p "TORBANECam";
	 setAttr -k off ".v";
	 setAttr ".cap" -type "double2" 0.755906 0.467717;
	 setAttr ".ff" 0;
	 setAttr ".imn" -type "string" "TORBANECam";
	 setAttr ".den" -type "string" "TORBANECam_depth";
	 setAttr ".man" -type "string" "TORBANECam_mask";

createNode animCurveTU -n "TORBANECam_focalLength";
	 setAttr -s 13 ".ktv[10:12]" 10 35 11 36 12 37.5 ;
createNode animCurveTL -n "TORBANECam_translateX";
	 setAttr -s 13 ".ktv[10:12]" 10 0 11 120.5 12 250 ;
createNode animCurveTL -n "TORBANECam_translateY";
	 setAttr -s 13 ".ktv[10:12]" 10 -0 11 40.25 12 80 ;
createNode animCurveTL -n "TORBANECam_translateZ";
	 setAttr -s 13 ".ktv[10:12]" 10 -0 11 -300 12 -650.125 ;
createNode animCurveTA -n "TORBANECam_rotateX";
	 setAttr -s 13 ".ktv[10:12]" 10 -0 11 -10 12 15 ;
createNode animCurveTA -n "TORBANECam_rotateY";
	 setAttr -s 13 ".ktv[10:12]" 10 -0 11 -20 12 35 ;
createNode animCurveTA -n "TORBANECam_rotateZ";
	 setAttr -s 13 ".ktv[10:12]" 10 -0 11 -5 12 8 ;
connectAttr "TORBANECam_translateX.o" "TORBANECam.tx";
connectAttr "TORBANECam_translateY.o" "TORBANECam.ty";
connectAttr "TORBANECam_translateZ.o" "TORBANECam.tz";
connectAttr "TORBANECam_rotateX.o" "TORBANECam.rx";
connectAttr "TORBANECam_rotateY.o" "TORBANECam.ry";
connectAttr "TORBANECam_rotateZ.o" "TORBANECam.rz";
connectAttr "TORBANECam_focalLength.o" "TORBANECam_Shape.fl";

createNode script -n "animationScriptNode";
	 setAttr ".a" -type "string" (
"playbackOptions -min 10 -max 12 -animationStartTime 10 -animationEndTime 12 -fps 25;");
select -ne :time1;
	 setAttr ".o" 0;

// 3D feature points
createNode transform -n "auto_0" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" 1.5 2.25 -3000;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_0Shape" -p "auto_0";
	 setAttr -k off ".v";
createNode transform -n "auto_1" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" -10 -20.125 -2500.5;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_1Shape" -p "auto_1";
	 setAttr -k off ".v";
createNode transform -n "auto_2" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" -0 -0 -1000;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_2Shape" -p "auto_2";
	 setAttr -k off ".v";
createNode transform -n "auto_3" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" 1e-05 -7 1.23457e+06;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_3Shape" -p "auto_3";
	 setAttr -k off ".v";
createNode transform -n "auto_4" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" 100 -200 -300;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_4Shape" -p "auto_4";
	 setAttr -k off ".v";
createNode transform -n "auto_5" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" -100.25 -0.5 -4000;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_5Shape" -p "auto_5";
	 setAttr -k off ".v";
createNode transform -n "auto_6" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" 33.3333 66.6 -999;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_6Shape" -p "auto_6";
	 setAttr -k off ".v";
createNode transform -n "auto_7" -p "TORBANE_scene";
	 setAttr ".t" -type "double3" 5 -5 -5;
	 setAttr ".s" -type "double3" 0.05 0.05 0.05;
createNode locator -n "auto_7Shape" -p "auto_7";
	 setAttr -k off ".v";
