#include "app/qt/q_kalvex_main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSignalMapper>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariant>
#include <algorithm>
#include <memory>
#include <vector>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"
#include "interaction/controller.h"
#include "interaction/viewer.h"
#include "scene/display_settings.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  // Before the window exists: no test may ask the network.
  static void SetUpTestSuite() { qExtras::writeAutoCheckForUpdates(false); }

  qKalvexMainWindow window;
};

TEST_F(MainWindowTest, TitleCarriesTheVersion) {
  const int major = ProductInfo::GetMajorVersion(), minor = ProductInfo::GetMinorVersion(),
            patch = ProductInfo::GetPatchVersion(), kind = ProductInfo::GetReleaseKind();
  // As start-up sets it.
  ProductInfo::SetVersion(1, 6, 0);
  ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  const qKalvexMainWindow released;
  ProductInfo::SetVersion(major, minor, patch);
  ProductInfo::SetReleaseKind(kind);
  EXPECT_EQ(released.windowTitle(), QStringLiteral("Kalvex 1.6.0"));
}

TEST_F(MainWindowTest, ConstructionLeavesTheDocumentedInitialState) {
  EXPECT_EQ(window.m_toolbox->currentIndex(), 0);
  EXPECT_TRUE(window.m_toolbox->isItemEnabled(0));
  for (int page = 1; page < 6; ++page) {
    EXPECT_FALSE(window.m_toolbox->isItemEnabled(page)) << page;
    EXPECT_FALSE(window.m_toolbox->widget(page)->isEnabled()) << page;
  }
  EXPECT_TRUE(window.m_timeline->isHidden());
  EXPECT_FALSE(window.m_undo_tb->isEnabled());
  EXPECT_FALSE(window.m_redo_tb->isEnabled());
  EXPECT_FALSE(window.m_save_project_as_tb->isEnabled());
  EXPECT_TRUE(window.m_automatic_features_pb->isChecked());
  EXPECT_EQ(window.m_export_sw->currentIndex(), 0);
  EXPECT_EQ(window.m_tracking_buttons_sw->currentWidget(), window.m_start_tracking_page);
  for (QWidget* hidden : {static_cast<QWidget*>(window.m_import_object_pb),
                          static_cast<QWidget*>(window.m_export_object_pb),
                          static_cast<QWidget*>(window.m_sequence_camera_gb),
                          static_cast<QWidget*>(window.m_show_locator_tool_help_tb)}) {
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
  }

  uic::Controller* controller = uic::Controller::Instance();
  EXPECT_NE(dynamic_cast<qCTracker*>(controller->GetCTracker()), nullptr);
  ASSERT_EQ(controller->GetMainViewer(), static_cast<uic::ViewerBase*>(window.m_viewer));
  EXPECT_EQ(window.m_viewer->m_edit_mode, uic::ViewerBase::eEditSequence);
  EXPECT_FALSE(window.m_tracking_running);
  EXPECT_FALSE(window.m_batch_mode);
  EXPECT_EQ(window.batchExitCode(), -1);

  const uic::ViewerOverlayOptions& overlay = window.m_viewer->m_overlay_options;
  EXPECT_TRUE(overlay.m_widget_text && overlay.m_corner_boxes && overlay.m_tool_indicator);
  EXPECT_EQ(overlay.m_box_color, 0xFF505050u);
  EXPECT_EQ(qExtras::buttonColor(window.m_mask_color_pb), QColor(Qt::black));
  // The transport row reads as one segmented control: first, four middles, last.
  const int kinds[] = {2, 3, 3, 3, 3, 4};
  const QWidget* transport[] = {
      window.m_timeline->m_goto_start_frame_pb, window.m_timeline->m_goto_prev_frame_pb,
      window.m_timeline->m_play_backward_pb,    window.m_timeline->m_play_forward_pb,
      window.m_timeline->m_goto_next_frame_pb,  window.m_timeline->m_goto_end_frame_pb};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(transport[i]->styleSheet(), qExtras::progressBarStyleSheet(kinds[i], false)) << i;
  }
}

TEST_F(MainWindowTest, CombosCarryTheirValuesAsItemData) {
  const auto ints = [](const QComboBox* combo) {
    std::vector<int> values;
    for (int i = 0; i < combo->count(); ++i) values.push_back(combo->itemData(i).toInt());
    return values;
  };
  struct Case {
    const QComboBox* combo;
    std::vector<int> values;
  };
  const Case cases[] = {
      {window.m_deinterlacing_cb, {0, 1, 2, 3, 4}},
      {window.m_camera_motion_constraint_cb, {0, 1}},
      {window.m_key_frame_selection_mode_cb, {5, 0}},
      {window.m_move_mode_cb, {0, 1, 2}},
      {window.m_automatic_feature_type_cb, {0, 1}},
      {window.m_consistency_check_cb, {0, 1, 2, 3}},
      {window.m_export_format_cb, {1, 2, 4, 5, 6, 7, 8, 3, 15, 19, 20, 24}},
      {window.m_export_options_cb, {0, 2, 5, 4}},
      {window.m_ui_language_cb, {1, 2}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ints(c.combo), c.values) << c.combo->objectName().toStdString();
  }
  // Appended to what the form holds.
  const std::vector<int> formats_2d = ints(window.m_export_format_2d_cb);
  ASSERT_GE(formats_2d.size(), 3u);
  EXPECT_EQ(std::vector<int>(formats_2d.end() - 3, formats_2d.end()),
            (std::vector<int>{23, 13, 14}));

  const double aspects[] = {4.0 / 3.0, 16.0 / 9.0, 2.0, 2.35, 2.4, 1.5, 1.0, 0.5};
  ASSERT_EQ(window.m_aspect_ratio_cb->count(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_DOUBLE_EQ(window.m_aspect_ratio_cb->itemData(i).toDouble(), aspects[i]) << i;
  }
  EXPECT_EQ(window.m_export_format_cb->itemText(7), QStringLiteral("Softimage 3D|XSI"));

  qExtras::selectComboByValue(window.m_aspect_ratio_cb, 1.7777, true);
  EXPECT_EQ(window.m_aspect_ratio_cb->currentText(), QStringLiteral("16:9"));
}

TEST_F(MainWindowTest, MenusListTheirActionsInMapperOrder) {
  const std::vector<QAction*> add_objects = {window.actionAddCone, window.actionAddBox,
                                             window.actionAddPlane, window.actionAddMesh,
                                             window.actionAddTexturedMesh};
  const std::vector<QAction*> tools = {window.actionSelectionToolRectangle,
                                       window.actionSelectionToolCircle,
                                       window.actionSelectionToolLasso};
  const QList<QAction*> menu = window.m_add_object_menu.actions();
  EXPECT_EQ(std::vector<QAction*>(menu.begin(), menu.end()), add_objects);
  const QList<QAction*> tool_menu = window.m_selection_tool_menu.actions();
  EXPECT_EQ(std::vector<QAction*>(tool_menu.begin(), tool_menu.end()), tools);
  // The number each action sends is its place in the menu.
  ASSERT_NE(window.m_add_object_mapper, nullptr);
  ASSERT_NE(window.m_selection_tool_mapper, nullptr);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(window.m_add_object_mapper->mapping(i), add_objects[size_t(i)]);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(window.m_selection_tool_mapper->mapping(i), tools[size_t(i)]);
  EXPECT_EQ(window.m_add_object_tb->menu(), &window.m_add_object_menu);
  EXPECT_EQ(window.m_toggle_selection_mode_tb->menu(), &window.m_selection_tool_menu);
}

TEST_F(MainWindowTest, WiredWidgetsReachEachOther) {
  // The read-only limit box follows its slider.
  window.m_limit_points_num_sld->setValue(700);
  EXPECT_EQ(window.m_limit_points_num_sb->value(), 700);
  // Feature-mode buttons reach the mode handler through their mapper.
  window.enableProjectWidgets();
  window.m_manual_features_pb->click();
  EXPECT_EQ(window.m_feature_mode, 1);
  EXPECT_EQ(window.m_tracking_sw->currentIndex(), 1);
  window.m_automatic_features_pb->click();
  EXPECT_EQ(window.m_feature_mode, 0);
}

TEST_F(MainWindowTest, ResetPushesOneViewStateAndRestoresTheDisplaySettings) {
  uic::ViewerBase* viewer = window.m_viewer;
  const size_t states = viewer->m_states.size();
  DisplaySettings::Get().color_slots[DS_SLOT_NEW_OBJECT] = 3;
  window.m_tracking_progress->setValue(40);
  window.refreshMainWindowFromController();
  EXPECT_EQ(viewer->m_states.size(), states + 1);
  DisplaySettings defaults;
  EXPECT_EQ(DisplaySettings::Get().color_slots[DS_SLOT_NEW_OBJECT],
            defaults.color_slots[DS_SLOT_NEW_OBJECT]);
  EXPECT_EQ(window.m_tracking_progress->value(), 0);
  EXPECT_EQ(window.m_toolbox->currentIndex(), 0);
}

TEST_F(MainWindowTest, DestroyedWindowLeavesNoMainViewerBehind) {
  auto second = std::make_unique<qKalvexMainWindow>();
  uic::ViewerBase* viewer = second->m_viewer;
  second.reset();
  const auto& viewers = uic::Controller::Instance()->GetViewers();
  EXPECT_EQ(std::count(viewers.begin(), viewers.end(), viewer), 0);
  EXPECT_NE(uic::Controller::Instance()->GetMainViewer(), viewer);
}

TEST(MainWindowUpdateCheck, AsksTheServerOnlyWhenAutomaticChecksAreOn) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const QString server_before = qExtras::readUpdateServer();
  qExtras::writeUpdateServer(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
  // Whether building a window makes the server hear from it within wait_ms.
  const auto asked = [&server](bool automatic, int wait_ms) {
    qExtras::writeAutoCheckForUpdates(automatic);
    const qKalvexMainWindow window;
    QElapsedTimer clock;
    clock.start();
    while (!server.hasPendingConnections() && clock.elapsed() < wait_ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const bool heard = server.hasPendingConnections();
    while (server.hasPendingConnections()) delete server.nextPendingConnection();
    return heard;
  };
  EXPECT_FALSE(asked(false, 500));
  // The same set-up does reach the server when checks are on.
  EXPECT_TRUE(asked(true, 10000));
  qExtras::writeUpdateServer(server_before);
  qExtras::writeAutoCheckForUpdates(false);
}

// The view-state access of the viewer logic that the window's pages use.
TEST(ViewerStateAccess, EmptyStackReadsTheDefaultAndIgnoresWrites) {
  uic::Viewer viewer;
  viewer.m_states.clear();
  const uic::ViewerState& state = viewer.GetViewerState();
  EXPECT_EQ(state.m_mode, 0);
  EXPECT_EQ(state.m_flags, 0x1F026CF);
  EXPECT_EQ(state.m_history_before, 30);
  EXPECT_EQ(state.m_history_after, 30);
  viewer.SetViewerState(uic::ViewerState{1, 0x2F01, 5, 6});
  EXPECT_TRUE(viewer.m_states.empty());

  viewer.PushViewerState(uic::ViewerState{});
  viewer.PushViewerState(uic::ViewerState{});
  viewer.m_view_changed = false;
  viewer.SetViewerState(uic::ViewerState{1, 0x2F01, 5, 6});
  ASSERT_EQ(viewer.m_states.size(), 2u);
  EXPECT_EQ(viewer.GetViewerState().m_flags, 0x2F01);
  EXPECT_EQ(viewer.m_states.front().m_flags, 0x1F026CF);
  EXPECT_TRUE(viewer.m_view_changed);
}

}  // namespace
