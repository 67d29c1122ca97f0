"""Builds tarven-link as it was at an older commit, for the before/after rows.

The old source is taken whole from git (git archive, so the working tree and
its build folders are never touched) into <build>/before-<commit>/src and
built Release there, tarven-link alone: every case runs against the current
simulator, so the old and the new program meet the same receiver, the same
pacing and the same adapter model (an older simulator may lack the adapter).
"""

import os
import shutil
import subprocess

from bench_report import ROOT


def git(*args):
    return subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True, check=True).stdout.strip()


def describe(rev):
    """(full hash, short hash, subject) of a commit; raises ValueError if there is none."""
    try:
        full = git("rev-parse", "--verify", "--quiet", rev + "^{commit}")
    except subprocess.CalledProcessError:
        raise ValueError(f"--before {rev}: no such commit") from None
    return full, git("rev-parse", "--short", full), git("log", "-1", "--format=%s", full)


def extract(full, src):
    """The commit's tree in src, written once (a commit never changes)."""
    if os.path.isfile(os.path.join(src, "CMakeLists.txt")):
        return
    partial = src + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    archive = subprocess.Popen(["git", "-C", ROOT, "archive", full], stdout=subprocess.PIPE)
    subprocess.run(["tar", "-x", "-C", partial], stdin=archive.stdout, check=True)
    archive.stdout.close()
    if archive.wait() != 0:
        raise RuntimeError(f"git archive {full} failed")
    os.rename(partial, src)


def configure(src, build):
    if os.path.isfile(os.path.join(build, "build.ninja")) or os.path.isfile(os.path.join(build, "Makefile")):
        return
    cmd = ["cmake", "--no-warn-unused-cli", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DTARVEN_BUILD_UI=OFF",
           "-DTARVEN_BUILD_TESTS=OFF", "-DTARVEN_WERROR=ON"]
    if shutil.which("ninja"):
        cmd += ["-G", "Ninja"]
    if shutil.which("ccache"):
        cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    # An older tree may not know every option above; cmake only notes that.
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def build_before(rev, build_root):
    """Builds the commit's tarven-link; returns {"bin", "commit", "subject"}."""
    full, short, subject = describe(rev)
    home = os.path.join(build_root, f"before-{short}")
    src, build = os.path.join(home, "src"), os.path.join(home, "build")
    extract(full, src)
    configure(src, build)
    print(f"... building tarven-link of {short} in {os.path.relpath(build, ROOT)}/", flush=True)
    # Two jobs at most: the machine is shared.
    subprocess.run(["cmake", "--build", build, "--target", "tarven-link", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    link = os.path.join(build, "bin", "tarven-link")
    if not os.access(link, os.X_OK):
        raise RuntimeError(f"{link} was not built")
    return {"bin": link, "commit": short, "subject": subject}
