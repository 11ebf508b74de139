#!/usr/bin/env python3
"""Runs ctest's test cases under valgrind memcheck, each in a process of its own as ctest
would, with the environment and working directory ctest gives it. Used by
scripts/memcheck.sh; reads `ctest --show-only=json-v1` on standard input.

Exit status: 0 when every case passed and valgrind reported no error, 1 otherwise."""

import concurrent.futures
import glob
import json
import os
import re
import subprocess
import sys
import time

VALGRIND_ERROR_STATUS = 99


def properties(test):
    return {p["name"]: p["value"] for p in test.get("properties", [])}


def run_case(test, valgrind_args, log_dir):
    props = properties(test)
    env = dict(os.environ)
    for assignment in props.get("ENVIRONMENT", []):
        name, _, value = assignment.partition("=")
        env[name] = value
    # One log per process (%p): a traced child must not overwrite its parent's log.
    log = os.path.join(log_dir, re.sub(r"[^A-Za-z0-9_.-]", "_", test["name"]))
    command = ["valgrind", f"--log-file={log}.%p.log", f"--error-exitcode={VALGRIND_ERROR_STATUS}"]
    command += valgrind_args + test["command"]
    started = time.monotonic()
    result = subprocess.run(command, env=env, cwd=props.get("WORKING_DIRECTORY"),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=1800)
    return test["name"], result.returncode, time.monotonic() - started, log, result.stdout.decode(errors="replace")


def main():
    selection = re.compile(sys.argv[1])
    log_dir = sys.argv[2]
    jobs = int(sys.argv[3])
    valgrind_args = sys.argv[4:]
    os.makedirs(log_dir, exist_ok=True)
    tests = [t for t in json.load(sys.stdin)["tests"]
             if t.get("command") and selection.search(t["command"][0])]
    if not tests:
        print("memcheck: no test selected", file=sys.stderr)
        return 1
    failed = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(run_case, t, valgrind_args, log_dir) for t in tests]
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            name, status, seconds, log, output = future.result()
            verdict = {0: "clean", VALGRIND_ERROR_STATUS: "VALGRIND ERRORS"}.get(status, f"FAILED ({status})")
            print(f"{done:4}/{len(tests)} {name:80} {verdict:16} {seconds:6.1f} s", flush=True)
            if status != 0:
                failed.append(name)
                print(output[-4000:])
                for path in sorted(glob.glob(glob.escape(log) + ".*.log")):
                    with open(path, errors="replace") as text:
                        print(f"--- {path}\n" + text.read()[-8000:])
    print(f"memcheck: {len(tests) - len(failed)} of {len(tests)} cases clean; logs in {log_dir}")
    for name in failed:
        print(f"  not clean: {name}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
