#include "app/qt/q_viewer.h"

#include <QAction>
#include <QBitmap>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFont>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QResizeEvent>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/qt/q_extras.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "scene/scene.h"

namespace {

constexpr int kZoomWaitMs = 1000;
constexpr int kZoomFadeStepMs = 25;
constexpr double kZoomFadeStep = 0.05;

int ModifierCode(Qt::KeyboardModifiers modifiers) {
  return ((modifiers & Qt::ShiftModifier) ? uic::ViewerBase::kKeyShift : 0) |
         ((modifiers & Qt::ControlModifier) ? uic::ViewerBase::kKeyCtrl : 0);
}

bool IsModifierKey(int key) {
  return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
         key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

}  // namespace

int ViewerKeyCode(int qt_key, Qt::KeyboardModifiers modifiers) {
  const bool shift = (modifiers & Qt::ShiftModifier) != 0;
  const int ctrl = (modifiers & Qt::ControlModifier) ? uic::ViewerBase::kKeyCtrl : 0;
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
    if (ctrl != 0)
      return ctrl + (qt_key - Qt::Key_A + 1) + (shift ? uic::ViewerBase::kKeyShift : 0);
    return shift ? qt_key : qt_key - Qt::Key_A + 'a';
  }
  // Qt reports the printable keys by the character typed (Shift already applied).
  if (qt_key >= Qt::Key_Space && qt_key <= Qt::Key_AsciiTilde) return ctrl + qt_key;
  int code = 0;
  switch (qt_key) {
    case Qt::Key_Escape:
      code = 27;
      break;
    case Qt::Key_Backspace:
      code = 8;
      break;
    case Qt::Key_Tab:
      code = 9;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      code = 13;
      break;
    case Qt::Key_Left:
      code = 256;
      break;
    case Qt::Key_Right:
      code = 257;
      break;
    case Qt::Key_Up:
      code = 258;
      break;
    case Qt::Key_Down:
      code = 259;
      break;
    case Qt::Key_Delete:
      code = 264;
      break;
    default:
      return 0;
  }
  return ctrl + code;
}

QString CommandLabel(uic::Command* command) {
  return QObject::tr(uic::GetCommandLabel(command));
}

QString ZoomBoxText(double zoom) {
  // A hair above the product keeps 1.1 x 1.1 x ... from showing one percent too little.
  return QStringLiteral("%1 %").arg(static_cast<int>(zoom * 100.0 + 1e-9));
}

QRect RedrawRectBox(const uic::RubberBand& band, int margin) {
  const int m = band.m_radius + margin;
  const QPoint top_left(std::max(band.m_min_x - m, 0), std::max(band.m_min_y - m, 0));
  const QPoint bottom_right(std::max(band.m_max_x + m, 0) - 1, std::max(band.m_max_y + m, 0) - 1);
  return QRect(top_left, bottom_right);
}

// The pictures live in the static library: a reference keeps the linker from dropping them.
static void RegisterViewerResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(viewer);
    return true;
  }();
  (void)registered;
}

qViewer::qViewer(QWidget* parent) : QWidget(parent) {
  RegisterViewerResources();
  const ArrayMap<uint32_t>& buffer = GetBuffer();
  Notify(5, "qViewer::qViewer: Viewer buffer size %u x %u", buffer.width, buffer.height);
  if (buffer.data == nullptr) {
    Notify(1, "qViewer::qViewer: draw buffer NULL");
    return;
  }
  if (buffer.width == 0 || buffer.height == 0) {
    Notify(1, "qViewer::qViewer: bad draw buffer size %ux%u", buffer.width, buffer.height);
    return;
  }
  WrapBuffer();

  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  resize(static_cast<int>(buffer.width), static_cast<int>(buffer.height));

  m_context_menu.setStyleSheet(qExtras::platformStyleSheet());

  m_zoom_hide_timer = new QTimer(this);
  m_zoom_hide_timer->setSingleShot(true);
  m_zoom_fade_timer = new QTimer(this);

  const std::pair<QKeySequence, void (qViewer::*)()> shortcuts[] = {
      {QKeySequence(QKeySequence::Undo), &qViewer::undo},
      {QKeySequence(QKeySequence::Redo), &qViewer::redo},
      {QKeySequence(Qt::CTRL | Qt::Key_R), &qViewer::resetView},
      {QKeySequence(Qt::CTRL | Qt::Key_D), &qViewer::deselectAll},
      {QKeySequence(Qt::ALT | Qt::Key_1), &qViewer::createConeSceneObject},
      {QKeySequence(Qt::ALT | Qt::Key_2), &qViewer::createCubeSceneObject},
      {QKeySequence(Qt::ALT | Qt::Key_3), &qViewer::createPlaneSceneObject},
      {QKeySequence(Qt::ALT | Qt::Key_4), &qViewer::createTriangleMeshSceneObject},
      {QKeySequence(Qt::ALT | Qt::Key_5), &qViewer::createTexturedTriangleMeshSceneObject},
  };
  for (const auto& [keys, slot] : shortcuts) {
    auto* action = new QAction(this);
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
  }
  connect(m_zoom_hide_timer, &QTimer::timeout, this, &qViewer::disableZoomText);
  connect(m_zoom_fade_timer, &QTimer::timeout, this, &qViewer::reduceZoomPainterOpacity);
}

qViewer::~qViewer() {
  delete m_buffer_image;
}

void qViewer::WrapBuffer() {
  delete m_buffer_image;
  const ArrayMap<uint32_t>& buffer = GetBuffer();
  // The logic's 0xAARRGGBB words are RGB32 pixels as they are: shown without a copy.
  m_buffer_image =
      buffer.data == nullptr
          ? new QImage()
          : new QImage(reinterpret_cast<uchar*>(buffer.data), static_cast<int>(buffer.width),
                       static_cast<int>(buffer.height), static_cast<qsizetype>(buffer.stride) * 4,
                       QImage::Format_RGB32);
}

// ---- hooks of the logic

void qViewer::SetCursorShape(int shape) {
  switch (shape) {
    case 3:
      setCursor(Qt::SizeVerCursor);
      break;
    case 4:
      setCursor(Qt::OpenHandCursor);
      break;
    case 5:
      setCursor(Qt::ClosedHandCursor);
      break;
    case 8: {
      const QBitmap picture =
          QBitmap::fromImage(QImage(QStringLiteral(":/resource/rotation_cursor.bmp")));
      const QBitmap mask =
          QBitmap::fromImage(QImage(QStringLiteral(":/resource/rotation_cursor_mask.bmp")));
      setCursor(QCursor(picture, mask, picture.width() / 2, picture.height() / 2));
      break;
    }
    case 10:
      setCursor(Qt::CrossCursor);
      break;
    default:
      setCursor(Qt::ArrowCursor);
      break;
  }
  m_cursor_shape = shape;
}

void qViewer::RestoreCursor() {
  setCursor(Qt::ArrowCursor);
}

void qViewer::Redraw() {
  update();
}

void qViewer::RedrawRect(const uic::RubberBand& band, int margin) {
  update(RedrawRectBox(band, margin));
}

void qViewer::DrawText(double x, double y, int red, int green, int blue, const std::string& text) {
  m_text_items.push_back({static_cast<int>(x), static_cast<int>(y), red, green, blue,
                          QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))});
}

void qViewer::DrawText(double x, double y, const std::string& text) {
  DrawText(x, y, 0, 0, 0, text);
}

void qViewer::SyncModifiers(Qt::KeyboardModifiers modifiers) {
  const int code = ModifierCode(modifiers);
  if (code == m_modifier_code) return;
  if (m_modifier_code != 0) KeyReleaseEvent(m_modifier_code);
  if (code != 0) KeyPressEvent(code);
  m_modifier_code = code;
}

bool qViewer::LassoToolOn() const {
  return m_selection_tool == eSelectionToolLasso && m_tool == 0;
}

// ---- slots

void qViewer::createConeSceneObject() {
  AddSceneObject(1);
}

void qViewer::createCubeSceneObject() {
  AddSceneObject(0);
}

void qViewer::createPlaneSceneObject() {
  AddSceneObject(2);
}

void qViewer::createTriangleMeshSceneObject() {
  AddSceneObject(3);
}

void qViewer::createTexturedTriangleMeshSceneObject() {
  AddSceneObject(4);
}

void qViewer::newPolygonMask() {
  m_new_mask_requested.Emit();
  m_drawing_mask = true;
}

void qViewer::closePolygonMask() {
  ClosePolygonMask();
  RestoreCursor();
  m_drawing_mask = false;
}

void qViewer::addTriangleMask() {
  AddRegularPolygonMask(3);
}

void qViewer::newReferenceLine() {
  CloseReferenceLine();
  BeginReferenceLine();
}

void qViewer::addReferenceLine() {
  AddReferenceLine();
}

void qViewer::deleteAllReferenceLines() {
  m_controller->DeleteAllReferenceLines();
}

void qViewer::undo() {
  UndoLastCommand();
}

void qViewer::redo() {
  RedoLastCommand();
}

void qViewer::resetView() {
  const uic::ViewerState* state = CurrentState();
  if (state != nullptr && state->m_mode == 1) {
    ResetView();
  } else {
    ResetZoom();
  }
}

void qViewer::deselectAll() {
  std::puts("DESELECT ALL");
  m_controller->DeselectAll(true);
  Redraw();
}

void qViewer::moveOrbitCenterToSelection() {
  m_controller->MoveOrbitCenterToSelection();
}

void qViewer::moveOrbitCenterToWCSOrigin() {
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "qViewer::orbitCenterReset: scene not set!");
    return;
  }
  scene->SetOrbitCenter({0.0, 0.0, 0.0});
}

void qViewer::moveOrbitCenterToCameraPosition() {
  Scene* scene = m_controller->GetScene();
  const SharedPtr<FeatureImage> image = m_image;  // held for the call
  if (scene == nullptr || !image) {
    Notify(2, "qViewer::orbitCenterToCameraPosition: scene not set!");
    return;
  }
  scene->SetOrbitCenter(image->GetC());
}

void qViewer::disableZoomText() {
  m_zoom_fade_timer->start(kZoomFadeStepMs);
  Redraw();
}

void qViewer::reduceZoomPainterOpacity() {
  if (m_zoom != m_fade_zoom && m_fade_zoom != 0.0 && m_zoom_opacity < 1.0) {
    // Zoomed again during the fade: full opacity, and the next paint starts the wait anew.
    m_zoom_opacity = 1.0;
    m_zoom_fade_timer->stop();
  } else if (m_zoom_opacity > 0.0) {
    m_zoom_opacity -= kZoomFadeStep;
  } else {
    m_show_zoom = false;
    m_zoom_opacity = 1.0;
    m_zoom_fade_timer->stop();
  }
  m_fade_zoom = m_zoom;
  Redraw();
}

void qViewer::handleLoadImagesEntryClick() {
  m_load_images_requested.Emit();
}

void qViewer::handleLoadProjectEntryClick() {
  m_load_project_requested.Emit();
}

void qViewer::handleSaveEntryClick() {
  m_save_requested.Emit();
}

void qViewer::handleStartTrackingEntryClick() {
  m_start_tracking_requested.Emit();
}

void qViewer::handleStartRefinementEntryClick() {
  m_start_refinement_requested.Emit();
}

void qViewer::handleStopTrackingEntryClick() {
  m_stop_tracking_requested.Emit();
}

// ---- events

void qViewer::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const Qt::MouseButtons buttons = event->buttons();
  if (LassoToolOn() && (buttons & Qt::LeftButton)) {
    m_lasso_path = QPainterPath(p);
    m_lasso_active = true;
  }
  m_button = (buttons & Qt::LeftButton) ? 1 : 0;
  // Middle and right are the toolkit's (the right button opens the context menu).
  if (buttons & (Qt::MiddleButton | Qt::RightButton)) return;
  SyncModifiers(event->modifiers());
  MouseClickEvent(m_button, p.x(), p.y());
}

void qViewer::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (LassoToolOn()) m_lasso_path.lineTo(p);
  const double ix = (p.x() - m_offset_x + 0.5) / (m_zoom * m_aspect_scale) - 0.5;
  const double iy = (p.y() - m_offset_y + 0.5) / m_zoom - 0.5;
  const QString text = QStringLiteral("(%1, %2)").arg(ix, 0, 'f', 2).arg(iy, 0, 'f', 2);
  m_controller->SetInfoText(uic::Controller::eInfoCursorPosition, text.toStdString());
  SyncModifiers(event->modifiers());
  MouseMoveEvent(m_button, p.x(), p.y());
}

void qViewer::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (LassoToolOn()) {
    m_lasso_active = false;
    // The logic picks in view pixels from the projection centre: the widget's centre in
    // the scene view, the centre of the image drawn last in the image view.
    const uic::ViewerState* state = CurrentState();
    const bool scene_view = state != nullptr && state->m_mode == 1;
    const int cx = scene_view ? width() / 2 : m_centre_x;
    const int cy = scene_view ? height() / 2 : m_centre_y;
    std::vector<vm::Vector2> polygon;
    const QPolygonF outline = m_lasso_path.toFillPolygon();
    polygon.reserve(static_cast<size_t>(outline.size()));
    for (const QPointF& q : outline) polygon.push_back({q.x() - cx, q.y() - cy});
    SetLassoPolygon(std::move(polygon));
  }
  SyncModifiers(event->modifiers());
  MouseReleaseEvent(m_button, p.x(), p.y());
  m_button = 0;
}

void qViewer::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) {
    // Horizontal scrolling (tilting wheels, touchpads) is not a zoom.
    event->ignore();
    return;
  }
  const QPoint p = event->position().toPoint();
  m_lasso_active = false;
  SyncModifiers(event->modifiers());
  MouseWheelEvent(delta > 0 ? 4 : 5, p.x(), p.y());
  // The logic keeps the wheel code as its button: the moves that follow carry the buttons
  // held again, so a mask or line being drawn keeps following the pointer.
  m_button = (event->buttons() & Qt::LeftButton) ? 1 : 0;
  event->accept();
}

void qViewer::keyPressEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  SyncModifiers(event->modifiers());
  const int key = event->key();
  if (key == Qt::Key_Delete) {
    Notify(5, "qMainWin::keyPressEvent: Del pressed");
    m_controller->DeleteSelection();
    event->accept();
    return;
  }
  if (IsModifierKey(key)) {
    event->accept();  // reached the logic through SyncModifiers
    return;
  }
  const int code = ViewerKeyCode(key, event->modifiers());
  if (code == 0) {
    event->ignore();  // a key the logic has no use for: the parents may
    return;
  }
  m_lasso_active = false;
  KeyPressEvent(code);
  event->accept();
}

void qViewer::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  const int key = event->key();
  if (!IsModifierKey(key) && ViewerKeyCode(key, event->modifiers()) == 0) {
    event->ignore();
    return;
  }
  SyncModifiers(event->modifiers());
  KeyReleaseEvent(key);
  // The logic holds one key at a time and has just cleared it, held modifiers included:
  // the next forwarded event presses them again.
  m_modifier_code = 0;
  event->accept();
}

void qViewer::paintEvent(QPaintEvent* event) {
  if (!IsDrawable()) return;
  if (!m_image) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(51, 51, 51));
    painter.drawPixmap(0, height() - 150, QPixmap(QStringLiteral(":/resource/kalvex_small.png")));
    return;
  }
  const QRect exposed = event->rect();
  m_text_items.clear();
  Update(exposed.x(), exposed.y(), exposed.width(), exposed.height());
  {
    QPainter painter(this);
    painter.drawImage(exposed.topLeft(), *m_buffer_image, exposed);
    if (m_show_zoom) PaintZoomBox(painter);
    if (m_lasso_active) {
      QPen pen(QColor(255, 255, 255, 255));
      pen.setDashPattern({5.0, 4.0});
      painter.setPen(pen);
      painter.setBrush(QColor(50, 50, 50, 50));
      // A polygon fills in half the time of the same outline as a path.
      painter.drawPolygon(m_lasso_path.toFillPolygon());
    }
  }
  if (m_text_items.empty()) return;
  QPainter painter(this);
  QFont font = painter.font();
  font.setWeight(QFont::Bold);
  painter.setFont(font);
  for (const ViewerTextItem& item : m_text_items) {
    painter.setPen(QColor(item.red, item.green, item.blue));
    painter.drawText(item.x, item.y, item.text);
  }
}

void qViewer::PaintZoomBox(QPainter& painter) {
  painter.save();
  painter.setOpacity(m_zoom_opacity);
  QFont font = painter.font();
  font.setPointSize(14);
  font.setWeight(QFont::Bold);
  painter.setFont(font);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(QColor(190, 190, 190, 200));
  painter.setPen(Qt::NoPen);
  // The box's top-left corner, not its centre, is the widget's centre.
  const QRect box(width() / 2, height() / 2, 90, 40);
  painter.drawRoundedRect(box, 10, 10, Qt::AbsoluteSize);
  painter.setPen(QPen());
  painter.drawText(box, Qt::AlignCenter, ZoomBoxText(m_zoom));
  if (m_zoom != m_painted_zoom) m_zoom_hide_timer->start(kZoomWaitMs);
  m_painted_zoom = m_zoom;
  painter.restore();
}

void qViewer::resizeEvent(QResizeEvent* event) {
  const QSize size = event->size();
  if (size.width() == 0 || size.height() == 0) return;
  try {
    Resize(size.width(), size.height());
  } catch (const char* message) {
    // The buffer is empty now: nothing is drawn until a size that fits.
    Notify(2, "qViewer::resizeEvent: %d x %d: %s", size.width(), size.height(), message);
  }
  WrapBuffer();
}

void qViewer::contextMenuEvent(QContextMenuEvent* event) {
  BuildContextMenu();
  m_context_menu.exec(event->globalPos());
}

void qViewer::BuildContextMenu() {
  // The sub-menus of the last opening are children of the menu: clear() keeps them.
  for (QMenu* sub : m_context_menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) delete sub;
  m_context_menu.clear();
  QMenu& menu = m_context_menu;
  const bool has_images = m_controller->GetNumberOfImages() != 0;
  switch (m_edit_mode) {
    case eEditAutoFeatures:
      if (has_images) {
        const uic::MetaCTracker* tracker = m_controller->GetCTracker();
        if (tracker != nullptr && tracker->IsTracking()) {
          menu.addAction(tr("Stop"), this, &qViewer::handleStopTrackingEntryClick);
        } else {
          menu.addAction(tr("Track"), this, &qViewer::handleStartTrackingEntryClick);
          menu.addAction(tr("Refinement"), this, &qViewer::handleStartRefinementEntryClick);
        }
      }
      break;
    case eEditLensDistortion:
      if (has_images) {
        menu.addAction(tr("Add Reference Line"), this, &qViewer::addReferenceLine);
        menu.addAction(tr("Delete All Reference Lines"), this, &qViewer::deleteAllReferenceLines);
      }
      break;
    case eEditTestScene:
      if (has_images) {
        QMenu* add = menu.addMenu(tr("Add Object"));
        const struct {
          const char* text;
          const char* icon;
          QKeyCombination keys;
          void (qViewer::*slot)();
        } objects[] = {
            {QT_TR_NOOP("Cone"), ":/resource/cone.png", Qt::ALT | Qt::Key_1,
             &qViewer::createConeSceneObject},
            {QT_TR_NOOP("Cube"), ":/resource/cube.png", Qt::ALT | Qt::Key_2,
             &qViewer::createCubeSceneObject},
            {QT_TR_NOOP("Plane"), ":/resource/plane.png", Qt::ALT | Qt::Key_3,
             &qViewer::createPlaneSceneObject},
            {QT_TR_NOOP("Triangle Mesh"), ":/resource/mesh.png", Qt::ALT | Qt::Key_4,
             &qViewer::createTriangleMeshSceneObject},
            {QT_TR_NOOP("Textured Triangle Mesh"), ":/resource/mesh.png", Qt::ALT | Qt::Key_5,
             &qViewer::createTexturedTriangleMeshSceneObject},
        };
        for (const auto& object : objects) {
          QAction* action = add->addAction(QIcon(QString::fromLatin1(object.icon)), tr(object.text),
                                           this, object.slot);
          action->setShortcut(QKeySequence(object.keys));
        }
      }
      break;
    case eEditMask:
      if (has_images) {
        menu.addAction(tr("New Polygon Mask"), this, &qViewer::newPolygonMask);
        menu.addAction(tr("Close Polygon Mask"), this, &qViewer::closePolygonMask)
            ->setEnabled(m_drawing_mask);
      }
      break;
    case eEditSequence:
      menu.addAction(tr("Load Images"), this, &qViewer::handleLoadImagesEntryClick);
      menu.addAction(tr("Load Project"), this, &qViewer::handleLoadProjectEntryClick);
      break;
    default:  // export and manual features: the common entries only
      break;
  }
  menu.addSeparator();

  uic::Command* undo_command = PeekUndoRedoCommand(false);
  uic::Command* redo_command = PeekUndoRedoCommand(true);
  QAction* undo_action = menu.addAction(
      tr("Undo ") +
          (undo_command ? QStringLiteral("(%1)").arg(CommandLabel(undo_command)) : QString()),
      this, &qViewer::undo);
  undo_action->setShortcut(QKeySequence::Undo);
  undo_action->setEnabled(undo_command != nullptr);
  QAction* redo_action = menu.addAction(
      tr("Redo ") +
          (redo_command ? QStringLiteral("(%1)").arg(CommandLabel(redo_command)) : QString()),
      this, &qViewer::redo);
  redo_action->setShortcut(QKeySequence::Redo);
  redo_action->setEnabled(redo_command != nullptr);

  QAction* reset = menu.addAction(tr("Reset View"), this, &qViewer::resetView);
  reset->setStatusTip(tr("Reset the viewport"));
  reset->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  QAction* deselect = menu.addAction(tr("Deselect All"), this, &qViewer::deselectAll);
  deselect->setStatusTip(tr("Deselects all currently selected objects"));
  deselect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));

  QMenu* orbit = menu.addMenu(tr("Move Orbit Center to"));
  std::vector<UIDBase*> selected_points;
  UIDRegistry::Instance().CollectSelected(selected_points, 2, 2);
  orbit->addAction(tr("Selection"), this, &qViewer::moveOrbitCenterToSelection)
      ->setEnabled(!selected_points.empty());
  orbit->addAction(tr("Origin"), this, &qViewer::moveOrbitCenterToWCSOrigin);
  orbit->addAction(tr("Camera Position"), this, &qViewer::moveOrbitCenterToCameraPosition);
}
