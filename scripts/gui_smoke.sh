#!/usr/bin/env bash
# The whole program in a real window on a virtual X display, driven like a user: it
# renders the sample sequence ./run.sh solves and starts kalvex on it. On the page
# "3. Mask Edit" it draws a polygon mask over the left wall with the mouse; then it opens
# "4. Tracking" and clicks Track, waits for the "Tracking result" box and checks its text.
# On "6. Export" it saves the camera path as text and COLLADA and the 2D tracks as ft2d
# through the save dialogs, and checks the files: a camera for every frame, COLLADA read by
# assimp with the same cameras and points as the text, no track point under the mask while
# the same area of the other wall has many; a save to /proc must end in "Export failed".
# On "5. Test Scene" it shows the scene view, goes back to the image view, selects the
# floor's 3D points with a rectangle and adds a box from them, which must show over the
# frame. Then it closes the window (answering the save
# question with No) and checks that the program ended with code 0. Before that, -h on a
# display must show the usage window, which OK closes with code 0; after it, Track on the
# sample with one frame of another size must be refused with a box, and the window is
# closed while a run on a longer sequence still goes; the program must end with code 0.
#
# Controls are found by their visible texts through the accessibility bus (AT-SPI) and
# clicked with the mouse or the keyboard (xdotool), as a user would. Screenshots are checked
# for not being blank (the number of distinct colours) and for the views differing.
#
# Usage: scripts/gui_smoke.sh [build folder with app/kalvex and testing/kx_render_sequence]
# (default build/release). Writes build/gui-smoke/: the frames, kalvex's output, the
# driver's log, the exports (exports/) and the screenshots 0-mask.png (the mask drawn),
# 1-image-view.png (after tracking, with the features), 2-result-box.png, 3-scene-view.png
# (camera path and point cloud), 4-test-scene-box.png (the box over the frame); on a
# failure failed-<step>.png, the whole screen. Exit 0 when every check passed; otherwise
# the failed check, or exactly what is missing, is printed.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=build/gui-smoke
python=/usr/bin/python3  # the system's Python: the AT-SPI bindings are Debian packages

if [ "${2:-}" != "--inside" ]; then
  missing=()
  for tool in xvfb-run Xvfb xdotool import identify compare dbus-run-session "$python"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  "$python" -c "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi" \
    2>/dev/null || missing+=("the AT-SPI Python bindings (gir1.2-atspi-2.0, python3-gi)")
  [ -x "$build/app/kalvex" ] || missing+=("$build/app/kalvex")
  [ -x "$build/testing/kx_render_sequence" ] || missing+=("$build/testing/kx_render_sequence")
  if [ ${#missing[@]} -gt 0 ]; then
    printf 'gui smoke: missing: %s\n' "${missing[@]}"
    exit 1
  fi
  rm -rf "$out"
  mkdir -p "$out"
  "$build/testing/kx_render_sequence" --out="$out/frames" --shot=free --frames=30 \
    --width=640 --height=360 --focal=500 >"$out/render.log" 2>&1 ||
    { echo "gui smoke: the sample sequence could not be rendered:"; cat "$out/render.log"; exit 1; }
  # One frame of another size: Track must refuse the sequence, not solve a wrong camera.
  cp -r "$out/frames" "$out/odd"
  convert "$out/frames/img0007.png" -resize 320x180! "$out/odd/img0007.png" ||
    { echo "gui smoke: the odd-sized frame could not be made"; exit 1; }
  # Long enough that the window can be closed while its run still goes.
  "$build/testing/kx_render_sequence" --out="$out/long" --shot=free --frames=200 \
    --width=640 --height=360 --focal=500 >>"$out/render.log" 2>&1 ||
    { echo "gui smoke: the long sequence could not be rendered:"; cat "$out/render.log"; exit 1; }
  # A display of its own (the first free number) and a session bus for the accessibility
  # bus, both gone when the run ends.
  exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" \
    dbus-run-session -- "$0" "$build" --inside
fi

# ---- inside the virtual display
kalvex=$build/app/kalvex
mkdir -p "$out/config/TORBANE GmbH" "$out/run"
chmod 700 "$out/run"
# No update check over the network from a test.
printf '[UpdateSettings]\nAutomaticallyCheckForUpdates=false\n' >"$out/config/TORBANE GmbH/Kalvex.ini"
export XDG_CONFIG_HOME="$PWD/$out/config" XDG_RUNTIME_DIR="$PWD/$out/run"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset NFY_LEVEL

# drive <step> <kalvex pid>: the accessibility driver below.
drive() {
  "$python" - "$@" "$out" <<'PY'
import ctypes, os, re, subprocess, sys, time
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

step, pid, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
started = time.time()

def log(text):
    print(f'gui smoke [{time.time() - started:6.1f} s] {text}', flush=True)

def fail(text):
    log('FAILED: ' + text)
    # The whole screen as it was, for whoever reads the failure.
    subprocess.run(['import', '-window', 'root', os.path.join(out, f'failed-{step}.png')])
    sys.exit(1)

def alive():
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False

def app():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        child = desktop.get_child_at_index(i)
        try:
            if child is not None and child.get_process_id() == pid:
                return child
        except Exception:
            pass
    return None

def nodes(root):
    """Every showing node under root, depth first."""
    stack = [root]
    while stack:
        node = stack.pop()
        try:
            if node is not root and not node.get_state_set().contains(Atspi.StateType.SHOWING):
                continue
            yield node
            stack.extend(node.get_child_at_index(i) for i in reversed(range(node.get_child_count())))
        except Exception:  # a node that went away while we looked
            continue

def find(test, what, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not alive():
            fail(f'kalvex ended while waiting for {what}')
        root = app()
        if root is not None:
            for node in nodes(root):
                try:
                    if test(node):
                        return node
                except Exception:
                    pass
        time.sleep(0.5)
    fail(f'no {what} within {timeout} s')

def named(name, roles=None):
    def test(node):
        return node.get_name() == name and (roles is None or node.get_role_name() in roles)
    return test

def enabled(node):
    return node.get_state_set().contains(Atspi.StateType.ENABLED)

def click(node, what):
    box = node.get_extents(Atspi.CoordType.SCREEN)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    log(f'click {what} at {x},{y}')
    # Not --sync: it waits forever when the pointer is already there.
    subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'sleep', '0.2', 'click', '1'],
                   check=True)

def window_id(title_pattern, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--pid', str(pid),
                                '--name', title_pattern], capture_output=True, text=True)
        ids = found.stdout.split()
        if ids:
            return ids[-1]
        time.sleep(0.5)
    fail(f'no window named like "{title_pattern}"')

def screenshot(window, name):
    path = os.path.join(out, name)
    subprocess.run(['import', '-window', window, path], check=True)
    colours = int(subprocess.run(['identify', '-format', '%k', path], capture_output=True,
                                 text=True, check=True).stdout)
    size = subprocess.run(['identify', '-format', '%wx%h', path], capture_output=True,
                          text=True, check=True).stdout
    log(f'{name}: {size}, {colours} colours')
    if colours < 64:
        fail(f'{name} is blank ({colours} colours)')
    return path

def close_window(window):
    """Asks the window to close as a window manager would (WM_DELETE_WINDOW)."""
    x11 = ctypes.cdll.LoadLibrary('libX11.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong),
                    ('send_event', ctypes.c_int), ('display', ctypes.c_void_p),
                    ('window', ctypes.c_ulong), ('message_type', ctypes.c_ulong),
                    ('format', ctypes.c_int), ('data', ctypes.c_long * 5),
                    ('pad', ctypes.c_long * 12)]  # an XEvent is 24 longs

    display = x11.XOpenDisplay(None)
    event = ClientMessage()
    event.type = 33  # ClientMessage
    event.window = int(window)
    event.message_type = x11.XInternAtom(display, b'WM_PROTOCOLS', 0)
    event.format = 32
    event.data[0] = x11.XInternAtom(display, b'WM_DELETE_WINDOW', 0)
    event.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)

def close_like_a_user(window):
    """Closes the window. The tracked project is unsaved, so the program may ask; No
    discards it."""
    close_window(window)
    deadline = time.time() + 30
    while alive() and time.time() < deadline:
        root = app()
        question = None
        if root is not None:
            question = next((n for n in nodes(root) if 'save your project' in n.get_name()),
                            None)
        if question is not None:
            log('asked: ' + question.get_name())
            click(find(named('No', ['push button']), '"No" button', 10), '"No"')
            return
        time.sleep(0.5)
    if alive():
        fail('the window does not close')
    log('closed without a question to save the project')

def start_tracking():
    """Opens the tracking page and clicks Track; the page header."""
    header = page('4. Tracking', 30)
    click(header, 'page "4. Tracking"')
    track = reveal(lambda n: n.get_name() == 'Track' and n.get_role_name() == 'push button',
                   '"Track" button', header)
    if not enabled(track):
        fail('missing: the "Track" button is shown but disabled on the opened page "4. Tracking" '
             '(the page\'s controls stay disabled when the window enables the project pages)')
    click(track, '"Track"')
    return header

if step == 'usage':
    find(named('Command line output'), 'usage window', 60)
    text = find(lambda n: n.get_role_name() == 'text', 'usage text', 10)
    content = Atspi.Text.get_text(text, 0, Atspi.Text.get_character_count(text))
    if 'usage:' not in content:
        fail('the usage window does not show the usage: ' + content[:200])
    click(find(named('OK', ['push button']), 'OK button', 10), 'OK')
    sys.exit(0)

# ---- steps 'track' and 'stop': the main window with a sequence
main = find(lambda n: n.get_role_name() == 'frame' and n.get_name().startswith('Kalvex 1.'),
            'main window "Kalvex 1.…"', 120)
log(f'main window "{main.get_name()}"')
window = window_id('^Kalvex 1')
if step == 'track':
    screenshot(window, '0-start.png')

def page(name, timeout):
    """The tool-box page header, once it is enabled; says what is missing otherwise."""
    header = find(named(name), f'page "{name}"', 30)
    deadline = time.time() + timeout
    while not enabled(header):
        if time.time() > deadline:
            fail(f'missing: the page "{name}" stays disabled {timeout} s after start-up with '
                 'a sequence on the command line (the window does not enable the project '
                 'pages when the sequence is set)')
        time.sleep(0.5)
    return header

def reveal(test, what, near):
    """Scrolls the page under the header `near` down, with the arrow of its scroll bar, until
    a node that passes test is inside the page's visible part: a page taller than its room
    shows only its top, and a control below that is "showing" but cannot be clicked."""
    header = near.get_extents(Atspi.CoordType.SCREEN)
    for attempt in range(60):
        root = app()
        shown = next((n for n in nodes(root) if test(n)), None)
        bars = []
        for n in nodes(root):
            if n.get_role_name() != 'scroll bar':
                continue
            box = n.get_extents(Atspi.CoordType.SCREEN)
            if box.height > box.width and header.x <= box.x <= header.x + header.width and \
                    box.y > header.y:
                bars.append(box)
        bar = min(bars, key=lambda b: b.y) if bars else None
        if shown is not None:
            box = shown.get_extents(Atspi.CoordType.SCREEN)
            if bar is None or bar.y <= box.y and box.y + box.height <= bar.y + bar.height:
                return shown
        if bar is None:
            break
        subprocess.run(['xdotool', 'mousemove', str(bar.x + bar.width // 2),
                        str(bar.y + bar.height - 4), 'sleep', '0.2', 'click', '--repeat', '3',
                        '1'], check=True)
        time.sleep(0.3)
    shown = sorted({f'{n.get_role_name()} "{n.get_name()}"' for n in nodes(app())
                    if 'button' in n.get_role_name()})
    fail(f'no {what} on the page, also after scrolling it; buttons shown: ' + ', '.join(shown))

if step == 'odd':
    start_tracking()
    refused = find(lambda n: 'frames of different sizes' in n.get_name(),
                   'box refusing frames of different sizes', 60)
    log('told: ' + ' '.join(refused.get_name().split()))
    click(find(named('OK', ['push button']), 'OK of the box', 10), 'OK')
    time.sleep(1)
    if any(n.get_name() == 'Stop' and n.get_role_name() == 'push button' for n in nodes(app())):
        fail('a run started on frames of different sizes')
    close_like_a_user(window)
    sys.exit(0)

if step == 'stop':
    # Closing during a run: the program stops and joins the run, then ends with code 0.
    start_tracking()
    find(lambda n: n.get_name() == 'Stop' and n.get_role_name() == 'push button',
         '"Stop" button of a running run', 30)
    time.sleep(1)
    if any(n.get_name().startswith('Tracking result:') for n in nodes(app())):
        fail('the run ended before the window could be closed during it')
    log('closing the window during the run')
    close_like_a_user(window)
    sys.exit(0)

# ---- a mask over the left wall before tracking; the same area on the right wall stays
# open, so features found there and none under the mask show that the mask kept them out.
WIDTH, HEIGHT = 640, 360  # the rendered frames
MASK = [(20, 60), (210, 60), (210, 300), (20, 300)]  # image pixels, clockwise

def pixel_row(path, x, y, w, h):
    """(position along the strip, r, g, b) of a one-pixel strip of a screenshot."""
    text = subprocess.run(['convert', path, '-crop', f'{w}x{h}+{x}+{y}', '+repage', '-depth',
                           '8', 'txt:-'], capture_output=True, text=True, check=True).stdout
    strip = []
    for line in text.splitlines()[1:]:
        m = re.match(r'(\d+),(\d+):\s*\((\d+),(\d+),(\d+)', line)
        if m:
            px, py, r, g, b = map(int, m.groups())
            strip.append((px if h == 1 else py, r, g, b))
    return strip

def blue_lines(strip):
    """Centres of the runs of the viewer's frame-border blue along a strip."""
    centres, run = [], []
    for pos, r, g, b in strip + [(-1, 0, 0, 0)]:
        if b - max(r, g) > 40:
            run.append(pos)
        elif run:
            centres.append(sum(run) / len(run))
            run = []
    return centres

def image_frame(path, right, bottom):
    """The frame's rectangle (left, top, right, bottom) in window pixels: the blue border
    the image view draws around it, crossed by a row above the frame and a column right of
    it."""
    xs = blue_lines(pixel_row(path, 0, bottom // 8, right, 1))
    ys = blue_lines(pixel_row(path, right - 3, 0, 1, bottom))
    if len(xs) < 2 or len(ys) < 2:
        fail(f'the frame border is not where the image view draws it (columns {xs}, rows {ys})')
    return xs[0], ys[0], xs[-1], ys[-1]

def screen_point(frame, u, v):
    """The screen pixel of image pixel (u, v) in the frame's rectangle."""
    left, top, right, bottom = frame
    return (window_box.x + round(left + u * (right - left) / WIDTH),
            window_box.y + round(top + v * (bottom - top) / HEIGHT))

def click_image(frame, u, v, what):
    x, y = screen_point(frame, u, v)
    log(f'click {what} at {x},{y} (image {u},{v})')
    subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'sleep', '0.2', 'click', '1'],
                   check=True)
    time.sleep(0.3)

window_box = main.get_extents(Atspi.CoordType.SCREEN)
mask_page = page('3. Mask Edit', 30)
click(mask_page, 'page "3. Mask Edit"')
viewer_right = mask_page.get_extents(Atspi.CoordType.SCREEN).x - window_box.x - 4
viewer_bottom = window_box.height * 7 // 8
time.sleep(1)
frame = image_frame(screenshot(window, '0-mask-page.png'), viewer_right, viewer_bottom)
log(f'the frame on screen: {frame}')
click(reveal(named('New Mask', ['push button']), '"New Mask" button', mask_page), '"New Mask"')
for i, (u, v) in enumerate(MASK):
    click_image(frame, u, v, f'mask point {i + 1}')
click(find(named('Close Mask', ['push button']), '"Close Mask" button', 10), '"Close Mask"')
find(named('New Mask', ['push button']), '"New Mask" button after closing the mask', 10)
time.sleep(1)
screenshot(window, '0-mask.png')

tracking_page = start_tracking()

result = find(lambda n: n.get_name().startswith('Tracking result:'), '"Tracking result" box', 600)
text = result.get_name()
log('result: ' + ' '.join(text.split()))
box_window = window_id('.', 10)  # the newest window of the program: the box
screenshot(box_window, '2-result-box.png')
match = re.search(r'finished with quality ([0-9.]+)\s*%', text)
if not match:
    fail('the run found no camera path: ' + ' '.join(text.split()))
quality = float(match.group(1))
if quality < 50:
    fail(f'quality {quality} % is below 50 % for a clean rendered sequence')
ok = find(lambda n: n.get_name() == 'OK' and n.get_role_name() == 'push button', 'OK button', 10)
click(ok, 'OK of the result box')
deadline = time.time() + 10
while any(n.get_name().startswith('Tracking result:') for n in nodes(app())):
    if time.time() > deadline:
        fail('the result box stays open')
    time.sleep(0.5)

def viewer_area(path, right):
    """The viewer's part of a window screenshot: left of the tool box, above the playback
    bar (the lowest eighth)."""
    size = subprocess.run(['identify', '-format', '%w %h', path], capture_output=True,
                          text=True, check=True).stdout.split()
    crop = path[:-4] + '-viewer.png'
    subprocess.run(['convert', path, '-crop', f'{right}x{int(size[1]) * 7 // 8}+0+0', '+repage',
                    crop], check=True)
    colours = int(subprocess.run(['identify', '-format', '%k', crop], capture_output=True,
                                 text=True, check=True).stdout)
    return crop, colours

def differing(a, b):
    result = subprocess.run(['compare', '-metric', 'AE', a, b, 'null:'], capture_output=True,
                            text=True)
    return float((result.stderr.split() or ['0'])[0])

time.sleep(1)  # the views redraw after the box closed
image_view = screenshot(window, '1-image-view.png')
image_area, colours = viewer_area(image_view, viewer_right)
if colours < 64:
    fail(f'the viewer shows nothing in the image view ({colours} colours)')

def scene_view_shown():
    """Screenshot after the views redrew: the viewer's colours and whether it changed."""
    time.sleep(2)
    scene_area, colours = viewer_area(screenshot(window, '3-scene-view.png'), viewer_right)
    changed = differing(image_area, scene_area)
    log(f'{changed:.0f} viewer pixels differ between the image and the scene view')
    return colours, changed >= 5000

# ---- the export page: the camera path as text and COLLADA, the 2D tracks as ft2d
def choose(tip, letter, near, what):
    """Opens the combo box with tool tip `tip` on the page under `near` and picks the item
    whose text starts with `letter` (the only one), as a user would with the keyboard."""
    combo = reveal(lambda n: n.get_role_name() == 'combo box' and n.get_description() == tip,
                   f'combo box "{tip}"', near)
    click(combo, f'combo box "{tip}"')
    time.sleep(0.5)
    subprocess.run(['xdotool', 'type', letter], check=True)
    subprocess.run(['xdotool', 'key', 'Return'], check=True)
    time.sleep(0.5)
    log(f'chose {what}')

def answer_save_dialog(near, title, path):
    """Clicks the page's Save and answers the save dialog titled `title` with `path`."""
    save = reveal(lambda n: n.get_name() == 'Save' and n.get_role_name() == 'push button',
                  '"Save" button', near)
    click(save, '"Save"')
    window_id('^' + re.escape(title) + '$', 20)
    log(f'save dialog "{title}"')
    # The name field has the focus. Its text is set through the accessibility bus: typed
    # keys race with the completion popup, which opens on the way ("/pro" for "/proc").
    def name_field(node):
        states = node.get_state_set()
        return node.get_role_name() == 'text' and states.contains(Atspi.StateType.FOCUSED) \
            and states.contains(Atspi.StateType.EDITABLE)
    field = find(name_field, f'file name field of "{title}"', 10)
    Atspi.EditableText.set_text_contents(field, path)
    typed = Atspi.Text.get_text(field, 0, Atspi.Text.get_character_count(field))
    if typed != path:
        fail(f'the file name field of "{title}" holds "{typed}", not "{path}"')
    time.sleep(0.5)
    subprocess.run(['xdotool', 'key', 'Return'], check=True)

def save_as(near, title, path):
    """Saves through the page's Save and waits for the file."""
    answer_save_dialog(near, title, path)
    deadline = time.time() + 20
    while not (os.path.exists(path) and os.path.getsize(path) > 0):
        if time.time() > deadline:
            fail(f'"{title}" wrote no {path}')
        time.sleep(0.5)
    time.sleep(0.5)  # written in one go; let the writer finish
    log(f'wrote {path} ({os.path.getsize(path)} bytes)')

exports = os.path.abspath(os.path.join(out, 'exports'))
os.makedirs(exports, exist_ok=True)
export_page = page('6. Export', 10)
click(export_page, 'page "6. Export"')
choose('Choose export format', 'T', export_page, '"Text File"')
save_as(export_page, 'Save Text File', os.path.join(exports, 'camera.txt'))
choose('Choose export format', 'C', export_page, '"Collada"')
save_as(export_page, 'Save Collada File', os.path.join(exports, 'camera.dae'))
click(reveal(named('2D-Export'), '"2D-Export" button',
             export_page), '"2D-Export"')
choose('Choose export format', 'K', export_page, '"Kalvex Ft2d"')
save_as(export_page, 'Save Kalvex ft2d File', os.path.join(exports, 'tracks.ft2d'))

def check_exports():
    """The text export has a camera for every frame and the points; COLLADA, read by
    assimp, holds the same cameras and points; no 2D track point lies under the mask."""
    frames = len([f for f in os.listdir(os.path.join(out, 'frames')) if f.endswith('.png')])
    with open(os.path.join(exports, 'camera.txt')) as f:
        text = f.read()
    if not text.startswith('# Text export'):
        fail('camera.txt is not a text export: ' + text[:80])
    rows = [line.split() for line in text.splitlines() if line and not line.startswith('#')]
    cameras = [list(map(float, r)) for r in rows if len(r) == 16]
    points = [r for r in rows if len(r) == 3]
    if len(cameras) != frames or not points:
        fail(f'camera.txt holds {len(cameras)} cameras for {frames} frames and '
             f'{len(points)} points')
    log(f'camera.txt: {len(cameras)} cameras, {len(points)} points, focal '
        f'{cameras[0][12]:.4f} mm')

    dae = os.path.join(exports, 'camera.dae')
    info = subprocess.run(['assimp', 'info', dae], capture_output=True, text=True)
    summary = dict(re.findall(r'^(Cameras|Animations|Nodes):\s+(\d+)', info.stdout, re.M))
    log(f'assimp info camera.dae: exit {info.returncode}, {summary}')
    if info.returncode != 0 or summary.get('Cameras') != '1' or summary.get('Animations') != '1':
        fail('assimp does not read camera.dae as one animated camera: ' + info.stdout[-400:])
    with open(dae) as f:
        collada = f.read()
    def array(name):
        m = re.search(f'id="Camera-{name}-output-array">([^<]*)<', collada)
        return list(map(float, m.group(1).split())) if m else []
    translate, xfov = array('translate'), array('xfov')
    if len(translate) != 3 * frames or len(xfov) != frames:
        fail(f'camera.dae keys {len(translate) // 3} positions and {len(xfov)} fields of view '
             f'for {frames} frames')
    # COLLADA is y up, the camera looking down -z: y and z turn over.
    worst = max(max(abs(translate[3 * i] - c[9]), abs(translate[3 * i + 1] + c[10]),
                    abs(translate[3 * i + 2] + c[11]), abs(xfov[i] - c[13]))
                for i, c in enumerate(cameras))
    cloud = len(re.findall(r'<node id="auto_\d+"', collada))
    log(f'camera.dae against camera.txt: largest difference {worst:.2g}, {cloud} points')
    if worst > 1e-5 or cloud != len(points):
        fail('camera.dae and camera.txt differ')

    def inside(u, v, corners, margin):
        (u0, v0), (u1, v1) = corners[0], corners[2]
        return u0 + margin < u < u1 - margin and v0 + margin < v < v1 - margin
    mirror = [(WIDTH - u, v) for u, v in MASK]
    mirror = [mirror[1], mirror[0], mirror[3], mirror[2]]  # left to right again
    under, opposite, total = [], 0, 0
    with open(os.path.join(exports, 'tracks.ft2d')) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 5:
                continue
            u, v, frame_index = float(fields[1]), float(fields[2]), int(fields[4])
            total += 1
            if inside(u, v, MASK, 2):
                under.append(f'frame {frame_index}: {u:.1f},{v:.1f}')
            if inside(u, v, mirror, 2):
                opposite += 1
    log(f'tracks.ft2d: {total} track points, {len(under)} under the mask, {opposite} in the '
        'same area on the other side')
    if under:
        fail('features under the mask: ' + '; '.join(under[:10]))
    if opposite < 20:
        fail('too few features on the unmasked side to tell what the mask did')

check_exports()

# A place nothing can be written to, not even by root: the page must say so.
answer_save_dialog(export_page, 'Save Kalvex ft2d File', '/proc/kalvex-tracks.ft2d')
failed = find(lambda n: n.get_name().startswith('Export failed'), '"Export failed" box', 20)
log('told: ' + ' '.join(failed.get_name().split()))
click(find(named('OK', ['push button']), 'OK of the "Export failed" box', 10), 'OK')

click(page('5. Test Scene', 10), 'page "5. Test Scene"')
colours, switched = scene_view_shown()
if not switched:
    # The page did not switch the view: the view toggle's shortcut, as a user would.
    log('the page left the viewer in the image view; Ctrl+V (the view toggle)')
    subprocess.run(['xdotool', 'key', '--clearmodifiers', 'ctrl+v'], check=True)
    colours, switched = scene_view_shown()
    if not switched:
        fail('missing: neither the page "5. Test Scene" nor the view toggle (Ctrl+V) switches '
             'the viewer to the scene view')
if colours < 16:
    fail(f'the viewer shows nothing in the scene view ({colours} colours)')

# ---- a box on the floor: back in the image view, the 3D points on the floor of the first
# frame are selected with a rectangle and a box is added from them, as a user checks a
# solve; the box must show over the frame.
scene_page = page('5. Test Scene', 10)
log('Ctrl+V (the view toggle) back to the image view')
subprocess.run(['xdotool', 'key', '--clearmodifiers', 'ctrl+v'], check=True)
time.sleep(2)
before = screenshot(window, '4-test-scene-image.png')
before_area, _ = viewer_area(before, viewer_right)
if differing(before_area, os.path.join(out, '3-scene-view-viewer.png')) < 5000:
    fail('the view toggle (Ctrl+V) leaves the viewer in the scene view')
frame = image_frame(before, viewer_right, viewer_bottom)
FLOOR = [(230, 230), (560, 330)]  # image pixels: corners of the selection rectangle
(x0, y0), (x1, y1) = (screen_point(frame, u, v) for u, v in FLOOR)
log(f'select the floor points from {x0},{y0} to {x1},{y1}')
subprocess.run(['xdotool', 'mousemove', str(x0), str(y0), 'sleep', '0.2', 'mousedown', '1',
                'sleep', '0.2', 'mousemove', str((x0 + x1) // 2), str((y0 + y1) // 2),
                'sleep', '0.2', 'mousemove', str(x1), str(y1), 'sleep', '0.2', 'mouseup', '1'],
               check=True)
time.sleep(1)
click(reveal(named('Add Object'), '"Add Object" button', scene_page), '"Add Object"')
time.sleep(1)
# The menu lists Cone, Box, Plane, Mesh, Textured Mesh; the second with the keyboard (Qt's
# popup menus do not show their items on the accessibility bus).
log('"Box" from the menu')
subprocess.run(['xdotool', 'key', 'Down', 'Down', 'Return'], check=True)
time.sleep(2)
box_area, _ = viewer_area(screenshot(window, '4-test-scene-box.png'), viewer_right)
changed = differing(before_area, box_area)
log(f'{changed:.0f} viewer pixels changed with the box')
if changed < 2000:
    fail('the added box does not show over the frame')

close_like_a_user(window)
PY
}

# finish <pid> <name>: waits for the program to end by itself; its exit code.
finish() {
  local i
  for i in $(seq 1 120); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$1" 2>/dev/null; then
    echo "gui smoke: FAILED: $2 did not end; stopped"
    kill "$1"
  fi
  wait "$1"
}

# run <step> <log> <kalvex arguments...>: kalvex driven through the step; its exit code must
# be 0. A failed step stops the program at once.
run() {
  local step=$1 log=$2 pid code
  shift 2
  "$kalvex" "$@" >"$out/$log" 2>&1 &
  pid=$!
  if drive "$step" "$pid" | tee -a "$out/driver.log"; then
    finish "$pid" kalvex
    code=$?
  else
    kill "$pid" 2>/dev/null
    wait "$pid"
    return 1
  fi
  if [ "$code" != 0 ]; then
    echo "gui smoke: FAILED: kalvex $step ended with code $code; its output:"
    tail -n 30 "$out/$log"
    return 1
  fi
}

# The accessibility bus first: a program registers with it only when it is there at start.
"$python" -c "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi; Atspi.get_desktop(0)"

status=0
run usage usage.log -h || status=1
run track kalvex.log "$out/frames/img####.png" || status=1
run odd kalvex-odd.log "$out/odd/img####.png" || status=1
run stop kalvex-stop.log "$out/long/img####.png" || status=1
if grep -q "runtime error\|Sanitizer\|QObject::connect:" "$out"/*.log; then
  echo "gui smoke: FAILED: kalvex reported:"
  grep -A5 "runtime error\|Sanitizer\|QObject::connect:" "$out"/*.log | head -n 40
  status=1
fi
[ $status = 0 ] && echo "gui smoke: passed; screenshots in $out"
exit $status
