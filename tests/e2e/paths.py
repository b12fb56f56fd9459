"""Where the end-to-end tests find the build's programs and keep what they
leave behind; CTest passes each of them in, a run by hand finds the defaults."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("DUNMERE_BUILD_DIR", os.path.join(ROOT, "build", "win32"))
SCR = os.environ.get("DUNMERE_SCR", os.path.join(BUILD, "Dunmere.scr"))
PROBE = os.environ.get("DUNMERE_E2E_PROBE", os.path.join(BUILD, "tests", "e2e", "window_probe.exe"))
SENDER = os.environ.get("DUNMERE_E2E_SENDER", os.path.join(BUILD, "tests", "e2e", "send_to_saver.exe"))
HOST = os.environ.get("DUNMERE_E2E_HOST", os.path.join(BUILD, "tests", "e2e", "preview_host.exe"))
PREFIX = os.environ.get("DUNMERE_E2E_PREFIX", os.path.join(BUILD, "wine-e2e"))
ARTEFACTS = os.environ.get("DUNMERE_E2E_ARTEFACTS", os.path.join(BUILD, "e2e-artefacts"))
