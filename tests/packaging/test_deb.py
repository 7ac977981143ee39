#!/usr/bin/env python3
"""The Debian package as a user meets it, on a Debian 12 that never built it.

    tests/packaging/test_deb.py PACKAGE.deb [--work DIR] [--keep]

Makes a fresh Debian 12 root with debootstrap from the archive this machine
uses, installs the package there with `apt-get install ./PACKAGE.deb` (which
must bring every dependency from the archive), and checks that:
- `trellon --version` names the package's version and `trellon info` reads
  a committed video;
- `trellonhd --help` works without a display, and `trellonhd` opens its
  window on a virtual X server (a screenshot is kept in the work folder);
- the desktop entry validates and the MIME database knows ".dk2" files;
- `apt-get purge` takes every file of the package away again.

Needs root (chroot and mounts); debootstrap, Xvfb, icewm, xdotool,
imagemagick and desktop-file-validate come from scripts/setup. The work
folder (build/package-test by default) keeps the archive's downloads
between runs, so a second run fetches nothing; the root itself is made anew
each time and removed at the end.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT_DIR = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT_DIR / "tests" / "data" / "golden" / "small.dk2"
SUITE = "bookworm"


class Failure(Exception):
    pass


def say(text):
    print(f"deb: {text}", flush=True)


def check(condition, text):
    if not condition:
        raise Failure(text)
    say(f"ok: {text}")


def run(args, **kwargs):
    kwargs.setdefault("check", True)
    return subprocess.run(args, **kwargs)


def archive_mirror():
    """The Debian mirror this machine's apt uses, and its sources text."""
    entries = []
    sources = pathlib.Path("/etc/apt/sources.list.d")
    for path in sorted(sources.glob("*.sources")):
        if path.name.startswith("trellonhd"):
            continue  # scripts/setup's deb-src entries
        for block in path.read_text().split("\n\n"):
            lines = [l for l in block.splitlines() if l and not l.startswith("#")]
            fields = dict(l.split(":", 1) for l in lines if ":" in l)
            if "deb" in fields.get("Types", "").split() and "debian" in fields.get("URIs", ""):
                entries.append({k: v.strip() for k, v in fields.items()})
    legacy = pathlib.Path("/etc/apt/sources.list")
    if legacy.exists():
        for line in legacy.read_text().splitlines():
            parts = line.split()
            if len(parts) >= 4 and parts[0] == "deb" and "debian" in parts[1]:
                entries.append({"Types": "deb", "URIs": parts[1], "Suites": parts[2],
                                "Components": " ".join(parts[3:])})
    main = [e for e in entries if SUITE in e["Suites"].split()]
    if not main:
        raise Failure("no Debian 12 archive in /etc/apt to make the root from")
    text = "\n".join(
        f"Types: deb\nURIs: {e['URIs']}\nSuites: {e['Suites']}\nComponents: {e['Components']}\n"
        f"Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n"
        for e in entries)
    return main[0]["URIs"].split()[0], text


class Root:
    """A Debian root with /proc, /dev and the X socket folder mounted."""

    def __init__(self, path):
        self.path = path
        self.mounts = []

    def mount(self, *args, target):
        target = self.path / target.lstrip("/")
        target.mkdir(parents=True, exist_ok=True)
        run(["mount", *args, str(target)])
        self.mounts.append(target)

    def unmount(self):
        for target in reversed(self.mounts):
            subprocess.run(["umount", "-l", str(target)], check=False)
        self.mounts = []

    def remove(self):
        self.unmount()
        # Never remove through a mount that is still there.
        mounted = subprocess.run(["findmnt", "-rn", "-o", "TARGET"], capture_output=True,
                                 text=True).stdout.split()
        inside = [m for m in mounted if m.startswith(str(self.path) + "/")]
        if inside:
            raise Failure(f"still mounted, {self.path} left in place: {inside}")
        run(["rm", "-rf", "--one-file-system", str(self.path)])

    def chroot(self, command, env=None, **kwargs):
        environment = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/tmp/home",
                       "LANG": "C.UTF-8", "DEBIAN_FRONTEND": "noninteractive"}
        environment.update(env or {})
        return run(["chroot", str(self.path), "/usr/bin/env", "-i",
                    *(f"{k}={v}" for k, v in environment.items()), *command], **kwargs)

    def output(self, command, env=None):
        done = self.chroot(command, env, capture_output=True, text=True, check=False)
        if done.returncode != 0:
            raise Failure(f"{' '.join(command)} failed ({done.returncode}):\n"
                          f"{done.stdout}{done.stderr}")
        return done.stdout


def make_root(work, mirror, sources):
    """A fresh minimal Debian 12, from downloads kept in `work` when there."""
    root = Root(work / "root")
    if root.path.exists():
        root.remove()
    tarball = work / f"{SUITE}-minbase.tgz"
    if not tarball.exists():
        say(f"downloading a minimal {SUITE} from {mirror} (once)")
        partial = work / "partial.tgz"
        run(["debootstrap", "--variant=minbase", f"--make-tarball={partial}", SUITE,
             str(work / "tarball-work"), mirror], stdout=subprocess.DEVNULL)
        shutil.rmtree(work / "tarball-work", ignore_errors=True)
        partial.rename(tarball)
    say(f"making a fresh {SUITE} root in {root.path}")
    started = time.monotonic()
    run(["debootstrap", "--variant=minbase", f"--unpack-tarball={tarball}", SUITE,
         str(root.path), mirror], stdout=subprocess.DEVNULL)
    say(f"root made in {time.monotonic() - started:.0f} s")
    (root.path / "etc/apt/sources.list").write_text("")
    (root.path / "etc/apt/sources.list.d/debian.sources").write_text(sources)
    shutil.copy("/etc/resolv.conf", root.path / "etc/resolv.conf")
    # Downloads kept across runs: apt's cache of the packages the deb pulls.
    cache = work / "apt-archives"
    (cache / "partial").mkdir(parents=True, exist_ok=True)
    root.mount("-t", "proc", "proc", target="/proc")
    root.mount("--bind", "/dev", target="/dev")
    root.mount("--bind", "/dev/pts", target="/dev/pts")
    root.mount("--bind", "/tmp/.X11-unix", target="/tmp/.X11-unix")
    root.mount("--bind", str(cache), target="/var/cache/apt/archives")
    (root.path / "tmp/home").mkdir(parents=True, exist_ok=True)
    return root


def package_files(root):
    """Every file and folder dpkg says the package owns."""
    return root.output(["dpkg-query", "-L", "trellonhd"]).split()


def start_display(work):
    """A virtual X server with a window manager; (display, processes)."""
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp"], pass_fds=[write],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        raise Failure("Xvfb did not start")
    display = f":{number}"
    wm = subprocess.Popen(["icewm"], env={**os.environ, "DISPLAY": display},
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return display, [wm, xvfb]


def test_programs(root, version):
    said = root.output(["trellon", "--version"]).strip()
    check(said == f"trellon {version}", f"trellon --version says \"{said}\"")
    shutil.copy(GOLDEN, root.path / "tmp/small.dk2")
    info = root.output(["trellon", "info", "/tmp/small.dk2"])
    check("Frames:" in info, "trellon info reads a committed video")
    root.output(["trellon", "verify", "/tmp/small.dk2"])  # raises unless it exits 0
    say("ok: trellon verify finds the committed video sound")
    help_text = root.output(["trellonhd", "--help"])
    check("Usage: trellonhd" in help_text, "trellonhd --help works without a display")
    for page in ("trellon", "trellonhd"):
        check((root.path / f"usr/share/man/man1/{page}.1.gz").is_file(),
              f"the manual page {page}(1) is installed")


def test_window(root, work):
    display, processes = start_display(work)
    app = None
    try:
        app = subprocess.Popen(
            ["chroot", str(root.path), "/usr/bin/env", "-i", "PATH=/usr/bin:/bin",
             "HOME=/tmp/home", "LANG=C.UTF-8", f"DISPLAY={display}", "trellonhd",
             "/tmp/small.dk2"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        found = subprocess.run(["timeout", "30", "xdotool", "search", "--sync", "--onlyvisible",
                                "--name", "TrellonHD$"],
                               env={**os.environ, "DISPLAY": display}, capture_output=True,
                               text=True)
        if found.returncode != 0:
            app.kill()
            raise Failure("trellonhd opened no window:\n" + app.communicate()[0].decode())
        window = found.stdout.split()[0]
        title = subprocess.run(["xdotool", "getwindowname", window], capture_output=True,
                               text=True, env={**os.environ, "DISPLAY": display}).stdout.strip()
        check(title == "small.dk2 — TrellonHD",
              f"trellonhd opened its window with the video: \"{title}\"")
        time.sleep(1)  # let the first paint land
        run(["import", "-display", display, "-window", "root", str(work / "trellonhd.png")])
        # The window itself holds the video's picture and the controls: far
        # more colours than an empty or unpainted window.
        shot = work / "trellonhd-window.png"
        run(["import", "-display", display, "-window", window, str(shot)])
        colours = run(["identify", "-format", "%k", str(shot)], capture_output=True,
                      text=True).stdout
        check(int(colours) > 16, f"the window is painted ({colours} colours, {shot})")
    finally:
        if app is not None and app.poll() is None:
            app.terminate()
            try:
                app.wait(10)
            except subprocess.TimeoutExpired:
                app.kill()
        for process in processes:
            process.terminate()
            process.wait()


def test_desktop(root):
    desktop = root.path / "usr/share/applications/trellonhd.desktop"
    done = run(["desktop-file-validate", str(desktop)], capture_output=True, text=True,
               check=False)
    check(done.returncode == 0 and not done.stdout.strip(),
          "the desktop entry validates" + (f":\n{done.stdout}" if done.stdout else ""))
    # The package's trigger has built the MIME database; built again here, it
    # must have nothing to say about our type.
    done = root.chroot(["update-mime-database", "-V", "/usr/share/mime"], capture_output=True,
                       text=True, check=False)
    complaints = [l for l in (done.stdout + done.stderr).splitlines()
                  if "trellon" in l.lower() and ("error" in l.lower() or "warn" in l.lower())]
    check(done.returncode == 0 and not complaints,
          "update-mime-database accepts the MIME type" + "".join("\n" + c for c in complaints))
    globs = (root.path / "usr/share/mime/globs2").read_text()
    check("application/x-trellon-video:*.dk2" in globs, "the MIME database knows *.dk2")
    magic = (root.path / "usr/share/mime/magic").read_bytes()
    check(b"application/x-trellon-video" in magic, "the MIME database knows the file's magic")
    for size in (16, 32, 48, 64, 128, 256):
        icon = root.path / f"usr/share/icons/hicolor/{size}x{size}/apps/trellonhd.png"
        check(icon.is_file(), f"the {size} x {size} icon is installed")


def test_purge(root, owned):
    root.chroot(["apt-get", "purge", "-y", "-qq", "trellonhd"], stdout=subprocess.DEVNULL)
    state = root.chroot(["dpkg-query", "-W", "-f=${db:Status-Status}", "trellonhd"],
                        capture_output=True, text=True, check=False).stdout
    check(state in ("", "not-installed"), f"dpkg knows trellonhd no more ({state or 'gone'})")
    # Folders other packages share (bin, the icon sizes) stay; every file and
    # every folder of our own goes.
    left = [p for p in owned if (root.path / p.lstrip("/")).is_file() or
            ("trellon" in p and (root.path / p.lstrip("/")).exists())]
    check(not left, "apt-get purge removed every file of the package" +
          "".join("\n  " + p for p in left))
    found = run(["find", str(root.path / "usr"), str(root.path / "etc"),
                 str(root.path / "var/lib/dpkg/info"), "-iname", "*trellon*"],
                capture_output=True, text=True).stdout.split()
    check(not found, "nothing named after TrellonHD is left in /usr, /etc or dpkg's files" +
          "".join("\n  " + p for p in found))
    for cache in ("usr/share/mime/globs2", "usr/share/applications/mimeinfo.cache"):
        path = root.path / cache
        check(not path.exists() or "trellon" not in path.read_text(),
              f"/{cache} no longer names TrellonHD")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("deb", type=pathlib.Path)
    parser.add_argument("--work", type=pathlib.Path, default=ROOT_DIR / "build" / "package-test")
    parser.add_argument("--keep", action="store_true", help="leave the root for a look")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("deb: needs root (debootstrap, chroot and mounts): run it as root or "
                 "through sudo")
    for tool in ("debootstrap", "Xvfb", "icewm", "xdotool", "import", "desktop-file-validate"):
        if shutil.which(tool) is None:
            sys.exit(f"deb: {tool} is missing: run scripts/setup")
    name = args.deb.name  # trellonhd_VERSION_amd64.deb
    if not args.deb.is_file() or not name.startswith("trellonhd_") or "_" not in name[10:]:
        sys.exit(f"deb: {args.deb} is no trellonhd_VERSION_ARCH.deb")
    version = name.split("_")[1]
    args.work.mkdir(parents=True, exist_ok=True)
    mirror, sources = archive_mirror()
    root = make_root(args.work, mirror, sources)
    started = time.monotonic()
    try:
        shutil.copy(args.deb, root.path / "tmp" / name)
        root.chroot(["apt-get", "update", "-qq"])
        say(f"apt-get install ./{name}")
        done = root.chroot(["apt-get", "install", "-y", f"/tmp/{name}"], capture_output=True,
                           text=True, check=False)
        if done.returncode != 0:
            raise Failure(f"apt-get install failed:\n{done.stdout}{done.stderr}")
        # What the package pulls in, for the record.
        for line in done.stdout.splitlines():
            if "newly installed" in line or line.startswith(("Need to get", "After this")):
                say(line.strip())
        installed = root.output(["dpkg-query", "-W", "-f=${Version}", "trellonhd"])
        check(installed == version, f"apt installed trellonhd {installed} with its dependencies")
        owned = package_files(root)
        test_programs(root, version)
        test_window(root, args.work)
        test_desktop(root)
        test_purge(root, owned)
        say(f"all checks passed in {time.monotonic() - started:.0f} s")
    except (Failure, subprocess.CalledProcessError) as error:
        print(f"deb: FAIL: {error}", file=sys.stderr)
        return 1
    finally:
        if args.keep:
            root.unmount()
            say(f"the root is kept in {root.path}")
        else:
            root.remove()
    return 0


if __name__ == "__main__":
    sys.exit(main())
