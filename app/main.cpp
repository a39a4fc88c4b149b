// kalvex: the program. It parses the command line first, then takes one of two roads:
//
// - batch (--batch-mode): headless, no display and no toolkit needed. The start-up steps
//   that need no window, the tracking run, then the batch end. Exit codes: 0 a solved and
//   fully exported run; 1 no camera result, an unreadable sequence, frames of mixed sizes
//   or a failed export; 2 a rejected option, configuration file, frame range or export
//   target; 3 a partial result (exported, but frames of the range are not part of the
//   solved camera path).
// - window: the splash stages, translators, worker pool, main window, the command line
//   applied to the window's first tracker, the event loop, and a teardown that stops and
//   joins every thread of the run (tracking, the export dialog's worker, the frame
//   prefetch, the worker pool) before it returns the event loop's code.
//
// On both roads -h/--help and --version exit 0 before anything starts (the usage in the
// command-line window when a display shows the window road, else on stdout), and a rejected
// option prints the usage and the reasons on stderr and exits 2. Without --batch-mode and
// without any display the program says so in one line and exits 1.
//
// For the process tests: with KALVEX_STARTUP_REPORT naming a file, the window road writes
// what start-up decided into it ("key value" lines), closes the usage window as soon as
// it shows and leaves the event loop as soon as it runs. Nothing else changes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QObject>
#include <QPixmap>
#include <QSplashScreen>
#include <QString>
#include <QTimer>
#include <QTranslator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/batch_frame_check.h"
#include "app/batch_progress.h"
#include "app/batch_run.h"
#include "app/commandline_parser_camera_tracking.h"
#include "app/log_file_writer.h"
#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_help_windows.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "foundation/runtime/split_path.h"
#include "foundation/runtime/worker_pool.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/sequence_property.h"
#include "interaction/undo_stack.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

const char* const kConfigFileKey = "config-file";

// Sizes the worker pool from the option record's thread count (negative: by the number
// of processors) with at most two threads, and writes the result back.
void SizeWorkerPool(CameraTrackingOptions& options) {
  int t = options.thread_count;
  if (t < 0) {
    t = -2;
  } else if (t > 2) {
    t = 2;
  }
  options.thread_count = WorkerPool::SetNumberOfThreads(t);
}

// The frame range against the template, before any name is built: a reason, or empty.
std::string FrameRangeProblem(const std::string& image_template, const CameraTrackingOptions& o) {
  if (o.first_frame < 0 || o.last_frame < 0) return "";
  if (o.last_frame < o.first_frame) {
    return "the last frame " + std::to_string(o.last_frame) + " comes before the first frame " +
           std::to_string(o.first_frame);
  }
  if (!CameraTrackingManager::HasFrameNumber(image_template)) {
    return "\"" + image_template +
           "\" names one file; a frame range needs a numbered name such as img####.png or "
           "img%04d.png";
  }
  if (int64_t(o.last_frame) - o.first_frame >= CameraTrackingManager::kMaxFrameRange) {
    return "the frames " + std::to_string(o.first_frame) + " to " + std::to_string(o.last_frame) +
           " are more than " + std::to_string(CameraTrackingManager::kMaxFrameRange);
  }
  return "";
}

bool FolderIsEmpty(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool empty = true;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

// Why a template gave no frames: the missing folder or file, the empty range, or nothing
// matching in the folder.
std::string NoFramesReason(const std::string& image_template, const CameraTrackingOptions& o) {
  std::string directory, file;
  SplitPath(image_template.c_str(), &directory, &file);
  struct stat info;
  if (!directory.empty() && ::stat(directory.c_str(), &info) != 0) {
    return "folder \"" + directory + "\": " + std::strerror(errno);
  }
  const bool numbered = CameraTrackingManager::HasFrameNumber(image_template);
  if (!numbered) {
    if (::stat(image_template.c_str(), &info) != 0) return std::strerror(errno);
    return "not a picture, movie or list file this program reads";
  }
  if (o.first_frame >= 0 || o.last_frame >= 0) {
    return "no frame in the range " +
           (o.first_frame >= 0 ? std::to_string(o.first_frame) : std::string("first")) + " to " +
           (o.last_frame >= 0 ? std::to_string(o.last_frame) : std::string("last"));
  }
  const std::string folder = directory.empty() ? std::string(".") : directory;
  if (FolderIsEmpty(folder)) return "the folder \"" + folder + "\" is empty";
  return "no file in \"" + folder + "\" matches \"" + file + "\"";
}

// Reads every frame file once: unreadable frames and frames of another size are named.
// False when the sequence cannot be tracked as one shot (mixed sizes, nothing readable).
bool CheckFrames(ImageCache& cache, std::FILE* err) {
  const PackedStringListPtr files = cache.GetFileList();
  if (!files || cache.GetSourceKind() != 0) return true;  // a movie file checks its own frames
  const SequenceFrameCheck check = CheckSequenceFrames(*files);
  for (const FrameFault& fault : check.unreadable) {
    std::fprintf(err, "kalvex: warning: frame %d \"%s\" %s\n", fault.number, fault.file.c_str(),
                 fault.what.c_str());
  }
  for (const FrameFault& fault : check.other_size) {
    std::fprintf(err, "kalvex: frame %d \"%s\" is %s, the sequence %d x %d\n", fault.number,
                 fault.file.c_str(), fault.what.c_str(), check.width, check.height);
  }
  if (check.width == 0) {
    std::fprintf(err, "kalvex: no frame of the sequence can be read\n");
    return false;
  }
  if (!check.other_size.empty()) {
    std::fprintf(err,
                 "kalvex: the sequence has frames of different sizes: one camera cannot have "
                 "shot them; not tracked\n");
    return false;
  }
  return true;
}

// The batch road after the parse: the checks that refuse a run before any work, the run,
// the batch end. No display and no toolkit.
int RunBatch(CommandlineParserCameraTracking& parser) {
  const CameraTrackingOptions& options = parser.Options();
  // Refused now, not after hours of tracking.
  const std::string range = FrameRangeProblem(parser.ImageFileTemplate(), options);
  if (!range.empty()) {
    std::fprintf(stderr, "kalvex: %s\n", range.c_str());
    return kExitUsage;
  }
  if (!CheckExportTargets(options.export_list, stderr)) return kExitUsage;

  SizeWorkerPool(parser.Options());

  BatchProgress progress(stderr, isatty(fileno(stderr)) != 0);
  BatchTracker tracker(&progress);
  if (!parser.ConfigureCTrackMgr(&tracker)) {
    std::fprintf(stderr, "kalvex: the tracking options could not be applied\n");
    return kExitUsage;
  }
  if (!parser.SequenceGiven()) {
    std::fprintf(stderr, "kalvex: batch mode needs an image sequence (one file argument)\n");
    return kExitFailed;
  }
  if (tracker.GetImageList().empty()) {
    std::fprintf(stderr, "kalvex: cannot read the image sequence \"%s\": %s\n",
                 parser.ImageFileTemplate().c_str(),
                 NoFramesReason(parser.ImageFileTemplate(), options).c_str());
    return kExitFailed;
  }
  if (!CheckFrames(*tracker.GetImageCache(), stderr)) return kExitFailed;

  // The Track button's copy: the refinement check box is on by default.
  TrackingSettings settings = *uic::Controller::Instance()->GetTrackingSettings();
  settings.m_perform_final_refinement = true;
  // The run chooses its map from the settings, not from the pool: without this a tripod
  // shot asked for with --est-method=pan would be solved as free motion.
  settings.m_camera_motion_constraint = parser.Options().estimation_method == 7 ? 1 : 0;
  Notify(5, "qMainWin::startTracking: tracking STARTED");
  NotifyContext::SetOutputFunction(&progress);
  tracker.StartAutomaticTracking(settings);
  tracker.WaitForEnd();
  NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  return FinishBatchRun(tracker, stderr);
}

// Where a window could open. kHidden: a platform that draws where no user sees it
// ("offscreen", "minimal"; tests); a modal window there would wait forever.
enum class DisplayKind { kNone, kHidden, kVisible };

DisplayKind FindDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && platform[0] != '\0') {
    // "name:option=value,...": only the name counts.
    const std::string name(platform, std::strcspn(platform, ":"));
    return name == "offscreen" || name == "minimal" ? DisplayKind::kHidden : DisplayKind::kVisible;
  }
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return DisplayKind::kVisible;
  }
  return DisplayKind::kNone;
}

// The process tests' view of start-up (see the top of this file).
class StartupReport {
 public:
  StartupReport() {
    const char* path = std::getenv("KALVEX_STARTUP_REPORT");
    if (path != nullptr && path[0] != '\0') path_ = path;
  }
  bool Active() const { return !path_.empty(); }
  void Line(const char* key, const std::string& value) const {
    if (!Active()) return;
    if (std::FILE* f = std::fopen(path_.c_str(), "ab")) {
      std::fprintf(f, "%s %s\n", key, value.c_str());
      std::fclose(f);
    }
  }

 private:
  std::string path_;
};

void ShowStage(QSplashScreen& splash, const char* stage) {
  splash.showMessage(QApplication::tr(stage), Qt::AlignRight | Qt::AlignBottom, Qt::black);
  QApplication::processEvents();
}

// Loads name from folder (empty: the working folder) and installs it whether or not the
// file was found: a missing translation leaves the texts English.
void InstallTranslator(QTranslator& translator, const QString& name, const QString& folder,
                       std::string& installed) {
  (void)translator.load(name, folder);
  QApplication::installTranslator(&translator);
  installed += (installed.empty() ? "" : ",") + name.toStdString();
}

// Stops a tracking run that is still going and waits until its end has been handled
// (the drain joins the tracking thread), so that no thread of the run outlives the event
// loop.
void StopTrackingRun(uic::MetaCTracker* tracker) {
  if (tracker == nullptr || !tracker->IsTracking()) return;
  Notify(5, "main: stopping the tracking run before shutdown");
  auto* bridge = dynamic_cast<qCTracker*>(tracker);
  QEventLoop loop;
  if (bridge != nullptr) {
    QObject::connect(bridge, &qCTracker::trackingFinishedSignal, &loop, &QEventLoop::quit);
  }
  tracker->StopTracking();
  // Without the bridge nothing posts the end; the tracker's destructor joins the thread.
  if (bridge != nullptr) loop.exec();
}

// The window road, after the parse: the start-up steps in their order, the event loop,
// the teardown. Returns the event loop's code (0 after the usage window).
int RunWindow(int argc, char** argv, CommandlineParserCameraTracking& parser) {
  const StartupReport report;
  auto application = std::make_unique<QApplication>(argc, argv);

  auto splash_picture = std::make_unique<QPixmap>(QStringLiteral(":/resource/kalvex_splash.png"));
  auto splash = std::make_unique<QSplashScreen>(*splash_picture);
  splash->show();
  ShowStage(*splash, "installing translators");
  std::string translators;
  auto system_translator = std::make_unique<QTranslator>();
  InstallTranslator(*system_translator, QStringLiteral("qt_") + QLocale::system().name(),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath), translators);

  ShowStage(*splash, "german language");
  auto program_translator = std::make_unique<QTranslator>();
  auto qt_german_translator = std::make_unique<QTranslator>();
  const int language = qExtras::readUiLanguage();
  if (language == 2) {
    // Installed last, so searched first: the German texts win over the system locale's.
    InstallTranslator(*program_translator, QStringLiteral("kalvex_de"), QString(), translators);
    InstallTranslator(*qt_german_translator, QStringLiteral("qt_de"), QString(), translators);
  }
  report.Line("language", std::to_string(language));
  report.Line("translators", translators);

  ShowStage(*splash, "setup product info");
  ProductInfo::SetProductName("Kalvex");
  ProductInfo::SetVersion(1, 6, 0);
  ProductInfo::SetReleaseKind(3);

  if (parser.HelpRequested()) {
    splash->close();
    report.Line("usage", "window");
    qCommandLineWindow usage(nullptr);
    usage.setStyleSheet(qExtras::platformStyleSheet());
    usage.SetText(parser.Usage());
    if (report.Active()) QTimer::singleShot(0, &usage, &QDialog::accept);
    usage.exec();
    return kExitOk;
  }

  ShowStage(*splash, "setup task server");
  SizeWorkerPool(parser.Options());
  const CameraTrackingOptions& options = parser.Options();
  report.Line("threads", std::to_string(options.thread_count));

  auto window = std::make_unique<qKalvexMainWindow>(nullptr);
  report.Line("main_window", "created");
  uic::Controller* controller = uic::Controller::Instance();
  uic::MetaCTracker* tracker = controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(1, "%s: camera tracking manager not set", argv[0]);
    return kExitFailed;  // not reached: a level-1 message ends the process
  }
  // The window made the tracker; only now can the command line reach it.
  if (!parser.ConfigureCTrackMgr(tracker)) {
    Notify(2, "main: the tracking options could not be applied");
  }
  // The batch road keeps the level "verbose" chose; the window logs notices (unless
  // NFY_LEVEL fixed the level).
  NotifyContext::SetNotifyLevel(3);
  tracker->UpdateSequenceProperty();
  controller->EmitSequenceChanged();
  uic::SequenceProperty sequence = controller->GetSequenceProperty();
  sequence.m_interlacing = options.deinterlacing;
  sequence.m_pixel_aspect = options.pixel_aspect;
  controller->SetSequenceProperty(sequence);
  if (const PerspectiveCamera* camera = tracker->GetInitCamera()) {
    TrackingSettings settings = *controller->GetTrackingSettings();
    settings.m_prior_focal_length = camera->GetFocalLength35mmEquivalent();
    controller->SetTrackingSettings(settings);
  }
  report.Line("log_level", std::to_string(NotifyContext::GetNotifyLevel()));

  auto log_file = std::make_unique<LogFileWriter>();
  bool log_file_registered = false;
  if (!options.log_file_path.empty() && log_file->Open(options.log_file_path)) {
    NotifyContext::SetOutputFunction(log_file.get());
    log_file_registered = true;
  }

  ShowStage(*splash, "finished...starting Kalvex");
  window->show();
  window->setWindowState(Qt::WindowMaximized);
  splash->finish(window.get());
  report.Line("window_state", window->isMaximized() ? "maximised" : "normal");
  if (parser.SequenceGiven()) window->showSequenceInTimeline();

  if (report.Active()) QTimer::singleShot(0, application.get(), &QCoreApplication::quit);
  const int result = QApplication::exec();

  // Teardown. Threads first: the tracking run ends before anything it reports to goes.
  StopTrackingRun(controller->GetCTracker());
  UndoStack::Instance().Clear();
  if (log_file_registered) NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  log_file.reset();
  // The window's export dialog stops and joins its worker as it goes.
  window.reset();
  qt_german_translator.reset();
  program_translator.reset();
  system_translator.reset();
  splash.reset();
  splash_picture.reset();
  // The frame cache's prefetch thread belongs to the tracker: the controller gets an idle
  // tracker, and the old one joins its threads as it is destroyed. Then the worker pool.
  controller->SetCTracker(new uic::MetaCTracker);
  WorkerPool::SetNumberOfThreads(0);
  qExtras::instance()->endUpdateChecks();
  application.reset();
  report.Line("exit", std::to_string(result));
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  ProductInfo::SetProductName("Kalvex");
  ProductInfo::SetVersion(1, 6, 0);
  ProductInfo::SetReleaseKind(3);

  CommandlineParserCameraTracking parser;
  PackedStringList arguments;
  parser.ExpandArguments(arguments, argc, argv, kConfigFileKey);
  parser.ParseList(arguments);

  if (parser.HasError()) {
    // A typo must not start a run with settings the user did not ask for, and an
    // unattended start must not wait on a window.
    std::fputs(parser.Usage().c_str(), stderr);
    for (const std::string& reason : parser.ErrorReasons()) {
      std::fprintf(stderr, "kalvex: %s\n", reason.c_str());
    }
    return kExitUsage;
  }
  const bool batch = parser.Options().batch_mode;
  const DisplayKind display = FindDisplay();
  if (parser.HelpRequested() && (batch || display != DisplayKind::kVisible)) {
    std::fputs(parser.Usage().c_str(), stdout);
    return kExitOk;
  }
  if (parser.VersionRequested()) {
    std::printf("%s %s\n", ProductInfo::GetProductName().c_str(),
                ProductInfo::GetVersionString().c_str());
    return kExitOk;
  }
  if (batch) return RunBatch(parser);
  if (display == DisplayKind::kNone) {
    std::fprintf(stderr,
                 "kalvex: no display for the main window (DISPLAY and WAYLAND_DISPLAY are not "
                 "set); to track and export without a window run kalvex --batch-mode "
                 "--export-text=FILE SEQUENCE (kalvex --help lists the options)\n");
    return kExitFailed;
  }
  return RunWindow(argc, argv, parser);
}
