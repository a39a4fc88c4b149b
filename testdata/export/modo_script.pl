# perl
# Modo export 
# created by TORBANE Kalvex 1.6.0
# Creation date: <date>
lx('scene.new');
lx('item.create groupLocator {Kalvex_Scene}');
$kal_sequence_id = &getItemIdByName("Kalvex_Scene");
lx('time.fpsCustom [25]');
lx('time.range scene out:[2]');
lx('time.range scene 0');
$kal_render_id = &getItemId("polyRender");
lx('render.res [0] 720');
lx('render.res [1] 576');
lx("select.subItem $kal_render_id set textureLayer;locator;render;environment;mediaClip");
lx('item.channel first 0');
lx('item.channel last 2');
lx('item.channel pAspect 0.9090909091');
lx('item.create camera {Kalvex_Camera}');
lx("item.parent {Kalvex_Camera} $kal_sequence_id 0 1");
lx('item.channel apertureX [36.0000000000 mm] set');
lx('item.channel apertureY [31.6800000000 mm] set');
lx('item.channel focalLen [35.0000000000 mm] set');
lx('anim.autoKey all');
lx('render.camera {Kalvex_Camera}');

lx('clip.addSequence "<dir>/it\'s "q" $HOME @x/sh"o$t@_0001.pgm"');
$environment_id = &getItemId("environment");
lx("select.subItem $environment_id set textureLayer;locator;render;environment;mediaClip");
lx('shader.create constant');
lx('item.setType {Image Map}');
lx('texture.setIMap "sh"o$t@_[####]"');
lx("texture.parent $environment_id 1");
$texture_id = &getItemIdByName("sh\"o\$t\@_[####] (Image) (Texture)");
lx("select.subItem $texture_id set ;locator");
lx("item.parent $texture_id $kal_sequence_id 0 1");
lx('item.channel txtrLocator$projType 5');
lx('texture.setCamera {Kalvex_Camera}');
lx('select.item {Kalvex_Camera}');

lx("select.time [ 10] [0] [0]");
lx('transform.channel pos.X [100.0000000000 in] set');
lx('transform.channel pos.Y [50.0000000000 in] set');
lx('transform.channel pos.Z [-2000.0000000000 in] set');
lx('transform.channel rot.X -20.0000000000 set');
lx('transform.channel rot.Y -30.0000000000 set');
lx('transform.channel rot.Z -5.0000000000 set');

lx("select.time [ 11] [0] [0]");
lx('transform.channel pos.X [150.5000000000 in] set');
lx('transform.channel pos.Y [40.2500000000 in] set');
lx('transform.channel pos.Z [-1990.0000000000 in] set');
lx('transform.channel rot.X -18.0000000000 set');
lx('transform.channel rot.Y -35.0000000000 set');
lx('transform.channel rot.Z -4.0000000000 set');

lx('edit.apply');
lx('select.time [0 f] [0] [0]');
lx('item.create locator {Kalvex Features}');
$feature_parent_id = &getItemIdByName("Kalvex Features");
lx("item.parent $feature_parent_id $kal_sequence_id 0 1");

lx("item.create locator FeaturePoint0");
lx('transform.channel pos.X [1.5000000000 in] set');
lx('transform.channel pos.Y [2.2500000000 in] set');
lx('transform.channel pos.Z [-3000.0000000000 in] set');
lx('transform.channel scl.X 0.05 set');
lx('transform.channel scl.Y 0.05 set');
lx('transform.channel scl.Z 0.05 set');
$feature_point_id = &getItemIdByName("FeaturePoint0");
lx("item.parent $feature_point_id $feature_parent_id");

lx("item.create locator FeaturePoint1");
lx('transform.channel pos.X [-10.0000000000 in] set');
lx('transform.channel pos.Y [-0.0000000000 in] set');
lx('transform.channel pos.Z [-2500.5000000000 in] set');
lx('transform.channel scl.X 0.05 set');
lx('transform.channel scl.Y 0.05 set');
lx('transform.channel scl.Z 0.05 set');
$feature_point_id = &getItemIdByName("FeaturePoint1");
lx("item.parent $feature_point_id $feature_parent_id");




sub getItemIdByName {
	($item_name) = @_;
	$n = lxq("query sceneservice item.N ?");
	for($i = 0;$i < $n; $i++) {
		my $type = lxq("query sceneservice item.name ? $i");
		if($type eq $item_name) {
			$item_id = lxq("query sceneservice item.Id ? $i");
			return $item_id;
		}
	}
}
sub getItemId {
	($item_name) = @_;
	$n = lxq("query sceneservice item.N ?");
	for($i = 0;$i < $n; $i++) {
		my $type = lxq("query sceneservice item.type ? $i");
		if($type eq $item_name) {
			$item_id = lxq("query sceneservice item.Id ? $i");
			return $item_id;
		}
	}
}
