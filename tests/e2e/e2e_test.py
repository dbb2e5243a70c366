#!/usr/bin/env python3
"""The hard cases through the real TavroInstaller.exe, driven as a person would (Alt+F4,
Enter, a click on Retry) under Xvfb, against the channel server. Each case is judged by
the journal, the server's recorded requests, the cache and the uninstall record.
A prefix of its own (<build>/wineprefix-e2e); screenshots go to <build>/e2e-shots.
usage: e2e_test.py INSTALLER DEMO_DIR [CASE...]
"""
import glob, hashlib, json, os, shutil, signal, subprocess, sys, time

if os.environ.get("TAVRO_WINDOW_XVFB") != "1":
    os.environ["TAVRO_WINDOW_XVFB"] = "1"
    sys.exit(subprocess.call(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", sys.executable] + sys.argv))

EXE, DEMO = sys.argv[1:3]
sys.argv[3:3] = ["", ""]  # the window module reads its own three program arguments
sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui"))
import window_test as wt  # noqa: E402  (the screenshot, driving and journal helpers)
from window_test import Shot, check, run, until  # noqa: E402

sys.argv[3:5] = []
wt.PREFIX, wt.SHOTS = os.path.join(wt.BUILD, "wineprefix-e2e"), os.path.join(wt.BUILD, "e2e-shots")
os.environ["WINEPREFIX"] = wt.PREFIX
# Without Media Foundation, as on Windows N editions (the page shows its slides): these cases
# are about installs, and under Wine a process that ends while GStreamer is still taking the
# clip's decoder apart can die of SIGSEGV after its work is done. window_tests plays the clip.
os.environ["WINEDLLOVERRIDES"] += ";mfplat,mfreadwrite=d"
WIN = os.path.join(wt.ROOT, "desktop", "win")
UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro"
SLOW = {"action": "serve", "chunk_size": 16384, "delay_ms": 400, "times": 20}
SETUP_LOG = os.path.join(wt.BUILD, "e2e-setup.jsonl")
SETUP_EXIT = os.path.join(wt.BUILD, "e2e-setup-exit.txt")  # read by the demo setup at each run


def local(*parts):
    found = glob.glob(os.path.join(wt.PREFIX, "drive_c/users/*/AppData/Local", *parts))
    return found[0] if found else None


def journal():
    return [json.loads(line)["event"] for line in wt.events().splitlines() if line.strip()]


def package_requests(since):
    lines = open(os.path.join(wt.STATE, "requests.jsonl")).read().splitlines()[since:]
    records = [json.loads(line) for line in lines]
    return [dict(r, headers=dict(r["headers"])) for r in records if "Tavro-Setup" in r["path"] or "tampered" in r["path"]]


def partial_answers():  # the server's own log line of each 206 it sent for the package
    return open(os.path.join(wt.STATE, "server.log")).read().count('Tavro-Setup-1.0.0.exe HTTP/1.1" 206')


# The server's requests before the case's window started: a fast start sends the first ones
# before the window can be found.
CASE_START = {"requests": 0}


def requests_so_far():
    path = os.path.join(wt.STATE, "requests.jsonl")
    return len(open(path).read().splitlines()) if os.path.exists(path) else 0


def partial():
    files = [f for f in glob.glob(os.path.join(local("TavroInstaller") or "/nonexistent", "*.exe"))]
    return (os.path.getsize(files[0]), open(files[0] + ".etag").read() if os.path.exists(files[0] + ".etag") else "") if files else (0, "")


def installed(version="1.0.0"):
    return version in run("wine", "reg", "query", UNINSTALL, "/v", "DisplayVersion")


def windows(name="^Tavro Installer$"):
    return run("xdotool", "search", "--onlyvisible", "--name", name).split()


def setup_runs():
    return [json.loads(line)["exitCode"] for line in open(SETUP_LOG)] if os.path.exists(SETUP_LOG) else []


def done(case, w, seconds=90, version="1.0.0"):
    code = w.exit_code(seconds)
    check(case, "installs and closes with 0", code == 0 and "install_succeeded" in journal(), (code, journal()[-4:]))
    check(case, "uninstall record", installed(version))


def fresh_then_handover(case, w):
    done(case, w)
    before = journal().count("app_launch_confirmed")
    second, seen = subprocess.Popen(["wine", EXE]), []  # with Tavro installed: hand-over, no window
    until(lambda: seen.extend(windows()) or second.poll() is not None, 30)
    check(case, "second start hands over without a window", second.wait(10) == 0 and not seen, seen)
    check(case, "journal of the hand-over", journal()[-2:] == ["installed_app_detected_at_startup", "app_launch_confirmed"]
          and journal().count("app_launch_confirmed") == before + 1, journal()[-3:])
    # A link where the cache folder belongs (an unsafe cache): nothing goes through it, and
    # the user still gets Tavro.
    until(lambda: not windows("^Tavro$"), 15)
    cache, elsewhere = local("TavroInstaller"), os.path.join(wt.PREFIX, "drive_c", "elsewhere")
    shutil.rmtree(cache)
    os.makedirs(elsewhere, exist_ok=True)
    os.symlink(elsewhere, cache)
    third, seen = subprocess.Popen(["wine", EXE]), []
    until(lambda: seen.extend(windows()) or third.poll() is not None, 30)
    check(case, "with the cache unusable, a start still hands over", third.wait(10) == 0 and not seen and
          until(lambda: windows("^Tavro$"), 15) and not os.listdir(elsewhere), (seen, os.listdir(elsewhere)))
    os.remove(cache)


def killed_download(case, w):
    check(case, "download under way", until(lambda: partial()[0] > 65536, 60))
    run("wineserver", "-k")  # the whole prefix at once, as a crash or a power loss would
    w.proc.wait(10)
    size, tag = partial()
    check(case, "partial file and its validator survive the kill", size > 0 and tag, (size, tag))
    since, answered = requests_so_far(), partial_answers()
    wt.channel([])
    done(case, wt.Window())
    resumed = package_requests(since)
    head = resumed[0]["headers"] if resumed else {}
    print("     resume request: Range %s, If-Range %s" % (head.get("Range"), head.get("If-Range")))
    check(case, "one request resumes from the partial file with If-Range, answered 206", len(resumed) == 1 and
          head.get("Range") == "bytes=%d-" % size and head.get("If-Range") == tag and partial_answers() == answered + 1, resumed)
    check(case, "no failed run in between", "installer_failed" not in journal())


def close_then_enter(case, w):
    check(case, "download shows its percentage", w.shot(case, Shot.label, 60))
    w.send("alt+F4")
    check(case, "the paused text with Retry", w.shot(case + "-paused", Shot.failure, 30))
    check(case, "journal says cancelled", until(lambda: journal()[-1:] == ["cancelled"], 5), journal()[-3:])
    size, tag = partial()
    since, answered = requests_so_far(), partial_answers()
    wt.channel([])
    w.send("Return")
    done(case, w)
    resumed = package_requests(since)
    print("     resume request after Enter: Range %s" % (resumed[0]["headers"].get("Range") if resumed else None))
    check(case, "Enter resumes with a range request, answered 206", len(resumed) == 1 and
          resumed[0]["headers"].get("Range") == "bytes=%d-" % size and resumed[0]["headers"].get("If-Range") == tag and
          partial_answers() == answered + 1, resumed)


def tavro_running(case, w):
    check(case, "the running-error text with Retry", w.shot(case, Shot.failure, 90) and
          journal()[-2:] == ["payload_verified", "installer_failed"], journal()[-3:])
    check(case, "no offline link: closing Tavro mends it", not wt.links(), wt.links())
    app = (windows("^Tavro$") or [""])[0]  # under the installer's window: brought forward, clicked, closed
    run("xdotool", "windowraise", app, "mousemove", "--window", app, "20", "20", "click", "1")
    run("xdotool", "key", "--window", app, "alt+F4")
    check(case, "Tavro exits", until(lambda: not windows("^Tavro$"), 15))
    since = requests_so_far()
    w.click_retry()
    done(case, w)
    check(case, "installed without downloading again", package_requests(since) == [])


def two_at_once(case, w):
    other = wt.Window()
    other.id = (until(lambda: [i for i in windows() if i != w.id], 30) or [""])[0]
    first_done = w.exit_code(90)
    check(case, "one installs", first_done == 0 and installed(), (first_done, journal()[-8:]))
    shot = other.shot(case + "-second", Shot.failure, 20)
    check(case, "the other shows the generic text with Retry", shot and journal().count("installer_failed") == 1)
    other.send("alt+F4")
    check(case, "and closes on request", other.exit_code(10) == 0, journal()[-4:])


def gaps_503(case, w):
    done(case, w)
    times = [r["time"] for r in package_requests(CASE_START["requests"])]
    gaps = [round(b - a, 2) for a, b in zip(times, times[1:])]
    print("     package requests %d, gaps %s s" % (len(times), gaps))
    check(case, "gaps of at least 1 s and 2 s", len(gaps) == 2 and gaps[0] >= 1 and gaps[1] >= 2, gaps)


def cancelled_setup(case, w):
    check(case, "1602: Retry offered", w.shot(case, Shot.failure, 90) and setup_runs() == [1602], setup_runs())
    check(case, "nothing installed after 1602", not installed())
    os.remove(SETUP_EXIT)  # the next run of the setup succeeds
    since = requests_so_far()
    w.click_retry()
    done(case, w)
    check(case, "Retry ran the cached setup again without downloading",
          setup_runs() == [1602, 0] and package_requests(since) == [], (setup_runs(), package_requests(since)))


def restart_required(case, w):
    done(case, w)
    check(case, "the setup's 3010 reached the window", setup_runs() == [3010])


def bad_digest(case, w):
    check(case, "generic text and Retry", w.shot(case, Shot.failure, 90))
    check(case, "the offline link at once", wt.links() == [("30", wt.TEXTS["desktop_installer_offline_link"], "")],
          wt.links())
    check(case, "nothing run, journal ends with installer_failed", setup_runs() == [] and not installed() and
          journal()[-1:] == ["installer_failed"], journal()[-3:])
    w.send("alt+F4")
    check(case, "closes on request", w.exit_code(10) == 0)


def start_tavro():  # a copy that is not installed: an installed one would be handed over to
    subprocess.Popen(["wine", os.path.join(DEMO, "1.0.0", "Tavro.exe")], env={**os.environ, "TAVRO_DEMO_APP_LIFETIME_MS": "120000"})
    until(lambda: windows("^Tavro$"), 30)


def cached_setups(folder=b"\\TavroInstaller\\"):
    """Linux ids of this prefix's processes started from a package in the cache, once they run.
    A Wine process whose parent dies before it has mapped more than ntdll stays in its start-up
    for good (one thread, waiting on a pipe), so a kill that early tests Wine, not a setup that
    outlives the installer: a process counts once its Windows side is loaded."""
    def read(pid, name):
        try:
            return open("/proc/%s/%s" % (pid, name), "rb").read()
        except OSError:
            return b""
    prefix = ("WINEPREFIX=%s\0" % wt.PREFIX).encode()
    return [p for p in os.listdir("/proc") if p.isdigit() and folder in read(p, "cmdline")
            and prefix in read(p, "environ") and b"kernelbase.dll" in read(p, "maps")]


def cache_left():  # the cache's entries but an empty receipts folder, which the hand-over keeps
    folder = local("TavroInstaller")
    return sorted(f for f in os.listdir(folder) if f != "receipts" or os.listdir(os.path.join(folder, f)))


def kill_installer_during_setup(case, w):
    check(case, "the setup runs", until(cached_setups, 90), journal()[-3:])
    os.kill(w.proc.pid, signal.SIGKILL)  # the installer's own process only, as Task Manager ends it
    w.proc.wait(10)
    check(case, "its setup runs on", cached_setups() and not setup_runs(), setup_runs())


def ended_clean(case, last_events):
    check(case, "no failure, the journal ends " + " ".join(last_events),
          journal()[-3:] == last_events and "installer_failed" not in journal(), journal())
    check(case, "nothing but the journal and the lock left in the cache", cache_left() == ["events.jsonl", "session.lock"],
          cache_left())


def killed_during_setup(case, w, installed_meanwhile=False):
    kill_installer_during_setup(case, w)
    if installed_meanwhile:  # a copy the start would hand over to, were the setup not running
        run("wine", os.path.join(DEMO, "1.0.0", "Tavro-Setup-1.0.0.exe"))
        check(case, "a copy is installed while the setup still runs", installed() and cached_setups())
    again = wt.Window()  # at once: the restart finds the setup still running
    check(case, "the restart's window appears while the setup runs", again.id and cached_setups())
    done(case, again)
    check(case, "the cached setup ran once", setup_runs() == [0] * (1 + installed_meanwhile), setup_runs())
    ended_clean(case, ["installer_opened", "install_succeeded", "payload_cache_removed"])


def killed_then_setup_ended(case, w):
    kill_installer_during_setup(case, w)
    check(case, "the setup ends installed", until(setup_runs, 60) == [0] and installed(), setup_runs())
    again, seen = subprocess.Popen(["wine", EXE]), []
    until(lambda: seen.extend(windows()) or again.poll() is not None, 30)
    check(case, "the restart hands over without a window", again.wait(10) == 0 and not seen, seen)
    ended_clean(case, ["installed_app_detected_at_startup", "payload_cache_removed", "app_launch_confirmed"])


LINK = b"\\cache-link\\"  # a folder link in front of the cache: C:\cache-link is the cache


def start_setup_through_link():  # the published package in the cache, its setup started through the link
    cache = os.path.join(local(), "TavroInstaller")
    os.makedirs(cache)
    package = os.path.join(WIN, "Tavro-Setup-1.0.0.exe")
    name = hashlib.sha512(open(package, "rb").read()).hexdigest() + ".exe"
    shutil.copy(package, os.path.join(cache, name))
    link = os.path.join(wt.PREFIX, "drive_c", "cache-link")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(cache, link)
    subprocess.Popen(["wine", "C:\\cache-link\\" + name], env={**os.environ, "TAVRO_DEMO_SETUP_DELAY_MS": "25000"})
    check("setup-through-link", "the setup runs", until(lambda: cached_setups(LINK), 60))


def setup_through_link(case, w):
    waiting = wt.TEXTS["desktop_installer_waiting_for_setup"]
    status = lambda: (wt.tree(run("wine", wt.READER, "read"))[1] or [("", "")])[0][1]
    check(case, "the page says what it waits for", until(lambda: status() == waiting, 30), status())
    check(case, "no second setup", len(cached_setups(LINK)) == 1 and not cached_setups() and "install_started" not in journal(),
          journal()[-3:])
    w.send("alt+F4")
    check(case, "a close leaves the window, the setup goes on", w.exit_code(15) == 0 and cached_setups(LINK) and
          journal()[-2:] == ["installer_opened", "cancelled"], journal()[-3:])
    again = wt.Window()  # while the setup still runs: this start waits for it and finishes the install
    check(case, "the next start waits for the same setup", again.id and cached_setups(LINK) and not cached_setups())
    done(case, again)
    check(case, "the setup ran once", setup_runs() == [0], setup_runs())
    ended_clean(case, ["installer_opened", "install_succeeded", "payload_cache_removed"])


BAD = [{"action": "serve"}, {"action": "serve", "file": "desktop/win/tampered.exe"}]
CASES = [  # name, the channel's script, the installer's environment, what is done first, the check
    ("fresh-then-handover", [], {}, None, fresh_then_handover),
    ("killed-mid-download", [{"action": "serve"}, SLOW], {}, None, killed_download),
    ("close-then-enter", [{"action": "serve"}, SLOW], {}, None, close_then_enter),
    ("tavro-running", [], {}, start_tavro, tavro_running),
    ("two-at-once", [{"action": "serve"}, dict(SLOW, delay_ms=100)], {}, None, two_at_once),
    ("503-twice", [{"action": "serve"}, {"action": "status", "status": 503, "times": 2}], {}, None, gaps_503),
    ("setup-1602", [], {"TAVRO_DEMO_SETUP_EXIT_FILE": "Z:" + SETUP_EXIT.replace("/", "\\")},
     lambda: open(SETUP_EXIT, "w").write("1602\n"), cancelled_setup),
    ("setup-3010", [], {"TAVRO_DEMO_SETUP_EXIT": "3010"}, None, restart_required),
    ("digest-mismatch", BAD, {}, None, bad_digest),
    ("killed-during-setup", [], {"TAVRO_DEMO_SETUP_DELAY_MS": "8000"}, None, killed_during_setup),
    ("killed-then-setup-ended", [], {"TAVRO_DEMO_SETUP_DELAY_MS": "8000"}, None, killed_then_setup_ended),
    ("killed-during-setup-copy-installed", [], {"TAVRO_DEMO_SETUP_DELAY_MS": "8000"}, None,
     lambda case, w: killed_during_setup(case, w, installed_meanwhile=True)),
    ("setup-through-link", [], {}, start_setup_through_link, setup_through_link),
]


def main():
    os.makedirs(wt.SHOTS, exist_ok=True)
    run(os.path.join(wt.SOURCE, "cmake", "wine-run.sh"), "cmd", "/c", "exit")  # makes the prefix once
    run("wineserver", "-k")
    for font in ("tahoma.ttf", "tahomabd.ttf", "marlett.ttf"):
        shutil.copy("/usr/share/wine/fonts/" + font, os.path.join(wt.PREFIX, "drive_c/windows/Fonts"))
    run("wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f")
    os.makedirs(WIN, exist_ok=True)
    for f in glob.glob(os.path.join(DEMO, "1.0.0/channel/desktop/win/*")):
        shutil.copy(f, WIN)
    shutil.copy(os.path.join(DEMO, "fixtures/tampered/Tavro-Setup-1.0.0.exe"), os.path.join(WIN, "tampered.exe"))
    os.environ.update(TAVRO_DEMO_APP_LIFETIME_MS="3000", TAVRO_DEMO_SETUP_LOG="Z:" + SETUP_LOG.replace("/", "\\"))
    for name, script, env, before, test in CASES:
        if sys.argv[3:] and name not in sys.argv[3:]:
            continue
        run("wineserver", "-k")
        run("wine", "reg", "delete", UNINSTALL, "/f")
        for folder in ("TavroInstaller", "Programs/Tavro"):
            shutil.rmtree(local(folder) or "/nonexistent", ignore_errors=True)
        if os.path.exists(SETUP_LOG):
            os.remove(SETUP_LOG)
        if before:
            before()
        wt.channel(script)
        CASE_START["requests"] = requests_so_far()
        w = wt.Window(env=env)
        try:
            check(name, "window appears", w.id)
            test(name, w)
        finally:
            if w.exit_code(0) is None:
                w.proc.kill()
    wt.channel([])
    run("wineserver", "-k")
    print("%d failed" % len(wt.failures))
    return 1 if wt.failures else 0


sys.exit(main())
