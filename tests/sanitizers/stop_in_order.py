"""Runs end-to-end test modules with every host stand-in stopped in order when its test ends
(SIGTERM, then a wait) instead of killed, so that each host runs its leak check before it
unloads the plug-in. Leak reports go where ASAN_OPTIONS' log_path says; the caller reads them.

Usage: python3 stop_in_order.py E2E_DIR MODULE...   (exit 0 when every test passed)"""

import os
import signal
import subprocess
import sys
import unittest


def main():
    e2e, modules = sys.argv[1], sys.argv[2:]
    sys.path.insert(0, e2e)
    os.chdir(e2e)
    import harness

    def stop_in_order(host):
        if host.process is None or host.process.poll() is not None:
            return
        host.process.send_signal(signal.SIGTERM)
        try:
            host.process.wait(timeout=harness.PROCESS_TIMEOUT)
        except subprocess.TimeoutExpired:
            host.process.kill()
            host.process.wait()
            print("stop_in_order: a host did not stop within %d s and was killed: %s" %
                  (harness.PROCESS_TIMEOUT, " ".join(host.args)), file=sys.stderr)

    harness.Host.kill = stop_in_order
    suite = unittest.defaultTestLoader.loadTestsFromNames(modules)
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
